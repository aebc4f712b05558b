#include "JFrame/RefStringGrid.h"
#include "JFrame/QtText.h"

#include <QApplication>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <charconv>
#include <cmath>

namespace {
std::string Std(const QString& s) { return s.toStdString(); }

// A reference grid binds as its array of rows. It is a string grid, so it goes in front of the
// plain string grids.
const bool GRefGridBinding = [] {
  InsertCompClassBefore(
      "TStringGrid",
      {"TRefStringGrid", [](QObject* o) { return qobject_cast<TRefStringGrid*>(o) != nullptr; },
       [](QObject* o, const TJson& v, TJsonCompVarType) {
         qobject_cast<TRefStringGrid*>(o)->LoadFromJson(v);
       },
       [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
         return qobject_cast<TRefStringGrid*>(o)->SaveToJson();
       }});
  return true;
}();

// A data cell: its text and its properties travel together when rows move.
class TRefGridItem : public QTableWidgetItem {
public:
  TRefGridItem() : QTableWidgetItem(QTableWidgetItem::UserType + 1) {}
  QTableWidgetItem* clone() const override { return new TRefGridItem; }
  QVariant data(int role) const override {
    if (Props) {
      if (role == Qt::BackgroundRole && Props->Color().isValid()) return QBrush(Props->Color());
      if (role == Qt::FontRole && Props->HasFont()) return Props->Font();
    }
    return QTableWidgetItem::data(role);
  }
  std::unique_ptr<TCellProperties> Props;
};

const TJson* Element(const TJson& row, int index) {
  if (!row.is_array() || index < 0 || index >= static_cast<int>(row.size())) return nullptr;
  return &row[static_cast<size_t>(index)];
}

// The name the grid's owner gives its editors.
QString OwnerName(TRefStringGrid* grid) {
  QWidget* w = grid->window();
  return w && w != grid ? w->objectName() : grid->objectName();
}

int64_t CellInteger(const QString& text) {
  std::string s = Std(text.trimmed());
  if (s.empty()) return 0;  // a new row's empty cell
  int64_t n = 0;
  const char* first = s.data();
  if (s[0] == '+') ++first;
  auto r = std::from_chars(first, s.data() + s.size(), n);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size())
    throw EConvertError("'" + s + "' is not a valid integer value");
  return n;
}

double CellDouble(const QString& text) {
  QString t = text.trimmed();
  if (t.isEmpty()) return 0;
  bool ok = false;
  double v = t.toDouble(&ok);
  if (!ok) throw EConvertError("'" + Std(t) + "' is not a valid floating point value");
  return v;
}
}  // namespace

// Draws the cells: nothing while the grid is updating, the window's own drawing when it takes
// over, and the default text otherwise.
class TRefGridDelegate : public QStyledItemDelegate {
public:
  explicit TRefGridDelegate(TRefStringGrid* grid) : QStyledItemDelegate(grid), FGrid(grid) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    if (FGrid->FUpdating) return;
    const int ACol = index.column() + FGrid->FFixedColCount;
    const int ARow = index.row() + FGrid->FFixedRowCount;
    if (ARow >= FGrid->RowCount() || ACol >= FGrid->ColCount()) {
      painter->fillRect(option.rect, FGrid->palette().color(QPalette::Base));
      return;
    }
    bool makeDefault = true;
    if (FGrid->OnDrawCell) {
      FGrid->OnDrawCell(FGrid, painter, ACol, ARow, option.rect, option.state, makeDefault);
      if (!makeDefault) return;
    }
    QStyledItemDelegate::paint(painter, option, index);
  }

private:
  TRefStringGrid* FGrid;
};

// ---------------------------------------------------------------------------------------------
// Cell properties and columns

void TCellProperties::Assign(const TCellProperties& other) {
  FCollData = other.FCollData;
  FColCollData = other.FColCollData;
  Fhaserror = other.Fhaserror;
  FColor = other.FColor;
  FFont = other.FFont;
  FHasFont = other.FHasFont;
  Json = other.Json;
  Data = other.Data;
  Picture = other.Picture;
  F_ID = other.F_ID;
  FEmptyIDEnabled = other.FEmptyIDEnabled;
  if (FGrid) FGrid->Repaint();
}

void TCellProperties::SetColor(const QColor& c) {
  FColor = c;
  if (FGrid) FGrid->Repaint();
}

void TCellProperties::SetFont(const QFont& f) {
  FFont = f;
  FHasFont = true;
  if (FGrid) FGrid->Repaint();
}

void TCellProperties::SetRecordID(const TrefID& id) {
  F_ID = id;
  for (const TCollectionData& d : FColCollData)
    if (d.Records && d.Records->Name() == id.Collection) {
      FCollData = d;
      break;
    }
}

QString TCellProperties::ComputeRefText() {
  std::optional<TJson> rec;
  try {
    if (FCollData.Records && !F_ID._ID.empty()) rec = FCollData.Records->GetRecord(F_ID._ID);
  } catch (const EDbReadError&) {
    rec.reset();  // shown as a broken reference; the display writes nothing
  }
  if (rec) {
    Fhaserror = false;
    SetColor(QColor());
    return Qs(JsonStr(*rec, "Name"));
  }
  Fhaserror = !FEmptyIDEnabled;
  SetColor(FEmptyIDEnabled ? QColor() : QColor(Qt::red));
  return {};
}

