#include "catalogue/forms/Encoder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include "JFrame/FormRegistry.h"
#include "base/Operator.h"
#include "shell/Options.h"
#include "JFrame/QtText.h"

namespace {
QPointer<TFormEncoder> GInstance;


}  // namespace

TFormEncoder* TFormEncoder::Instance() { return GInstance.data(); }

TFormEncoder* TFormEncoder::Open(TDbFile& db) {
  if (!GInstance) {
    GInstance = new TFormEncoder(db);
    ShowAsChild(GInstance);
  }
  QWidget* top = GInstance->parentWidget() ? GInstance->parentWidget() : GInstance.data();
  if (top->isMinimized()) top->showNormal();
  top->show();
  top->raise();
  return GInstance;
}

TFormEncoder::TFormEncoder(TDbFile& db, QWidget* parent) : QWidget(parent), FDb(db) {
  setObjectName("FormEncoder");
  setWindowTitle("Encoder");
  resize(820, 360);
  if (!GInstance) GInstance = this;

  TJson options = TJson::object();
  std::string root;
  try {
    options = ReadOptions(db);
    root = GetOptionDir(db, odVideo);
  } catch (const std::exception&) {
  }
  FJobs = std::make_shared<TEncoderJobList>(EncoderSettingsFromOptions(options, root));

  auto* layout = new QVBoxLayout(this);
  StringGrid1 = new QTableWidget(0, 4, this);
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setHorizontalHeaderLabels({"N", "Source file", "Encoded file", "Status/Duration"});
  StringGrid1->verticalHeader()->hide();
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  StringGrid1->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  StringGrid1->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  StringGrid1->setColumnWidth(3, 260);
  layout->addWidget(StringGrid1, 1);

  auto* bar = new QHBoxLayout;
  BtnPause = new QPushButton("Pause", this);
  BtnPause->setObjectName("BtnPause");
  BtnStopEnc = new QPushButton("Cancel encoding", this);
  BtnStopEnc->setObjectName("BtnStopEnc");
  CheckBoxShowLog = new QCheckBox("Show encoders logs", this);
  CheckBoxShowLog->setObjectName("CheckBoxShowLog");
  BtnCreate = new QPushButton("Create records", this);
  BtnCreate->setObjectName("BtnCreate");
  bar->addWidget(BtnPause);
  bar->addWidget(BtnStopEnc);
  bar->addWidget(CheckBoxShowLog);
  bar->addStretch(1);
  bar->addWidget(BtnCreate);
  layout->addLayout(bar);
  BtnPause->setEnabled(false);
  BtnStopEnc->setEnabled(false);
  BtnCreate->setEnabled(false);

  connect(BtnPause, &QPushButton::clicked, this, [this] { BtnPauseClick(); });
  connect(BtnStopEnc, &QPushButton::clicked, this, [this] { BtnStopEncClick(); });
  connect(CheckBoxShowLog, &QCheckBox::clicked, this, [this] { CheckBoxShowLogClick(); });
  connect(BtnCreate, &QPushButton::clicked, this, [this] { BtnCreateClick(); });

  // The job list may outlive the window (see the header): its calls check the window first.
  QPointer<TFormEncoder> self(this);
  FJobs->OnRowChanged = [self](int row) {
    if (self) self->RowChanged(row);
  };
  FJobs->Idle = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); };
  TffmpegEncoder& enc = FJobs->Encoder();
  enc.OnStartEvent = [self] {
    if (self) self->EncoderStarted();
  };
  enc.OnStopEvent = [self] {
    if (self) self->EncoderStoped();
  };
  enc.OnLogOpen = [self](const std::string& cmd) {
    if (!self) return;
    if (!self->FLog) {
      auto* log = new QPlainTextEdit;
      log->setObjectName("DebugMemo");
      log->setReadOnly(true);
      log->resize(700, 300);
      self->FLog = log;
      ShowAsChild(log);
    }
    self->FLog->setWindowTitle(Qs(cmd));
    if (self->FLog->parentWidget()) self->FLog->parentWidget()->setWindowTitle(Qs(cmd));
    self->FLog->setPlainText(Qs(cmd) + "\n\n");
  };
  enc.OnLogText = [self](const std::string& text) {
    if (self && self->FLog) self->FLog->appendPlainText(Qs(text).trimmed());
  };
}

