// The reference grid: loading and saving rows with the column walk, row operations, reference
// cells with broken targets, the cell editors and the binding; the table frame's buttons.
#include <QComboBox>
#include <QHeaderView>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "JFrame/RefTblFrame.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace {
TJson J(const char* text) { return TJson::parse(text); }
#define QVERIFY_JSON(actual, expected)                                                       \
  QVERIFY2(JsonEqual(actual, expected),                                                      \
           (std::string("got ") + (actual).dump() + ", expected " + (expected).dump()).c_str())

struct TTestDb {
  std::unique_ptr<TDbFile> Db = CreateMainDatabase();
  TCollectionData Channels, Films;
  TTestDb() {
    Db->New();
    Db->CollectionByName("Channels").NewRecord("c1", J(R"({"Name": "First channel"})"));
    Db->CollectionByName("Channels").NewRecord("c2", J(R"({"Name": "Second channel"})"));
    Db->CollectionByName("Films").NewRecord("f1", J(R"({"Name": "A film"})"));
    Db->CollectionByName("Tree").NewRecord("Channels", J(R"([{"_ID": "c1"}, {"_ID": "c2"}])"));
    Db->SC("Channels", "Tree", Channels);
    Db->SC("Films", "Tree", Films);
  }
};

// The frame's grid with: the fixed column, a channel reference, a vt_None column without
// editor (a computed text) and a vt_Integer column.
struct TTestFrame {
  TRefTblFrame Frame;
  TRefStringGrid* Grid = Frame.StringGrid;
  TRG_RefEdit* RefEdit = nullptr;
  TTestFrame(TTestDb& t, bool enableEmpty = false) {
    Grid->SetColCount(4);
    Grid->Columns()[1].SetCaption("Channel");
    Grid->Columns()[1].SetEditing(true);
    Grid->Columns()[2].SetCaption("Note");
    Grid->Columns()[3].SetCaption("Number");
    Grid->Columns()[3].SetEditing(true);
    Grid->Columns()[3].SetValueType(vt_Integer);
    Grid->SetEnableEmpty(enableEmpty);
    Grid->OnLoaded = [&](TRefStringGrid* g) {
      RefEdit = new TRG_RefEdit(g);
      RefEdit->SetAfterCreate(1);
      RefEdit->AddCollData(t.Channels);
      RefEdit->SetTreeCaption("Channels");
    };
    Grid->Loaded();
    Frame.resize(500, 300);
  }
};

bool CellIsRed(TRefStringGrid* g, int c, int r) {
  TCellProperties* p = g->CellProp(c, r);
  return p && p->Color() == QColor(Qt::red);
}
}  // namespace

class TRefGridTest : public QObject {
  Q_OBJECT
private slots:
  void FrameLayout() {
    TRefTblFrame f;
    QCOMPARE(f.BtnAddRow->toolTip(), QString("Add row"));
    QCOMPARE(f.BitBtnCopyRow->toolTip(), QString("Copy row"));
    QCOMPARE(f.BtnDelRow->toolTip(), QString("Delete row"));
    QCOMPARE(f.BtnMoveUp->toolTip(), QString("Move row up"));
    QCOMPARE(f.BtnMoveDown->toolTip(), QString("Move row down"));
    QCOMPARE(f.StringGrid->FixedRowCount(), 1);
    QCOMPARE(f.StringGrid->FixedColCount(), 1);
    QCOMPARE(f.StringGrid->FixedColWidth(), 30);
    QVERIFY(f.StringGrid->ShowRowNumber());
    QCOMPARE(f.StringGrid->RowCount(), 2);
    QCOMPARE(f.StringGrid->verticalHeader()->width(), 30);
  }