void TColCollectionItem::SetCaption(const QString& v) {
  FCaption = v;
  if (FOwner) FOwner->ItemChanged(*this);
}
void TColCollectionItem::SetEditing(bool v) {
  FEditing = v;
  if (FOwner) FOwner->ItemChanged(*this);
}
void TColCollectionItem::SetValueType(TJsonCompVarType v) {
  FValueType = v;
  if (FOwner) FOwner->ItemChanged(*this);
}

TColCollectionItem& TColCollections::Add() {
  FItems.push_back(std::make_unique<TColCollectionItem>());
  FItems.back()->FOwner = this;
  return *FItems.back();
}

void TColCollections::Insert(int i) {
  i = std::clamp(i, 0, Count());
  auto item = std::make_unique<TColCollectionItem>();
  item->FOwner = this;
  FItems.insert(FItems.begin() + i, std::move(item));
}

void TColCollections::Delete(int i) {
  if (i >= 0 && i < Count()) FItems.erase(FItems.begin() + i);
}

// ---------------------------------------------------------------------------------------------
// The grid

TRefStringGrid::TRefStringGrid(QWidget* parent) : TStringGrid(parent) {
  FBorderColor = palette().color(QPalette::Mid);
  setItemPrototype(new TRefGridItem);
  setItemDelegate(new TRefGridDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
  verticalHeader()->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setFixedWidth(FFixColWidth);
  FColCollections.OnItemChange = [this](TColCollectionItem&) { UpdateHeaders(); };
  while (FColCollections.Count() < FColCount) FColCollections.Add();
  FComp.resize(static_cast<size_t>(FColCount), nullptr);
  SyncTableSize();
  UpdateHeaders();
  connect(this, &QTableWidget::currentCellChanged, this,
          [this](int row, int col, int prevRow, int prevCol) {
            CurrentCellChanged(row, col, prevRow, prevCol);
          });
  connect(itemDelegate(), &QAbstractItemDelegate::commitData, this, [this] { DoChange(); });
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this] { UpdateFocusCell(); });
  connect(verticalHeader(), &QHeaderView::sectionResized, this, [this] { UpdateFocusCell(); });
  connect(verticalHeader(), &QHeaderView::sectionMoved, this,
          [this](int, int oldVisual, int newVisual) { RowDragged(oldVisual, newVisual); });
}

void TRefStringGrid::SetRowMoving(bool v) { verticalHeader()->setSectionsMovable(v); }
bool TRefStringGrid::RowMoving() const { return verticalHeader()->sectionsMovable(); }

void TRefStringGrid::RowDragged(int from, int to) {
  if (FInRowDrag) return;
  // The header only shows the move; the rows themselves move, so that row r stays row r.
  FInRowDrag = true;
  verticalHeader()->moveSection(to, from);
  FInRowDrag = false;
  if (from == to || from >= DataRowCount() || to >= DataRowCount()) return;
  MoveRow(from + FFixedRowCount, to + FFixedRowCount);
}

void TRefStringGrid::MoveRow(int from, int to) {
  if (from == to || !IsDataCell(FFixedColCount, from) || !IsDataCell(FFixedColCount, to)) return;
  EndInlineEditing();
  const int col = std::max(Col(), FFixedColCount);
  FDisDoOnChange = true;
  FInSelect = true;
  HideEditors();
  std::vector<QTableWidgetItem*> items;
  for (int c = 0; c < columnCount(); ++c) items.push_back(takeItem(TableRow(from), c));
  removeRow(TableRow(from));
  insertRow(TableRow(to));
  for (int c = 0; c < columnCount(); ++c)
    if (items[static_cast<size_t>(c)]) setItem(TableRow(to), c, items[static_cast<size_t>(c)]);
  UpdateRowNumbers();
  SetCurrentCell(std::min(col, FColCount - 1), to);
  FInSelect = false;
  FDisDoOnChange = false;
  SelectCell(Col(), Row());
  DoChange();
}

TRefStringGrid::~TRefStringGrid() = default;

void TRefStringGrid::Repaint() {
  if (!FUpdating) viewport()->update();
}

void TRefStringGrid::SetFixedColWidth(int v) {
  FFixColWidth = v;
  verticalHeader()->setFixedWidth(v);
}

void TRefStringGrid::SetShowRowNumber(bool v) {
  FShowRowNumber = v;
  UpdateRowNumbers();
}

void TRefStringGrid::SetBorderColor(const QColor& c) {
  FBorderColor = c;
  setStyleSheet(QString("QTableView { gridline-color: %1; }").arg(c.name()));
}

void TRefStringGrid::SetFixedRowCount(int n) {
  n = std::clamp(n, 0, 1);
  int data = DataRowCount();
  FFixedRowCount = n;
  FRowCount = n + data;
  horizontalHeader()->setVisible(n > 0);
}

