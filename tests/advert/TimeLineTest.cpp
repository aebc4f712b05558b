// Booking and deleting contracts on the time line, against hand-written expectations, plus a
// randomised check of the hour-mix counters.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "advert/TimeLine.h"
#include "advert/TimeLineView.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace {

TJson Ref(const std::string& id, const std::string& cl) { return {{"_ID", id}, {"_CL", cl}}; }

TJson Times(std::initializer_list<std::tuple<int, int, int>> ranges) {
  TJson arr = TJson::array();
  for (auto [s, e, t] : ranges) arr.push_back({{"Start", s}, {"Stop", e}, {"Times", t}});
  return arr;
}

TJson Row(const std::string& place, const std::string& film, const std::string& from,
          const std::string& to, const TJson& times, int mask) {
  return TJson::array({Ref(place, "Places"), Ref(film, "Films"), from, to, times, mask});
}

TJson Contract(const std::string& name, std::initializer_list<TJson> rows) {
  TJson c = TJson::object();
  c["Name"] = name;
  c["Table"] = TJson::array();
  for (const auto& r : rows) c["Table"].push_back(r);
  return c;
}

TJson Mix(std::initializer_list<TJson> bookings, int cntr) {
  TJson tbl = TJson::array();
  for (const auto& b : bookings) tbl.push_back(b);
  return {{"Tbl", tbl}, {"Cntr", cntr}};
}

TJson Booking(const std::string& c, const std::string& f, int n) {
  return {{"Contr", c}, {"Film", f}, {"Count", n}};
}

TJson DayOf(std::initializer_list<std::pair<int, int>> cells) {
  TJson d = TJson::array();
  for (int h = 0; h < 24; ++h) d.push_back(nullptr);
  for (auto [h, k] : cells) d[static_cast<size_t>(h)] = k;
  return d;
}

TJson AllHours(int k) {
  TJson d = TJson::array();
  for (int h = 0; h < 24; ++h) d.push_back(k);
  return d;
}

struct TimeLineTest : ::testing::Test {
  TTempDir Tmp;
  TFakeOperator Op;
  std::unique_ptr<TDbFile> Contracts = CreateContractsDatabase(Tmp.Path().string(), &Op);
  std::unique_ptr<TDbFile> Line = CreateTimeLineDatabase(Tmp.Path().string(), &Op);
  std::unique_ptr<TDbFile> Main = CreateMainDatabase(&Op);
  TTimeLine TL{*Line, *Contracts, nullptr, &Op};

  void SetUp() override {
    Contracts->New();
    Line->New();
    Main->New();
    Main->SetFileName(Tmp.File("main.pq2pr"));
  }

  void Put(const std::string& id, const TJson& contract) {
    ASSERT_TRUE(Contracts->CollectionByName("Contracts").NewOrUpdateRecord(id, contract));
  }
  // A record of the time line as stored in the file (read back from disk).
  TJson Disk() { return ParseProjectBytes(ReadFileBytes(Line->FileName())); }
  TJson PlaceOnDisk(const std::string& place) {
    TJson d = Disk();
    return d.contains(place) ? d[place] : TJson::object();
  }
  std::vector<std::string> DayIDs(const TJson& place) {
    std::vector<std::string> ids;
    for (auto it = place.begin(); it != place.end(); ++it)
      if (it.key() != "OneHour") ids.push_back(it.key());
    std::sort(ids.begin(), ids.end());
    return ids;
  }
};

const TJson WholeWeek = Times({{0, 23, 1}});

}  // namespace

// ---------------------------------------------------------------------------------------------
// The examples

