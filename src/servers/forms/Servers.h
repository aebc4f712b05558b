#pragma once
// The servers window: a playout server's address, how its packages reach it, its schedule rows,
// and the actions that build its package ("Create files"), copy the package and its films to
// the server's share ("Copy files to server"), restart the server software and open the share.
#include <QPointer>
#include <QProgressDialog>
#include <atomic>
#include <functional>
#include <memory>

#include "JFrame/RecordForm.h"
#include "JFrame/RefTblFrame.h"
#include "servers/Fleet.h"
#include "servers/ShareTransfer.h"

class QAction;
class QCheckBox;
class QHBoxLayout;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QStatusBar;
class TRpcSender;
class IOperator;

class TFormServers : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormServers(TDbFile& db, QWidget* parent = nullptr);
  ~TFormServers() override;

  QGroupBox* GroupBoxDescr;
  QLineEdit* EditDescr;
  TRefTblFrame* RefTblFrameSchedules;
  QGroupBox* GroupBoxURL;
  QLineEdit* EditURL;
  QGroupBox* GroupBoxVoD;
  QCheckBox* CheckBoxVodIP;
  QLineEdit* EditVoDIP;
  QCheckBox* CheckBoxForceDisconnect;
  QCheckBox* CheckBoxSatelliteSys;
  QCheckBox* CheckBoxMakeEpg;
  QPushButton* BtnMakeSchedule;
  QPushButton* BtnCopy;
  QPushButton* BtnRestart;
  QPushButton* BtnShowServer;
  QStatusBar* StatusBar1;

  void RefTblFrameSchedulesStringGridLoaded(TRefStringGrid* grid);
  void JFrame1Change();
  void EditURLChange();
  void CheckBoxVodIPClick();
  void EnableBtns(bool enable);

  void BtnMakeScheduleClick();
  void BtnCopyClick();
  void BtnRestartClick();
  void BtnShowServerClick();

  // Shows Text in the window's status line.
  void ShowStatus(const std::string& text);
  // True while "Create files" or "Copy files to server" runs.
  bool Running() const { return FRunning; }
  // The progress dialog of the running action (tests press its Cancel).
  QProgressDialog* Progress() const { return FProgress; }
  // How the share is reached and how long an SMB operation may take (tests give their own).
  std::function<void(TDeployRequest&)> OnDeployRequest;
  // Called on the worker thread with every progress report of a copy (tests hold the copy here).
  std::function<void(const TCopyProgress&)> OnCopyProgress;
  // The sender of the restart command, owned by the window.
  TRpcSender& Sender();
  // Opens a share address with the desktop's handler (tests replace it).
  std::function<void(const std::string& url)> OnOpenUrl;

  // "Preview": what "Copy files to server" would copy, replace and leave, writing nothing.
  // "All servers": its menu runs "Create files", "Copy files to server", the preview or the
  // check of the share for every server in tree order, in one progress dialog with Cancel,
  // and shows the summary. Each shows its report in a window of its own ("FleetReport").
  QPushButton* BtnPreview = nullptr;
  QPushButton* BtnAllServers = nullptr;
  QAction* ActionCreateAll = nullptr;
  QAction* ActionCopyAll = nullptr;
  QAction* ActionPreviewAll = nullptr;
  QAction* ActionVerifyAll = nullptr;
  void BtnPreviewClick();
  void RunForAllServers(TFleetAction action);
  // The text of the last report shown.
  const std::string& LastReport() const { return FLastReport; }

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  // Runs Work on a worker thread while a modal progress dialog is shown; the window's buttons
  // stay disabled until it ends. Cancel (when Cancellable) sets the flag Work is given.
  void RunWork(const QString& title, bool cancellable,
               const std::function<void(const std::atomic<bool>& cancel)>& work);
  // Asks to save unsaved edits; the record's id, or "" when the action must not go on.
  std::string SavedRecordID();

  void AddFleetActions(QHBoxLayout* buttons);
  void EnableFleetButtons(bool enable);
  void ShowReport(const std::string& title, const std::string& text);
  // Copy progress into the progress dialog, with Prefix above it; false once Cancel is pressed.
  TCopyProgressSink DialogProgress(const std::atomic<bool>& cancel,
                                   std::shared_ptr<const std::string> prefix);

  std::string FLastReport;
  std::unique_ptr<IOperator> FOperator;
  std::unique_ptr<TRpcSender> FSender;
  QPointer<QProgressDialog> FProgress;
  bool FRunning = false;
};
