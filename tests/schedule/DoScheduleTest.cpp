#include "schedule/DoSchedule.h"
#include "schedule/ScheduleFixture.h"

namespace {

struct BuilderTest : ScheduleDbTest {
  TSchedule Sh{Db.get()};
  std::vector<TOneFilmInfo> Rows;
  BuilderTest() {
    AddChannel("ch", 0, "Movies");
    AddChannel("he", 1, "Live");
    AddChannel("cmd", 2, "Commands");
    AddFilm("a", "01:00:00,000");
    AddFilm("b", "00:30:00,000");
    AddFilm("short", "00:00:02,000");
  }
  // Check mode; returns the message of an abort ("" when none).
  std::string Check(const TJson& rec) {
    TSuperReference sr(&Op);
    try {
      ChannelBuild(sr, *Db, "cs", rec, Sh, Rows, true);
    } catch (const EDbFException& e) {
      return e.what();
    }
    return "";
  }
  std::string Build(const TJson& rec) {
    Col("ChSched").SetRecordNo1("cs", rec);
    TSuperReference sr(&Op);
    try {
      ChannelBuild(sr, *Db, "cs", rec, Sh, Rows, false);
    } catch (const EDbFException& e) {
      return e.what();
    }
    return "";
  }
};

}  // namespace

TEST_F(BuilderTest, InterruptionBetweenRows) {
  AddList("two", {FilmRef("a"), FilmRef("a")});
  ASSERT_EQ(Check(ChSched("ch", "1 00:00:00", false,
                          {Row("0 00:00:00", 0, ListRef("two")), Row("0 03:00:00", 0, FilmRef("b"))})),
            "");
  ASSERT_EQ(Sh.Intervals.size(), 2u);
  EXPECT_NEAR(Sh.Intervals[0]->TempEndTime, Hms(2), 1e-9);
  EXPECT_NEAR(Sh.Intervals[0]->EndTime, Hms(3), 1e-9);
  EXPECT_EQ(Rows[0].Err[Pause], "Interruption in the broadcast of 01:00:00 from 02:00:00 to 03:00:00");
  EXPECT_NEAR(Rows[0].Duration, Hms(2), 1e-9);
  EXPECT_TRUE(Rows[1].Err[Pause].empty());
}

TEST_F(BuilderTest, InterruptionThresholdIsHalfASecond) {
  AddFilm("f499", "00:59:59,501");
  AddFilm("f501", "00:59:59,499");
  Check(ChSched("ch", "1 00:00:00", false,
                {Row("0 00:00:00", 0, FilmRef("f499")), Row("0 01:00:00", 0, FilmRef("b"))}));
  EXPECT_EQ(Rows[0].Err[Pause], "");
  Check(ChSched("ch", "1 00:00:00", false,
                {Row("0 00:00:00", 0, FilmRef("f501")), Row("0 01:00:00", 0, FilmRef("b"))}));
  EXPECT_NE(Rows[0].Err[Pause], "");
  EXPECT_EQ(Rows[0].Err[Pause].rfind("Interruption in the broadcast of ", 0), 0u);
}

TEST_F(BuilderTest, RepeatPlaysTheTableInOrder) {
  AddList("ab", {FilmRef("a"), FilmRef("b")}, 3);
  ASSERT_EQ(Build(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, ListRef("ab"))})), "");
  ASSERT_EQ(Sh.Intervals.size(), 1u);
  const auto& notes = Sh.Intervals[0]->ScheduleNotes;
  ASSERT_EQ(notes.size(), 6u);
  std::string order;
  for (const auto& n : notes) order += n.Film->_ID;
  EXPECT_EQ(order, "ababab");
  EXPECT_NEAR(notes[5].DateTime, Hms(4), 1e-9);  // after A B A B A: 1 + 0:30 + 1 + 0:30 + 1
}

TEST_F(BuilderTest, RepeatZeroPlacesNothing) {
  AddList("none", {FilmRef("a")}, 0);
  ASSERT_EQ(Build(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, ListRef("none"))})), "");
  EXPECT_EQ(Sh.Intervals[0]->NotesCount(), 0u);
}

