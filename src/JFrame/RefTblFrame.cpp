#include "JFrame/RefTblFrame.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
enum TGlyph { gAdd, gCopy, gDelete, gUp, gDown };

// Small drawn bitmaps, so the strip looks the same whatever fonts the machine has.
QIcon GlyphIcon(TGlyph g) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(40, 40, 40);
  p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::FlatCap));
  switch (g) {
    case gAdd:
      p.setPen(QPen(QColor(0, 120, 0), 2.4, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(8, 2), QPointF(8, 14));
      p.drawLine(QPointF(2, 8), QPointF(14, 8));
      break;
    case gCopy:
      p.setPen(QPen(ink, 1.2));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(1.5, 1.5, 8.5, 10));
      p.drawRect(QRectF(5.5, 4.5, 8.5, 10));
      break;
    case gDelete:
      p.setPen(QPen(QColor(170, 0, 0), 2.4, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(3, 3), QPointF(13, 13));
      p.drawLine(QPointF(13, 3), QPointF(3, 13));
      break;
    case gUp:
    case gDown: {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0, 70, 150));
      QPolygonF tri;
      if (g == gUp) tri << QPointF(8, 2) << QPointF(14, 9) << QPointF(2, 9);
      else tri << QPointF(8, 14) << QPointF(14, 7) << QPointF(2, 7);
      p.drawPolygon(tri);
      p.drawRect(g == gUp ? QRectF(6, 9, 4, 5) : QRectF(6, 2, 4, 5));
      break;
    }
  }
  return QIcon(pm);
}

QToolButton* StripButton(QWidget* strip, const char* name, TGlyph glyph, const char* caption,
                         const char* hint) {
  auto* b = new QToolButton(strip);
  b->setObjectName(name);
  // The picture is what shows; the caption names the button for screen readers and for
  // whatever finds buttons by their text.
  b->setText(caption);
  b->setAccessibleName(caption);
  b->setToolButtonStyle(Qt::ToolButtonIconOnly);
  b->setIcon(GlyphIcon(glyph));
  b->setIconSize(QSize(16, 16));
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
  BtnAddRow = StripButton(Panel3, "BtnAddRow", gAdd, "Add row", "Add row");
  BitBtnCopyRow = StripButton(Panel3, "BitBtnCopyRow", gCopy, "Copy row", "Copy row");
  BtnDelRow = StripButton(Panel3, "BtnDelRow", gDelete, "Delete row", "Delete row");
  BtnMoveUp = StripButton(Panel3, "BtnMoveUp", gUp, "Move up", "Move row up");
  BtnMoveDown = StripButton(Panel3, "BtnMoveDown", gDown, "Move down", "Move row down");
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
  StringGrid->SetRowMoving(true);
  // The last column takes the width that is left, so reference names are not cut off.
  StringGrid->horizontalHeader()->setStretchLastSection(true);
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
