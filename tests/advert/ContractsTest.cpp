// Contract cells, the two cell dialogs' value rules, and a contract's rows.
#include <gtest/gtest.h>

#include "advert/Contracts.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace {
TJson Ref(const std::string& id, const std::string& cl) { return {{"_ID", id}, {"_CL", cl}}; }
}  // namespace

// ---------------------------------------------------------------------------------------------
// Cell texts and a new row

TEST(ContractCells, NewRowShowsAllAndTheWholeDay) {
  TJson row = NewContractRow(EncodeDate(2024, 2, 26) + 0.75);
  ASSERT_EQ(row.size(), 6u);
  EXPECT_EQ(row[0], Ref("", ""));
  EXPECT_EQ(row[1], Ref("", ""));
  EXPECT_EQ(row[2], "26.02.2024");
  EXPECT_EQ(row[3], "04.03.2024");  // a week later, across the leap day
  EXPECT_EQ(row[4], TJson::parse(R"([{"Start":0,"Stop":23,"Times":1}])"));
  EXPECT_EQ(row[5], 127);
  EXPECT_EQ(DayMaskText(row[5].get<int>()), "All");
  EXPECT_EQ(TimesArrayText(row[4]), "0-23*1");
  EXPECT_EQ(NewPlaceRow(), TJson::array({Ref("", ""), Ref("", "")}));
}

TEST(ContractCells, DayMaskTexts) {
  EXPECT_EQ(DayMaskText(127 | 256), "All");
  EXPECT_EQ(DayMaskText(1 | 4 | 64), "Mon, Wed, Sun");
  EXPECT_EQ(DayMaskText(768), "Weekend, Holidays");
  EXPECT_EQ(DayMaskText(1024), "Workdays");
  EXPECT_EQ(DayMaskText(32 | 1024), "Sat, Workdays");
  EXPECT_EQ(DayMaskText(0), "");
}

TEST(ContractCells, TimesArrayTexts) {
  EXPECT_EQ(TimesArrayText(TJson::parse(
                R"([{"Start":10,"Stop":12,"Times":2},{"Start":18,"Stop":18,"Times":1}])")),
            "10-12*2; 18-18*1");
  // Numbers written as doubles by older files read as integers.
  EXPECT_EQ(TimesArrayText(TJson::parse(R"([{"Start":1.0,"Stop":2.0,"Times":3.0}, 5])")), "1-2*3");
  EXPECT_EQ(TimesArrayText(TJson("0-23*1")), "");
  EXPECT_EQ(TimesArrayText(TJson::array()), "");
}

// ---------------------------------------------------------------------------------------------
// "Select days of week"

TEST(DaysOfWeekDialog, ChoicesGiveTheirMasks) {
  TDaysOfWeekView v;
  v.Choice = dwAllDays;
  EXPECT_EQ(ReadDayMaskChoice(v), 127);
  v.Choice = dwWeekendsAndHolidays;
  EXPECT_EQ(ReadDayMaskChoice(v), 768);
  v.Choice = dwWorkdays;
  EXPECT_EQ(ReadDayMaskChoice(v), 1024);
  v.Choice = dwCustom;
  v.Boxes = {true, false, true, false, false, false, false, false, true};
  EXPECT_EQ(ReadDayMaskChoice(v), 1 | 4 | 512);
  EXPECT_TRUE(v.CustomVisible());
}

TEST(DaysOfWeekDialog, AllSevenCustomBoxesStoreAllDays) {
  TDaysOfWeekView v;
  v.Choice = dwCustom;
  for (int b = 0; b < 7; ++b) v.Boxes[static_cast<size_t>(b)] = true;
  v.Boxes[7] = true;  // weekend as well: still all days
  int mask = ReadDayMaskChoice(v);
  EXPECT_EQ(mask, 127);
  TDaysOfWeekView reopened = ShowDayMask(mask);
  EXPECT_EQ(reopened.Choice, dwAllDays);
  EXPECT_FALSE(reopened.CustomVisible());
}

