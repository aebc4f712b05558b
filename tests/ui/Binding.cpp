// Binding of controls to record keys: defaults, partial records, sub-layers and the load/save
// rule of every control class.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "JFrame/ComponentToJson.h"
#include "JFrame/FloatSpin.h"
#include "support/TestSupport.h"

namespace {
TJson J(const char* text) { return TJson::parse(text); }
#define QVERIFY_JSON(actual, expected)                                                       \
  QVERIFY2(JsonEqual(actual, expected),                                                      \
           (std::string("got ") + (actual).dump() + ", expected " + (expected).dump()).c_str())
}  // namespace

class TBindingTest : public QObject {
  Q_OBJECT
private slots:
  void CheckedBoxWithoutDefaultStaysCheckedOnEmptyRecord() {
    QCheckBox box;
    box.setChecked(true);
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Flag", &box);
    box.setChecked(false);
    layer.SetCompInfo(TJson::object());
    QVERIFY(box.isChecked());  // the default taken at binding time
    layer.SetCompInfo(J(R"({"Flag": false})"));
    QVERIFY(!box.isChecked());
    layer.SetCompInfo(TJson());  // no record at all: defaults as well
    QVERIFY(box.isChecked());
  }

  void PartialRecordResetsOnlyMissingKeys() {
    QLineEdit a, b;
    a.setText("a0");
    b.setText("b0");
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("A", &a, vt_String);
    layer.AddComp("B", &b, vt_String);
    layer.Current()["Extra"] = "kept";
    a.setText("typed a");
    b.setText("typed b");
    layer.SetCompInfo(J(R"({"A": "from record"})"));
    QCOMPARE(a.text(), QString("from record"));
    QCOMPARE(b.text(), QString("b0"));
    TJson out = layer.GetCompInfo();
    QVERIFY_JSON(out, J(R"({"Extra": "kept", "A": "from record", "B": "b0"})"));
  }

  void GivenDefaultIsUsedUnchanged() {
    QLineEdit e;
    e.setText("in the window");
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    TJson def = "given";
    layer.AddComp("K", &e, &def, vt_String);
    QVERIFY_JSON(layer.Default(), J(R"({"K": "given"})"));
    layer.SetCompInfo(TJson::object());
    QCOMPARE(e.text(), QString("given"));
  }

  void SubLayerRecordsNestsItsObject() {
    QLineEdit name;
    QLineEdit folder;
    TLayerOfComps common(nullptr, stNew, nullptr, "Common");
    TLayerOfComps* folderLayer = common.AddLayer("Folder");
    TLayerOfComps* records = common.AddLayer("Records");
    folderLayer->AddComp("text", &folder, vt_String);
    records->AddComp("Name", &name, vt_String);
    QVERIFY(common.Default().contains("Records"));
    common.SetCompInfo(J(R"({"Records": {"Name": "Film"}, "Folder": {"text": "F"}})"));
    QCOMPARE(name.text(), QString("Film"));
    QCOMPARE(folder.text(), QString("F"));
    TJson all = common.GetCompInfo();
    QVERIFY_JSON(all, J(R"({"Folder": {"text": "F"}, "Records": {"Name": "Film"}})"));
    // The sub-layer alone gives its own object.
    name.setText("Other");
    QVERIFY_JSON(records->GetCompInfo(), J(R"({"Name": "Other"})"));
    // A sub-layer fills from a record of its own keys.
    records->SetCompInfo(J(R"({"Name": "Direct"})"));
    QCOMPARE(name.text(), QString("Direct"));
  }

  void DottedPathsReachNestedKeys() {
    QLineEdit e;
    QLineEdit cell;
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Place.City", &e, vt_String);
    layer.AddComp("List.1", &cell, vt_String);
    layer.SetCompInfo(J(R"({"Place": {"City": "Riga"}, "List": ["x", "y"]})"));
    QCOMPARE(e.text(), QString("Riga"));
    QCOMPARE(cell.text(), QString("y"));
    e.setText("Tallinn");
    TJson out = layer.GetCompInfo();
    QCOMPARE(QString::fromStdString(out["Place"]["City"].get<std::string>()), QString("Tallinn"));
  }

