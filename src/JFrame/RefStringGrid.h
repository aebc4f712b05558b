#pragma once
// A grid of records' table rows whose columns may carry a cell editor: a reference (TRG_RefEdit),
// a date-time (TRG_DateTimeEdit), a button edit with a dialog (TRG_BtnEdit) or a drop-down list
// (TRG_ComboBox). The grid binds to a record key as an array of rows, each an array of cell
// values in column order.
//
// Coordinates are those of a grid with fixed rows and columns: column 0 and row 0 are the fixed
// ones when there are any, data cells start at (FixedColCount, FixedRowCount). The fixed row is
// the horizontal header (the columns' captions), the fixed column the vertical header (the row
// numbers with ShowRowNumber).
//
// RowCount and ColCount are logical: with no data rows the grid still displays one empty row,
// which every operation ignores (likewise for columns).
//
// A window declares its columns and editors in OnLoaded and then calls Loaded():
//   grid->OnLoaded = [&](TRefStringGrid* g) {
//     auto* ed = new TRG_RefEdit(g);
//     ed->SetAfterCreate(1);
//     ed->AddCollData(films);
//     ed->SetTreeCaption("Films");
//   };
//   grid->Loaded();
#include <QColor>
#include <QComboBox>
#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

#include "JFrame/ComponentToJson.h"
#include "JFrame/FloatSpin.h"
#include "JFrame/RefEdit.h"

class TRefStringGrid;

// The properties of one data cell: its reference (a reference column), its stored JSON (editors
// that keep JSON), colour and font.
class TCellProperties {
public:
  explicit TCellProperties(TRefStringGrid* grid) : FGrid(grid) {}
  // Copies everything but the grid.
  void Assign(const TCellProperties& other);

  const TCollectionData& CollData() const { return FCollData; }
  // The allowed collections of the cell's reference (copied from the column's editor).
  const TColCollData& ColCollData() const { return FColCollData; }
  void SetColCollData(const TColCollData& v) { FColCollData = v; }
  // The reference does not resolve and may not be empty.
  bool HasError() const { return Fhaserror; }
  void SetHasError(bool v) { Fhaserror = v; }
  // Invalid: the grid's normal colour.
  const QColor& Color() const { return FColor; }
  void SetColor(const QColor& c);
  const QFont& Font() const { return FFont; }
  bool HasFont() const { return FHasFont; }
  void SetFont(const QFont& f);
  TJson Json;
  QVariant Data;
  QPixmap Picture;
  const TrefID& RecordID() const { return F_ID; }
  // Stores the reference and picks its collection among the allowed ones by name.
  void SetRecordID(const TrefID& id);
  bool EmptyIDEnabled() const { return FEmptyIDEnabled; }
  void SetEmptyIDEnabled(bool v) { FEmptyIDEnabled = v; }
  // The text of a reference cell: the record's Name when it resolves; otherwise empty, with
  // HasError set and the colour red unless an empty reference is allowed.
  QString ComputeRefText();

private:
  TCollectionData FCollData;
  TColCollData FColCollData;
  bool Fhaserror = false;
  TRefStringGrid* FGrid;
  QColor FColor;
  QFont FFont;
  bool FHasFont = false;
  TrefID F_ID;
  bool FEmptyIDEnabled = false;
};

// A cell editor of one column.
class iObj4StringGrid {
public:
  virtual ~iObj4StringGrid() = default;
  // Names the editor, hides it and registers it as column ACol's editor.
  virtual void SetAfterCreate(int ACol) = 0;
  // Hides the editor (and closes a dialog it opened).
  virtual void ClrEdit() = 0;
  // Shows the cell's value in the editor (the grid has placed it over the cell).
  virtual void SelectCell(int ACol, int ARow) = 0;
  // Initialises a newly created cell.
  virtual void CreateCellProp(TCellProperties* Prop, int ACol, int ARow) = 0;
  // Puts element JsonCol of the row array JsonRow into cell (ACol, ARow).
  virtual void LoadJson(const TJson& JsonRow, int JsonCol, int ARow, int ACol) = 0;
  // The JSON value of cell (ACol, ARow).
  virtual void SaveJson(int ACol, int ARow, TJson& value) = 0;
  // The editor's control.
  virtual QWidget* EditorWidget() = 0;
};