TEST(DaysOfWeekDialog, ShowingAValue) {
  EXPECT_EQ(ShowDayMask(768).Choice, dwWeekendsAndHolidays);
  EXPECT_EQ(ShowDayMask(1024).Choice, dwWorkdays);
  TDaysOfWeekView v = ShowDayMask(2 | 64 | 256);
  EXPECT_EQ(v.Choice, dwCustom);
  std::array<bool, 9> boxes = {false, true, false, false, false, false, true, true, false};
  EXPECT_EQ(v.Boxes, boxes);
  // Weekend and holidays ticked as custom boxes save as the radio item's value and reopen as it.
  EXPECT_EQ(ShowDayMask(256 | 512).Choice, dwWeekendsAndHolidays);
  EXPECT_EQ(CustomDayBoxCaption(0), "Monday");
  EXPECT_EQ(CustomDayBoxCaption(6), "Sunday");
  EXPECT_EQ(CustomDayBoxCaption(8), "Holidays");
}

TEST(DaysOfWeekDialog, ACellWithoutAnIntegerStartsAsAllDays) {
  bool writeBack = false;
  EXPECT_EQ(DayMaskOfCell(TJson("Mon"), &writeBack), 127);
  EXPECT_TRUE(writeBack);
  EXPECT_EQ(DayMaskOfCell(TJson(), &writeBack), 127);
  EXPECT_TRUE(writeBack);
  EXPECT_EQ(DayMaskOfCell(TJson(31), &writeBack), 31);
  EXPECT_FALSE(writeBack);
  EXPECT_EQ(DayMaskOfCell(TJson(31.0), &writeBack), 31);
  EXPECT_FALSE(writeBack);
}

// ---------------------------------------------------------------------------------------------
// "Select times per hour"

TEST(TimesDialog, OpeningShowsTheArrayRowByRow) {
  bool writeBack = true;
  TTimesDialogRows rows =
      OpenTimesDialog(TJson::parse(R"([{"Start":10,"Stop":12,"Times":2}])"), &writeBack);
  EXPECT_FALSE(writeBack);
  EXPECT_EQ(rows[0].Begin, 10);
  EXPECT_EQ(rows[0].End, 12);
  EXPECT_EQ(rows[0].Times, 2);
  EXPECT_EQ(rows[1].Times, 0);  // the editors' defaults
  EXPECT_EQ(rows[2].Begin, 0);
  OpenTimesDialog(TJson("text"), &writeBack);
  EXPECT_TRUE(writeBack);
  EXPECT_EQ(TimesDialogMinTimes(0), 1);
  EXPECT_EQ(TimesDialogMinTimes(1), 0);
}

TEST(TimesDialog, BeginAndEndFollowEachOther) {
  // Row 2 set to Begin 10, End 5: the one edited last wins.
  TTimesDialogRow endLast;
  endLast.Begin = 10;
  TimesDialogBeginChanged(endLast);
  endLast.End = 5;
  TimesDialogEndChanged(endLast);
  EXPECT_EQ(endLast.Begin, 5);
  EXPECT_EQ(endLast.End, 5);

  TTimesDialogRow beginLast;
  beginLast.End = 5;
  TimesDialogEndChanged(beginLast);
  beginLast.Begin = 10;
  TimesDialogBeginChanged(beginLast);
  EXPECT_EQ(beginLast.Begin, 10);
  EXPECT_EQ(beginLast.End, 10);
}

TEST(TimesDialog, SavingDropsRowsWithoutTimesAndRounds) {
  TTimesDialogRows rows{};
  rows[0] = {6, 9, 2.6};
  rows[1] = {10, 11, 0};  // not stored
  rows[2] = {20.4, 22.5, 1};
  EXPECT_EQ(SaveTimesDialog(rows),
            TJson::parse(R"([{"Start":6,"Stop":9,"Times":3},{"Start":20,"Stop":23,"Times":1}])"));
}

// ---------------------------------------------------------------------------------------------
// Rows of a contract

