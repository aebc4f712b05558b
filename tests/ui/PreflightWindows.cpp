// "Check all" and the guide grid: the findings listed and opened on their rows, the grid's
// blocks equal to the builder's programmes, a click opening the channel schedule row, and the
// picture of the whole grid.
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QComboBox>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "JFrame/FormRegistry.h"
#include "JFrame/RefStringGrid.h"
#include "schedule/Epg.h"
#include "schedule/forms/Schedules.h"
#include "servers/ServerCheck.h"
#include "servers/ServerPlan.h"
#include "servers/forms/GuideGrid.h"
#include "servers/forms/ServerCheckForm.h"
#include "ui/UiProject.h"

namespace fs = std::filesystem;

namespace {

TJson Ref(const std::string& cl, const std::string& id) { return {{"_ID", id}, {"_CL", cl}}; }

// A server playing two films of half an hour in turn on one channel, a command every hour on
// another, and a gap of five seconds after every hour.
struct TProject : TUiProject {
  TProject() {
    fs::create_directories(Tmp.Path() / "video");
    WriteFileBytes(Tmp.File("video/a.m2t"), "x");
    WriteFileBytes(Tmp.File("video/b.m2t"), "x");
    Db->Save();
    Coll("Films").NewRecord("a", {{"Name", "Morning"}, {"FileName", "a.m2t"}, {"Duration", "00:30:00,000"}});
    Coll("Films").NewRecord("b", {{"Name", "Evening"}, {"FileName", "b.m2t"}, {"Duration", "00:30:00,000"}});
    Coll("Channels").NewRecord("ch", {{"Name", "Movies"}, {"URL", "igmp://239.0.0.1:1234"}, {"Type", 0}});
    Coll("Channels").NewRecord("cmd", {{"Name", "Lights"}, {"URL", ""}, {"Type", 2}});
    TJson cmds = TJson::parse(R"([{"stbpower":{"Method":"command","Value":"1","Delay":0}}])");
    Coll("ChSched").NewRecord("cs1", {{"Name", "Movies plan"}, {"Channel", Ref("Channels", "ch")}, {"AutoPeriod", false},
                                      {"Period", "0 01:00:05"},
                                      {"Table", {{"0 00:00:00", 0, Ref("Films", "a"), TJson::array()},
                                                 {"", 0, Ref("Films", "b"), TJson::array()}}}});
    Coll("ChSched").NewRecord("cs2", {{"Name", "Lights plan"}, {"Channel", Ref("Channels", "cmd")}, {"AutoPeriod", false},
                                      {"Period", "0 01:00:00"}, {"Table", {{"0 00:00:10", 0, TJson(), cmds}}}});
    Coll("Schedules").NewRecord("s1", {{"Name", "Week"}, {"Table", {{Ref("ChSched", "cs1")}, {Ref("ChSched", "cs2")}}}});
    Coll("Groups").NewRecord("g1", {{"Name", "Hall"}, {"Table", {{Ref("Channels", "ch")}, {Ref("Channels", "cmd")}}}});
    Coll("SrvOptions").NewRecord("o1", {{"Name", "Hall options"}, {"Table", {{Ref("Groups", "g1"), TJson()}}}});
    Coll("Servers").NewRecord("srv", {{"Name", "Main"}, {"URL", "127.0.0.1"},
                                      {"TSched", {{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")}}}});
    Coll("Tree").NewRecord("Servers", TJson::parse(R"([{"_ID": "srv"}])"));
    Coll("Tree").NewRecord("Schedules", TJson::parse(R"([{"_ID": "s1"}])"));
    Coll("Tree").NewRecord("ChSched", TJson::parse(R"([{"_ID": "cs1"}, {"_ID": "cs2"}])"));
  }
};

}  // namespace

class TPreflightWindowsTest : public QObject {
  Q_OBJECT
private slots:
  void CheckListsTheFindingsAndOpensTheRecordOnItsRow() {
    TProject p;
    TFormServerCheck form(*p.Db);
    std::vector<TCheckFinding> want = CheckAllServers(*p.Db);
    QVERIFY(!want.empty());
    QCOMPARE(form.ListFindings->topLevelItemCount(), static_cast<int>(want.size()));
    QCOMPARE(form.ListFindings->topLevelItem(0)->text(4), QString::fromStdString(want[0].Message));
    QVERIFY(form.LabelSummary->text().contains("0 error(s)"));

    // A double-click opens the channel schedule on the row of the gap.
    QMdiArea area;
    SetFormArea(&area);
    SetDbF1(p.Db.get());
    SetFormShowHandler(ShowCollectionForm);
    QTreeWidgetItem* gap = nullptr;
    for (int i = 0; i < form.ListFindings->topLevelItemCount(); ++i)
      if (form.Findings()[static_cast<size_t>(i)].Kind == "gap") gap = form.ListFindings->topLevelItem(i);
    QVERIFY(gap);
    const TCheckFinding& f = form.Findings()[gap->data(0, Qt::UserRole).toULongLong()];
    QCOMPARE(QString::fromStdString(f.RecordID), QString("cs1"));
    emit form.ListFindings->itemDoubleClicked(gap, 0);
    QCOMPARE(area.subWindowList().size(), 1);
    area.show();
    QTest::qWait(300);  // the window settles its table after it is shown
    auto grids = area.subWindowList()[0]->widget()->findChildren<TRefStringGrid*>();
    bool onRow = false;
    for (TRefStringGrid* g : grids)
      if (g->DataRowCount() >= f.Row && g->Row() == g->FixedRowCount() + f.Row - 1) onRow = true;
    QVERIFY(onRow);
    for (QMdiSubWindow* w : area.subWindowList()) w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetFormArea(nullptr);
    SetFormShowHandler(nullptr);
    SetDbF1(nullptr);
  }

  // Nothing to check is not a plan that passed.
  void CheckOfAProjectWithoutServersSaysSo() {
    TUiProject p;
    TFormServerCheck form(*p.Db);
    QVERIFY2(form.LabelSummary->text().contains("no servers"), qPrintable(form.LabelSummary->text()));
  }

  void GridBlocksAreTheBuildersProgrammes() {
    TProject p;
    TFormGuideGrid form(*p.Db);
    QVERIFY(form.ShowPlan("Servers", "srv"));
    const TPlanGrid& g = form.View->Grid();
    QCOMPARE(g.Channels.size(), size_t(2));

    TSuperReference supRef(&p.Op);
    supRef.Push(p.Coll("Servers"), "srv", false);
    TServerPlan plan = BuildServerPlan(supRef, *p.Db, "srv", *p.Coll("Servers").GetRecord("srv"), p.Op);
    supRef.Pop();
    TEpgGuide guide = BuildGuide(*p.Db, plan.EpgRows(), g.From, g.To);
    std::vector<const TEpgProgramme*> movies;
    for (const TEpgProgramme& pr : guide.Programmes)
      if (guide.Channels[pr.Channel].RecordID == "ch") movies.push_back(&pr);
    QCOMPARE(g.Channels[0].RecordID, std::string("ch"));
    QCOMPARE(g.Blocks[0].size(), movies.size());
    QVERIFY(movies.size() > 7 * 24);
    for (size_t i = 0; i < movies.size(); ++i) {
      QCOMPARE(g.Blocks[0][i].Start, movies[i]->Start);
      QCOMPARE(g.Blocks[0][i].Stop, movies[i]->Stop);
      QCOMPARE(g.Blocks[0][i].Title, movies[i]->Title);
    }
    QVERIFY(g.Channels[1].CommandsOnly);
    QVERIFY(g.Marks[1].size() >= 7 * 24);

    // A click on a block opens the channel schedule on the row that placed its film.
    std::string opened;
    int row = 0;
    form.View->OnOpenSource = [&](const std::string& id, int r) {
      opened = id;
      row = r;
    };
    QRect r = form.View->BlockRect(0, 1);
    QTest::mouseClick(form.View, Qt::LeftButton, {}, r.center());
    QCOMPARE(QString::fromStdString(opened), QString("cs1"));
    QCOMPARE(row, static_cast<int>(g.Blocks[0][1].SourceRow) + 1);
    QCOMPARE(g.Blocks[0][1].SourceRow + g.Blocks[0][2].SourceRow, size_t(1));  // rows 1 and 2 in turn
    // Its hint names the film, its times and the row.
    QString hint = form.View->HintAt(r.center());
    QVERIFY2(hint.startsWith(QString::fromStdString(g.Blocks[0][1].Title) + "\n"), qPrintable(hint));
    QVERIFY2(hint.endsWith(QString("row %1").arg(g.Blocks[0][1].SourceRow + 1)), qPrintable(hint));
    // Between two repetitions lies the gap: nothing to open.
    opened.clear();
    QRect next = form.View->BlockRect(0, 2);
    QTest::mouseClick(form.View, Qt::LeftButton, {}, QPoint(r.right() + (next.left() - r.right()) / 2, r.center().y()));
    QVERIFY(opened.empty() || next.left() - r.right() < 2);
  }

  // Red where the check tells a gap, and only there: a pause of 0.3 s after every hour (the
  // guide rounds it to a whole second) is no gap for either, one of 5 s is for both.
  void GridIsRedExactlyWhereTheCheckTellsAGap() {
    const struct {
      const char* Period;
      bool Gap;
    } cases[] = {{"0 01:00:00,300", false}, {"0 01:00:05", true}};
    for (const auto& c : cases) {
      TProject p;
      TJson cs = *p.Coll("ChSched").GetRecord("cs1");
      cs["Period"] = c.Period;
      p.Coll("ChSched").SetRecordNo1("cs1", cs);
      std::vector<TCheckFinding> findings = CheckAllServers(*p.Db);
      bool told = std::any_of(findings.begin(), findings.end(), [](const TCheckFinding& f) { return f.Kind == "gap"; });
      std::string said;
      for (const TCheckFinding& f : findings) said += FindingText(f) + "\n";
      QVERIFY2(told == c.Gap, said.c_str());
      TFormGuideGrid form(*p.Db);
      QVERIFY(form.ShowPlan("Servers", "srv"));
      form.BtnWeek->click();
      QImage img = form.View->grab().toImage();
      int red = 0;
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
          if (img.pixel(x, y) == qRgb(0xe0, 0x40, 0x40)) ++red;
      QVERIFY2((red > 0) == c.Gap, qPrintable(QString("%1: %2 red pixels").arg(c.Period).arg(red)));
    }
  }

  // The schedules window opens the grid on its record.
  void SchedulesWindowOpensTheGrid() {
    TProject p;
    QMdiArea area;
    SetFormArea(&area);
    SetDbF1(p.Db.get());
    {
      TFormSchedules schedules(*p.Db);
      schedules.JFrame1->SetID("s1");
      QWidget* w = schedules.BtnGuideGridClick();
      auto* grid = qobject_cast<TFormGuideGrid*>(w);
      QVERIFY(grid);
      QCOMPARE(grid->ComboSource->currentData().toStringList(), QStringList({"Schedules", "s1"}));
      QCOMPARE(grid->View->Grid().Channels.size(), size_t(2));
      for (QMdiSubWindow* c : area.subWindowList()) c->close();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    SetFormArea(nullptr);
    SetDbF1(nullptr);
  }

  void ScheduleRecordAndPicture() {
    TProject p;
    TFormGuideGrid form(*p.Db);
    QVERIFY(form.ShowPlan("Schedules", "s1"));
    QCOMPARE(form.View->Grid().Channels.size(), size_t(2));
    form.BtnWeek->click();
    std::string png = p.Tmp.File("grid.png");
    QVERIFY(form.ExportPng(png));
    QImage img(QString::fromStdString(png));
    QVERIFY(!img.isNull());
    QCOMPARE(img.size(), form.View->size());
    QVERIFY(!form.ExportPng(p.Tmp.File("no/such/folder/grid.png")));
  }
};

QTEST_MAIN(TPreflightWindowsTest)
#include "PreflightWindows.moc"