TEST_F(BuilderTest, CircularPlaylistsAbort) {
  AddList("p1", {FilmRef("a"), ListRef("p2")});
  AddList("p2", {ListRef("p1")});
  std::string err = Build(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, ListRef("p1"))}));
  EXPECT_EQ(err, "Error in record: PlayLists p2. Circular reference.");
  AddList("self", {ListRef("self")});
  Sh.Intervals.clear();
  EXPECT_EQ(Check(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, ListRef("self"))})),
            "Error in record: PlayLists self. Circular reference.");
}

TEST_F(BuilderTest, HeadEndChannelAlwaysAborts) {
  std::string err = Check(ChSched("he", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("a"))}));
  EXPECT_NE(err.find("It is impossible to create a schedule for headend channel!"), std::string::npos);
  EXPECT_TRUE(Sh.Intervals.empty());
}

TEST_F(BuilderTest, FirstRowMustStartOnDayZero) {
  Check(ChSched("ch", "2 00:00:00", false, {Row("1 06:00:00", 0, FilmRef("a"))}));
  EXPECT_EQ(Rows[0].Err[TimeErr], "In the first row day of the beginning of broadcasting must be zero!");
  std::string err = Build(ChSched("ch", "2 00:00:00", false, {Row("1 06:00:00", 0, FilmRef("a"))}));
  EXPECT_EQ(err, "Error in record: ChSched sched. Row \"1\". In the first row day of the beginning of broadcasting must be zero!");
}

TEST_F(BuilderTest, CommandChannelPeriodAtLeastOneMinute) {
  TJson cmds = TJson::parse(R"([{"stbpower":{"Method":"command","Value":"0","Delay":0}}])");
  Check(ChSched("cmd", "0 00:00:30", false, {Row("0 00:00:00", 0, TJson(), cmds)}));
  EXPECT_EQ(Rows[0].Err[Period], "Period must be greater than 00:01:00");
  ASSERT_EQ(Sh.Intervals.size(), 1u);
  EXPECT_NEAR(Sh.Intervals[0]->TempEndTime - Sh.Intervals[0]->StartTime, Hms(0, 0, 40), 1e-9);
  EXPECT_NEAR(Sh.Intervals[0]->EndTime, Hms(0, 0, 40), 1e-9);
  EXPECT_EQ(Sh.Intervals[0]->CmdCount(), 1u);
}

TEST_F(BuilderTest, CommandChannelRowsShareOneInterval) {
  TJson on = TJson::parse(R"([{"stbpower":{"Method":"command","Value":"1","Delay":0}}])");
  TJson off = TJson::parse(R"([{"stbpower":{"Method":"command","Value":"0","Delay":5}}])");
  Check(ChSched("cmd", "1 00:00:00", false,
                {Row("0 06:00:00", 0, TJson(), on), Row("0 22:00:00", 0, TJson(), off)}));
  ASSERT_EQ(Sh.Intervals.size(), 1u);
  const auto& in = *Sh.Intervals[0];
  ASSERT_EQ(in.CmdCount(), 2u);
  EXPECT_NEAR(in.ScheduleCmd[1].DateTime, Hms(22, 0, 5), 1e-9);
  EXPECT_NEAR(Rows[1].Start, Hms(22, 0, 5), 1e-9);
  EXPECT_NEAR(in.EndTime, Hms(30), 1e-9);
}

TEST_F(BuilderTest, AutoPeriodForcesTheLastTimedRowToCut) {
  Check(ChSched("ch", "99999 00:00:00", true, {Row("0 00:00:00", 1, FilmRef("a"))}));
  EXPECT_EQ(Sh.Intervals[0]->Typ, Cut);
  EXPECT_EQ(Rows[0].IntervalTyp, Cut);
  Sh.Intervals.clear();
  Check(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 1, FilmRef("a"))}));
  EXPECT_EQ(Sh.Intervals[0]->Typ, Del);
}