void TRefStringGrid::SetFixedColCount(int n) {
  n = std::clamp(n, 0, 1);
  int data = DataColCount();
  FFixedColCount = n;
  FColCount = n + data;
  verticalHeader()->setVisible(n > 0);
  while (FColCollections.Count() < FColCount) FColCollections.Add();
  FComp.resize(static_cast<size_t>(std::max(FColCount, static_cast<int>(FComp.size()))), nullptr);
  UpdateHeaders();
}

bool TRefStringGrid::IsDataCell(int ACol, int ARow) const {
  return ACol >= FFixedColCount && ACol < FColCount && ARow >= FFixedRowCount && ARow < FRowCount;
}

void TRefStringGrid::SyncTableSize() {
  const int rows = std::max(1, DataRowCount());
  const int cols = std::max(1, DataColCount());
  if (columnCount() != cols) setColumnCount(cols);
  if (rowCount() != rows) setRowCount(rows);
  // The one displayed row (or column) of an empty grid holds nothing.
  if (DataRowCount() == 0)
    for (int c = 0; c < columnCount(); ++c) delete takeItem(0, c);
  if (DataColCount() == 0)
    for (int r = 0; r < rowCount(); ++r) delete takeItem(r, 0);
  UpdateRowNumbers();
}

void TRefStringGrid::SetRowCount(int n) {
  n = std::max(n, FFixedRowCount);
  const int old = FRowCount;
  FRowCount = n;
  SyncTableSize();
  for (int r = old; r < n; ++r) CreateRowProps(r);
  if (DataRowCount() == 0) HideEditors();
}

void TRefStringGrid::SetColCount(int n) {
  n = std::max(n, FFixedColCount);
  const int old = FColCount;
  FColCount = n;
  while (FColCollections.Count() < n) FColCollections.Add();
  if (static_cast<int>(FComp.size()) < n) FComp.resize(static_cast<size_t>(n), nullptr);
  SyncTableSize();
  for (int c = std::max(old, FFixedColCount); c < n; ++c)
    for (int r = FFixedRowCount; r < FRowCount; ++r) CreateCellPropFor(c, r);
  if (DataColCount() == 0) HideEditors();
  UpdateHeaders();
}

int TRefStringGrid::Row() const { return currentRow() + FFixedRowCount; }
int TRefStringGrid::Col() const { return currentColumn() + FFixedColCount; }

void TRefStringGrid::SetCurrentCell(int ACol, int ARow) {
  setCurrentCell(TableRow(ARow), TableCol(ACol));
}

QString TRefStringGrid::Cells(int ACol, int ARow) const {
  if (!IsDataCell(ACol, ARow)) return {};
  return Cell(TableCol(ACol), TableRow(ARow));
}

void TRefStringGrid::SetCells(int ACol, int ARow, const QString& text) {
  if (!IsDataCell(ACol, ARow)) return;
  CellProp(ACol, ARow);  // the cell's item carries its properties
  SetCell(TableCol(ACol), TableRow(ARow), text);
}

TCellProperties* TRefStringGrid::CellProp(int ACol, int ARow) {
  if (!IsDataCell(ACol, ARow)) return nullptr;
  const int r = TableRow(ARow), c = TableCol(ACol);
  auto* it = dynamic_cast<TRefGridItem*>(item(r, c));
  if (!it) {
    QString text = Cell(c, r);
    it = new TRefGridItem;
    it->setText(text);
    setItem(r, c, it);
  }
  if (!it->Props) it->Props = std::make_unique<TCellProperties>(this);
  return it->Props.get();
}

QRect TRefStringGrid::CellRect(int ACol, int ARow) const {
  return visualRect(model()->index(TableRow(ARow), TableCol(ACol)));
}

iObj4StringGrid* TRefStringGrid::ColumnEditor(int ACol) const {
  if (ACol < 0 || ACol >= static_cast<int>(FComp.size())) return nullptr;
  return FComp[static_cast<size_t>(ACol)];
}

void TRefStringGrid::SetColumnEditor(int ACol, iObj4StringGrid* editor) {
  if (ACol < 0) return;
  if (ACol >= static_cast<int>(FComp.size())) FComp.resize(static_cast<size_t>(ACol) + 1, nullptr);
  FComp[static_cast<size_t>(ACol)] = editor;
}

void TRefStringGrid::CreateCellPropFor(int ACol, int ARow) {
  TCellProperties* prop = CellProp(ACol, ARow);
  if (!prop) return;
  if (iObj4StringGrid* ed = ColumnEditor(ACol)) ed->CreateCellProp(prop, ACol, ARow);
}

void TRefStringGrid::CreateRowProps(int ARow) {
  for (int c = FFixedColCount; c < FColCount; ++c) CreateCellPropFor(c, ARow);
}

void TRefStringGrid::Loaded() {
  if (OnLoaded) OnLoaded(this);
  UpdateHeaders();
  verticalHeader()->setFixedWidth(FFixColWidth);
  for (int r = FFixedRowCount; r < FRowCount; ++r) CreateRowProps(r);
  ApplyFixedParams();
}

void TRefStringGrid::UpdateHeaders() {
  if (FFixedRowCount == 0) return;
  QStringList labels;
  for (int c = FFixedColCount; c < FFixedColCount + columnCount(); ++c)
    labels << (c < std::min(FColCount, FColCollections.Count()) ? FColCollections[c].Caption()
                                                                : QString());
  setHorizontalHeaderLabels(labels);
}

