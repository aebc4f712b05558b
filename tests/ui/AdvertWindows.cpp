// The advertising windows: a contract booked and deleted from the contracts window gives the same
// timeline.json as the command line, the two row dialogs keep their value rules, the calendar
// paints a booking at its day and hour, a contracts.json that cannot be written books nothing,
// and the as-booked report adds up to the booked cells.
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <filesystem>

#include "JFrame/RefStringGrid.h"
#include "advert/TimeLine.h"
#include "advert/forms/ContrTime.h"
#include "advert/forms/Contracts.h"
#include "advert/forms/DaysOfWeek.h"
#include "advert/forms/Places.h"
#include "advert/forms/TimeLine.h"
#include "recstore/JsonText.h"
#include "ui/UiProject.h"

namespace {

TJson Ref(const std::string& id, const std::string& cl) { return TJson{{"_ID", id}, {"_CL", cl}}; }

// 29.01.2024 is a Monday. Shop: mornings at the mall on weekdays, all day at the station for
// three days. Cafe: the mall's whole week at 11 and 12, sharing hours with Shop.
const char* ShopContract = R"({"Name": "Shop", "Description": "", "Table": [
  [{"_ID": "p1", "_CL": "Places"}, {"_ID": "f1", "_CL": "Films"}, "29.01.2024", "04.02.2024",
   [{"Start": 10, "Stop": 12, "Times": 2}], 31],
  [{"_ID": "p2", "_CL": "Places"}, {"_ID": "l1", "_CL": "PlayLists"}, "01.02.2024", "03.02.2024",
   [{"Start": 0, "Stop": 23, "Times": 1}], 127]]})";
const char* CafeContract = R"({"Name": "Cafe", "Description": "", "Table": [
  [{"_ID": "p1", "_CL": "Places"}, {"_ID": "f2", "_CL": "Films"}, "29.01.2024", "04.02.2024",
   [{"Start": 11, "Stop": 12, "Times": 1}], 127]]})";

struct TAdvertProject : TUiProject {
  std::unique_ptr<TDbFile> Contracts;
  std::unique_ptr<TDbFile> Line;

  TAdvertProject() {
    Coll("Films").NewRecord("f1", TJson{{"Name", "Spot"}, {"Duration", "00:00:30,000"}});
    Coll("Films").NewRecord("f2", TJson{{"Name", "Coffee"}, {"Duration", "00:00:15,000"}});
    Coll("PlayLists").NewRecord(
        "l1", TJson{{"Name", "Spots"}, {"Table", TJson::array({TJson::array({Ref("f1", "Films")})})}});
    {
      auto c = CreateContractsDatabase(Tmp.Path().string());
      c->New();
      c->CollectionByName("Places").SetRecordNo1("p1", {{"Name", "Mall"}, {"Table", TJson::array()}});
      c->CollectionByName("Places").SetRecordNo1("p2", {{"Name", "Station"}, {"Table", TJson::array()}});
      c->CollectionByName("Contracts").SetRecordNo1("c1", TJson::parse(ShopContract));
      c->CollectionByName("Contracts").SetRecordNo1("c2", TJson::parse(CafeContract));
      c->CollectionByName("Tree").SetRecordNo1("Contracts", TJson::parse(R"([{"_ID": "c1"}, {"_ID": "c2"}])"));
      c->CollectionByName("Tree").SetRecordNo1("Places", TJson::parse(R"([{"_ID": "p1"}, {"_ID": "p2"}])"));
      c->Save();
    }  // its lock on the file goes with it
    Contracts = CreateContractsDatabase(Tmp.Path().string());
    Contracts->Load();
    Line = CreateTimeLineDatabase(Tmp.Path().string());
    Line->Load();  // no file yet: an empty time line
  }
  std::string LineBytes() { return ReadFileBytes(Tmp.File("timeline.json")); }
};

// The CLI on a copy of the same files in a directory of its own.
struct TCliCopy {
  TTempDir Dir;
  explicit TCliCopy(TAdvertProject& p) {
    std::filesystem::copy_file(p.Tmp.File("contracts.json"), Dir.File("contracts.json"));
    std::filesystem::copy_file(p.Tmp.File("p.pq2pr"), Dir.File("p.pq2pr"));
  }
  void Run(const std::string& args) {
    TCliRun r = RunCliIn(Dir, "--project " + Dir.File("p.pq2pr") + " " + args);
    QVERIFY2(r.Code == 0, (args + ": " + r.Err).c_str());
  }
  std::string LineBytes() { return ReadFileBytes(Dir.File("timeline.json")); }
};

}  // namespace