TEST_F(BuilderTest, RowsAfterAPlaylistWithoutRoomAreDropped) {
  AddList("long", {FilmRef("a"), FilmRef("a")});
  ASSERT_EQ(Check(ChSched("ch", "1 00:00:00", false,
                          {Row("0 00:00:00", 1, ListRef("long")), Row("", 0, FilmRef("b")),
                           Row("0 01:30:00", 0, FilmRef("b"))})),
            "");
  EXPECT_EQ(Rows[0].Err[PlayListRedused], "Reduced");
  EXPECT_TRUE(Rows[0].Err[FilmDeleted].empty());
  EXPECT_TRUE(Rows[1].Dropped);  // skipped: plays nothing, at the end of what was placed
  EXPECT_NEAR(Rows[1].Start, Hms(1), 1e-9);
  EXPECT_NEAR(Rows[1].EndT, Hms(1), 1e-9);
  EXPECT_EQ(Sh.Intervals[0]->NotesCount(), 1u);
  ASSERT_EQ(Sh.Intervals.size(), 2u);
  EXPECT_EQ(Sh.Intervals[1]->NotesCount(), 1u);  // the timed row is placed again
  EXPECT_NEAR(Rows[2].Start, Hms(1, 30), 1e-9);
}

TEST_F(BuilderTest, FilmThatDoesNotFitIsReported) {
  Check(ChSched("ch", "1 00:00:00", false,
                {Row("0 00:00:00", 1, FilmRef("b")), Row("", 0, FilmRef("a")),
                 Row("0 01:00:00", 0, FilmRef("b"))}));
  EXPECT_EQ(Rows[1].Err[FilmDeleted], "No place for the movie. The Movie will not be broadcast!");
  EXPECT_TRUE(Rows[1].HasError);
  EXPECT_NEAR(Rows[1].Duration, Hms(1), 1e-9);  // the content's own duration
}

TEST_F(BuilderTest, ReducedFilmMessage) {
  Check(ChSched("ch", "1 00:00:00", false,
                {Row("0 00:00:00", 0, FilmRef("a")), Row("0 00:40:00", 0, FilmRef("b"))}));
  EXPECT_EQ(Rows[0].Err[FilmRedused], "Film a.m2t is redused! Only first 00:40:00 will be broadcast!");
  EXPECT_NEAR(Rows[0].Duration, Hms(1), 1e-9);
  EXPECT_NEAR(Rows[0].EndT, Hms(0, 40), 1e-9);
}

TEST_F(BuilderTest, KeepWithNextGroupAcrossRows) {
  AddFilm("k", "00:20:00,000", true);
  Check(ChSched("ch", "1 00:00:00", false,
                {Row("0 00:00:00", 1, FilmRef("b")), Row("", 0, FilmRef("k")), Row("", 0, FilmRef("b")),
                 Row("0 01:00:00", 0, FilmRef("b"))}));
  std::string msg = "No place for the movies group. Failed condition \"Keep With Next\"";
  EXPECT_EQ(Rows[1].Err[FilmDeleted], msg);
  EXPECT_EQ(Rows[2].Err[FilmDeleted], msg);
  EXPECT_TRUE(Rows[0].Err[FilmDeleted].empty());
  EXPECT_NEAR(Rows[1].Start, Hms(0, 30), 1e-9);
  EXPECT_NEAR(Rows[2].EndT, Hms(0, 30), 1e-9);
}

TEST_F(BuilderTest, BadStartOrderReportsTimeError) {
  Check(ChSched("ch", "1 00:00:00", false,
                {Row("0 00:00:00", 0, FilmRef("b")), Row("0 05:00:00", 0, FilmRef("b")),
                 Row("0 02:00:00", 0, FilmRef("b"))}));
  EXPECT_EQ(Rows[1].Err[TimeErr], "Error in column \"Start time\". Time must be less than 02:00:00");
}

TEST_F(BuilderTest, LastRowBeyondThePeriod) {
  Check(ChSched("ch", "0 01:00:00", false,
                {Row("0 00:00:00", 0, FilmRef("b")), Row("0 02:00:00", 0, FilmRef("b"))}));
  EXPECT_EQ(Rows[1].Err[Period], "Period must be greater than 02:00:00");
}

TEST_F(BuilderTest, NegativeDelayInBuildModeAborts) {
  TJson cmds = TJson::parse(R"([{"stbmute":{"Method":"command","Value":"1","Delay":-3}}])");
  std::string err = Build(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("a"), cmds)}));
  EXPECT_EQ(err, "Error in record: ChSched sched. Row \"1\". Invalid delay value of the first command!");
}

