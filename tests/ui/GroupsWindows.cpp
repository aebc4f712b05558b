// The STB groups and server options windows: their reference grids loaded from the records,
// a deleted channel shown red and kept, a group without a portal accepted.
#include <QLineEdit>
#include <QToolButton>
#include <QTest>

#include "JFrame/RefStringGrid.h"
#include "catalogue/forms/Groups.h"
#include "schedule/forms/SrvOptions.h"
#include "ui/UiProject.h"

namespace {
QString Qs(const std::string& s) { return QString::fromStdString(s); }

TJson Ref(const std::string& id, const std::string& cl) { return TJson{{"_ID", id}, {"_CL", cl}}; }

struct TProject : TUiProject {
  TProject() {
    Coll("Channels").NewRecord("ch1", TJson{{"Name", "News"}});
    Coll("Channels").NewRecord("ch2", TJson{{"Name", "Movies"}});
    Coll("Tree").NewRecord("Channels", TJson::parse(R"([{"_ID": "ch1"}, {"_ID": "ch2"}])"));
    Coll("Groups").NewRecord("g1", TJson{{"Name", "Lobby"},
                                         {"Description", "lobby boxes"},
                                         {"Table", TJson::array({TJson::array({Ref("ch1", "Channels")}),
                                                                 TJson::array({Ref("ch2", "Channels")})})}});
    Coll("Tree").NewRecord("Groups", TJson::parse(
        R"([{"text": "Hotel", "child": [{"_ID": "g1"}], "_ID": "f1"}])"));
    Coll("Portals").NewRecord("p1", TJson{{"Name", "Portal"}});
    Coll("SrvOptions").NewRecord(
        "o1", TJson{{"Name", "Options"},
                    {"Table", TJson::array({TJson::array({Ref("g1", "Groups"), Ref("", "")}),
                                            TJson::array({Ref("g1", "Groups"), Ref("p1", "Portals")})})},
                    {"Description", "d"}});
    Coll("Tree").NewRecord("SrvOptions", TJson::parse(R"([{"_ID": "o1"}])"));
  }
};
}  // namespace

class TGroupsWindowsTest : public QObject {
  Q_OBJECT
private slots:
  void GroupShowsItsChannelsAndKeepsADeletedOne() {
    TProject p;
    p.Coll("Channels").DelRecord("ch2");
    TFormGroups form(*p.Db);
    QCOMPARE(form.windowTitle(), QString("Groups of STB - Hotel"));  // the first node: a folder
    form.JFrame1->SetID("g1");
    QCOMPARE(form.EditDescr->text(), QString("lobby boxes"));
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    QCOMPARE(g->DataRowCount(), 2);
    QCOMPARE(g->Cells(1, 1), QString("News"));
    QCOMPARE(g->Cells(1, 2), QString(""));
    QVERIFY(g->CellProp(1, 2)->HasError());
    QVERIFY(!g->CellProp(1, 1)->HasError());
    QVERIFY(p.Op.Messages.empty());
    form.EditDescr->setText("changed");
    QVERIFY(form.JFrame1->BtnSaveClick());
    TJson stored = *p.Coll("Groups").GetRecord("g1");
    QCOMPARE(Qs(JsonStr(stored, "Description")), QString("changed"));
    QVERIFY(JsonEqual(stored["Table"][1][0], Ref("ch2", "Channels")));
    QVERIFY(!form.JFrame1->WasChanges());
  }

  // A group needs a channel: a new one starts with one row whose channel is still to be chosen.
  void NewGroupStartsWithOneRowToFill() {
    TProject p;
    TFormGroups form(*p.Db);
    form.JFrame1->AddRecordClick();
    const std::string id = form.JFrame1->ID();
    TJson stored = *p.Coll("Groups").GetRecord(id);
    QVERIFY(JsonEqual(stored["Table"], TJson::array({TJson::array({Ref("", "")})})));
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    QCOMPARE(g->DataRowCount(), 1);
    QVERIFY(g->CellProp(1, 1)->HasError());
    QVERIFY(!form.JFrame1->WasChanges());
    // Its only row stays when deleted.
    g->SetCurrentCell(1, 1);
    form.RefTblFrame1->BtnDelRow->click();
    QCOMPARE(g->DataRowCount(), 1);
  }

  void GroupWithoutPortalIsValid() {
    TProject p;
    TFormSrvOptions form(*p.Db);
    QCOMPARE(form.windowTitle(), QString("Server's options - Options"));
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    QCOMPARE(g->DataRowCount(), 2);
    QCOMPARE(g->Cells(1, 1), QString("Lobby"));
    QCOMPARE(g->Cells(2, 1), QString(""));
    QVERIFY(!g->CellProp(2, 1)->HasError());
    QCOMPARE(g->Cells(2, 2), QString("Portal"));
    QVERIFY(!form.JFrame1->WasChanges());  // read back exactly as stored
    QCOMPARE(form.EditDescr->text(), QString("d"));
    // A group deleted meanwhile is an error in its (non-empty) column.
    p.Coll("Groups").DelRecord("g1");
    form.JFrame1->BtnCancelClick();
    QVERIFY(g->CellProp(1, 1)->HasError());
  }

  // A group whose table another program wrote malformed is reported with its field; the window
  // stays usable, leaving the record asks nothing, and the other records still open.
  void MalformedTableIsReportedAndTheWindowGoesOn() {
    TProject p;
    p.Coll("Groups").NewRecord("bad", TJson::parse(R"({"Name": "G1", "Table": [null]})"));
    p.Coll("Tree").UpdateRecord("Groups", TJson::parse(R"([{"_ID": "g1"}, {"_ID": "bad"}])"));
    TFormGroups form(*p.Db);
    form.JFrame1->SetID("bad");
    QCOMPARE(form.JFrame1->ID(), std::string("bad"));
    QCOMPARE(p.Op.Messages.size(), size_t(1));
    const std::string text = p.Op.Messages[0].Text;
    for (const char* part : {"\"G1\"", "\"Table\"", "Error loading RefStringGrid"})
      QVERIFY2(text.find(part) != std::string::npos, text.c_str());
    QVERIFY(!form.JFrame1->WasChanges());
    form.JFrame1->SetID("g1");
    QCOMPARE(form.EditDescr->text(), QString("lobby boxes"));
    QCOMPARE(form.RefTblFrame1->StringGrid->Cells(1, 1), QString("News"));
    QCOMPARE(p.Op.Messages.size(), size_t(1));  // no "Save changes?" on the way
    QVERIFY(JsonEqual(*p.Coll("Groups").GetRecord("bad"),
                      TJson::parse(R"({"Name": "G1", "Table": [null]})")));
  }
};

QTEST_MAIN(TGroupsWindowsTest)
#include "GroupsWindows.moc"