class TAdvertWindowsTest : public QObject {
  Q_OBJECT
private slots:
  void WindowBooksAndDeletesLikeTheCommandLine() {
    TAdvertProject p;
    TCliCopy cli(p);
    TFormContracts form(*p.Contracts, nullptr, p.Db.get(), p.Line.get());
    form.JFrame1->SetID("c1");
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    QCOMPARE(g->DataRowCount(), 2);
    QCOMPARE(g->Cells(1, 1), QString("Mall"));
    QCOMPARE(g->Cells(2, 2), QString("Spots"));
    QCOMPARE(g->Cells(5, 1), QString("10-12*2"));
    QCOMPARE(g->Cells(6, 1), QString("Mon, Tue, Wed, Thu, Fri"));
    QCOMPARE(g->Cells(6, 2), QString("All"));
    QVERIFY(!form.JFrame1->WasChanges());

    form.BtnAddToTimeLine->click();
    form.JFrame1->SetID("c2");
    form.BtnAddToTimeLine->click();
    QVERIFY2(p.Op.Messages.empty(), p.Op.Texts().empty() ? "" : p.Op.Texts()[0].c_str());
    cli.Run("timeline add Shop");
    cli.Run("timeline add Cafe");
    QVERIFY(!p.LineBytes().empty());
    QCOMPARE(p.LineBytes(), cli.LineBytes());

    form.JFrame1->SetID("c1");
    form.Button2->click();
    cli.Run("timeline delete Shop");
    QCOMPARE(p.LineBytes(), cli.LineBytes());
    QVERIFY(form.LabelResult->text().startsWith("Deleted from the time line"));
    form.JFrame1->SetID("c2");
    form.Button2->click();
    cli.Run("timeline delete Cafe");
    QCOMPARE(p.LineBytes(), cli.LineBytes());
    QVERIFY(p.Op.Messages.empty());
  }

  // A new row shows "All" and 0-23*1; the dialogs write their results into the cell.
  void DialogsKeepTheirValueRules() {
    TAdvertProject p;
    TFormContracts form(*p.Contracts, nullptr, p.Db.get(), p.Line.get());
    form.JFrame1->SetID("c2");
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    g->SetCurrentCell(1, 1);
    form.RefTblFrame1->BtnAddRow->click();
    QCOMPARE(g->DataRowCount(), 2);
    QCOMPARE(g->Cells(5, 2), QString("0-23*1"));
    QCOMPARE(g->Cells(6, 2), QString("All"));
    QCOMPARE(g->Cells(3, 2), QString::fromStdString(DateToStr(std::floor(Now()))));

    // Times: row 2 Begin 10 then End 5 lowers the Begin; Times 0 rows are not stored.
    QVERIFY(g->SelectCell(5, 2));
    auto* times = dynamic_cast<TRG_BtnEdit*>(g->ColumnEditor(5));
    QVERIFY(times);
    TFormContrTime dlg(times);
    QCOMPARE(dlg.EditStart[0]->value(), 0);
    QCOMPARE(dlg.EditStop[0]->value(), 23);
    QCOMPARE(dlg.EditTimes[0]->value(), 1);
    dlg.EditTimes[1]->setValue(3);
    dlg.EditStart[1]->setValue(10);
    QCOMPARE(dlg.EditStop[1]->value(), 10);  // Begin edited last raises the End
    dlg.EditStop[1]->setValue(5);
    QCOMPARE(dlg.EditStart[1]->value(), 5);  // End edited last lowers the Begin
    dlg.EditTimes[0]->setValue(0);
    QCOMPARE(dlg.EditTimes[0]->value(), 1);  // the first row books at least once
    dlg.ButtonSave->click();
    QCOMPARE(g->Cells(5, 2), QString("0-23*1; 5-5*3"));

    // Days: all seven boxes under "Custom" are "All days".
    QVERIFY(g->SelectCell(6, 2));
    auto* days = dynamic_cast<TRG_BtnEdit*>(g->ColumnEditor(6));
    QVERIFY(days);
    {
      TFormDaysOfWeek d(days);
      QVERIFY(d.RadioDays[dwAllDays]->isChecked());
      QVERIFY(d.GroupBoxCustom->isHidden());
      d.RadioDays[dwCustom]->setChecked(true);
      QVERIFY(!d.GroupBoxCustom->isHidden());
      for (int b = 0; b < 7; ++b) d.CheckDays[b]->setChecked(true);
      QCOMPARE(d.GetCustDaysOfWeek(), 127);
      d.CheckDays[6]->setChecked(false);
      d.CheckDays[8]->setChecked(true);
      d.ButtonSaveClick();
    }
    QCOMPARE(g->Cells(6, 2), QString::fromStdString(DayMaskText(63 | 512)));
    {
      TFormDaysOfWeek d(days);  // reopens on its value
      QVERIFY(d.RadioDays[dwCustom]->isChecked());
      QVERIFY(!d.CheckDays[6]->isChecked());
      QVERIFY(d.CheckDays[8]->isChecked());
      d.RadioDays[dwWeekendsAndHolidays]->setChecked(true);
      d.ButtonSaveClick();
    }
    QVERIFY(form.JFrame1->BtnSaveClick());
    TJson stored = *p.Contracts->CollectionByName("Contracts").GetRecord("c2");
    QVERIFY(JsonEqual(stored["Table"][1][4], TJson::parse(
        R"([{"Start": 0, "Stop": 23, "Times": 1}, {"Start": 5, "Stop": 5, "Times": 3}])")));
    QCOMPARE(stored["Table"][1][5].get<int>(), 768);
  }

