#include "servers/forms/Servers.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <thread>

#include "base/CommonProcedures.h"
#include "base/Operator.h"
#include "portal/PortalMakerDoWeb.h"
#include "servers/CreateFiles.h"
#include "servers/PostAndGet.h"
#include "servers/Servers.h"
#include "JFrame/QtText.h"

namespace {

TRecordFormRegistration<TFormServers> registration("TFormServers");


// Runs Fn on the user-interface thread and waits for it; at once when already there.
template <class F>
void OnUiThread(F&& fn) {
  if (QThread::currentThread() == qApp->thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(qApp, std::forward<F>(fn), Qt::BlockingQueuedConnection);
}

// The operator of the window's actions, also from the worker thread: questions and messages
// are shown by the application's operator on the user-interface thread (the worker waits for
// the answer), status texts go to the window's status line.
class TServersOperator : public IOperator {
public:
  explicit TServersOperator(TFormServers* form) : FForm(form) {}
  void MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) override {
    OnUiThread([&] { AppOperator().MessageBox(caption, text, icon); });
  }
  TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                 TMsgButtons buttons, TMsgAnswer safeAnswer) override {
    TMsgAnswer answer = safeAnswer;
    OnUiThread([&] { answer = AppOperator().Ask(caption, text, icon, buttons, safeAnswer); });
    return answer;
  }
  void StatusText(const std::string& text) override {
    if (QThread::currentThread() == qApp->thread()) {
      if (FForm) FForm->ShowStatus(text);
      return;
    }
    QPointer<TFormServers> form = FForm;
    QMetaObject::invokeMethod(
        qApp, [form, text] { if (form) form->ShowStatus(text); }, Qt::QueuedConnection);
  }
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override {
    OnUiThread([&] { AppOperator().OpenRecord(coll, id); });
  }
  void RunOnUiThread(std::function<void()> fn) override { AppOperator().RunOnUiThread(std::move(fn)); }

private:
  QPointer<TFormServers> FForm;
};

}  // namespace