// One column: header caption, whether its cells may be edited, and how a column without an
// editor is stored.
class TColCollectionItem {
public:
  const QString& Caption() const { return FCaption; }
  void SetCaption(const QString& v);
  bool Editing() const { return FEditing; }
  void SetEditing(bool v);
  TJsonCompVarType ValueType() const { return FValueType; }
  void SetValueType(TJsonCompVarType v);

private:
  friend class TColCollections;
  class TColCollections* FOwner = nullptr;
  QString FCaption;
  bool FEditing = false;
  TJsonCompVarType FValueType = vt_None;
};

class TColCollections {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TColCollectionItem& Add();
  TColCollectionItem& operator[](int i) { return *FItems[static_cast<size_t>(i)]; }
  const TColCollectionItem& operator[](int i) const { return *FItems[static_cast<size_t>(i)]; }
  void Insert(int i);
  void Delete(int i);
  // Raised with the item whenever one of its properties changes.
  std::function<void(TColCollectionItem&)> OnItemChange;
  void ItemChanged(TColCollectionItem& item) {
    if (OnItemChange) OnItemChange(item);
  }

private:
  std::vector<std::unique_ptr<TColCollectionItem>> FItems;
};

class TRefStringGrid : public TStringGrid {
  Q_OBJECT
public:
  explicit TRefStringGrid(QWidget* parent = nullptr);
  ~TRefStringGrid() override;

  TColCollections& Columns() { return FColCollections; }
  bool EnableEmpty() const { return FEnableEmpty; }
  void SetEnableEmpty(bool v) { FEnableEmpty = v; }
  int FixedColWidth() const { return FFixColWidth; }
  void SetFixedColWidth(int v);
  bool ShowRowNumber() const { return FShowRowNumber; }
  void SetShowRowNumber(bool v);
  const QColor& BorderColor() const { return FBorderColor; }
  void SetBorderColor(const QColor& c);

  // Fixed rows and columns: 0 or 1 each (the headers).
  int FixedRowCount() const { return FFixedRowCount; }
  void SetFixedRowCount(int n);
  int FixedColCount() const { return FFixedColCount; }
  void SetFixedColCount(int n);
  // Logical sizes, fixed rows and columns included.
  int RowCount() const { return FRowCount; }
  void SetRowCount(int n);
  int ColCount() const { return FColCount; }
  void SetColCount(int n);
  int DataRowCount() const { return FRowCount - FFixedRowCount; }
  int DataColCount() const { return FColCount - FFixedColCount; }

  // The current cell (FixedRowCount - 1 / FixedColCount - 1 when there is none).
  int Row() const;
  int Col() const;
  void SetCurrentCell(int ACol, int ARow);

  QString Cells(int ACol, int ARow) const;
  void SetCells(int ACol, int ARow, const QString& text);
  // The properties of a data cell, created on first use; nullptr outside the data cells.
  TCellProperties* CellProp(int ACol, int ARow);
  // The area of a cell in the viewport's coordinates.
  QRect CellRect(int ACol, int ARow) const;

  iObj4StringGrid* ColumnEditor(int ACol) const;
  void SetColumnEditor(int ACol, iObj4StringGrid* editor);

  // The grid is complete: raises OnLoaded (the window declares its editors there), writes the
  // captions, sizes the fixed column and creates the properties of every data cell.
  void Loaded();

  void InsertRow(int pos, bool Copy);
  void DeleteRow(int index);
  void MoveRowUp();
  void MoveRowDown();
  // Moves data row From to row To (the mouse drags rows by their fixed cell).
  void MoveRow(int from, int to);
  // Rows may be dragged to another place by their fixed cell.
  bool RowMoving() const;
  void SetRowMoving(bool v);
  void InsertColumn(int index);
  void DeleteColumn(int index);
  void BeginUpdate();
  void EndUpdate();
  bool Updating() const { return FUpdating; }
  // Places the current cell's editor over it again.
  void UpdateFocusCell();
  // Runs the selection rules for cell (ACol, ARow); false when the cell may not be entered.
  bool SelectCell(int ACol, int ARow);
  // Widens column ACol to its texts.
  void SetColWidth(int ACol);
  // Hides every column editor.
  void HideEditors();

