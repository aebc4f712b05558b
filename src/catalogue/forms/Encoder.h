#pragma once
// The encoder window: one per program. Takes the files chosen in the films window, encodes
// every one that is not yet a transport stream with ffmpeg on a worker thread, measures each
// result and finally hands the finished files to the films window, which creates the records.
//
// The job loop runs inside addFiles, keeping the window responsive by processing events; the
// job list is shared with that loop, so a window freed meanwhile (the program closing) only
// stops the loop, which ends on a list that still exists.
#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/EncoderJobs.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class TDbFile;

class TFormEncoder : public QWidget {
  Q_OBJECT
public:
  TFormEncoder(TDbFile& db, QWidget* parent = nullptr);
  ~TFormEncoder() override;

  // The program's encoder window: created (as a child of the main window's area) when there is
  // none, restored when minimised.
  static TFormEncoder* Open(TDbFile& db);
  static TFormEncoder* Instance();

  QTableWidget* StringGrid1;
  QPushButton* BtnPause;
  QPushButton* BtnStopEnc;
  QCheckBox* CheckBoxShowLog;
  QPushButton* BtnCreate;

  // Appends one row per file and processes the rows unless that is already going on.
  void addFiles(const std::vector<std::string>& files);
  bool Running() const { return FJobs && FJobs->Running; }
  TEncoderJobList& Jobs() { return *FJobs; }

  void BtnPauseClick();
  void BtnStopEncClick();
  void CheckBoxShowLogClick();
  void BtnCreateClick();

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void RowChanged(int row);
  void EncoderStarted();
  void EncoderStoped();
  void UpdateButtons();
  TDbFile& FDb;
  std::shared_ptr<TEncoderJobList> FJobs;
  QPointer<QPlainTextEdit> FLog;
  bool FCloseAfterLoop = false;
};