TFormServers::TFormServers(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "Servers", "Servers", "New record", parent),
      FOperator(std::make_unique<TServersOperator>(this)) {
  setObjectName("FormServers");
  setProperty("HelpContext", 1);
  resize(900, 620);
  auto* recLayout = new QVBoxLayout(TabSheetRec);

  GroupBoxDescr = DescriptionBox(TabSheetRec, EditDescr);
  recLayout->addWidget(GroupBoxDescr);

  RefTblFrameSchedules = new TRefTblFrame(TabSheetRec);
  RefTblFrameSchedules->setObjectName("RefTblFrameSchedules");
  recLayout->addWidget(RefTblFrameSchedules, 1);
  TRefStringGrid* grid = RefTblFrameSchedules->StringGrid;
  grid->SetColCount(5);
  const char* captions[] = {"Schedules", "Calc from", "Start at", "Options"};
  for (int c = 1; c <= 4; ++c) {
    grid->Columns()[c].SetCaption(captions[c - 1]);
    grid->Columns()[c].SetEditing(true);
  }
  grid->OnLoaded = [this](TRefStringGrid* g) { RefTblFrameSchedulesStringGridLoaded(g); };
  grid->Loaded();
  grid->setColumnWidth(1, 200);
  grid->setColumnWidth(2, 150);
  grid->setColumnWidth(3, 150);

  GroupBoxURL = new QGroupBox("IP-address", TabSheetRec);
  GroupBoxURL->setObjectName("GroupBoxURL");
  auto* urlLayout = new QHBoxLayout(GroupBoxURL);
  EditURL = new QLineEdit("192.168.1.10", GroupBoxURL);
  EditURL->setObjectName("EditURL");
  urlLayout->addWidget(EditURL);

  GroupBoxVoD = new QGroupBox("Server Video on Demand", TabSheetRec);
  GroupBoxVoD->setObjectName("GroupBoxVoD");
  auto* vodLayout = new QHBoxLayout(GroupBoxVoD);
  CheckBoxVodIP = new QCheckBox("Use another IP-address", GroupBoxVoD);
  CheckBoxVodIP->setObjectName("CheckBoxVodIP");
  EditVoDIP = new QLineEdit(EditURL->text(), GroupBoxVoD);
  EditVoDIP->setObjectName("EditVoDIP");
  EditVoDIP->setEnabled(false);
  vodLayout->addWidget(CheckBoxVodIP);
  vodLayout->addWidget(EditVoDIP, 1);
  auto* addresses = new QHBoxLayout;
  addresses->addWidget(GroupBoxURL, 1);
  addresses->addWidget(GroupBoxVoD, 2);
  recLayout->addLayout(addresses);

  CheckBoxForceDisconnect =
      new QCheckBox("Break off connection with server after transfer", TabSheetRec);
  CheckBoxForceDisconnect->setObjectName("CheckBoxForceDisconnect");
  CheckBoxSatelliteSys = new QCheckBox("Satellite delivery system", TabSheetRec);
  CheckBoxSatelliteSys->setObjectName("CheckBoxSatelliteSys");
  CheckBoxMakeEpg =
      new QCheckBox("Programme guide (epg.xml) and channel lists in the package", TabSheetRec);
  CheckBoxMakeEpg->setObjectName("CheckBoxMakeEpg");
  recLayout->addWidget(CheckBoxForceDisconnect);
  recLayout->addWidget(CheckBoxSatelliteSys);
  recLayout->addWidget(CheckBoxMakeEpg);

  auto* buttons = new QHBoxLayout;
  BtnMakeSchedule = new QPushButton("Create files", TabSheetRec);
  BtnMakeSchedule->setObjectName("BtnMakeSchedule");
  BtnCopy = new QPushButton("Copy files to server", TabSheetRec);
  BtnCopy->setObjectName("BtnCopy");
  BtnRestart = new QPushButton("Restart Pelmora", TabSheetRec);
  BtnRestart->setObjectName("BtnRestart");
  BtnShowServer = new QPushButton("Show server's files", TabSheetRec);
  BtnShowServer->setObjectName("BtnShowServer");
  for (QPushButton* b : {BtnMakeSchedule, BtnCopy, BtnRestart, BtnShowServer}) buttons->addWidget(b);
  AddFleetActions(buttons);
  buttons->addStretch(1);
  recLayout->addLayout(buttons);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  layout()->setContentsMargins(4, 4, 4, 4);
  // The status line spans the window below the tree and the record.
  auto* outer = qobject_cast<QHBoxLayout*>(layout());
  auto* column = new QVBoxLayout;
  outer->removeWidget(Splitter);
  column->addWidget(Splitter, 1);
  column->addWidget(StatusBar1);
  outer->addLayout(column);

  connect(BtnMakeSchedule, &QPushButton::clicked, this, &TFormServers::BtnMakeScheduleClick);
  connect(BtnCopy, &QPushButton::clicked, this, &TFormServers::BtnCopyClick);
  connect(BtnRestart, &QPushButton::clicked, this, &TFormServers::BtnRestartClick);
  connect(BtnShowServer, &QPushButton::clicked, this, &TFormServers::BtnShowServerClick);
  connect(EditURL, &QLineEdit::textChanged, this, &TFormServers::EditURLChange);
  connect(CheckBoxVodIP, &QCheckBox::toggled, this, &TFormServers::CheckBoxVodIPClick);
  connect(CheckBoxSatelliteSys, &QCheckBox::toggled, this, &TFormServers::JFrame1Change);
  JFrame1->OnChange = [this](TJFrame*) { JFrame1Change(); };

  JFrame1->LayerComps->AddComp("Description", EditDescr, vt_String);
  JFrame1->LayerComps->AddComp("TSched", grid);
  JFrame1->LayerComps->AddComp("URL", EditURL, vt_String);
  JFrame1->LayerComps->AddComp("AnotherVoDIP", CheckBoxVodIP, vt_None);
  JFrame1->LayerComps->AddComp("VoDIP", EditVoDIP, vt_String);
  JFrame1->LayerComps->AddComp("ForceDisconnect", CheckBoxForceDisconnect, vt_None);
  JFrame1->LayerComps->AddComp("SatelliteSys", CheckBoxSatelliteSys, vt_None);
  JFrame1->LayerComps->AddComp("MakeEpg", CheckBoxMakeEpg, vt_None);
  LoadFrame();
  JFrame1Change();
}

TFormServers::~TFormServers() {
  // Outcomes of requests still running are dropped; the sender ends them and waits.
  if (FSender) FSender->DetachSinks();
  FSender.reset();
}

TRpcSender& TFormServers::Sender() {
  if (!FSender) FSender = std::make_unique<TRpcSender>(*FOperator);
  return *FSender;
}

void TFormServers::RefTblFrameSchedulesStringGridLoaded(TRefStringGrid* grid) {
  RefColumn(grid, 1, "Schedules", "Select schedule")->SetEnableEmpty(true);
  auto* calc = new TRG_DateTimeEdit(grid);
  calc->SetFormat("dd.mm.yyyy hh:nn:ss");
  calc->SetAfterCreate(2);
  TDateTime today = static_cast<TDateTime>(DayCount(Now()));
  calc->SetStartValue(today);
  calc->SetStartValueAsString(Qs(DateTimeToStr(today)));
  auto* start = new TRG_DateTimeEdit(grid);
  start->SetFormat("dd.mm.yyyy hh:nn:ss");
  start->SetEmptyEnabled(true);
  start->SetAfterCreate(3);
  start->SetStartValue(today);
  start->SetStartValueAsString(QString());
  RefColumn(grid, 4, "SrvOptions", "Select server's options");
}