  // The rows as the record keeps them, and back. Loading raises EAssertionFailed
  // "Error loading RefStringGrid" when it fails.
  void LoadFromJson(const TJson& rows);
  TJson SaveToJson();

  // Reports a change made by an editor (OnChange).
  void DoChange();

  std::function<void(TRefStringGrid* sender)> OnLoaded;
  std::function<void(TRefStringGrid* sender, int ACol, int ARow, bool& CanSelect)>
      OnBeforeSelectCell;
  // Custom drawing; set MakeDefaultDraw to false to suppress the default text.
  std::function<void(TRefStringGrid* sender, QPainter* painter, int ACol, int ARow,
                     const QRect& rect, QStyle::State state, bool& MakeDefaultDraw)>
      OnDrawCell;

  // Colour and font of the fixed row, the fixed column and their corner.
  TCellProperties& FixedRowParam() { return FFixedRowParam; }
  TCellProperties& FixedColParam() { return FFixedColParam; }
  TCellProperties& TopLeftCorner() { return FTopLeftCorner; }
  void ApplyFixedParams();

signals:
  void Changed();  // OnChange

protected:
  void scrollContentsBy(int dx, int dy) override;
  void resizeEvent(QResizeEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

private:
  friend class TCellProperties;
  friend class TRefGridDelegate;
  int TableRow(int ARow) const { return ARow - FFixedRowCount; }
  int TableCol(int ACol) const { return ACol - FFixedColCount; }
  bool IsDataCell(int ACol, int ARow) const;
  void SyncTableSize();
  void CreateRowProps(int ARow);
  void CreateCellPropFor(int ACol, int ARow);
  void UpdateHeaders();
  void UpdateRowNumbers();
  void PlaceEditor(int ACol, int ARow);
  void SwapRows(int a, int b);
  void EndInlineEditing();
  void RowDragged(int from, int to);
  void CurrentCellChanged(int row, int col, int prevRow, int prevCol);
  void Repaint();

  TColCollections FColCollections;
  bool FEnableEmpty = false;
  bool FDisDoOnChange = false;
  std::vector<iObj4StringGrid*> FComp;
  int FFixColWidth = 20;
  bool FShowRowNumber = false;
  int FXDragOver = 0;
  int FYDragOver = 0;
  int FRowCount = 5;
  int FColCount = 5;
  int FFixedRowCount = 1;
  int FFixedColCount = 1;
  bool FUpdating = false;
  bool FInSelect = false;
  bool FInRowDrag = false;
  QColor FBorderColor;
  TCellProperties FFixedRowParam{this};
  TCellProperties FFixedColParam{this};
  TCellProperties FTopLeftCorner{this};
};

// ---------------------------------------------------------------------------------------------
// Cell editors. Each is created with the grid as owner and lies over the grid's cells.

class TRG_RefEdit : public TRefEdit, public iObj4StringGrid {
  Q_OBJECT
public:
  explicit TRG_RefEdit(TRefStringGrid* grid);
  void SetAfterCreate(int ACol) override;
  void ClrEdit() override;
  void SelectCell(int ACol, int ARow) override;
  void CreateCellProp(TCellProperties* Prop, int ACol, int ARow) override;
  void LoadJson(const TJson& JsonRow, int JsonCol, int ARow, int ACol) override;
  void SaveJson(int ACol, int ARow, TJson& value) override;
  QWidget* EditorWidget() override { return this; }
  TRefStringGrid* Grid() const { return FGrid; }

private:
  void EditorChanged();
  TRefStringGrid* FGrid;
  bool FSelecting = false;
  int FCol = -1, FRow = -1;
};

class TRG_DateTimeEdit : public TDateTimeEdit, public iObj4StringGrid {
  Q_OBJECT
public:
  explicit TRG_DateTimeEdit(TRefStringGrid* grid);
  void SetAfterCreate(int ACol) override;
  void ClrEdit() override;
  void SelectCell(int ACol, int ARow) override;
  void CreateCellProp(TCellProperties* Prop, int ACol, int ARow) override;
  void LoadJson(const TJson& JsonRow, int JsonCol, int ARow, int ACol) override;
  void SaveJson(int ACol, int ARow, TJson& value) override;
  QWidget* EditorWidget() override { return this; }

