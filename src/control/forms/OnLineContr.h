#pragma once
// The control panel records window ("FormOnLinrContr"): panel records of "OnLineContr" in their
// folder tree, named, copied, moved and deleted with the editor frame. A panel's elements,
// window geometry and custom colours are not edited here but carried through unchanged; "Edit
// control panel" opens the panel itself for layout editing.
#include "JFrame/RecordForm.h"

class QLabel;
class QPushButton;

class TFormOnLineContr : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormOnLineContr(TDbFile& db, QWidget* parent = nullptr);

  QPushButton* Button1;  // "Edit control panel"
  QLabel* LabelElements;

  // The shown record's "Table", "Form" and "CustColors" (null: not set).
  TJson ElementsTbl;
  TJson FormPos;
  TJson CustColors;

  void JFrame1RecordToComp(TJson& aObj);
  void JFrame1CompToRecord(TJson& aObj);
  // Opens the shown panel in edit mode and closes this window. Returns the panel window
  // (nullptr when nothing was opened).
  QWidget* Button1Click();
  void JFrame1Change();
};