void TFormServers::JFrame1Change() {
  EnableBtns(!FRunning);
  CheckBoxVodIPClick();
}

void TFormServers::EditURLChange() {
  if (!CheckBoxVodIP->isChecked() && EditVoDIP->text() != EditURL->text())
    EditVoDIP->setText(EditURL->text());
}

void TFormServers::CheckBoxVodIPClick() {
  EditVoDIP->setEnabled(CheckBoxVodIP->isChecked());
  EditURLChange();
}

void TFormServers::EnableBtns(bool enable) {
  bool satellite = CheckBoxSatelliteSys->isChecked();
  BtnMakeSchedule->setEnabled(enable);
  BtnCopy->setEnabled(enable && !satellite);
  BtnRestart->setEnabled(enable && !satellite);
  EnableFleetButtons(enable);
}

void TFormServers::ShowStatus(const std::string& text) { StatusBar1->showMessage(Qs(text)); }

std::string TFormServers::SavedRecordID() {
  if (FRunning) return "";
  if (!JFrame1->AskChangesSaveNo()) return "";
  return JFrame1->ID();
}

void TFormServers::RunWork(const QString& title, bool cancellable,
                           const std::function<void(const std::atomic<bool>& cancel)>& work) {
  FRunning = true;
  EnableBtns(false);
  std::atomic<bool> cancel{false};
  QProgressDialog dialog(title, cancellable ? QString("Cancel") : QString(), 0, 0, this);
  dialog.setObjectName("ProgressDialog");
  dialog.setWindowTitle(windowTitle());
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setMinimumDuration(0);
  dialog.setAutoClose(false);
  dialog.setAutoReset(false);
  FProgress = &dialog;
  connect(&dialog, &QProgressDialog::canceled, this, [&cancel, &dialog] {
    cancel = true;
    dialog.setLabelText(dialog.labelText() + "\nCancelling after the current file ...");
  });
  QEventLoop loop;
  std::thread worker([&] {
    try {
      work(cancel);
    } catch (const std::exception& e) {
      std::string text = e.what();
      FOperator->StatusText(text);
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  dialog.show();
  loop.exec();
  worker.join();
  FProgress = nullptr;
  FRunning = false;
  EnableBtns(true);
}

void TFormServers::BtnMakeScheduleClick() {
  std::string id = SavedRecordID();
  if (id.empty()) return;
  TDbFile& db = Db();
  IOperator& op = *FOperator;
  RunWork("Creating files", false, [&](const std::atomic<bool>&) {
    TPortalMakerDoWeb portal(db, &op);
    CreateServerFiles(db, id, op, &portal);
  });
}

void TFormServers::BtnCopyClick() {
  std::string id = SavedRecordID();
  if (id.empty()) return;
  TDeployRequest request;
  try {
    request = ServerDeployRequest(Db(), id);
  } catch (const EServerAction& e) {
    ShowStatus(e.what());
    return;
  }
  if (OnDeployRequest) OnDeployRequest(request);
  IOperator& op = *FOperator;
  RunWork("Copying of files", true, [&](const std::atomic<bool>& cancel) {
    TCopyProgressSink sink = DialogProgress(cancel, nullptr);
    CopyFilesToShare(request, op, sink);
  });
}

void TFormServers::BtnRestartClick() {
  std::string id = SavedRecordID();
  if (id.empty()) return;
  QPointer<TFormServers> self = this;
  try {
    RestartServer(Db(), id, Sender(), [self](const std::string& text) {
      if (self) self->ShowStatus(text);
    });
  } catch (const std::exception& e) {
    ShowStatus(e.what());
  }
}

void TFormServers::BtnShowServerClick() {
  std::string url = ServerFilesAddress(EditURL->text().toStdString());
  if (OnOpenUrl) {
    OnOpenUrl(url);
    return;
  }
  if (!QDesktopServices::openUrl(QUrl(Qs(url))))
    ShowStatus("No program opens " + url + " on this computer");
}

void TFormServers::closeEvent(QCloseEvent* event) {
  // The worker of a running action reports into this window: it closes when the work ends.
  if (FRunning) {
    event->ignore();
    return;
  }
  TRecordForm::closeEvent(event);
}