TEST(ContractRowsTest, SpotsPerHourAddUpOverTheRanges) {
  auto tph = TimesPerHourOf({{10, 12, 2}, {12, 13, 1}, {22, 30, 1}, {5, 3, 9}});
  std::array<int, 24> expected{};
  expected[10] = expected[11] = 2;
  expected[12] = 3;
  expected[13] = 1;
  expected[22] = expected[23] = 1;
  EXPECT_EQ(tph, expected);
}

TEST(ContractRowsTest, QualifyingDaysFollowTheWeekdayBits) {
  TContractRow row;
  row.StartDate = EncodeDate(2024, 1, 29);  // Monday
  row.StopDate = EncodeDate(2024, 2, 4);    // Sunday
  row.DayOfWeek = 32 | 64;                  // Saturday and Sunday
  auto days = QualifyingDays(row);
  ASSERT_EQ(days.size(), 2u);
  EXPECT_EQ(DayRecordID(days[0]), "20240203");
  EXPECT_EQ(DayRecordID(days[1]), "20240204");
  row.DayOfWeek = 768 | 1024;  // only the special bits: nothing
  EXPECT_TRUE(QualifyingDays(row).empty());
  row.DayOfWeek = 127;
  row.StopDate = row.StartDate;  // the stop date itself is included
  EXPECT_EQ(QualifyingDays(row).size(), 1u);
  row.StopDate = row.StartDate - 1;
  EXPECT_TRUE(QualifyingDays(row).empty());
}

struct ContractRowsDb : ::testing::Test {
  TTempDir Tmp;
  TFakeOperator Op;
  std::unique_ptr<TDbFile> Contracts = CreateContractsDatabase(Tmp.Path().string(), &Op);
  std::unique_ptr<TDbFile> Main = CreateMainDatabase(&Op);
  void SetUp() override {
    Contracts->New();
    Main->New();
    auto& films = Main->CollectionByName("Films");
    films.SetRecordNo1("f30", {{"Name", "Half a minute"}, {"Duration", "00:00:30,000"}});
    films.SetRecordNo1("f15", {{"Name", "Quarter"}, {"Duration", "00:00:15,500"}});
    films.SetRecordNo1("bad", {{"Name", "Unknown"}, {"Duration", "soon"}});
    auto& lists = Main->CollectionByName("PlayLists");
    lists.SetRecordNo1("pl", {{"Name", "Block"},
                              {"Table", TJson::array({TJson::array({Ref("f30", "Films")}),
                                                      TJson::array({Ref("f15", "Films")}),
                                                      TJson::array({Ref("inner", "PlayLists")})})}});
    lists.SetRecordNo1("inner", {{"Name", "Inner"},
                                 {"Table", TJson::array({TJson::array({Ref("f15", "Films")}),
                                                         TJson::array({Ref("pl", "PlayLists")})})}});
  }
  TContractRowsSource Source(const std::string& id) {
    TContractRowsSource s;
    s.ContractsColl = &Contracts->CollectionByName("Contracts");
    s.ContractID = id;
    s.MainDb = Main.get();
    return s;
  }
};