TFormEncoder::~TFormEncoder() {
  if (GInstance == this) GInstance = nullptr;
  // A job loop that still runs (the program is closing) stops after the current row.
  FJobs->OnRowChanged = nullptr;
  FJobs->Stop();
  if (FLog) CloseFormWindow(FLog);
}

void TFormEncoder::addFiles(const std::vector<std::string>& files) {
  std::shared_ptr<TEncoderJobList> jobs = FJobs;  // lives until the loop below has ended
  QPointer<TFormEncoder> self(this);
  bool start = !jobs->Running;
  if (start) BtnCreate->setEnabled(false);
  jobs->AddFiles(files);
  if (!start || !self) return;
  // The loop has ended.
  self->UpdateButtons();
  if (self->FCloseAfterLoop) CloseFormWindow(self);
}

void TFormEncoder::RowChanged(int row) {
  const TEncoderRow& r = FJobs->Rows[static_cast<size_t>(row)];
  if (StringGrid1->rowCount() <= row) StringGrid1->setRowCount(row + 1);
  auto set = [this, row](int col, const QString& text, const QIcon& icon = {}) {
    QTableWidgetItem* it = StringGrid1->item(row, col);
    if (!it) {
      it = new QTableWidgetItem;
      StringGrid1->setItem(row, col, it);
    }
    it->setText(text);
    it->setIcon(icon);
  };
  set(0, QString::number(row + 1));
  set(1, Qs(r.Source));
  set(2, Qs(r.Encoded));
  const std::string tag = StatusTag(r.Status);
  QIcon icon;
  if (tag == "&Don") icon = style()->standardIcon(QStyle::SP_DialogApplyButton);
  if (tag == "&Err") icon = style()->standardIcon(QStyle::SP_MessageBoxCritical);
  set(3, Qs(StatusText(r.Status)), icon);
  if (FJobs->Running && row == FJobs->CurrIndex) StringGrid1->selectRow(row);
}

void TFormEncoder::EncoderStarted() {
  BtnStopEnc->setEnabled(true);
  BtnPause->setEnabled(true);
  BtnPause->setText("Pause");
}

void TFormEncoder::EncoderStoped() {
  BtnStopEnc->setEnabled(false);
  BtnPause->setEnabled(false);
  BtnPause->setText("Pause");
}

void TFormEncoder::UpdateButtons() {
  BtnCreate->setEnabled(FJobs->CreateEnabled());
  if (!FJobs->Running) EncoderStoped();
}

void TFormEncoder::BtnPauseClick() {
  TffmpegEncoder& enc = FJobs->Encoder();
  bool pause = !enc.Paused();
  enc.SetPause(pause);
  BtnPause->setText(enc.Paused() ? "Continue" : "Pause");
}

void TFormEncoder::BtnStopEncClick() {
  if (AppOperator().Ask("Warning", "Do cancel encoding this movie?", TMsgIcon::Warning,
                        TMsgButtons::YesNo, TMsgAnswer::No) != TMsgAnswer::Yes)
    return;
  FJobs->Encoder().SetPause(false);
  FJobs->Encoder().Cancel();
  BtnPause->setText("Pause");
}

void TFormEncoder::CheckBoxShowLogClick() { FJobs->Encoder().Debug = CheckBoxShowLog->isChecked(); }

void TFormEncoder::BtnCreateClick() {
  // The window and its list stay until the films windows have taken the records.
  if (FJobs->CreateRecords(FilmRecordsTaker(), FDb)) CloseFormWindow(this);
}

void TFormEncoder::closeEvent(QCloseEvent* event) {
  if (FJobs->Running) {
    if (AppOperator().Ask("Warning", "Do continue encoding?", TMsgIcon::Warning,
                          TMsgButtons::YesNo, TMsgAnswer::Yes) == TMsgAnswer::Yes) {
      event->ignore();
      return;
    }
    // The loop ends after cancelling the running job; the window closes then.
    FCloseAfterLoop = true;
    FJobs->Stop();
    event->ignore();
    return;
  }
  event->accept();
}
