#pragma once
// The schedules window: a named set of channel schedules that a server plays together, and
// "Show schedule" on the set.
#include "JFrame/RecordForm.h"
#include "JFrame/RefTblFrame.h"

class QPushButton;
class TFormDoSchedule;

class TFormSchedules : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormSchedules(TDbFile& db, QWidget* parent = nullptr);

  TRefTblFrame* RefTblFrame1;
  QPushButton* Button1;  // "Show schedule"

  // Declares the "Channel schedule" column's reference editor.
  void RefTblFrame1StringGridLoaded(TRefStringGrid* grid);
  // Asks to save unsaved edits, builds the saved record and opens "Show schedule" on it; the
  // window, or nullptr when the operator declined or the build failed.
  TFormDoSchedule* Button1Click();
};