TEST_F(ContractRowsDb, RowsCarryPlaceFilmDatesMaskAndDuration) {
  TJson contract = {{"Name", "Shop"},
                    {"Table", TJson::array({TJson::array({Ref("P1", "Places"), Ref("f30", "Films"),
                                                          "01.03.2024", "15.03.2024",
                                                          TJson::parse(R"([{"Start":8,"Stop":9,"Times":2}])"), 31}),
                                            TJson::array({Ref("P2", "Places"), Ref("pl", "PlayLists"),
                                                          "02.03.2024", "03.03.2024",
                                                          TJson::array(), 96})})}};
  Contracts->CollectionByName("Contracts").SetRecordNo1("c", contract);
  TSuperReference tracker(&Op);
  auto rows = ContractRows(contract, Source("c"), tracker);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Place, "P1");
  EXPECT_EQ(rows[0].Film, "f30");
  EXPECT_EQ(rows[0].StartDate, EncodeDate(2024, 3, 1));
  EXPECT_EQ(rows[0].StopDate, EncodeDate(2024, 3, 15));
  EXPECT_EQ(rows[0].DayOfWeek, 31);
  EXPECT_EQ(rows[0].TimesPerHour[8], 2);
  EXPECT_EQ(rows[0].TimesPerHour[10], 0);
  EXPECT_NEAR(rows[0].Durations * 86400, 30.0, 1e-6);
  // The playlist: 30 s + 15.5 s + its inner playlist (15.5 s; the way back to itself counts 0).
  EXPECT_EQ(rows[1].Film, "pl");
  EXPECT_NEAR(rows[1].Durations * 86400, 61.0, 1e-6);
  EXPECT_EQ(rows[1].TimesPerHour, (std::array<int, 24>{}));
  EXPECT_EQ(tracker.Count(), 0);
  EXPECT_TRUE(Op.Messages.empty());
}

TEST_F(ContractRowsDb, AnUnreadableDurationCountsZero) {
  TSuperReference tracker(&Op);
  EXPECT_EQ(ReferenceDuration(*Main, {"bad", "Films"}, tracker), 0);
}

TEST_F(ContractRowsDb, AMissingFilmInsideAPlaylistIsReportedAgainstThePlaylist) {
  Main->CollectionByName("PlayLists").SetRecordNo1(
      "broken", {{"Name", "Broken"}, {"Table", TJson::array({TJson::array({Ref("gone", "Films")})})}});
  TJson contract = {{"Name", "Shop"},
                    {"Table", TJson::array({TJson::array({Ref("P1", "Places"), Ref("broken", "PlayLists"),
                                                          "01.03.2024", "01.03.2024", TJson::array(), 127})})}};
  Contracts->CollectionByName("Contracts").SetRecordNo1("c", contract);
  TSuperReference tracker(&Op);
  EXPECT_THROW(ContractRows(contract, Source("c"), tracker), EDbFException);
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption, "Error in record: PlayLists Broken. Invalid reference.");
  EXPECT_EQ(Op.Messages[0].Text, "Error in record: PlayLists Broken. Invalid reference. Open record to fix?");
  EXPECT_EQ(tracker.Count(), 0);
}

TEST_F(ContractRowsDb, ARowWithoutPlaceOrFilmIsAnError) {
  TJson contract = {{"Name", "Shop"},
                    {"Table", TJson::array({TJson::array({Ref("", ""), Ref("f30", "Films"),
                                                          "01.03.2024", "01.03.2024", TJson::array(), 127})})}};
  Contracts->CollectionByName("Contracts").SetRecordNo1("c", contract);
  TSuperReference tracker(&Op);
  EXPECT_THROW(ContractRows(contract, Source("c"), tracker), EDbFException);
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption,
            "Error in record: Contracts Shop. Table \"Table\", row \"1\". The row has no place.");

  contract["Table"][0][0] = Ref("P1", "Places");
  contract["Table"][0][1] = Ref("", "");
  Op.Messages.clear();
  EXPECT_THROW(ContractRows(contract, Source("c"), tracker), EDbFException);
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption, "Error in record: Contracts Shop. Table \"Table\", row \"1\". ");
}

TEST_F(ContractRowsDb, AnAbsurdlyLongPeriodIsRefused) {
  TJson contract = {{"Name", "Forever"},
                    {"Table", TJson::array({TJson::array({Ref("P1", "Places"), Ref("f30", "Films"),
                                                          "01.01.1900", "31.12.9999", TJson::array(), 127})})}};
  Contracts->CollectionByName("Contracts").SetRecordNo1("c", contract);
  TSuperReference tracker(&Op);
  EXPECT_THROW(ContractRows(contract, Source("c"), tracker), EDbFException);
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_NE(Op.Messages[0].Caption.find("longer than 100 years"), std::string::npos);
}
