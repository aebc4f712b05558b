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
  QPushButton* BtnGuideGrid;  // "Guide grid..."

  // Declares the "Channel schedule" column's reference editor.
  void RefTblFrame1StringGridLoaded(TRefStringGrid* grid);
  // Asks to save unsaved edits, builds the saved record and opens "Show schedule" on it; the
  // window, or nullptr when the operator declined or the build failed.
  TFormDoSchedule* Button1Click();
  // Asks to save unsaved edits and opens the guide grid on the saved record; the window (known
  // by its class name only: it belongs to the servers), or nullptr.
  QWidget* BtnGuideGridClick();
};
