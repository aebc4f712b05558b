#pragma once
// A ready-made table of references: a strip of row buttons over a reference grid with one fixed
// row (the captions) and one fixed column (the row numbers). The window that uses it declares
// the grid's columns and editors and binds StringGrid to its record key (normally "Table").
#include <QWidget>

#include "JFrame/RefStringGrid.h"

class QToolButton;

class TRefTblFrame : public QWidget {
  Q_OBJECT
public:
  explicit TRefTblFrame(QWidget* parent = nullptr);

  QWidget* Panel3;
  QToolButton* BtnDelRow;
  QToolButton* BtnMoveUp;
  QToolButton* BtnMoveDown;
  QToolButton* BtnAddRow;
  TRefStringGrid* StringGrid;
  QToolButton* BitBtnCopyRow;

  void BtnAddRowClick();      // a new row below the current one
  void BitBtnCopyRowClick();  // a copy of the current row below it
  void BtnDelRowClick();
  void BtnMoveUpClick();
  void BtnMoveDownClick();
};