TEST_F(BuilderTest, MissingFilmInCheckModeIsAPlaceholder) {
  Check(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("gone"))}));
  EXPECT_EQ(Rows[0].Duration, InvalidFilmDuration);
  std::string err = Build(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("gone"))}));
  EXPECT_EQ(err, "Error in record: ChSched sched. Invalid reference.");
}

TEST_F(BuilderTest, BuildScheduleRunsEveryChannelSchedule) {
  AddChannel("ch2", 0, "Second");
  Col("ChSched").SetRecordNo1("c1", ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("a"))}));
  Col("ChSched").SetRecordNo1("c2", ChSched("ch2", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("b"))}));
  Col("Schedules").SetRecordNo1("s", {{"Name", "Week"}, {"Table", {{Ref("ChSched", "c1")}, {Ref("ChSched", "c2")}}}});
  auto sh = BuildSchedule("s", *Db, &Op);
  ASSERT_TRUE(sh);
  EXPECT_EQ(sh->Name, "Week");
  EXPECT_EQ(sh->ChannelsId, (std::vector<std::string>{"ch", "ch2"}));
  Col("ChSched").SetRecordNo1("c2", ChSched("ch2", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("zz"))}));
  EXPECT_FALSE(BuildSchedule("s", *Db, &Op));
  EXPECT_EQ(Op.Messages.back().Caption, "Error in record: ChSched sched. Invalid reference.");
}

TEST_F(BuilderTest, SummaryTextAndJson) {
  AddFilm("hidden", "00:10:00,000", false, "", "Hidden", false);
  AddList("pl", {FilmRef("a"), FilmRef("hidden"), FilmRef("a")});
  Check(ChSched("ch", "1 00:00:00", false, {Row("0 06:00:00", 0, ListRef("pl"))}));
  std::vector<std::string> memo;
  TJson js = ScheduleSummary(*Db, Sh, &memo, true, false, true, false);
  std::vector<std::string> want = {"", "Channel: Movies", "Intervals: (06:00:00-08:10:00)", "Movies:",
                                   "  06:00:00  07:10:00  \"a\"   number of playbacks 2"};
  EXPECT_EQ(memo, want);
  EXPECT_EQ(js, TJson::parse(R"({"ch": [["06:00 07:10", "a"]]})"));
  memo.clear();
  ScheduleSummary(*Db, Sh, &memo, false, true, false, false);
  EXPECT_EQ(memo[2], "Intervals: (06:00-08:10)");
  EXPECT_EQ(memo[4], "a number of playbacks 2");
  EXPECT_EQ(memo[5], "Hidden number of playbacks 1");
}

// A row whose start goes back before the row above is flagged in its start-time slot, and the
// build refuses it, whether the start is 0 00:00:00 or any later time.
TEST_F(BuilderTest, StartGoingBackIsAnErrorEvenAtZero) {
  struct Case {
    std::string NextStart, Shown;
  };
  for (const Case& c : {Case{"0 00:00:00", "00:00:00"}, Case{"0 00:00:01", "00:00:01"}}) {
    SCOPED_TRACE(c.NextStart);
    Sh.Intervals.clear();
    AddList("ten", {FilmRef("a"), FilmRef("a"), FilmRef("a"), FilmRef("a"), FilmRef("a"),
                    FilmRef("a"), FilmRef("a"), FilmRef("a"), FilmRef("a"), FilmRef("a")});
    TJson rec = ChSched("ch", "1 00:00:00", false,
                        {Row("0 06:00:00", 0, FilmRef("a")), Row(c.NextStart, 0, ListRef("ten"))});
    ASSERT_EQ(Check(rec), "");
    EXPECT_EQ(Rows[0].Err[TimeErr], "Error in column \"Start time\". Time must be less than " + c.Shown);
    EXPECT_TRUE(Rows[0].HasError);
    EXPECT_EQ(Build(rec), "Error in record: ChSched sched. Row \"1\". Error in column \"Start time\". "
                          "Time must be less than " + c.Shown);
  }
}

