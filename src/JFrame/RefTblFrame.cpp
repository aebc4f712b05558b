#include "JFrame/RefTblFrame.h"

#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
QToolButton* StripButton(QWidget* strip, const char* name, const QString& glyph, const char* hint) {
  auto* b = new QToolButton(strip);
  b->setObjectName(name);
  b->setText(glyph);
  b->setToolTip(hint);
  b->setAutoRaise(true);
  b->setFocusPolicy(Qt::NoFocus);
  b->setFixedSize(26, 24);
  strip->layout()->addWidget(b);
  return b;
}
}  // namespace

TRefTblFrame::TRefTblFrame(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  Panel3 = new QWidget(this);
  Panel3->setObjectName("Panel3");
  auto* strip = new QHBoxLayout(Panel3);
  strip->setContentsMargins(2, 2, 2, 2);
  strip->setSpacing(2);
  // In the strip's order on screen: add, copy, delete, up, down.
  BtnAddRow = StripButton(Panel3, "BtnAddRow", QString::fromUtf8("+"), "Add row");
  BitBtnCopyRow = StripButton(Panel3, "BitBtnCopyRow", QString::fromUtf8("\u29c9"), "Copy row");
  BtnDelRow = StripButton(Panel3, "BtnDelRow", QString::fromUtf8("\u2212"), "Delete row");
  BtnMoveUp = StripButton(Panel3, "BtnMoveUp", QString::fromUtf8("\u2191"), "Move row up");
  BtnMoveDown = StripButton(Panel3, "BtnMoveDown", QString::fromUtf8("\u2193"), "Move row down");
  strip->addStretch(1);
  layout->addWidget(Panel3);

  StringGrid = new TRefStringGrid(this);
  StringGrid->setObjectName("StringGrid");
  StringGrid->SetFixedRowCount(1);
  StringGrid->SetFixedColCount(1);
  StringGrid->SetRowCount(2);
  StringGrid->SetFixedColWidth(30);
  StringGrid->SetShowRowNumber(true);
  StringGrid->setFrameShape(QFrame::NoFrame);
  layout->addWidget(StringGrid, 1);

  connect(BtnAddRow, &QToolButton::clicked, this, &TRefTblFrame::BtnAddRowClick);
  connect(BitBtnCopyRow, &QToolButton::clicked, this, &TRefTblFrame::BitBtnCopyRowClick);
  connect(BtnDelRow, &QToolButton::clicked, this, &TRefTblFrame::BtnDelRowClick);
  connect(BtnMoveUp, &QToolButton::clicked, this, &TRefTblFrame::BtnMoveUpClick);
  connect(BtnMoveDown, &QToolButton::clicked, this, &TRefTblFrame::BtnMoveDownClick);
}

void TRefTblFrame::BtnAddRowClick() { StringGrid->InsertRow(StringGrid->Row() + 1, false); }
void TRefTblFrame::BitBtnCopyRowClick() { StringGrid->InsertRow(StringGrid->Row() + 1, true); }
void TRefTblFrame::BtnDelRowClick() { StringGrid->DeleteRow(StringGrid->Row()); }
void TRefTblFrame::BtnMoveUpClick() { StringGrid->MoveRowUp(); }
void TRefTblFrame::BtnMoveDownClick() { StringGrid->MoveRowDown(); }
