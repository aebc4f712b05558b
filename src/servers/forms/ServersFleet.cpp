// The servers window's actions over the share of this server ("Preview") and over every
// server of the project ("All servers").
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <mutex>

#include "base/Operator.h"
#include "servers/Servers.h"
#include "servers/forms/Servers.h"
#include "JFrame/QtText.h"

namespace {

std::string MegaBytesText(uint64_t bytes) {
  return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1).toStdString();
}

// The operator of a run over many servers: questions go to the window's operator, status texts
// too; messages are collected for the report instead of one message box a server.
class TCollectingOperator : public IOperator {
public:
  explicit TCollectingOperator(IOperator& inner) : FInner(inner) {}
  void MessageBox(const std::string& caption, const std::string& text, TMsgIcon) override {
    std::lock_guard<std::mutex> lock(FMutex);
    FMessages.push_back(caption.empty() || caption == text ? text : caption + ": " + text);
  }
  TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                 TMsgButtons buttons, TMsgAnswer safeAnswer) override {
    return FInner.Ask(caption, text, icon, buttons, safeAnswer);
  }
  void StatusText(const std::string& text) override { FInner.StatusText(text); }
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override {
    FInner.OpenRecord(coll, id);
  }
  void RunOnUiThread(std::function<void()> fn) override { FInner.RunOnUiThread(std::move(fn)); }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(FMutex);
    return std::move(FMessages);
  }

private:
  IOperator& FInner;
  std::mutex FMutex;
  std::vector<std::string> FMessages;
};

QString ActionTitle(TFleetAction action) {
  switch (action) {
    case TFleetAction::Build: return "Create files on all servers";
    case TFleetAction::Deploy: return "Copy files to all servers";
    case TFleetAction::DryRun: return "Preview copy to all servers";
    case TFleetAction::Verify: return "Check files on all servers";
  }
  return {};
}

// Tab-separated columns padded to their widest cell, for the fixed-width report.
std::string AlignColumns(const std::string& text) {
  std::vector<std::vector<QString>> rows;
  std::vector<int> widths;
  for (const QString& line : Qs(text).split('\n')) {
    rows.push_back({});
    const QStringList cells = line.split('\t');
    for (int i = 0; i < cells.size(); ++i) {
      rows.back().push_back(cells[i]);
      if (i + 1 < cells.size()) {
        if (widths.size() <= static_cast<size_t>(i)) widths.resize(static_cast<size_t>(i) + 1, 0);
        widths[static_cast<size_t>(i)] = std::max(widths[static_cast<size_t>(i)], static_cast<int>(cells[i].size()));
      }
    }
  }
  QString out;
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t i = 0; i < rows[r].size(); ++i)
      out += i + 1 < rows[r].size() ? rows[r][i].leftJustified(widths[i] + 2) : rows[r][i];
    if (r + 1 < rows.size()) out += '\n';
  }
  return out.toStdString();
}

}  // namespace

void TFormServers::AddFleetActions(QHBoxLayout* buttons) {
  BtnPreview = new QPushButton("Preview", TabSheetRec);
  BtnPreview->setObjectName("BtnPreview");
  BtnPreview->setToolTip("What \"Copy files to server\" would copy, replace and leave; nothing is written");
  BtnAllServers = new QPushButton("All servers", TabSheetRec);
  BtnAllServers->setObjectName("BtnAllServers");
  auto* menu = new QMenu(BtnAllServers);
  menu->setObjectName("MenuAllServers");
  ActionCreateAll = menu->addAction(ActionTitle(TFleetAction::Build));
  ActionCopyAll = menu->addAction(ActionTitle(TFleetAction::Deploy));
  ActionPreviewAll = menu->addAction(ActionTitle(TFleetAction::DryRun));
  ActionVerifyAll = menu->addAction(ActionTitle(TFleetAction::Verify));
  ActionCreateAll->setObjectName("ActionCreateAll");
  ActionCopyAll->setObjectName("ActionCopyAll");
  ActionPreviewAll->setObjectName("ActionPreviewAll");
  ActionVerifyAll->setObjectName("ActionVerifyAll");
  BtnAllServers->setMenu(menu);
  buttons->addWidget(BtnPreview);
  buttons->addWidget(BtnAllServers);
  connect(BtnPreview, &QPushButton::clicked, this, &TFormServers::BtnPreviewClick);
  connect(ActionCreateAll, &QAction::triggered, this, [this] { RunForAllServers(TFleetAction::Build); });
  connect(ActionCopyAll, &QAction::triggered, this, [this] { RunForAllServers(TFleetAction::Deploy); });
  connect(ActionPreviewAll, &QAction::triggered, this, [this] { RunForAllServers(TFleetAction::DryRun); });
  connect(ActionVerifyAll, &QAction::triggered, this, [this] { RunForAllServers(TFleetAction::Verify); });
}

void TFormServers::EnableFleetButtons(bool enable) {
  if (!BtnPreview) return;  // not made yet
  BtnPreview->setEnabled(enable && !CheckBoxSatelliteSys->isChecked());
  BtnAllServers->setEnabled(enable);
}

