#pragma once
// The contracts window: contracts of contracts.json, one grid row per booking (place, film or
// playlist, start and stop date, times per hour, days of week), a description, the buttons that
// book the contract into the time line and take it out again, and the "Report" page with what
// the time line holds of the contract (exported as CSV).
#include <functional>

#include "JFrame/RecordForm.h"
#include "JFrame/RefTblFrame.h"
#include "advert/TimeLineView.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTextEdit;

class TFormContracts : public TRecordForm {
  Q_OBJECT
public:
  // Contracts: contracts.json; MainDb (Films, PlayLists) and TimeLine default to the console's.
  explicit TFormContracts(TDbFile& contracts, QWidget* parent = nullptr, TDbFile* mainDb = nullptr,
                          TDbFile* timeLine = nullptr);

  QTabWidget* PageControlContract;  // "Contract" and "Report"
  QWidget* TabSheetContract;
  QWidget* TabSheetReport;
  TRefTblFrame* RefTblFrame1;
  QGroupBox* GroupBoxDescr;
  QLineEdit* EditDescr;
  QGroupBox* GroupBoxActions;
  QPushButton* BtnAddToTimeLine;  // "Add to timeline"
  QPushButton* Button2;           // "Delete from TL"
  QPushButton* BtnCheckFreeTime;  // "Check free time"
  QLabel* LabelResult;            // what the last action did
  QTextEdit* RichEditReport;
  QPushButton* BtnReportRefresh;
  QPushButton* BtnExportCsv;

  void RefTblFrame1StringGridLoaded(TRefStringGrid* grid);
  void BtnAddToTimeLineClick();
  void Button2Click();
  void BtnCheckFreeTimeClick();
  // Reads the shown contract's bookings from the time line into the "Report" page.
  void RefreshReport();
  void BtnExportCsvClick();

  // The file "Export CSV" writes to ("" cancels); a file dialog unless a test sets it.
  std::function<QString(QWidget* parent, const QString& suggested)> AskCsvFile;
  const TAsBookedReport& Report() const { return FReport; }

private:
  // The shown contract's id when it may be handed to the time line: saved, and contracts.json
  // writable (what is booked is the record in the file). "" when not, the reason shown.
  std::string ContractToBook(const char* action);
  void TimeLineChanged();

  TDbFile* FMainDb;
  TDbFile* FTimeLine;
  TAsBookedReport FReport;
};

// Called after any change of the time line made from a window: open calendars repaint.
void NotifyTimeLineChanged();
// Registers a callback for NotifyTimeLineChanged; returns an id for the removal.
int AddTimeLineListener(std::function<void()> listener);
void RemoveTimeLineListener(int id);