TEST_F(BuilderTest, OverlappingIntervalsOfOneChannelAreRefused) {
  Col("ChSched").SetRecordNo1("cs", ChSched("ch", "1 00:00:00", false, {}));
  TScheduleInterval* later = Sh.AddInterval("ch", Hms(6), Hms(7), 1, Cut, true);
  later->TempEndTime = Hms(7);
  later->SourceRow = 1;  // the row the earlier interval runs into is named
  Sh.AddInterval("ch", 0, Hms(10), 1, Cut, true)->TempEndTime = Hms(10);
  TSuperReference sr(&Op);
  sr.Push(Col("ChSched"), "cs", false);
  try {
    CheckNoOverlap(sr, Sh, 0);
    FAIL() << "overlap not refused";
  } catch (const EDbFException& e) {
    EXPECT_EQ(std::string(e.what()), "Error in record: ChSched sched. Row \"2\". Two intervals of one channel "
                                     "overlap: 00:00:00 - 10:00:00 and 06:00:00 - 07:00:00");
  }
  TSuperReference ok(&Op);
  Sh.Intervals[1]->TempEndTime = Hms(6);  // touching is not overlapping
  EXPECT_NO_THROW(CheckNoOverlap(ok, Sh, 0));
}

// A row without content (just added) is its own error in check mode, with no box and the other
// rows unchanged; the build refuses it naming the row.
TEST_F(BuilderTest, RowWithoutContentIsARowError) {
  for (const TJson& empty : {TJson(), TJson::object(), TJson{{"_ID", ""}, {"_CL", ""}}, FilmRef("")}) {
    SCOPED_TRACE(empty.dump());
    Sh.Intervals.clear();
    Op.Messages.clear();
    TJson rec = ChSched("ch", "1 00:00:00", false,
                        {Row("0 00:00:00", 0, FilmRef("a")), Row("", 0, empty), Row("", 0, FilmRef("b"))});
    ASSERT_EQ(Check(rec), "");
    EXPECT_TRUE(Op.Messages.empty());
    EXPECT_EQ(Rows[1].Err[InvalidReference], EmptyContentMessage);
    EXPECT_TRUE(Rows[1].HasError);
    EXPECT_NEAR(Rows[0].EndT, Hms(1), 1e-9);
    EXPECT_NEAR(Rows[2].Start, Hms(1), 1e-9);
    EXPECT_NEAR(Rows[2].Duration, Hms(0, 30), 1e-9);
    EXPECT_EQ(Build(rec), std::string("Error in record: ChSched sched. Row \"2\". ") + EmptyContentMessage);
  }
}

// Builds of one run (every server at once) read each film once: the same film object serves
// them all, and the films are indexed once; builds outside a run read for themselves.
TEST_F(BuilderTest, BuildsOfOneRunReadEachFilmOnce) {
  Col("ChSched").SetRecordNo1("cs", ChSched("ch", "0 01:30:00", false, {Row("0 00:00:00", 0, FilmRef("a")),
                                                                        Row("", 0, FilmRef("b"))}));
  Col("Schedules").SetRecordNo1("s", {{"Name", "Week"}, {"Table", {{{{"_ID", "cs"}, {"_CL", "ChSched"}}}}}});
  auto filmOf = [](const TSchedule& sh, size_t note) { return sh.Intervals.at(0)->ScheduleNotes.at(note).Film; };
  for (bool inRun : {false, true}) {
    SCOPED_TRACE(inRun ? "one run" : "separate builds");
    std::optional<TSharedBuildRun> run;
    if (inRun) run.emplace();
    std::unique_ptr<TSchedule> first = BuildSchedule("s", *Db, &Op);
    std::unique_ptr<TSchedule> second = BuildSchedule("s", *Db, &Op);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(filmOf(*first, 0) == filmOf(*second, 0), inRun);
    EXPECT_EQ(filmOf(*first, 1) == filmOf(*second, 1), inRun);
    if (inRun) EXPECT_EQ(run->Index().Rebuilds(), 1);  // the films, indexed once for both builds
  }
  EXPECT_EQ(TSharedBuildRun::Current(), nullptr);
}
