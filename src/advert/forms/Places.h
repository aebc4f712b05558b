#pragma once
// The places window: places of contracts.json where advertising is shown, each a list of
// server and STB-group pairs under "Timeline options".
#include "JFrame/RecordForm.h"
#include "JFrame/RefTblFrame.h"

class QGroupBox;

class TFormPlaces : public TRecordForm {
  Q_OBJECT
public:
  // Places: contracts.json; MainDb (Servers, Groups) defaults to the console's.
  explicit TFormPlaces(TDbFile& contracts, QWidget* parent = nullptr, TDbFile* mainDb = nullptr);

  QGroupBox* PanelOptions;  // "Timeline options"
  TRefTblFrame* RefTblFrame1;

  // Declares the "Server" and "Group of STB" columns' reference editors (main database).
  void RefTblFrame1StringGridLoaded(TRefStringGrid* grid);

private:
  TDbFile* FMainDb;
};