  // The text of a new cell.
  const QString& StartValueAsString() const { return FStartValueAsString; }
  void SetStartValueAsString(const QString& v) { FStartValueAsString = v; }
  TDateTime StartValue() const { return FStartValue; }
  void SetStartValue(TDateTime v) { FStartValue = v; }
  // The column is stored as a number (days) instead of its text.
  bool JsonAsDouble() const { return FJsonAsDouble; }
  void SetJsonAsDouble(bool v) { FJsonAsDouble = v; }

private:
  void EditorChanged();
  void AcceptTyped();
  TRefStringGrid* FGrid;
  QString FStartValueAsString;
  TDateTime FStartValue = 0;
  bool FJsonAsDouble = false;
  bool FSelecting = false;
  int FCol = -1, FRow = -1;
};

class TRG_BtnEdit : public TBtnEdit, public iObj4StringGrid {
  Q_OBJECT
public:
  // Makes the dialog of the button; it reads the editor's Json and writes a new one through it.
  using TFormClass = std::function<QDialog*(TRG_BtnEdit* owner)>;
  // Computes the cell text of a JSON value.
  using TTextNeedUpdate =
      std::function<void(TRG_BtnEdit* sender, const TJson& json, QString& aText, int col, int row)>;

  explicit TRG_BtnEdit(TRefStringGrid* grid);
  void SetAfterCreate(int ACol) override;
  void ClrEdit() override;
  void SelectCell(int ACol, int ARow) override;
  void CreateCellProp(TCellProperties* Prop, int ACol, int ARow) override;
  void LoadJson(const TJson& JsonRow, int JsonCol, int ARow, int ACol) override;
  void SaveJson(int ACol, int ARow, TJson& value) override;
  QWidget* EditorWidget() override { return this; }

  const TJson& Json() const { return FJson; }
  // Raises the change only when the value differs.
  void SetJson(const TJson& v);
  const QString& StartValue() const { return FStartValue; }
  void SetStartValue(const QString& v) { FStartValue = v; }
  TJson FStartJson = TJson::object();
  TTextNeedUpdate FOnTextNeedUpdate;
  TFormClass FormClass;
  QString FormClassName;
  QDialog* Form() const { return FForm; }
  // The button: makes the dialog (once) and shows it modally.
  void ShowForm();

protected:
  void ButtonClicked() override { ShowForm(); }

private:
  void EditorChanged();
  void UpdateCell();
  TRefStringGrid* FGrid;
  TJson FJson = TJson::object();
  QString FStartValue;
  QPointer<QDialog> FForm;
  bool FSelecting = false;
  int FCol = -1, FRow = -1;
};

class TRG_ComboBox : public QComboBox, public iObj4StringGrid {
  Q_OBJECT
public:
  explicit TRG_ComboBox(TRefStringGrid* grid);
  void SetAfterCreate(int ACol) override;
  void ClrEdit() override;
  void SelectCell(int ACol, int ARow) override;
  void CreateCellProp(TCellProperties* Prop, int ACol, int ARow) override;
  void LoadJson(const TJson& JsonRow, int JsonCol, int ARow, int ACol) override;
  void SaveJson(int ACol, int ARow, TJson& value) override;
  QWidget* EditorWidget() override { return this; }
  int StartValue() const { return FStartValue; }
  void SetStartValue(int v) { FStartValue = v; }

private:
  void EditorChanged(int index);
  TRefStringGrid* FGrid;
  int FStartValue = 0;
  bool FSelecting = false;
  int FCol = -1, FRow = -1;
};