void TRefStringGrid::UpdateRowNumbers() {
  QStringList labels;
  for (int r = 0; r < rowCount(); ++r)
    labels << (FShowRowNumber && r < DataRowCount() ? QString::number(r + 1) : QString());
  setVerticalHeaderLabels(labels);
}

void TRefStringGrid::ApplyFixedParams() {
  if (FFixedRowParam.HasFont()) horizontalHeader()->setFont(FFixedRowParam.Font());
  if (FFixedColParam.HasFont()) verticalHeader()->setFont(FFixedColParam.Font());
}

void TRefStringGrid::BeginUpdate() {
  FUpdating = true;
  setUpdatesEnabled(false);
}

void TRefStringGrid::EndUpdate() {
  FUpdating = false;
  setUpdatesEnabled(true);
  viewport()->update();
}

void TRefStringGrid::DoChange() {
  if (!FDisDoOnChange && !FUpdating) emit Changed();
}

void TRefStringGrid::HideEditors() {
  for (iObj4StringGrid* ed : FComp)
    if (ed) ed->ClrEdit();
}

void TRefStringGrid::PlaceEditor(int ACol, int ARow) {
  iObj4StringGrid* ed = ColumnEditor(ACol);
  if (!ed) return;
  QWidget* w = ed->EditorWidget();
  QRect r = CellRect(ACol, ARow);
  if (r.width() <= 4 || r.height() <= 2) {
    w->hide();
    return;
  }
  w->setGeometry(r.adjusted(2, 1, -2, -1));
  w->show();
  w->raise();
}

void TRefStringGrid::UpdateFocusCell() {
  const int ACol = Col(), ARow = Row();
  if (!IsDataCell(ACol, ARow)) return;
  iObj4StringGrid* ed = ColumnEditor(ACol);
  if (ed && ed->EditorWidget()->isVisible()) PlaceEditor(ACol, ARow);
}

bool TRefStringGrid::SelectCell(int ACol, int ARow) {
  if (!IsDataCell(ACol, ARow)) {
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    HideEditors();
    return true;
  }
  bool canSelect = true;
  if (OnBeforeSelectCell) OnBeforeSelectCell(this, ACol, ARow, canSelect);
  if (!canSelect) {
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    return false;
  }
  const bool editing = ACol < FColCollections.Count() && FColCollections[ACol].Editing();
  iObj4StringGrid* ed = ColumnEditor(ACol);
  if (ed && editing) {
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (iObj4StringGrid* other : FComp)
      if (other && other != ed) other->ClrEdit();
    PlaceEditor(ACol, ARow);
    ed->SelectCell(ACol, ARow);
    return true;
  }
  HideEditors();
  setEditTriggers(editing ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked
                          : QAbstractItemView::NoEditTriggers);
  return true;
}

void TRefStringGrid::CurrentCellChanged(int row, int col, int prevRow, int prevCol) {
  if (FInSelect || row < 0 || col < 0) return;
  if (!SelectCell(col + FFixedColCount, row + FFixedRowCount)) {
    // Refused: the grid stays on the cell it was on.
    FInSelect = true;
    if (prevRow >= 0 && prevCol >= 0) setCurrentCell(prevRow, prevCol);
    else setCurrentIndex(QModelIndex());
    FInSelect = false;
  }
}

void TRefStringGrid::scrollContentsBy(int dx, int dy) {
  TStringGrid::scrollContentsBy(dx, dy);
  UpdateFocusCell();
}

void TRefStringGrid::resizeEvent(QResizeEvent* e) {
  TStringGrid::resizeEvent(e);
  UpdateFocusCell();
}

void TRefStringGrid::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasFormat(RefMimeType)) e->acceptProposedAction();
  else e->ignore();
}

void TRefStringGrid::dragMoveEvent(QDragMoveEvent* e) {
  FXDragOver = e->position().toPoint().x();
  FYDragOver = e->position().toPoint().y();
  QModelIndex idx = indexAt(e->position().toPoint());
  if (!idx.isValid() || !e->mimeData()->hasFormat(RefMimeType)) {
    e->ignore();
    return;
  }
  const int ACol = idx.column() + FFixedColCount, ARow = idx.row() + FFixedRowCount;
  iObj4StringGrid* ed = ColumnEditor(ACol);
  if (!IsDataCell(ACol, ARow) || !ed) {
    e->ignore();
    return;
  }
  // The cell under the mouse gets the editor, so that the drop lands on it.
  if (ACol != Col() || ARow != Row()) SetCurrentCell(ACol, ARow);
  auto* refEdit = dynamic_cast<TRG_RefEdit*>(ed);
  if (refEdit && refEdit->AcceptsDrag(e->mimeData())) e->acceptProposedAction();
  else e->ignore();
}