  void ComboUnknownTextShowsFirstItemAndRunsTheChangeHandler() {
    QComboBox combo;
    combo.addItems({"16:9", "4:3"});
    combo.setCurrentIndex(1);
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("AspectRatio", &combo, vt_String);
    QSignalSpy handler(&combo, &QComboBox::activated);
    layer.SetCompInfo(J(R"({"AspectRatio": "21:9"})"));
    QCOMPARE(combo.currentIndex(), 0);
    QCOMPARE(handler.count(), 1);
    layer.SetCompInfo(J(R"({"AspectRatio": "4:3"})"));
    QCOMPARE(combo.currentIndex(), 1);
    QCOMPARE(handler.count(), 2);
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"AspectRatio": "4:3"})"));
  }

  void ComboAsIntegerKeepsTheIndex() {
    QComboBox combo;
    combo.addItems({"a", "b", "c"});
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Idx", &combo, vt_Integer);
    layer.SetCompInfo(J(R"({"Idx": 2})"));
    QCOMPARE(combo.currentText(), QString("c"));
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"Idx": 2})"));
  }

  void RadioGroupWithNothingSelectedSavesMinusOne() {
    TRadioGroup group;
    group.SetItems({"One", "Two", "Three"});
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Mode", &group);
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"Mode": -1})"));
    layer.SetCompInfo(J(R"({"Mode": 1})"));
    QVERIFY(group.Button(1)->isChecked());
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"Mode": 1})"));
    layer.SetCompInfo(TJson::object());  // back to the default: nothing selected
    QCOMPARE(group.ItemIndex(), -1);
  }

  void FloatSpinAsIntegerRoundsHalvesToEven() {
    TFloatSpinEdit spin;  // two decimals
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("N", &spin, vt_Integer);
    spin.SetValue(2.5);
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"N": 2})"));
    spin.SetValue(3.5);
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"N": 4})"));
    layer.SetCompInfo(J(R"({"N": 17})"));
    QCOMPARE(spin.text(), QString("17"));
  }

  void FloatSpinAsDoubleAndOtherTypesLoadNothing() {
    TFloatSpinEdit spin;
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("D", &spin, vt_Double);
    layer.SetCompInfo(J(R"({"D": 1.25})"));
    QCOMPARE(spin.text(), QString("1.25"));
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"D": 1.25})"));
    // A string read as a number, the usual conversion.
    layer.SetCompInfo(J(R"({"D": "2.5"})"));
    QCOMPARE(spin.Value(), 2.5);

    TFloatSpinEdit none;
    none.SetValue(7);
    TLayerOfComps other(nullptr, stNew, nullptr, "Common");
    other.AddComp("X", &none, vt_String);  // no string form for this control
    other.SetCompInfo(J(R"({"X": "9"})"));
    QCOMPARE(none.text(), QString("7"));
  }

  void DateTimeEditAsStringAndDouble() {
    TDateTimeEdit duration;
    duration.SetFormat("hh:nn:ss,zzz");
    TDateTimeEdit date;
    date.SetFormat("dd.mm.yyyy");
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Duration", &duration, vt_String);
    layer.AddComp("Date", &date, vt_Double);
    layer.SetCompInfo(J(R"({"Duration": "01:32:07,045", "Date": 45366})"));
    QCOMPARE(duration.text(), QString("01:32:07,045"));
    QCOMPARE(date.text(), QString("15.03.2024"));
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"Duration": "01:32:07,045", "Date": 45366})"));
  }

  void TextEditsAsStringAndInteger() {
    QLineEdit line;
    QPlainTextEdit memo;
    QLineEdit number;
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Name", &line, vt_String);
    layer.AddComp("Descr", &memo, vt_String);
    layer.AddComp("Count", &number, vt_Integer);
    layer.SetCompInfo(J(R"({"Name": "Кино", "Descr": "two\nlines", "Count": 42})"));
    QCOMPARE(number.text(), QString("42"));
    QCOMPARE(memo.toPlainText(), QString("two\nlines"));
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"Name": "Кино", "Descr": "two\nlines", "Count": 42})"));
    number.setText("4x2");
    bool raised = false;
    try {
      layer.GetCompInfo();
    } catch (const EConvertError&) {
      raised = true;
    }
    QVERIFY(raised);
  }

  void SpeedButtonKeepsItsDownState() {
    QToolButton button;
    button.setCheckable(true);
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Mute", &button);
    layer.SetCompInfo(J(R"({"Mute": true})"));
    QVERIFY(button.isChecked());
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"Mute": true})"));
  }

  void StringGridRoundTripWithLenientCells() {
    TStringGrid grid;
    grid.setColumnCount(3);
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Table", &grid);
    QVERIFY_JSON(layer.Default(), J(R"({"Table": []})"));
    layer.SetCompInfo(J(R"({"Table": [[1, "word", true], [2.5, {"_ID": "x"}, null]]})"));
    QCOMPARE(grid.rowCount(), 2);
    QCOMPARE(grid.Cell(1, 0), QString("word"));
    QCOMPARE(grid.Cell(0, 1), QString("2.5"));
    QVERIFY_JSON(layer.GetCompInfo(),
                 J(R"({"Table": [[1, "word", true], [2.5, {"_ID": "x"}, null]]})"));
    grid.SetCell(0, 0, "25.");
    grid.SetCell(1, 0, "[1,");  // does not parse
    QVERIFY_JSON(layer.GetCompInfo()["Table"][0], J(R"([25.0, null, true])"));
    layer.SetCompInfo(J(R"({"Table": []})"));
    QCOMPARE(grid.rowCount(), 1);  // one empty row is kept
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"Table": []})"));
  }

  void CheckListBoxPairs() {
    TCheckListBox list;
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Ar", &list);
    const std::string label = "Directory \"Channels\"";
    layer.SetCompInfo(TJson{{"Ar", TJson::array({TJson::array({label, true}),
                                                   TJson::array({"Use online control", false})})}});
    QCOMPARE(list.count(), 2);
    QVERIFY(list.Checked(0));
    QVERIFY(!list.Checked(1));
    list.SetChecked(1, true);
    QVERIFY_JSON(layer.GetCompInfo(),
                 (TJson{{"Ar", TJson::array({TJson::array({label, true}),
                                            TJson::array({"Use online control", true})})}}));
  }

  void FormGeometry() {
    QWidget form;
    form.setGeometry(10, 20, 300, 200);
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Form", &form);
    layer.SetCompInfo(J(R"({"Form": {"Width": 420, "Left": 33}})"));
    QCOMPARE(form.geometry().width(), 420);
    QCOMPARE(form.geometry().left(), 33);
    QCOMPARE(form.geometry().height(), 200);  // absent keys are not applied
    TJson out = layer.GetCompInfo()["Form"];
    QCOMPARE(out["Width"].get<int>(), 420);
    QCOMPARE(out["Height"].get<int>(), 200);
    QCOMPARE(out["Top"].get<int>(), 20);
    QCOMPARE(out["Left"].get<int>(), 33);
  }

  void TreeViewDisplayEntriesWithSuppressedEvents() {
    QTreeWidget tree;
    TLayerOfComps layer(nullptr, stNew, nullptr, "Tree");
    layer.AddComp("TreeView", &tree);
    QSignalSpy changed(&tree, &QTreeWidget::currentItemChanged);
    QSignalSpy itemChanged(&tree, &QTreeWidget::itemChanged);
    const TJson entries = J(R"([
      {"text": "Folder", "_ID": "f1", "child": [{"text": "Film", "_ID": "r1"}]},
      {"text": "Empty", "_ID": "f2", "child": []},
      {"text": "Loose", "_ID": "r2"}])");
    layer.SetCompInfo(TJson{{"TreeView", entries}});
    QCOMPARE(changed.count(), 0);
    QCOMPARE(itemChanged.count(), 0);
    QCOMPARE(tree.topLevelItemCount(), 3);
    QVERIFY_JSON(TreeNodeData(tree.topLevelItem(0)), J(R"({"_ID": "f1", "IsFolder": true})"));
    QVERIFY_JSON(TreeNodeData(tree.topLevelItem(0)->child(0)), J(R"({"_ID": "r1"})"));
    QVERIFY_JSON(layer.GetCompInfo()["TreeView"], entries);
  }

  void AssertionTexts() {
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    try {
      layer.AddComp("X", nullptr);
      QFAIL("no assertion for a missing control");
    } catch (const EAssertionFailed& e) {
      QVERIFY(QString(e.what()).startsWith("Not Assigned component"));
    }
    QLabel label;
    label.setObjectName("LabelTitle");
    try {
      layer.AddComp("X", &label);
      QFAIL("no assertion for a label");
    } catch (const EAssertionFailed& e) {
      QVERIFY(QString(e.what()).startsWith("Invalid Object type:LabelTitle"));
    }
    QCOMPARE(layer.GetCount(), 0);
  }

  void AddedControlClassesComeFirst() {
    // A later control class (a reference editor) is tested before the text edits it derives from.
    class TRefLikeEdit : public QLineEdit {};
    TRefLikeEdit ref;
    InsertCompClassBefore("TDateTimeEdit",
                          {"TRefEdit", [](QObject* o) { return dynamic_cast<TRefLikeEdit*>(o) != nullptr; },
                           [](QObject* o, const TJson& v, TJsonCompVarType) {
                             static_cast<TRefLikeEdit*>(o)->setText(QString::fromStdString(JsonStr(v, "_ID")));
                           },
                           [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
                             return TJson{{"_ID", static_cast<TRefLikeEdit*>(o)->text().toStdString()},
                                          {"_CL", "Films"}};
                           }});
    QCOMPARE(QString::fromStdString(CompClassMethods()[1].ClassName), QString("TRefEdit"));
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Film", &ref, vt_String);
    layer.SetCompInfo(J(R"({"Film": {"_ID": "abc", "_CL": "Films"}})"));
    QCOMPARE(ref.text(), QString("abc"));
    QVERIFY_JSON(layer.GetCompInfo(), J(R"({"Film": {"_ID": "abc", "_CL": "Films"}})"));
  }
};

QTEST_MAIN(TBindingTest)
#include "Binding.moc"