TEST_F(TimeLineTest, OneContractForAWeekMakesSevenDaysAndOneMix) {
  // 01.01.2024 is a Monday.
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  TJson place = PlaceOnDisk("P");
  EXPECT_EQ(DayIDs(place), (std::vector<std::string>{"20240101", "20240102", "20240103",
                                                      "20240104", "20240105", "20240106",
                                                      "20240107"}));
  for (const auto& id : DayIDs(place)) EXPECT_EQ(place[id], AllHours(0)) << id;
  EXPECT_EQ(place["OneHour"], TJson::array({Mix({Booking("c1", "f1", 1)}, 168)}));
  // The booked copy is kept under the contract id.
  EXPECT_TRUE(JsonEqual(Disk()["Contracts"]["c1"], Contracts->CollectionByName("Contracts").GetRecord("c1").value()));
  EXPECT_EQ(TL.Stats().FileWrites, 1);
  EXPECT_EQ(TL.Stats().CellsBooked, 168);
  EXPECT_TRUE(Op.Messages.empty());
}

TEST_F(TimeLineTest, SecondContractMakesMixOneAndFreesMixZero) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  Put("c2", Contract("Second", {Row("P", "f2", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  ASSERT_TRUE(TL.AddContract("c2"));
  TJson place = PlaceOnDisk("P");
  EXPECT_EQ(place["OneHour"],
            TJson::array({Mix({Booking("c1", "f1", 1)}, 0),
                          Mix({Booking("c1", "f1", 1), Booking("c2", "f2", 1)}, 168)}));
  for (const auto& id : DayIDs(place)) EXPECT_EQ(place[id], AllHours(1)) << id;
}

TEST_F(TimeLineTest, AddingTwiceEqualsAddingOnce) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", Times({{8, 10, 2}}), 127)}));
  Put("c2", Contract("Second", {Row("P", "f2", "03.01.2024", "09.01.2024", Times({{9, 12, 1}}), 31)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  ASSERT_TRUE(TL.AddContract("c2"));
  TJson once = Disk();
  ASSERT_TRUE(TL.AddContract("c2"));
  EXPECT_TRUE(JsonEqual(Disk(), once)) << Disk().dump();
  // Re-adding one whose mixes are shared with a later contract still ends equal in content.
  ASSERT_TRUE(TL.AddContract("c2"));
  EXPECT_TRUE(JsonEqual(Disk(), once));
}

TEST_F(TimeLineTest, DeletingTheOnlyContractLeavesNothing) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  ASSERT_TRUE(TL.DeleteContract("c1"));
  TJson place = PlaceOnDisk("P");
  EXPECT_TRUE(DayIDs(place).empty());
  EXPECT_EQ(place["OneHour"], TJson::array());
  EXPECT_FALSE(Disk()["Contracts"].contains("c1"));
  EXPECT_EQ(TL.Stats().DaysDeleted, 7);
  EXPECT_EQ(TL.Stats().FileWrites, 1);
}

TEST_F(TimeLineTest, DeletingOneOfTwoMergesBackOntoTheEqualMix) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  Put("c2", Contract("Second", {Row("P", "f2", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  TJson afterFirst = Disk()["P"];
  ASSERT_TRUE(TL.AddContract("c2"));
  ASSERT_TRUE(TL.DeleteContract("c2"));
  // Mix 1 ([c1]) equals the free mix 0, which takes its 168 cells; mix 1 is then a trailing
  // free entry and goes.
  EXPECT_EQ(PlaceOnDisk("P"), afterFirst);
  EXPECT_EQ(PlaceOnDisk("P")["OneHour"], TJson::array({Mix({Booking("c1", "f1", 1)}, 168)}));
}

TEST_F(TimeLineTest, MergeOnPartOfTheWeek) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", Times({{10, 11, 1}}), 127)}));
  Put("c2", Contract("Second", {Row("P", "f2", "01.01.2024", "07.01.2024", Times({{11, 12, 3}}), 1 | 4)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  ASSERT_TRUE(TL.AddContract("c2"));
  TJson place = PlaceOnDisk("P");
  // Monday and Wednesday: hour 10 [c1], hour 11 [c1, c2*3], hour 12 [c2*3].
  EXPECT_EQ(place["OneHour"],
            TJson::array({Mix({Booking("c1", "f1", 1)}, 12),
                          Mix({Booking("c1", "f1", 1), Booking("c2", "f2", 3)}, 2),
                          Mix({Booking("c2", "f2", 3)}, 2)}));
  EXPECT_EQ(place["20240101"], DayOf({{10, 0}, {11, 1}, {12, 2}}));
  EXPECT_EQ(place["20240102"], DayOf({{10, 0}, {11, 0}}));
  ASSERT_TRUE(TL.DeleteContract("c2"));
  place = PlaceOnDisk("P");
  EXPECT_EQ(place["OneHour"], TJson::array({Mix({Booking("c1", "f1", 1)}, 14)}));
  EXPECT_EQ(place["20240101"], DayOf({{10, 0}, {11, 0}}));
  EXPECT_EQ(place["20240103"], DayOf({{10, 0}, {11, 0}}));
}

TEST_F(TimeLineTest, WeekendsAndHolidaysMaskBooksNothing) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "31.01.2024", WholeWeek, 768)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  TJson place = PlaceOnDisk("P");
  EXPECT_TRUE(DayIDs(place).empty());
  EXPECT_EQ(place["OneHour"], TJson::array());
  EXPECT_EQ(TL.Stats().CellsBooked, 0);
}

// ---------------------------------------------------------------------------------------------
// Rows, places and dates

TEST_F(TimeLineTest, TwoRowsOnDifferentPlaces) {
  Put("c1", Contract("Two places", {Row("P1", "f1", "01.01.2024", "02.01.2024", Times({{6, 6, 2}}), 127),
                                    Row("P2", "f2", "02.01.2024", "03.01.2024", Times({{7, 8, 1}}), 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  TJson p1 = PlaceOnDisk("P1"), p2 = PlaceOnDisk("P2");
  EXPECT_EQ(DayIDs(p1), (std::vector<std::string>{"20240101", "20240102"}));
  EXPECT_EQ(DayIDs(p2), (std::vector<std::string>{"20240102", "20240103"}));
  EXPECT_EQ(p1["OneHour"], TJson::array({Mix({Booking("c1", "f1", 2)}, 2)}));
  EXPECT_EQ(p2["OneHour"], TJson::array({Mix({Booking("c1", "f2", 1)}, 4)}));
  EXPECT_EQ(p1["20240102"], DayOf({{6, 0}}));
  EXPECT_EQ(p2["20240103"], DayOf({{7, 0}, {8, 0}}));
  EXPECT_EQ(TL.Stats().FileWrites, 1);
  ASSERT_TRUE(TL.DeleteContract("c1"));
  EXPECT_TRUE(DayIDs(PlaceOnDisk("P1")).empty());
  EXPECT_TRUE(DayIDs(PlaceOnDisk("P2")).empty());
}

TEST_F(TimeLineTest, TwoRangesOnWeekdaysAcrossAMonthBoundary) {
  // Monday 29.01.2024 to Sunday 04.02.2024, Monday to Friday: 29, 30, 31 Jan, 1, 2 Feb.
  Put("c1", Contract("Weekdays", {Row("P", "f1", "29.01.2024", "04.02.2024",
                                      Times({{10, 12, 2}, {18, 18, 1}}), 31)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  TJson place = PlaceOnDisk("P");
  EXPECT_EQ(DayIDs(place), (std::vector<std::string>{"20240129", "20240130", "20240131",
                                                      "20240201", "20240202"}));
  for (const auto& id : DayIDs(place))
    EXPECT_EQ(place[id], DayOf({{10, 0}, {11, 0}, {12, 0}, {18, 1}})) << id;
  EXPECT_EQ(place["OneHour"], TJson::array({Mix({Booking("c1", "f1", 2)}, 15),
                                            Mix({Booking("c1", "f1", 1)}, 5)}));
}

TEST_F(TimeLineTest, OverlappingRangesAddUp) {
  Put("c1", Contract("Overlap", {Row("P", "f1", "01.01.2024", "01.01.2024",
                                     Times({{10, 12, 2}, {12, 13, 1}}), 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  TJson place = PlaceOnDisk("P");
  EXPECT_EQ(place["20240101"], DayOf({{10, 0}, {11, 0}, {12, 1}, {13, 2}}));
  EXPECT_EQ(place["OneHour"], TJson::array({Mix({Booking("c1", "f1", 2)}, 2),
                                            Mix({Booking("c1", "f1", 3)}, 1),
                                            Mix({Booking("c1", "f1", 1)}, 1)}));
}

TEST_F(TimeLineTest, TheBookedCopyDecidesWhatIsDeleted) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  // The contract is edited after booking: other dates, other place.
  Put("c1", Contract("First", {Row("Q", "f1", "08.01.2024", "09.01.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.DeleteContract("c1"));
  EXPECT_TRUE(DayIDs(PlaceOnDisk("P")).empty());
  EXPECT_EQ(PlaceOnDisk("P")["OneHour"], TJson::array());
  EXPECT_FALSE(Disk().contains("Q"));

  // Adding the edited contract replaces the old booking by the new one.
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  Put("c1", Contract("First", {Row("P", "f1", "08.01.2024", "09.01.2024", Times({{5, 5, 1}}), 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  TJson place = PlaceOnDisk("P");
  EXPECT_EQ(DayIDs(place), (std::vector<std::string>{"20240108", "20240109"}));
  EXPECT_EQ(place["OneHour"], TJson::array({Mix({Booking("c1", "f1", 1)}, 2)}));
}

TEST_F(TimeLineTest, RowsOfOnePlaceSharingAMixAreDeletedTogether) {
  // c2 books hour 5 of three days; c books day 1 and day 2 in two rows; c3 is booked over both
  // and deleted again, which merges c's two cells onto one mix, the last of the table.
  Put("c2", Contract("Base", {Row("P", "g", "01.01.2024", "03.01.2024", Times({{5, 5, 1}}), 127)}));
  Put("c", Contract("Two rows", {Row("P", "f", "01.01.2024", "01.01.2024", Times({{5, 5, 1}}), 127),
                                 Row("P", "f", "02.01.2024", "02.01.2024", Times({{5, 5, 1}}), 127)}));
  Put("c3", Contract("Passing", {Row("P", "h", "01.01.2024", "02.01.2024", Times({{5, 5, 1}}), 127)}));
  ASSERT_TRUE(TL.AddContract("c2"));
  ASSERT_TRUE(TL.AddContract("c"));
  ASSERT_TRUE(TL.AddContract("c3"));
  ASSERT_TRUE(TL.DeleteContract("c3"));
  TJson place = PlaceOnDisk("P");
  ASSERT_EQ(place["OneHour"],
            TJson::array({Mix({Booking("c2", "g", 1)}, 1),
                          Mix({Booking("c2", "g", 1), Booking("c", "f", 1)}, 0),
                          Mix({Booking("c2", "g", 1), Booking("c", "f", 1)}, 2)}));
  ASSERT_EQ(place["20240101"], DayOf({{5, 2}}));
  ASSERT_EQ(place["20240102"], DayOf({{5, 2}}));
  // Deleting c: the first row moves mix 2 onto mix 0 and leaves 1 and 2 free at the end of the
  // table; the second row's cell must follow it there rather than point past the table.
  ASSERT_TRUE(TL.DeleteContract("c"));
  place = PlaceOnDisk("P");
  EXPECT_EQ(place["OneHour"], TJson::array({Mix({Booking("c2", "g", 1)}, 3)}));
  for (const char* day : {"20240101", "20240102", "20240103"}) EXPECT_EQ(place[day], DayOf({{5, 0}})) << day;
  EXPECT_EQ(TL.Stats().DanglingCells, 0);
}

TEST_F(TimeLineTest, DeletingANotBookedContractSucceedsWithoutWriting) {
  EXPECT_TRUE(TL.DeleteContract("nothing"));
  EXPECT_EQ(TL.Stats().FileWrites, 0);
  EXPECT_FALSE(std::filesystem::exists(Line->FileName()));
  EXPECT_TRUE(Op.Messages.empty());
}

// ---------------------------------------------------------------------------------------------
// One write per operation

TEST_F(TimeLineTest, BookingAYearIsOneFileWrite) {
  Put("c1", Contract("Year", {Row("P", "f1", "01.01.2024", "31.12.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  EXPECT_EQ(TL.Stats().FileWrites, 1);
  EXPECT_EQ(TL.Stats().DaysWritten, 366);
  // Everything made in memory reached the file.
  EXPECT_TRUE(JsonEqual(Disk(), Line->JSON()));
  EXPECT_EQ(DayIDs(PlaceOnDisk("P")).size(), 366u);
  ASSERT_TRUE(TL.AddContract("c1"));  // delete and book again: still one write
  EXPECT_EQ(TL.Stats().FileWrites, 1);
  ASSERT_TRUE(TL.DeleteContract("c1"));
  EXPECT_EQ(TL.Stats().FileWrites, 1);
  EXPECT_EQ(TL.Stats().DaysDeleted, 366);
}

TEST_F(TimeLineTest, TheUnbatchedWayWritesEveryDayAndGivesTheSameFile) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "10.01.2024", Times({{3, 4, 1}}), 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  TJson batched = Disk();
  ASSERT_TRUE(TL.DeleteContract("c1"));
  TL.SaveEveryRecord = true;
  ASSERT_TRUE(TL.AddContract("c1"));
  EXPECT_EQ(TL.Stats().FileWrites, 10 + 2);  // ten days, the table, the booked copy
  EXPECT_TRUE(JsonEqual(Disk(), batched));
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST_F(TimeLineTest, AFailedWriteReportsAndLeavesMemoryAndFileAsBefore) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  Put("c2", Contract("Second", {Row("P", "f2", "01.01.2024", "03.01.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  const std::string bytes = ReadFileBytes(Line->FileName());
  const TJson memory = Line->JSON();
  // The file's folder is replaced by a plain file: no write can succeed.
  const std::string goodName = Line->FileName();
  Line->SetFileName(Tmp.File("gone/timeline.json"));
  WriteFileBytes(Tmp.File("gone"), "x");
  EXPECT_FALSE(TL.AddContract("c2"));
  EXPECT_TRUE(JsonEqual(Line->JSON(), memory));
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_EQ(Op.Messages.back().Caption, "Error in TimeLine database!");
  EXPECT_EQ(Op.Messages.back().Text, "Contracts addition error!");
  EXPECT_FALSE(TL.LastError().empty());

  Op.Messages.clear();
  EXPECT_FALSE(TL.DeleteContract("c1"));
  EXPECT_TRUE(JsonEqual(Line->JSON(), memory));
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_EQ(Op.Messages.back().Caption, "Error in TimeLine database!");
  EXPECT_EQ(Op.Messages.back().Text, "Contracts deletion error!");

  // Re-adding a booked contract fails whole: its old booking stays.
  Op.Messages.clear();
  EXPECT_FALSE(TL.AddContract("c1"));
  EXPECT_EQ(Op.Messages.back().Text, "Contracts addition error!");
  EXPECT_TRUE(JsonEqual(Line->JSON(), memory));
  EXPECT_EQ(ReadFileBytes(goodName), bytes);

  // With the folder back, the next operation writes a consistent whole.
  Line->SetFileName(goodName);
  ASSERT_TRUE(TL.AddContract("c2"));
  EXPECT_EQ(PlaceOnDisk("P")["OneHour"],
            TJson::array({Mix({Booking("c1", "f1", 1)}, 96),
                          Mix({Booking("c1", "f1", 1), Booking("c2", "f2", 1)}, 72)}));
}

TEST_F(TimeLineTest, AWriteProtectedTimeLineIsNeverReportedAsBooked) {
  // A file of a newer program is loaded write-protected.
  WriteFileBytes(Line->FileName(), "{\"DBVersion\": \"9.0.0.0\"}");
  ASSERT_FALSE(Line->Load());
  ASSERT_TRUE(Line->SaveDisabled());
  Op.Messages.clear();
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  EXPECT_FALSE(TL.AddContract("c1"));
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption, "Error in TimeLine database!");
  EXPECT_EQ(Op.Messages[0].Text, "Contracts addition error!");
  EXPECT_NE(TL.LastError().find("write-protected"), std::string::npos);
  EXPECT_FALSE(TL.DeleteContract("c1"));
  EXPECT_EQ(Op.Messages.back().Text, "Contracts deletion error!");
  EXPECT_EQ(ReadFileBytes(Line->FileName()), "{\"DBVersion\": \"9.0.0.0\"}");
}

TEST_F(TimeLineTest, AMissingContractRecordIsReportedAndNothingChanges) {
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  const TJson memory = Line->JSON();
  ASSERT_TRUE(Contracts->CollectionByName("Contracts").DelRecord("c1"));
  EXPECT_FALSE(TL.AddContract("c1"));
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption, "Error in record: Contracts . Invalid reference.");
  EXPECT_TRUE(Op.Messages[0].Question);
  // The earlier booking is still there, whole, in memory and in the file.
  EXPECT_TRUE(JsonEqual(Line->JSON(), memory));
  EXPECT_TRUE(JsonEqual(Disk(), memory));
  // It can still be deleted from its booked copy.
  EXPECT_TRUE(TL.DeleteContract("c1"));
  EXPECT_TRUE(DayIDs(PlaceOnDisk("P")).empty());
}

TEST_F(TimeLineTest, ABrokenFilmReferenceStopsTheAddition) {
  TTimeLine withMain(*Line, *Contracts, Main.get(), &Op);
  Main->CollectionByName("Films").SetRecordNo1("f1", {{"Name", "Spot"}, {"Duration", "00:00:30,000"}});
  Put("c1", Contract("Spots", {Row("P", "f1", "01.01.2024", "02.01.2024", WholeWeek, 127),
                               Row("P", "missing", "01.01.2024", "02.01.2024", WholeWeek, 127)}));
  EXPECT_FALSE(withMain.AddContract("c1"));
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption, "Error in record: Contracts Spots. Invalid reference.");
  EXPECT_FALSE(std::filesystem::exists(Line->FileName()));  // nothing booked, nothing written
  EXPECT_FALSE(Line->JSON().contains("P") && Line->JSON()["P"].size() > 0);
}

TEST_F(TimeLineTest, ABadDateIsReportedAgainstTheContractRow) {
  Put("c1", Contract("Dated", {Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 127),
                               Row("P", "f1", "31.02.2024", "07.03.2024", WholeWeek, 127)}));
  EXPECT_FALSE(TL.AddContract("c1"));
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption.rfind("Error in record: Contracts Dated. Table \"Table\", row \"2\". ", 0), 0u)
      << Op.Messages[0].Caption;
  EXPECT_FALSE(std::filesystem::exists(Line->FileName()));
}

// A day mask that is a number but not a whole one is refused against its row, not read as "all
// days"; a whole number written as 3.0 is the mask 3.
TEST_F(TimeLineTest, ANonIntegerDayMaskIsRefused) {
  TJson half = Row("P", "f1", "01.01.2024", "07.01.2024", WholeWeek, 0);
  half[5] = 3.5;
  Put("c1", Contract("Half", {half}));
  EXPECT_FALSE(TL.AddContract("c1"));
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_NE(Op.Messages[0].Caption.find("row \"1\". The days of week value 3.5 is not a whole number."),
            std::string::npos)
      << Op.Messages[0].Caption;
  EXPECT_FALSE(std::filesystem::exists(Line->FileName()));

  Op.Messages.clear();
  TJson whole = half;
  whole[5] = 3.0;
  Put("c2", Contract("Whole", {whole}));
  ASSERT_TRUE(TL.AddContract("c2"));
  EXPECT_EQ(DayIDs(PlaceOnDisk("P")), (std::vector<std::string>{"20240101", "20240102"}));
  EXPECT_TRUE(Op.Messages.empty());
}

// "Check free time" counts the cells of a row that other contracts hold already, and the
// report's CSV quotes names with commas.
TEST_F(TimeLineTest, FreeTimeAndReportOfTwoContracts) {
  Contracts->CollectionByName("Places").SetRecordNo1("P", {{"Name", "Mall, east"}});
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "07.01.2024", Times({{10, 11, 2}}), 127)}));
  Put("c2", Contract("Second \"B\"", {Row("P", "f2", "06.01.2024", "09.01.2024", Times({{11, 12, 1}}), 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  TSuperReference tracker(&Op);
  TContractRowsSource src;
  auto rows = ContractRows(*Contracts->CollectionByName("Contracts").GetRecord("c2"), src, tracker);
  std::vector<TFreeTimeRow> free = CheckFreeTime(*Line, rows, "c2");
  ASSERT_EQ(free.size(), 1u);
  EXPECT_EQ(free[0].Cells, 4 * 2);
  EXPECT_EQ(free[0].TakenCells, 2);  // 11:00 on the 6th and the 7th
  EXPECT_EQ(free[0].MaxOtherSpots, 2);

  ASSERT_TRUE(TL.AddContract("c2"));
  TAsBookedReport r = AsBookedReport(*Line, Contracts.get(), "c2");
  EXPECT_EQ(r.Hours, 8);
  EXPECT_EQ(r.Spots, 8);
  EXPECT_EQ(AsBookedCsv(r),
            "Contract,Place,Date,Hours,Spots\r\n"
            "\"Second \"\"B\"\"\",\"Mall, east\",06.01.2024,2,2\r\n"
            "\"Second \"\"B\"\"\",\"Mall, east\",07.01.2024,2,2\r\n"
            "\"Second \"\"B\"\"\",\"Mall, east\",08.01.2024,2,2\r\n"
            "\"Second \"\"B\"\"\",\"Mall, east\",09.01.2024,2,2\r\n"
            "\"Second \"\"B\"\"\",\"Mall, east\",Total,8,8\r\n"
            "\"Second \"\"B\"\"\",,Total,8,8\r\n");
  EXPECT_EQ(AsBookedReport(*Line, Contracts.get(), "c1").Spots, 7 * 2 * 2);
}

TEST_F(TimeLineTest, DanglingCellsAreOverwrittenNotFollowed) {
  // A day record that points past its table (a damaged file) is booked as if empty.
  Line->Collections().Add("P");
  Line->CollectionByName("P").SetRecordNo1("20240101", DayOf({{5, 7}}));
  Line->CollectionByName("P").SetRecordNo1("OneHour", TJson::array());
  Put("c1", Contract("First", {Row("P", "f1", "01.01.2024", "01.01.2024", Times({{5, 5, 1}}), 127)}));
  ASSERT_TRUE(TL.AddContract("c1"));
  EXPECT_EQ(TL.Stats().DanglingCells, 1);
  EXPECT_EQ(PlaceOnDisk("P")["20240101"], DayOf({{5, 0}}));
  EXPECT_EQ(PlaceOnDisk("P")["OneHour"], TJson::array({Mix({Booking("c1", "f1", 1)}, 1)}));
}

// ---------------------------------------------------------------------------------------------
// Random sequences of additions, edits and deletions

namespace {

// Independent model: for every place, day and hour, the bookings the booked contracts make.
using TCellKey = std::tuple<std::string, std::string, int>;  // place, day id, hour
using TBookingKey = std::tuple<std::string, std::string, int>;  // contract, film, count

std::map<TCellKey, std::multiset<TBookingKey>> Expected(const std::map<std::string, TJson>& booked) {
  std::map<TCellKey, std::multiset<TBookingKey>> cells;
  for (const auto& [id, contract] : booked) {
    TSuperReference tracker;
    tracker.Silent = true;
    for (const auto& row : ContractRows(contract, {}, tracker))
      for (int64_t day : QualifyingDays(row))
        for (int h = 0; h < 24; ++h)
          if (row.TimesPerHour[static_cast<size_t>(h)] != 0)
            cells[{row.Place, DayRecordID(day), h}].insert({id, row.Film, row.TimesPerHour[static_cast<size_t>(h)]});
  }
  return cells;
}

}  // namespace

TEST_F(TimeLineTest, RandomSequencesKeepCountersEqualToTheCellsPointingAtEachMix) {
  std::mt19937 rng(20240101);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const std::vector<std::string> places = {"PA", "PB"};
  const std::vector<std::string> films = {"f1", "f2", "f3"};
  auto randomContract = [&](const std::string& name) {
    TJson c = Contract(name, {});
    int rows = pick(1, 3);
    for (int r = 0; r < rows; ++r) {
      int from = pick(1, 12), len = pick(0, 8);
      TJson times = TJson::array();
      int ranges = pick(1, 3);
      for (int k = 0; k < ranges; ++k) {
        int s = pick(0, 23), e = std::min(23, s + pick(0, 5));
        times.push_back({{"Start", s}, {"Stop", e}, {"Times", pick(1, 3)}});
      }
      int mask = pick(0, 3) == 0 ? 127 : pick(1, 127);
      c["Table"].push_back(Row(places[static_cast<size_t>(pick(0, 1))], films[static_cast<size_t>(pick(0, 2))],
                               DateToStr(EncodeDate(2024, 3, static_cast<unsigned>(from))),
                               DateToStr(EncodeDate(2024, 3, static_cast<unsigned>(from + len))), times, mask));
    }
    return c;
  };

  std::map<std::string, TJson> booked;  // what the model says is on the time line
  const int contractCount = 6;
  for (int i = 0; i < contractCount; ++i) Put("c" + std::to_string(i), randomContract("C" + std::to_string(i)));

  for (int step = 0; step < 160; ++step) {
    std::string id = "c" + std::to_string(pick(0, contractCount - 1));
    int action = pick(0, 9);
    if (action < 5) {
      ASSERT_TRUE(TL.AddContract(id)) << step;
      booked[id] = Contracts->CollectionByName("Contracts").GetRecord(id).value();
    } else if (action < 8) {
      ASSERT_TRUE(TL.DeleteContract(id)) << step;
      booked.erase(id);
    } else {
      // Edit the contract record; the time line keeps the copy it booked.
      Put(id, randomContract("C" + id));
    }

    // The file holds exactly what memory holds.
    TJson doc = Disk();
    ASSERT_TRUE(JsonEqual(doc, Line->JSON())) << step;
    // Booked copies are the model's.
    TJson copies = doc.contains("Contracts") ? doc["Contracts"] : TJson::object();
    ASSERT_EQ(copies.size(), booked.size()) << step;

    auto expected = Expected(booked);
    std::map<TCellKey, std::multiset<TBookingKey>> actual;
    for (const auto& place : places) {
      if (!doc.contains(place)) continue;
      const TJson& coll = doc[place];
      const TJson table = coll.contains("OneHour") ? coll["OneHour"] : TJson::array();
      ASSERT_TRUE(table.is_array());
      std::vector<int64_t> pointing(table.size(), 0);
      for (auto it = coll.begin(); it != coll.end(); ++it) {
        if (it.key() == "OneHour") continue;
        bool any = false;
        for (size_t h = 0; h < it.value().size(); ++h) {
          const TJson& v = it.value()[h];
          if (v.is_null()) continue;
          ASSERT_TRUE(v.is_number_integer()) << step;
          int k = v.get<int>();
          ASSERT_GE(k, 0);
          ASSERT_LT(static_cast<size_t>(k), table.size()) << step << " " << place << " " << it.key();
          ++pointing[static_cast<size_t>(k)];
          any = true;
          for (const auto& b : table[static_cast<size_t>(k)]["Tbl"])
            actual[{place, it.key(), static_cast<int>(h)}].insert(
                {b["Contr"].get<std::string>(), b["Film"].get<std::string>(), b["Count"].get<int>()});
        }
        ASSERT_TRUE(any) << "a day record without bookings stays: " << it.key();
      }
      for (size_t k = 0; k < table.size(); ++k) {
        // The counter of every entry equals the cells that point at it, so no cell points at
        // a free entry.
        ASSERT_EQ(table[k]["Cntr"].get<int64_t>(), pointing[k]) << "step " << step << " " << place << " mix " << k;
      }
      if (!table.empty()) {
        ASSERT_GT(table.back()["Cntr"].get<int64_t>(), 0) << step;
      }
    }
    ASSERT_EQ(actual, expected) << "step " << step;
  }
}