  // The calendar paints a booked hour in the booking colour at its day and hour; a free hour of
  // the same day is not.
  void CalendarShowsTheBookingAtItsDayAndHour() {
    TAdvertProject p;
    TTimeLine tl(*p.Line, *p.Contracts, nullptr);
    QVERIFY(tl.AddContract("c2"));  // Mall, 11 and 12 every day of 29.01.-04.02.2024
    TFormTimeLine form(nullptr, p.Contracts.get(), p.Line.get(), p.Db.get());
    form.resize(1200, 700);
    form.ShowMonth(2024, 2);
    form.SetPlace("p1");
    QCOMPARE(form.PlaceID(), std::string("p1"));
    QCOMPARE(form.LabelMonth->text(), QString("February 2024"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QImage image = form.Calendar->grab().toImage();
    const TCalendarLayout lay = form.Calendar->Layout();
    const int64_t feb2 = DayCount(EncodeDate(2024, 2, 2));
    const TCalendarCell* cell = nullptr;
    for (const auto& c : lay.Cells)
      if (c.Day == feb2) cell = &c;
    QVERIFY(cell);
    QCOMPARE(form.DayBookings(feb2)[11].Spots, int64_t(1));
    QCOMPARE(form.DayBookings(feb2)[10].Spots, int64_t(0));
    auto pixel = [&](int h, int64_t spots) {
      QRect r = form.Calendar->BarRect(*cell, h, spots);
      return image.pixel(r.center()) & 0xFFFFFF;
    };
    QCOMPARE(pixel(11, 1), QRgb(TimeLineBookingColor & 0xFFFFFF));
    QCOMPARE(pixel(12, 1), QRgb(TimeLineBookingColor & 0xFFFFFF));
    QVERIFY(pixel(10, 1) != (TimeLineBookingColor & 0xFFFFFF));
    QVERIFY(form.HourHint(feb2, 11).contains("Cafe: Coffee x1"));
    // After a deletion from the contracts window the calendar shows the hour free.
    TFormContracts contracts(*p.Contracts, nullptr, p.Db.get(), p.Line.get());
    contracts.JFrame1->SetID("c2");
    contracts.Button2->click();
    QCOMPARE(form.DayBookings(feb2)[11].Spots, int64_t(0));
    QVERIFY(form.MemoMixes->toPlainText().contains("Nothing is booked"));
  }

  // contracts.json that may not be written (a newer program's file) books nothing: the store
  // keeps the contracts entered meanwhile in memory only, so what the window shows is not what
  // the file holds.
  void WriteProtectedContractsBookNothing() {
    TAdvertProject p;
    TJson doc = ParseProjectBytes(ReadFileBytes(p.Tmp.File("contracts.json")));
    doc["DBVersion"] = "9.0.0.0";
    WriteFileBytes(p.Tmp.File("contracts.json"), doc.dump());
    p.Contracts.reset();
    auto contracts = CreateContractsDatabase(p.Tmp.Path().string());
    QVERIFY(!contracts->Load());
    QVERIFY(contracts->SaveDisabled());
    // Entered after the refused load: in memory, not in the file.
    contracts->CollectionByName("Places").SetRecordNo1("p1", {{"Name", "Mall"}, {"Table", TJson::array()}});
    contracts->CollectionByName("Contracts").SetRecordNo1("c1", TJson::parse(ShopContract));
    contracts->CollectionByName("Tree").SetRecordNo1("Contracts", TJson::parse(R"([{"_ID": "c1"}])"));
    p.Op.Messages.clear();
    TFormContracts form(*contracts, nullptr, p.Db.get(), p.Line.get());
    form.JFrame1->SetID("c1");
    form.BtnAddToTimeLine->click();
    QVERIFY(!std::filesystem::exists(p.Tmp.File("timeline.json")));
    QVERIFY(!p.Op.Messages.empty());
    QVERIFY2(p.Op.Messages.back().Text.find("cannot be written") != std::string::npos,
             p.Op.Messages.back().Text.c_str());
  }

  // The report's totals are the booked cells of the contract, per place and day.
  void ReportAddsUpToTheBookedCells() {
    TAdvertProject p;
    TFormContracts form(*p.Contracts, nullptr, p.Db.get(), p.Line.get());
    form.JFrame1->SetID("c2");
    form.BtnAddToTimeLine->click();
    form.JFrame1->SetID("c1");
    form.BtnAddToTimeLine->click();
    form.PageControlContract->setCurrentWidget(form.TabSheetReport);
    const TAsBookedReport& r = form.Report();
    // Count the cells of c1 straight from the file.
    TJson file = ParseProjectBytes(ReadFileBytes(p.Tmp.File("timeline.json")));
    int hours = 0;
    int64_t spots = 0;
    for (const char* place : {"p1", "p2"}) {
      const TJson& coll = file[place];
      for (auto it = coll.begin(); it != coll.end(); ++it) {
        if (it.key() == "OneHour") continue;
        for (const auto& k : *it) {
          if (!k.is_number()) continue;
          for (const auto& b : coll["OneHour"][k.get<size_t>()]["Tbl"])
            if (b["Contr"] == "c1") {
              ++hours;
              spots += b["Count"].get<int64_t>();
            }
        }
      }
    }
    QCOMPARE(hours, 5 * 3 + 3 * 24);
    QCOMPARE(r.Hours, hours);
    QCOMPARE(r.Spots, spots);
    QCOMPARE(r.Places.size(), size_t(2));
    QCOMPARE(r.Places[0].PlaceName, std::string("Mall"));
    QCOMPARE(r.Places[0].Spots, int64_t(5 * 3 * 2));
    QVERIFY(form.RichEditReport->toPlainText().contains("Total: 87 hours, 102 spots."));
    QString written, offered;
    form.AskCsvFile = [&](QWidget*, const QString& suggested) -> QString {
      offered = suggested;
      written = QString::fromStdString(p.Tmp.File("report.csv"));
      return written;
    };
    form.BtnExportCsv->click();
    QCOMPARE(offered, QString("Shop.csv"));
    const std::string csv = ReadFileBytes(written.toStdString());
    QVERIFY(csv.rfind("Contract,Place,Date,Hours,Spots\r\nShop,Mall,29.01.2024,3,6\r\n", 0) == 0);
    QVERIFY(csv.find("Shop,Station,Total,72,72\r\n") != std::string::npos);
    QVERIFY(csv.size() > 30 && csv.substr(csv.size() - 20) == "Shop,,Total,87,102\r\n");
  }

  void PlacesShowServersAndGroups() {
    TAdvertProject p;
    p.Coll("Servers").NewRecord("s1", TJson{{"Name", "Head-end"}});
    p.Coll("Groups").NewRecord("g1", TJson{{"Name", "Lobby"}});
    p.Contracts->CollectionByName("Places").UpdateRecord(
        "p1", TJson{{"Name", "Mall"},
                    {"Table", TJson::array({TJson::array({Ref("s1", "Servers"), Ref("g1", "Groups")})})}});
    TFormPlaces form(*p.Contracts, nullptr, p.Db.get());
    form.JFrame1->SetID("p1");
    QCOMPARE(form.PanelOptions->title(), QString("Timeline options"));
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    QCOMPARE(g->Columns()[1].Caption(), QString("Server"));
    QCOMPARE(g->Columns()[2].Caption(), QString("Group of STB"));
    QCOMPARE(g->Cells(1, 1), QString("Head-end"));
    QCOMPARE(g->Cells(2, 1), QString("Lobby"));
    QVERIFY(!form.JFrame1->WasChanges());
  }
};

QTEST_MAIN(TAdvertWindowsTest)
#include "AdvertWindows.moc"
