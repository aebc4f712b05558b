#pragma once
// The STB groups window: groups of set-top boxes, each with a description and the ordered list
// of channels its boxes receive.
#include "JFrame/RecordForm.h"
#include "JFrame/RefTblFrame.h"

class QGroupBox;
class QLineEdit;

class TFormGroups : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormGroups(TDbFile& db, QWidget* parent = nullptr);

  QGroupBox* GroupBoxDescr;
  QLineEdit* EditDescr;
  TRefTblFrame* RefTblFrame1;

  // Declares the "Channel" column's reference editor.
  void RefTblFrame1StringGridLoaded(TRefStringGrid* grid);
};
