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
#include "servers/ShareTransfer.h"

class QCheckBox;
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

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  // Runs Work on a worker thread while a modal progress dialog is shown; the window's buttons
  // stay disabled until it ends. Cancel (when Cancellable) sets the flag Work is given.
  void RunWork(const QString& title, bool cancellable,
               const std::function<void(const std::atomic<bool>& cancel)>& work);
  // Asks to save unsaved edits; the record's id, or "" when the action must not go on.
  std::string SavedRecordID();

  std::unique_ptr<IOperator> FOperator;
  std::unique_ptr<TRpcSender> FSender;
  QPointer<QProgressDialog> FProgress;
  bool FRunning = false;
};