void TRefStringGrid::dropEvent(QDropEvent* e) {
  QModelIndex idx = indexAt(e->position().toPoint());
  if (!idx.isValid()) {
    e->ignore();
    return;
  }
  const int ACol = idx.column() + FFixedColCount, ARow = idx.row() + FFixedRowCount;
  auto* refEdit = dynamic_cast<TRG_RefEdit*>(ColumnEditor(ACol));
  TrefID ref;
  if (!IsDataCell(ACol, ARow) || !refEdit || !refEdit->AcceptsDrag(e->mimeData(), &ref)) {
    e->ignore();
    return;
  }
  if (ACol != Col() || ARow != Row()) SetCurrentCell(ACol, ARow);
  e->acceptProposedAction();
  refEdit->SetRecordID(ref);
}

void TRefStringGrid::SetColWidth(int ACol) {
  if (ACol >= FFixedColCount && ACol < FColCount) resizeColumnToContents(TableCol(ACol));
}

// ---------------------------------------------------------------------------------------------
// Loading and saving

void TRefStringGrid::LoadFromJson(const TJson& rows) {
  HideEditors();
  bool began = false;
  try {
    if (!rows.is_null() && !rows.is_array()) throw std::runtime_error("not an array");
    const int n = rows.is_array() ? static_cast<int>(rows.size()) : 0;
    BeginUpdate();
    began = true;
    FInSelect = true;
    // Fresh cells: nothing of the previous record survives.
    SetRowCount(FFixedRowCount);
    SetRowCount(FFixedRowCount + n);
    for (int R = FFixedRowCount; R < FRowCount; ++R) {
      const TJson& row = rows[static_cast<size_t>(R - FFixedRowCount)];
      if (!row.is_array()) throw std::runtime_error("row is not an array");
      int jc = 0;
      for (int c = FFixedColCount; c < FColCount; ++c) {
        if (iObj4StringGrid* ed = ColumnEditor(c)) {
          ed->LoadJson(row, jc, R, c);
        } else {
          const TJsonCompVarType type =
              c < FColCollections.Count() ? FColCollections[c].ValueType() : vt_None;
          if (type == vt_None) continue;  // takes no element
          const TJson* el = Element(row, jc);
          QString text;
          if (el && !el->is_null()) {
            if (type == vt_Integer) text = QString::number(JsonAsInteger(*el));
            else if (type == vt_Double) text = QString::number(JsonAsDouble(*el), 'g', 15);
            else text = Qs(JsonAsString(*el));
          }
          SetCells(c, R, text);
        }
        ++jc;
      }
    }
    FInSelect = false;
    EndUpdate();
    began = false;
  } catch (...) {
    FInSelect = false;
    if (began) EndUpdate();
    throw EAssertionFailed("Error loading RefStringGrid");
  }
  if (DataRowCount() > 0 && DataColCount() > 0) {
    SetCurrentCell(FFixedColCount, FFixedRowCount);
    SelectCell(Col(), Row());  // the cell may have been current before: show its new value
  } else {
    HideEditors();
  }
}