void TFormServers::ShowReport(const std::string& title, const std::string& text) {
  FLastReport = text;
  auto* dialog = new QDialog(this);
  dialog->setObjectName("FleetReport");
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(Qs(title));
  dialog->resize(760, 420);
  auto* layout = new QVBoxLayout(dialog);
  auto* view = new QPlainTextEdit(dialog);
  view->setObjectName("ReportText");
  view->setReadOnly(true);
  view->setLineWrapMode(QPlainTextEdit::NoWrap);
  view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view->setPlainText(Qs(AlignColumns(text)));
  layout->addWidget(view);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::close);
  layout->addWidget(box);
  dialog->show();
}

TCopyProgressSink TFormServers::DialogProgress(const std::atomic<bool>& cancel,
                                               std::shared_ptr<const std::string> prefix) {
  QPointer<TFormServers> self = this;
  auto shown = std::make_shared<QElapsedTimer>();
  auto lastFile = std::make_shared<std::string>();
  return [this, self, &cancel, prefix, shown, lastFile](const TCopyProgress& p) {
    if (OnCopyProgress) OnCopyProgress(p);
    if (p.CurrentFile != *lastFile || !shown->isValid() || shown->elapsed() > 100 ||
        p.FilesDone == p.FilesTotal) {
      *lastFile = p.CurrentFile;
      shown->restart();
      QString text = Qs(prefix ? *prefix : std::string()) + QString("Copying of files: %1 of %2 files, %3 of %4 MB\n%5")
                                      .arg(p.FilesDone)
                                      .arg(p.FilesTotal)
                                      .arg(Qs(MegaBytesText(p.BytesDone)))
                                      .arg(Qs(MegaBytesText(p.BytesTotal)))
                                      .arg(Qs(p.CurrentFile));
      int value = p.BytesTotal ? static_cast<int>(p.BytesDone * 1000 / p.BytesTotal) : 1000;
      QMetaObject::invokeMethod(
          qApp,
          [self, text, value] {
            if (!self || !self->Progress()) return;
            self->Progress()->setMaximum(1000);
            self->Progress()->setValue(value);
            if (!self->Progress()->wasCanceled()) self->Progress()->setLabelText(text);
          },
          Qt::QueuedConnection);
    }
    return !cancel.load();
  };
}

void TFormServers::BtnPreviewClick() {
  std::string id = SavedRecordID();
  if (id.empty()) return;
  TDeployRequest request;
  std::string name;
  try {
    request = ServerDeployRequest(Db(), id);
    name = JsonStr(LoadServerRecord(Db(), id), "Name");
  } catch (const EServerAction& e) {
    ShowStatus(e.what());
    return;
  }
  if (OnDeployRequest) OnDeployRequest(request);
  request.DryRun = true;
  TCollectingOperator op(*FOperator);
  TFleetOutcome outcome;
  outcome.Server = {id, name};
  RunWork("Preview", false, [&](const std::atomic<bool>&) {
    TDeployResult r = CopyFilesToShare(request, op);
    outcome.Reason = r.Status;
    outcome.State = r.Ok ? TFleetState::Compared : TFleetState::Failed;
    outcome.Detail = DeployResultJson(r);
  });
  std::string text = FleetReportText(outcome, TFleetAction::DryRun);
  for (const std::string& m : op.Take()) text += m + "\n";
  ShowReport("Preview: " + name, text);
}

void TFormServers::RunForAllServers(TFleetAction action) {
  if (FRunning || !JFrame1->AskChangesSaveNo()) return;
  TDbFile& db = Db();
  TCollectingOperator op(*FOperator);
  std::vector<TFleetOutcome> outcomes;
  QPointer<TFormServers> self = this;
  RunWork(ActionTitle(action), true, [&](const std::atomic<bool>& cancel) {
    auto prefix = std::make_shared<std::string>();
    TFleetOptions options;
    options.Action = action;
    options.AdjustRequest = OnDeployRequest;
    options.Cancelled = [&cancel] { return cancel.load(); };
    options.Starting = [self, prefix](size_t i, size_t n, const TFleetServer& s) {
      *prefix = "Server " + std::to_string(i + 1) + " of " + std::to_string(n) + ": " + s.Name + "\n";
      QString text = Qs(*prefix);
      QMetaObject::invokeMethod(
          qApp,
          [self, text] {
            if (self && self->Progress() && !self->Progress()->wasCanceled())
              self->Progress()->setLabelText(text);
          },
          Qt::QueuedConnection);
    };
    options.Progress = DialogProgress(cancel, prefix);
    outcomes = RunFleet(db, op, options);
  });
  std::string text;
  // The files of each server's comparison or check; a copy or a build has its summary only.
  if (action == TFleetAction::DryRun || action == TFleetAction::Verify)
    for (const auto& o : outcomes) text += "== " + o.Server.Name + "\n" + FleetReportText(o, action);
  std::vector<std::string> messages = op.Take();
  if (!messages.empty()) {
    text += "Messages\n";
    for (const std::string& m : messages) text += m + "\n";
  }
  text += "Summary\n";
  for (const auto& o : outcomes) text += FleetSummaryLine(o) + "\n";
  const bool failed = FleetFailed(outcomes);
  ShowStatus(ActionTitle(action).toStdString() + (failed ? ": a server failed" : ": done"));
  ShowReport(ActionTitle(action).toStdString(), text);
}
