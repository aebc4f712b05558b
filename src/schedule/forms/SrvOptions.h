#pragma once
// The server options window: which STB groups a server serves and which web portal each group
// gets (a group may have none).
#include "JFrame/RecordForm.h"
#include "JFrame/RefTblFrame.h"

class QGroupBox;
class QLineEdit;

class TFormSrvOptions : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormSrvOptions(TDbFile& db, QWidget* parent = nullptr);

  TRefTblFrame* RefTblFrame1;
  QGroupBox* GroupBoxDescr;
  QLineEdit* EditDescr;

  // Declares the "STB group" and "Web portal" columns' reference editors.
  void RefTblFrame1StringGridLoaded(TRefStringGrid* grid);
};