TJson TRefStringGrid::SaveToJson() {
  TJson rows = TJson::array();
  for (int R = FFixedRowCount; R < FRowCount; ++R) {
    TJson row = TJson::array();
    for (int c = FFixedColCount; c < FColCount; ++c) {
      if (iObj4StringGrid* ed = ColumnEditor(c)) {
        TJson v;
        ed->SaveJson(c, R, v);
        row.push_back(std::move(v));
        continue;
      }
      const TJsonCompVarType type =
          c < FColCollections.Count() ? FColCollections[c].ValueType() : vt_None;
      if (type == vt_String) row.push_back(Std(Cells(c, R)));
      else if (type == vt_Integer) row.push_back(CellInteger(Cells(c, R)));
      else if (type == vt_Double) row.push_back(CellDouble(Cells(c, R)));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// ---------------------------------------------------------------------------------------------
// Row and column operations

void TRefStringGrid::EndInlineEditing() {
  if (state() != QAbstractItemView::EditingState) return;
  // Moving the current cell away and back commits what was typed and closes the editor.
  QModelIndex cur = currentIndex();
  FInSelect = true;
  setCurrentIndex(QModelIndex());
  setCurrentIndex(cur);
  FInSelect = false;
}

void TRefStringGrid::InsertRow(int pos, bool Copy) {
  EndInlineEditing();
  if (pos < 0) {
    QApplication::beep();
    return;
  }
  if (Copy && pos > FRowCount) return;
  pos = std::clamp(pos, FFixedRowCount, FRowCount);
  const int col = std::max(Col(), FFixedColCount);
  FDisDoOnChange = true;
  FInSelect = true;
  if (DataRowCount() > 0) insertRow(TableRow(pos));
  ++FRowCount;
  SyncTableSize();
  CreateRowProps(pos);
  if (Copy && pos - 1 >= FFixedRowCount) {
    for (int c = FFixedColCount; c < FColCount; ++c) {
      SetCells(c, pos, Cells(c, pos - 1));
      CellProp(c, pos)->Assign(*CellProp(c, pos - 1));
    }
  }
  FInSelect = false;
  FDisDoOnChange = false;
  HideEditors();
  if (DataColCount() > 0) {
    SetCurrentCell(std::min(col, FColCount - 1), pos);
    SelectCell(Col(), Row());
  }
  DoChange();
}

void TRefStringGrid::DeleteRow(int index) {
  EndInlineEditing();
  if (index < FFixedRowCount || index >= FRowCount) {
    QApplication::beep();
    return;
  }
  // The last data row stays unless the grid may be empty.
  if (!FEnableEmpty && DataRowCount() <= 1) return;
  const int col = std::max(Col(), FFixedColCount);
  FInSelect = true;
  HideEditors();
  if (DataRowCount() > 1) removeRow(TableRow(index));
  --FRowCount;
  SyncTableSize();
  FInSelect = false;
  if (index < FRowCount && DataColCount() > 0) {
    SetCurrentCell(std::min(col, FColCount - 1), index);
    SelectCell(Col(), Row());
  } else if (FRowCount > FFixedRowCount && DataColCount() > 0) {
    SetCurrentCell(std::min(col, FColCount - 1), FRowCount - 1);
    SelectCell(Col(), Row());
  }
  DoChange();
}

void TRefStringGrid::SwapRows(int a, int b) {
  const int ra = TableRow(a), rb = TableRow(b);
  for (int c = 0; c < columnCount(); ++c) {
    QTableWidgetItem* ia = takeItem(ra, c);
    QTableWidgetItem* ib = takeItem(rb, c);
    if (ib) setItem(ra, c, ib);
    if (ia) setItem(rb, c, ia);
  }
}

void TRefStringGrid::MoveRowUp() {
  EndInlineEditing();
  const int r = Row();
  if (r <= FFixedRowCount || r >= FRowCount) {
    QApplication::beep();
    return;
  }
  FDisDoOnChange = true;
  FInSelect = true;
  SwapRows(r, r - 1);
  SetCurrentCell(Col(), r - 1);
  FInSelect = false;
  FDisDoOnChange = false;
  SelectCell(Col(), Row());
  DoChange();
}

void TRefStringGrid::MoveRowDown() {
  EndInlineEditing();
  const int r = Row();
  if (r < FFixedRowCount || r >= FRowCount - 1) {
    QApplication::beep();
    return;
  }
  FDisDoOnChange = true;
  FInSelect = true;
  SwapRows(r, r + 1);
  SetCurrentCell(Col(), r + 1);
  FInSelect = false;
  FDisDoOnChange = false;
  SelectCell(Col(), Row());
  DoChange();
}

void TRefStringGrid::InsertColumn(int index) {
  EndInlineEditing();
  if (index < FFixedColCount || index > FColCount) {
    QApplication::beep();
    return;
  }
  HideEditors();
  FInSelect = true;
  if (DataColCount() > 0) insertColumn(TableCol(index));
  ++FColCount;
  FComp.insert(FComp.begin() + std::min<size_t>(index, FComp.size()), nullptr);
  FColCollections.Insert(index);
  while (FColCollections.Count() < FColCount) FColCollections.Add();
  SyncTableSize();
  for (int r = FFixedRowCount; r < FRowCount; ++r) {
    CellProp(index, r);
    SetCells(index, r, " ");
  }
  FInSelect = false;
  UpdateHeaders();
  DoChange();
}

void TRefStringGrid::DeleteColumn(int index) {
  EndInlineEditing();
  if (index < FFixedColCount || index >= FColCount) {
    QApplication::beep();
    return;
  }
  HideEditors();
  FInSelect = true;
  if (DataColCount() > 1) removeColumn(TableCol(index));
  --FColCount;
  if (index < static_cast<int>(FComp.size())) FComp.erase(FComp.begin() + index);
  FColCollections.Delete(index);
  while (FColCollections.Count() < FColCount) FColCollections.Add();
  SyncTableSize();
  FInSelect = false;
  UpdateHeaders();
  DoChange();
}

// ---------------------------------------------------------------------------------------------
// Reference cells

TRG_RefEdit::TRG_RefEdit(TRefStringGrid* grid) : TRefEdit(grid->viewport()), FGrid(grid) {
  hide();
  connect(this, &TRefEdit::Changed, this, &TRG_RefEdit::EditorChanged);
}

void TRG_RefEdit::SetAfterCreate(int ACol) {
  setObjectName(FGrid->objectName() + "_RefEdit" + QString::number(ACol));
  hide();
  FGrid->SetColumnEditor(ACol, this);
}

void TRG_RefEdit::ClrEdit() {
  hide();
  if (Picker()) Picker()->reject();
}

void TRG_RefEdit::SelectCell(int ACol, int ARow) {
  FCol = ACol;
  FRow = ARow;
  TCellProperties* prop = FGrid->CellProp(ACol, ARow);
  if (!prop) return;
  FSelecting = true;
  {
    QSignalBlocker block(this);
    SetRecordID(prop->RecordID());
  }
  FSelecting = false;
}

void TRG_RefEdit::EditorChanged() {
  if (FSelecting) return;
  TCellProperties* prop = FGrid->CellProp(FCol, FRow);
  if (!prop) return;
  prop->SetColCollData(CollData());
  prop->SetEmptyIDEnabled(EnableEmpty());
  prop->SetRecordID(RecordID());
  FGrid->SetCells(FCol, FRow, prop->ComputeRefText());
  FGrid->DoChange();
}

void TRG_RefEdit::CreateCellProp(TCellProperties* Prop, int ACol, int ARow) {
  Prop->SetColCollData(CollData());
  Prop->SetEmptyIDEnabled(EnableEmpty());
  FGrid->SetCells(ACol, ARow, Prop->ComputeRefText());
}

void TRG_RefEdit::LoadJson(const TJson& JsonRow, int JsonCol, int ARow, int ACol) {
  TCellProperties* prop = FGrid->CellProp(ACol, ARow);
  if (!prop) return;
  prop->SetColCollData(CollData());
  prop->SetEmptyIDEnabled(EnableEmpty());
  prop->SetRecordID(JsonToTrefID(Element(JsonRow, JsonCol)));
  FGrid->SetCells(ACol, ARow, prop->ComputeRefText());
}

void TRG_RefEdit::SaveJson(int ACol, int ARow, TJson& value) {
  TCellProperties* prop = FGrid->CellProp(ACol, ARow);
  value = TrefIDToJson(prop ? prop->RecordID() : TrefID{});
}

// ---------------------------------------------------------------------------------------------
// Date-time cells

TRG_DateTimeEdit::TRG_DateTimeEdit(TRefStringGrid* grid)
    : TDateTimeEdit(grid->viewport()), FGrid(grid) {
  hide();
  connect(this, &TDateTimeEdit::Changed, this, &TRG_DateTimeEdit::EditorChanged);
}

void TRG_DateTimeEdit::SetAfterCreate(int ACol) {
  setObjectName(OwnerName(FGrid) + "_DateTimeEdit" + QString::number(ACol));
  FStartValue = 0;
  hide();
  FGrid->SetColumnEditor(ACol, this);
}

void TRG_DateTimeEdit::AcceptTyped() {
  // Text typed but not yet accepted belongs to the cell being left: it is read while this
  // editor still edits that cell, before hiding or moving it loses the text.
  if (!FSelecting && !isHidden() && FCol >= 0 && text() != ValueAsText()) AcceptText();
}

void TRG_DateTimeEdit::ClrEdit() {
  AcceptTyped();
  hide();
}

void TRG_DateTimeEdit::SelectCell(int ACol, int ARow) {
  AcceptTyped();
  FCol = ACol;
  FRow = ARow;
  const QString text = FGrid->Cells(ACol, ARow);
  FSelecting = true;
  SetValue(FStartValue);
  if (text.trimmed().isEmpty() && EmptyEnabled()) SetValueAsText(QString());
  else SetValue(StrToValue(text));
  FSelecting = false;
  if (ValueAsText() != text) {
    FGrid->SetCells(ACol, ARow, ValueAsText());
    FGrid->DoChange();
  }
}

void TRG_DateTimeEdit::EditorChanged() {
  // A hidden editor edits no cell. Whether the window itself is on screen does not matter:
  // an edit made while it is not shown still belongs to the cell.
  if (FSelecting || FCol < 0 || isHidden() || FRow >= FGrid->RowCount()) return;
  FGrid->SetCells(FCol, FRow, ValueAsText());
  FGrid->DoChange();
}

void TRG_DateTimeEdit::CreateCellProp(TCellProperties*, int ACol, int ARow) {
  FGrid->SetCells(ACol, ARow, FStartValueAsString);
}

void TRG_DateTimeEdit::LoadJson(const TJson& JsonRow, int JsonCol, int ARow, int ACol) {
  const TJson* el = Element(JsonRow, JsonCol);
  QString text;
  if (el && !el->is_null())
    text = FJsonAsDouble ? ValueToStr(::JsonAsDouble(*el)) : Qs(JsonAsString(*el));
  FGrid->SetCells(ACol, ARow, text);
}

void TRG_DateTimeEdit::SaveJson(int ACol, int ARow, TJson& value) {
  const QString text = FGrid->Cells(ACol, ARow);
  if (FJsonAsDouble) value = StrToValue(text);
  else value = Std(text);
}

// ---------------------------------------------------------------------------------------------
// Button-edit cells

TRG_BtnEdit::TRG_BtnEdit(TRefStringGrid* grid) : TBtnEdit(grid->viewport()), FGrid(grid) {
  hide();
  connect(this, &QLineEdit::textChanged, this, [this] {
    if (!FSelecting) EditorChanged();
  });
}

void TRG_BtnEdit::SetAfterCreate(int ACol) {
  setObjectName(OwnerName(FGrid) + "_BtnEdit" + QString::number(ACol));
  FStartValue.clear();
  hide();
  FGrid->SetColumnEditor(ACol, this);
}

void TRG_BtnEdit::ClrEdit() {
  hide();
  if (FForm) FForm->reject();
}

void TRG_BtnEdit::SelectCell(int ACol, int ARow) {
  if (FForm) FForm->reject();
  FCol = ACol;
  FRow = ARow;
  TCellProperties* prop = FGrid->CellProp(ACol, ARow);
  if (!prop) return;
  FSelecting = true;
  if (FOnTextNeedUpdate) {
    FJson = prop->Json.is_null() ? TJson::object() : prop->Json;
    QString text;
    FOnTextNeedUpdate(this, FJson, text, ACol, ARow);
    setText(text);
    FGrid->SetCells(ACol, ARow, text);
  } else {
    setText(FGrid->Cells(ACol, ARow));
  }
  FSelecting = false;
}

void TRG_BtnEdit::EditorChanged() {
  if (FCol < 0) return;
  TCellProperties* prop = FGrid->CellProp(FCol, FRow);
  if (!prop) return;
  FGrid->SetCells(FCol, FRow, text());
  if (FOnTextNeedUpdate) prop->Json = FJson;
  FGrid->DoChange();
}

void TRG_BtnEdit::SetJson(const TJson& v) {
  if (JsonEqual(v, FJson)) return;
  FJson = v;
  QString t = text();
  if (FOnTextNeedUpdate) FOnTextNeedUpdate(this, FJson, t, FCol, FRow);
  FSelecting = true;
  setText(t);
  FSelecting = false;
  EditorChanged();
}

void TRG_BtnEdit::ShowForm() {
  if (!FormClass) return;
  if (!FForm) {
    FForm = FormClass(this);
    if (!FForm) return;
    connect(FForm, &QDialog::finished, this, [this] {
      if (FForm) FForm->deleteLater();
      FForm = nullptr;
    });
  }
  FForm->move(CenteredDialogPos(this, FForm->size()));
  FForm->exec();
}

void TRG_BtnEdit::CreateCellProp(TCellProperties* Prop, int ACol, int ARow) {
  if (FOnTextNeedUpdate) {
    Prop->Json = FStartJson;
    QString text;
    FOnTextNeedUpdate(this, Prop->Json, text, ACol, ARow);
    FGrid->SetCells(ACol, ARow, text);
  } else {
    FGrid->SetCells(ACol, ARow, FStartValue);
  }
}

void TRG_BtnEdit::LoadJson(const TJson& JsonRow, int JsonCol, int ARow, int ACol) {
  const TJson* el = Element(JsonRow, JsonCol);
  TCellProperties* prop = FGrid->CellProp(ACol, ARow);
  if (!prop) return;
  if (FOnTextNeedUpdate) {
    prop->Json = el ? *el : TJson::object();
    QString text;
    FOnTextNeedUpdate(this, prop->Json, text, ACol, ARow);
    FGrid->SetCells(ACol, ARow, text);
  } else {
    FGrid->SetCells(ACol, ARow, el ? Qs(JsonCellText(*el)) : QString());
  }
}

void TRG_BtnEdit::SaveJson(int ACol, int ARow, TJson& value) {
  TCellProperties* prop = FGrid->CellProp(ACol, ARow);
  if (FOnTextNeedUpdate) value = prop && !prop->Json.is_null() ? prop->Json : TJson::object();
  else value = Std(FGrid->Cells(ACol, ARow));
}

// ---------------------------------------------------------------------------------------------
// Drop-down list cells

TRG_ComboBox::TRG_ComboBox(TRefStringGrid* grid) : QComboBox(grid->viewport()), FGrid(grid) {
  hide();
  setEditable(false);
  setFrame(false);
  connect(this, &QComboBox::activated, this, &TRG_ComboBox::EditorChanged);
}

void TRG_ComboBox::SetAfterCreate(int ACol) {
  setObjectName(OwnerName(FGrid) + "_ComboBox" + QString::number(ACol));
  FStartValue = currentIndex();
  hide();
  FGrid->SetColumnEditor(ACol, this);
}

void TRG_ComboBox::ClrEdit() {
  hidePopup();
  hide();
}

void TRG_ComboBox::SelectCell(int ACol, int ARow) {
  FCol = ACol;
  FRow = ARow;
  TCellProperties* prop = FGrid->CellProp(ACol, ARow);
  if (!prop) return;
  const int index = prop->Json.is_number() ? static_cast<int>(JsonAsInteger(prop->Json)) : FStartValue;
  FSelecting = true;
  setCurrentIndex(index);
  FSelecting = false;
  FGrid->SetCells(ACol, ARow, itemText(index));
}

void TRG_ComboBox::EditorChanged(int index) {
  if (FSelecting || FCol < 0) return;
  TCellProperties* prop = FGrid->CellProp(FCol, FRow);
  if (!prop) return;
  prop->Json = index;
  FGrid->SetCells(FCol, FRow, itemText(index));
  FGrid->DoChange();
}

void TRG_ComboBox::CreateCellProp(TCellProperties* Prop, int ACol, int ARow) {
  Prop->Json = FStartValue;
  FGrid->SetCells(ACol, ARow, itemText(FStartValue));
}

void TRG_ComboBox::LoadJson(const TJson& JsonRow, int JsonCol, int ARow, int ACol) {
  const TJson* el = Element(JsonRow, JsonCol);
  TCellProperties* prop = FGrid->CellProp(ACol, ARow);
  if (!prop) return;
  const int index = el && !el->is_null() ? static_cast<int>(JsonAsInteger(*el)) : FStartValue;
  prop->Json = index;
  FGrid->SetCells(ACol, ARow, itemText(index));
}

void TRG_ComboBox::SaveJson(int ACol, int ARow, TJson& value) {
  TCellProperties* prop = FGrid->CellProp(ACol, ARow);
  value = prop && !prop->Json.is_null() ? prop->Json : TJson(FStartValue);
}