  void HeadersAndRowNumbers() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    f.Grid->LoadFromJson(J(R"([[{"_ID": "c1", "_CL": "Channels"}, 1], [{"_ID": "c2", "_CL": "Channels"}, 2]])"));
    QCOMPARE(f.Grid->horizontalHeaderItem(0)->text(), QString("Channel"));
    QCOMPARE(f.Grid->horizontalHeaderItem(2)->text(), QString("Number"));
    QCOMPARE(f.Grid->verticalHeaderItem(0)->text(), QString("1"));
    QCOMPARE(f.Grid->verticalHeaderItem(1)->text(), QString("2"));
    QCOMPARE(f.RefEdit->objectName(), QString("StringGrid_RefEdit1"));
  }

  void EmptyArrayGivesNoDataRowsButOneDisplayed() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t, true);
    f.Grid->LoadFromJson(TJson::array());
    QCOMPARE(f.Grid->RowCount(), 1);
    QCOMPARE(f.Grid->DataRowCount(), 0);
    QCOMPARE(f.Grid->rowCount(), 1);  // one empty row on screen
    QVERIFY(f.Grid->CellProp(1, 1) == nullptr);
    QVERIFY_JSON(f.Grid->SaveToJson(), TJson::array());
    QSignalSpy changed(f.Grid, &TRefStringGrid::Changed);
    f.Frame.BtnAddRow->click();
    QCOMPARE(f.Grid->DataRowCount(), 1);
    QCOMPARE(f.Grid->rowCount(), 1);
    QCOMPARE(changed.count(), 1);
    QVERIFY_JSON(f.Grid->SaveToJson(), J(R"([[{"_ID": "", "_CL": ""}, 0]])"));
    // A copy of the only row's absent predecessor is not possible beyond the count.
    f.Grid->InsertRow(5, true);
    QCOMPARE(f.Grid->DataRowCount(), 1);
  }

  void NoneColumnWithoutEditorTakesAndGivesNothing() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    TJson rows = J(R"([[{"_ID": "c1", "_CL": "Channels"}, 7], [{"_ID": "c2", "_CL": "Channels"}, 8]])");
    f.Grid->LoadFromJson(rows);
    QCOMPARE(f.Grid->DataRowCount(), 2);
    QCOMPARE(f.Grid->Cells(1, 1), QString("First channel"));
    QCOMPARE(f.Grid->Cells(2, 1), QString());
    QCOMPARE(f.Grid->Cells(3, 1), QString("7"));
    QCOMPARE(f.Grid->Cells(3, 2), QString("8"));
    f.Grid->SetCells(2, 1, "computed text");
    QVERIFY_JSON(f.Grid->SaveToJson(), rows);
    // A missing element gives an empty cell (an empty reference is red).
    f.Grid->LoadFromJson(J(R"([[]])"));
    QCOMPARE(f.Grid->Cells(3, 1), QString());
    QVERIFY(f.Grid->CellProp(1, 1)->HasError());
  }

  void LoadFailureIsAnAssertion() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    try {
      f.Grid->LoadFromJson(J(R"([[{"_ID": "c1", "_CL": "Channels"}, 1], "not a row"])"));
      QFAIL("no exception");
    } catch (const EAssertionFailed& e) {
      QCOMPARE(std::string(e.what()), std::string("Error loading RefStringGrid"));
    }
    QVERIFY_EXCEPTION_THROWN(f.Grid->LoadFromJson(J(R"([5])")), EAssertionFailed);
    QVERIFY_EXCEPTION_THROWN(f.Grid->LoadFromJson(J(R"({"a": 1})")), EAssertionFailed);
  }

  void DeletingTheOnlyRowWithoutEnableEmptyLeavesIt() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    f.Grid->LoadFromJson(J(R"([[{"_ID": "c1", "_CL": "Channels"}, 3]])"));
    f.Grid->SetCurrentCell(1, 1);
    f.Frame.BtnDelRow->click();
    QCOMPARE(f.Grid->DataRowCount(), 1);
    QCOMPARE(f.Grid->Cells(1, 1), QString("First channel"));
    QVERIFY_JSON(f.Grid->SaveToJson(), J(R"([[{"_ID": "c1", "_CL": "Channels"}, 3]])"));
    // Indices outside the data rows change nothing.
    f.Grid->DeleteRow(0);
    f.Grid->DeleteRow(2);
    QCOMPARE(f.Grid->DataRowCount(), 1);

    TTestFrame g(t, true);
    g.Grid->LoadFromJson(J(R"([[{"_ID": "c1", "_CL": "Channels"}, 3]])"));
    g.Grid->DeleteRow(1);
    QCOMPARE(g.Grid->DataRowCount(), 0);
    QCOMPARE(g.Grid->rowCount(), 1);
    QVERIFY(g.Grid->Cell(0, 0).isEmpty());
    QVERIFY(g.RefEdit->isHidden());
    QVERIFY_JSON(g.Grid->SaveToJson(), TJson::array());
  }

  void DeleteKeepsTheIndexCurrent() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    f.Grid->LoadFromJson(J(R"([[{"_ID":"c1","_CL":"Channels"},1],[{"_ID":"c2","_CL":"Channels"},2],[{"_ID":"c1","_CL":"Channels"},3]])"));
    f.Grid->SetCurrentCell(3, 2);
    f.Grid->DeleteRow(2);
    QCOMPARE(f.Grid->Row(), 2);
    QVERIFY_JSON(f.Grid->SaveToJson(), J(R"([[{"_ID":"c1","_CL":"Channels"},1],[{"_ID":"c1","_CL":"Channels"},3]])"));
  }

  void CopyingARowCopiesReferences() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    f.Grid->LoadFromJson(J(R"([[{"_ID": "c2", "_CL": "Channels"}, 5]])"));
    f.Grid->SetCurrentCell(1, 1);
    f.Frame.BitBtnCopyRow->click();
    QCOMPARE(f.Grid->DataRowCount(), 2);
    QCOMPARE(f.Grid->Row(), 2);
    QCOMPARE(f.Grid->CellProp(1, 2)->RecordID()._ID, std::string("c2"));
    QCOMPARE(f.Grid->Cells(1, 2), QString("Second channel"));
    QVERIFY_JSON(f.Grid->SaveToJson(),
                 J(R"([[{"_ID": "c2", "_CL": "Channels"}, 5], [{"_ID": "c2", "_CL": "Channels"}, 5]])"));
    // A plain new row is empty, and red because the reference may not be empty.
    f.Frame.BtnAddRow->click();
    QCOMPARE(f.Grid->DataRowCount(), 3);
    QCOMPARE(f.Grid->CellProp(1, 3)->RecordID()._ID, std::string());
    QVERIFY(CellIsRed(f.Grid, 1, 3));
    f.Grid->InsertRow(-1, false);
    QCOMPARE(f.Grid->DataRowCount(), 3);
  }

  void MovingRows() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    f.Grid->LoadFromJson(J(R"([[{"_ID":"c1","_CL":"Channels"},1],[{"_ID":"c2","_CL":"Channels"},2]])"));
    QSignalSpy changed(f.Grid, &TRefStringGrid::Changed);
    f.Grid->SetCurrentCell(3, 1);
    f.Frame.BtnMoveUp->click();  // first row: beep, nothing
    QCOMPARE(changed.count(), 0);
    f.Frame.BtnMoveDown->click();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(f.Grid->Row(), 2);
    QVERIFY_JSON(f.Grid->SaveToJson(), J(R"([[{"_ID":"c2","_CL":"Channels"},2],[{"_ID":"c1","_CL":"Channels"},1]])"));
    QCOMPARE(f.Grid->CellProp(1, 1)->RecordID()._ID, std::string("c2"));
    f.Frame.BtnMoveDown->click();  // last row: nothing
    QCOMPARE(changed.count(), 1);
    f.Frame.BtnMoveUp->click();
    QCOMPARE(f.Grid->Row(), 1);
    QVERIFY_JSON(f.Grid->SaveToJson(), J(R"([[{"_ID":"c1","_CL":"Channels"},1],[{"_ID":"c2","_CL":"Channels"},2]])"));
  }

  void DraggingARowByItsNumberMovesTheRow() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    QVERIFY(f.Grid->RowMoving());
    f.Grid->LoadFromJson(J(R"([[{"_ID":"c1","_CL":"Channels"},1],[{"_ID":"c2","_CL":"Channels"},2],[{"_ID":"c1","_CL":"Channels"},3]])"));
    QSignalSpy changed(f.Grid, &TRefStringGrid::Changed);
    f.Grid->verticalHeader()->moveSection(2, 0);  // what a drag of the third row's number does
    QCOMPARE(changed.count(), 1);
    QVERIFY_JSON(f.Grid->SaveToJson(), J(R"([[{"_ID":"c1","_CL":"Channels"},3],[{"_ID":"c1","_CL":"Channels"},1],[{"_ID":"c2","_CL":"Channels"},2]])"));
    QCOMPARE(f.Grid->verticalHeader()->visualIndex(0), 0);  // the header itself stays in order
    QCOMPARE(f.Grid->verticalHeaderItem(0)->text(), QString("1"));
    QCOMPARE(f.Grid->Row(), 1);
  }

  void DeletedTargetGivesRedEmptyCellAndKeepsReference() {
    TScopedFakeOperator op;
    TTestDb t;
    t.Db->CollectionByName("Channels").DelRecord("c1");
    TTestFrame f(t);
    TJson rows = J(R"([[{"_ID": "c1", "_CL": "Channels"}, 1], [{"_ID": "c2", "_CL": "Channels"}, 2]])");
    f.Grid->LoadFromJson(rows);
    QCOMPARE(f.Grid->Cells(1, 1), QString());
    QVERIFY(f.Grid->CellProp(1, 1)->HasError());
    QVERIFY(CellIsRed(f.Grid, 1, 1));
    QVERIFY(!f.Grid->CellProp(1, 2)->HasError());
    QVERIFY(!CellIsRed(f.Grid, 1, 2));
    QVERIFY_JSON(f.Grid->SaveToJson(), rows);
    // The cell's editor shows the broken reference red as well.
    f.Grid->SetCurrentCell(1, 1);
    QVERIFY(!f.RefEdit->isHidden());
    QCOMPARE(f.RefEdit->RecordID()._ID, std::string("c1"));
    QVERIFY(f.RefEdit->MarkedAsError());
    // Loading another record into the same current cell refreshes its editor.
    f.Grid->LoadFromJson(J(R"([[{"_ID": "c2", "_CL": "Channels"}, 1]])"));
    QCOMPARE(f.Grid->Row(), 1);
    QCOMPARE(f.RefEdit->RecordID()._ID, std::string("c2"));
    QVERIFY(!f.RefEdit->MarkedAsError());
  }

  void EditorChangesTheCell() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    f.Frame.show();
    f.Grid->LoadFromJson(J(R"([[{"_ID": "c1", "_CL": "Channels"}, 1]])"));
    QSignalSpy changed(f.Grid, &TRefStringGrid::Changed);
    f.Grid->SetCurrentCell(1, 1);
    QVERIFY(f.RefEdit->isVisible());
    QCOMPARE(changed.count(), 0);  // showing the cell is no change
    QRect cell = f.Grid->CellRect(1, 1);
    QCOMPARE(f.RefEdit->geometry(), cell.adjusted(2, 1, -2, -1));
    f.RefEdit->SetRecordID({"c2", "Channels"});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(f.Grid->Cells(1, 1), QString("Second channel"));
    QVERIFY_JSON(f.Grid->SaveToJson(), J(R"([[{"_ID": "c2", "_CL": "Channels"}, 1]])"));
    // A column without editor hides it; an Editing column without editor edits inline.
    f.Grid->SetCurrentCell(3, 1);
    QVERIFY(!f.RefEdit->isVisible());
    QVERIFY(f.Grid->editTriggers() != QAbstractItemView::NoEditTriggers);
    f.Grid->SetCurrentCell(2, 1);
    QCOMPARE(f.Grid->editTriggers(), QAbstractItemView::NoEditTriggers);
  }

  void BeforeSelectCellMayRefuse() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    f.Grid->LoadFromJson(J(R"([[{"_ID": "c1", "_CL": "Channels"}, 1]])"));
    f.Grid->SetCurrentCell(3, 1);
    f.Grid->OnBeforeSelectCell = [](TRefStringGrid*, int ACol, int, bool& can) { can = ACol != 1; };
    f.Grid->SetCurrentCell(1, 1);
    QCOMPARE(f.Grid->Col(), 3);
    QVERIFY(f.RefEdit->isHidden());
  }

  void ComboAndDateTimeAndButtonEditors() {
    TScopedFakeOperator op;
    TRefStringGrid grid;
    grid.setObjectName("Grid");
    grid.SetColCount(4);
    TRG_ComboBox* combo = nullptr;
    TRG_DateTimeEdit* date = nullptr;
    TRG_BtnEdit* btn = nullptr;
    grid.OnLoaded = [&](TRefStringGrid* g) {
      combo = new TRG_ComboBox(g);
      combo->addItems({"off", "on", "auto"});
      combo->setCurrentIndex(2);
      combo->SetAfterCreate(1);
      date = new TRG_DateTimeEdit(g);
      date->SetFormat("hh:nn:ss");
      date->SetAfterCreate(2);
      date->SetStartValueAsString("00:00:00");
      btn = new TRG_BtnEdit(g);
      btn->SetAfterCreate(3);
      btn->FOnTextNeedUpdate = [](TRG_BtnEdit*, const TJson& j, QString& text, int, int) {
        text = QString::fromStdString(JsonStr(j, "Title"));
      };
      btn->FStartJson = J(R"({"Title": "new"})");
    };
    for (int c = 1; c < 4; ++c) grid.Columns()[c].SetEditing(true);
    grid.SetRowCount(1);
    grid.Loaded();
    QCOMPARE(combo->StartValue(), 2);
    grid.InsertRow(1, false);
    QCOMPARE(grid.Cells(1, 1), QString("auto"));
    QCOMPARE(grid.Cells(2, 1), QString("00:00:00"));
    QCOMPARE(grid.Cells(3, 1), QString("new"));
    QVERIFY_JSON(grid.SaveToJson(), J(R"([[2, "00:00:00", {"Title": "new"}]])"));
    grid.LoadFromJson(J(R"([[1, "01:02:03", {"Title": "x"}], []])"));
    QCOMPARE(grid.Cells(1, 1), QString("on"));
    QCOMPARE(grid.Cells(3, 1), QString("x"));
    QCOMPARE(grid.Cells(1, 2), QString("auto"));  // missing: the start index
    QVERIFY_JSON(grid.SaveToJson(), J(R"([[1, "01:02:03", {"Title": "x"}], [2, "", {}]])"));
    // A user choice in the combo changes the cell.
    grid.SetCurrentCell(1, 1);
    QSignalSpy changed(&grid, &TRefStringGrid::Changed);
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    QCOMPARE(grid.Cells(1, 1), QString("off"));
    QCOMPARE(changed.count(), 1);
    // The button edit's dialog writes through Json; an equal value is no change.
    grid.SetCurrentCell(3, 1);
    btn->SetJson(J(R"({"Title": "x"})"));
    QCOMPARE(changed.count(), 1);
    btn->SetJson(J(R"({"Title": "y"})"));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(grid.Cells(3, 1), QString("y"));
    QCOMPARE(btn->objectName(), QString("Grid_BtnEdit3"));
    QVERIFY_JSON(grid.SaveToJson(), J(R"([[0, "01:02:03", {"Title": "y"}], [2, "", {}]])"));
  }

  void DropOnAReferenceCell() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    f.Frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.Frame));
    f.Grid->LoadFromJson(J(R"([[{"_ID":"c1","_CL":"Channels"},1],[{"_ID":"c1","_CL":"Channels"},2]])"));
    f.Grid->SetCurrentCell(3, 1);
    QMimeData mime;
    mime.setData(RefMimeType, R"({"_ID": "c2", "_CL": "Channels"})");
    QPoint at = f.Grid->CellRect(1, 2).center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.Grid->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.Grid->viewport(), &move);
    // The cell under the mouse is entered, so its editor is there to take the drop.
    QCOMPARE(f.Grid->Col(), 1);
    QCOMPARE(f.Grid->Row(), 2);
    QVERIFY(f.RefEdit->isVisible());
    QSignalSpy changed(f.Grid, &TRefStringGrid::Changed);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.Grid->viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(f.Grid->Cells(1, 2), QString("Second channel"));
    QCOMPARE(f.Grid->CellProp(1, 2)->RecordID()._ID, std::string("c2"));
  }

  void InsertAndDeleteColumns() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    f.Grid->LoadFromJson(J(R"([[{"_ID":"c1","_CL":"Channels"},1]])"));
    f.Grid->InsertColumn(2);
    QCOMPARE(f.Grid->ColCount(), 5);
    QCOMPARE(f.Grid->Cells(2, 1), QString(" "));
    QCOMPARE(f.Grid->Cells(4, 1), QString("1"));
    QCOMPARE(f.Grid->Columns()[4].Caption(), QString("Number"));
    QVERIFY(f.Grid->ColumnEditor(1) == f.RefEdit);
    f.Grid->DeleteColumn(2);
    QCOMPARE(f.Grid->ColCount(), 4);
    QVERIFY_JSON(f.Grid->SaveToJson(), J(R"([[{"_ID":"c1","_CL":"Channels"},1]])"));
    f.Grid->DeleteColumn(0);  // the fixed column: nothing
    QCOMPARE(f.Grid->ColCount(), 4);
  }

  void DateCellTakesItsNormalForm() {
    TScopedFakeOperator op;
    TRefStringGrid grid;
    grid.SetColCount(2);
    grid.SetRowCount(1);
    TRG_DateTimeEdit* date = nullptr;
    grid.OnLoaded = [&](TRefStringGrid* g) {
      date = new TRG_DateTimeEdit(g);
      date->SetFormat("hh:nn:ss");
      date->SetAfterCreate(1);
      date->SetJsonAsDouble(true);
    };
    grid.Columns()[1].SetEditing(true);
    grid.Loaded();
    grid.LoadFromJson(J(R"([[0.5]])"));
    QCOMPARE(grid.Cells(1, 1), QString("12:00:00"));
    grid.SetCells(1, 1, "6:5:4");
    QSignalSpy changed(&grid, &TRefStringGrid::Changed);
    QVERIFY(grid.SelectCell(1, 1));  // entering the cell
    QCOMPARE(grid.Cells(1, 1), QString("06:05:04"));
    QCOMPARE(changed.count(), 1);
    TJson rows = grid.SaveToJson();
    QVERIFY(std::abs(rows[0][0].get<double>() - (6 * 3600 + 5 * 60 + 4) / 86400.0) < 1e-9);
  }

  void BindingRoundTrip() {
    TScopedFakeOperator op;
    TTestDb t;
    TTestFrame f(t);
    TLayerOfComps common(nullptr, stNew, nullptr, "Common");
    TLayerOfComps* records = common.AddLayer("Records");
    records->AddComp("Table", f.Grid);
    QVERIFY_JSON(common.Default(), J(R"({"Records": {"Table": [[{"_ID": "", "_CL": ""}, 0]]}})"));
    TJson rec = J(R"({"Records": {"Table": [[{"_ID": "c2", "_CL": "Channels"}, 4], [{"_ID": "gone", "_CL": "Channels"}, 5]]}})");
    common.SetCompInfo(rec);
    QCOMPARE(f.Grid->Cells(1, 1), QString("Second channel"));
    QVERIFY(f.Grid->CellProp(1, 2)->HasError());
    QVERIFY_JSON(common.GetCompInfo(), rec);
    try {
      common.SetCompInfo(J(R"({"Records": {"Table": "text"}})"));
      QFAIL("no exception");
    } catch (const EAssertionFailed& e) {
      QCOMPARE(std::string(e.what()), std::string("Error loading RefStringGrid"));
    }
    // The dispatch order: the reference grid and edit come before their base classes.
    std::vector<std::string> names;
    for (const TCompClassMethods& m : CompClassMethods()) names.push_back(m.ClassName);
    auto at = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    QVERIFY(at("TRefStringGrid") < at("TStringGrid"));
    QVERIFY(at("TRefEdit") < at("TCustomEdit"));
    QVERIFY(at("TFloatSpinEdit") < at("TRefEdit"));
  }
};

QTEST_MAIN(TRefGridTest)
#include "RefGrid.moc"
