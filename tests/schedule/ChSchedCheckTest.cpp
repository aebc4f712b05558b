#include <set>

#include "schedule/ChSchedCheck.h"
#include "schedule/ScheduleFixture.h"

namespace {

struct RecomputeTest : ScheduleDbTest {
  RecomputeTest() {
    AddChannel("ch", 0, "Movies");
    AddChannel("he", 1, "Live");
    AddChannel("cmd", 2, "Lights");
    AddFilm("a", "01:00:00,000");
    AddFilm("b", "00:30:00,000");
    AddFilm("long", "23:00:00,000");
    AddFilm("short", "00:00:02,000");
  }
  TChSchedRecompute Run(const TJson& rec) { return RecomputeChSched(*Db, "cs", rec, &Op); }
};

}  // namespace

TEST_F(RecomputeTest, NoChannelAndHeadEnd) {
  TJson rec = ChSched("", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("a")), Row("", 0, FilmRef("b"))});
  auto r = Run(rec);
  ASSERT_EQ(r.Rows.size(), 2u);
  EXPECT_EQ(r.Rows[1].Err[CalcStopped], "The channel isn't set!");
  EXPECT_EQ(r.Rows[0].Duration, "-");
  EXPECT_EQ(r.Rows[0].Times(), "-||||||||The channel isn't set!||");
  rec["Channel"] = Ref("Channels", "he");
  r = Run(rec);
  EXPECT_EQ(r.Rows[0].Err[CalcStopped], "It is impossible to set the schedule for the HeadEnd channel!");
}

TEST_F(RecomputeTest, RowsShowDurationsAndRanges) {
  auto r = Run(ChSched("ch", "1 00:00:00", false,
                       {Row("0 00:00:00", 0, FilmRef("a")), Row("", 0, FilmRef("b")),
                        Row("0 01:30:00", 0, FilmRef("long"))}));
  EXPECT_EQ(r.Rows[0].Times(), "00:00:00 - 01:00:00");
  EXPECT_EQ(r.Rows[0].Duration, "01:00:00");
  EXPECT_FALSE(r.Rows[0].HasError);
  EXPECT_EQ(r.Rows[1].Times(), "01:00:00 - 01:30:00");
  // The last row is cut by the period end: its own duration is shown, with the cut message.
  EXPECT_EQ(r.Rows[2].Range, "01:30:00 - 1 00:00:00");
  EXPECT_EQ(r.Rows[2].Duration, "23:00:00");
  EXPECT_EQ(r.Rows[2].Err[FilmRedused], "Film long.m2t is redused! Only first 22:30:00 will be broadcast!");
  EXPECT_FALSE(r.Period);
  EXPECT_TRUE(r.PeriodEnabled);
}

TEST_F(RecomputeTest, AutoPeriodRoundsUpToDays) {
  AddFilm("f26", "03:00:00,000");
  auto r = Run(ChSched("ch", "1 00:00:00", true, {Row("0 00:00:00", 0, FilmRef("long")), Row("", 0, FilmRef("f26"))}));
  ASSERT_TRUE(r.Period);
  EXPECT_NEAR(*r.Period, 2, 1e-9);
  EXPECT_FALSE(r.PeriodEnabled);
  // The gap up to the period end is an interruption.
  EXPECT_EQ(r.Rows[1].Err[Pause], "Interruption in the broadcast of 22:00:00 from 1 02:00:00 to 2 00:00:00");

  AddFilm("f2359", "23:59:59,000");
  r = Run(ChSched("ch", "1 00:00:00", true, {Row("0 00:00:00", 0, FilmRef("f2359"))}));
  ASSERT_TRUE(r.Period);
  EXPECT_NEAR(*r.Period, 1, 1e-9);
  // The last second up to the period end is a gap of more than 500 ms.
  EXPECT_EQ(r.Rows[0].Err[Pause], "Interruption in the broadcast of 00:00:01 from 23:59:59 to 1 00:00:00");
}

TEST_F(RecomputeTest, InterruptionAtTheEndOfThePeriod) {
  AddFilm("f499", "23:59:59,501");
  AddFilm("f501", "23:59:59,499");
  auto r = Run(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("f499"))}));
  EXPECT_TRUE(r.Rows[0].Err[Pause].empty());
  r = Run(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("f501"))}));
  EXPECT_FALSE(r.Rows[0].Err[Pause].empty());
  r = Run(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("a"))}));
  EXPECT_EQ(r.Rows[0].Err[Pause], "Interruption in the broadcast of 23:00:00 from 01:00:00 to 1 00:00:00");
  EXPECT_EQ(r.Rows[0].Times(), "00:00:00 - 01:00:00|||||Interruption in the broadcast of 23:00:00 from 01:00:00 to 1 00:00:00|||||");
}

TEST_F(RecomputeTest, TooShortMovie) {
  auto r = Run(ChSched("ch", "1 00:00:00", true, {Row("0 00:00:00", 0, FilmRef("short"))}));
  EXPECT_EQ(r.Rows[0].Err[ZeroDuration], "Too short movie!");
  EXPECT_EQ(r.Rows[0].Duration, "00:00:02");
}

TEST_F(RecomputeTest, PlaylistCutMessages) {
  AddList("pl", {FilmRef("a"), FilmRef("a")});
  auto r = Run(ChSched("ch", "1 00:00:00", false,
                       {Row("0 00:00:00", 1, ListRef("pl")), Row("0 01:30:00", 0, FilmRef("b"))}));
  EXPECT_EQ(r.Rows[0].Err[PlayListRedused], "Movies were removed from a playlist! Only first 01:00:00 will be broadcast!");
  EXPECT_EQ(r.Rows[0].Duration, "02:00:00");
  // Cut by the next row to nothing: the playlist is not broadcast.
  AddList("pl2", {FilmRef("b")});
  r = Run(ChSched("ch", "1 00:00:00", false,
                  {Row("0 00:00:00", 1, FilmRef("a")), Row("", 0, ListRef("pl2")), Row("0 01:00:00", 0, FilmRef("b"))}));
  EXPECT_TRUE(r.Rows[1].Err[PlayListRedused].empty());
  EXPECT_EQ(r.Rows[1].Err[FilmDeleted], "No place for the playlist. The playlist will not be broadcast!");
}

TEST_F(RecomputeTest, InvalidReferenceClearsOtherSlots) {
  auto r = Run(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("gone"))}));
  EXPECT_EQ(r.Rows[0].Err[InvalidReference], "Invalid reference.");
  EXPECT_EQ(r.Rows[0].Duration, "-");
  EXPECT_TRUE(r.Rows[0].Err[ZeroDuration].empty());
  EXPECT_TRUE(r.Rows[0].Err[Pause].empty());
}

TEST_F(RecomputeTest, TimeErrorKeepsOnlyItself) {
  auto r = Run(ChSched("ch", "2 00:00:00", false, {Row("1 06:00:00", 0, FilmRef("short"))}));
  EXPECT_EQ(r.Rows[0].Err[TimeErr], "In the first row day of the beginning of broadcasting must be zero!");
  EXPECT_TRUE(r.Rows[0].Err[ZeroDuration].empty());
  EXPECT_EQ(r.Rows[0].Duration, "00:00:02");
}

TEST_F(RecomputeTest, CommandChannel) {
  TJson cmds = TJson::parse(R"([{"stbpower":{"Method":"command","Value":"1","Delay":0}},
                                {"stbpower":{"Method":"command","Value":"0","Delay":30}}])");
  auto r = Run(ChSched("cmd", "1 00:00:00", true, {Row("0 06:00:00", 0, TJson(), cmds)}));
  EXPECT_EQ(r.Rows[0].Duration, "-");
  EXPECT_EQ(r.Rows[0].Times(), "06:00:00 - 06:00:30");
  ASSERT_TRUE(r.Period);
  EXPECT_NEAR(*r.Period, 1, 1e-9);
  // Without a start time in the first row: the last command's time, at least one minute.
  TJson one = TJson::parse(R"([{"stbpower":{"Method":"command","Value":"1","Delay":10}}])");
  r = Run(ChSched("cmd", "1 00:00:00", true, {Row("", 0, TJson(), one)}));
  ASSERT_TRUE(r.Period);
  EXPECT_NEAR(*r.Period, Hms(0, 1), 1e-9);
  EXPECT_EQ(r.Rows[0].Times(), "00:00:10");
}

TEST_F(RecomputeTest, BrokenPlaylistAborts) {
  EXPECT_THROW(Run(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, ListRef("nope"))})), EDbFException);
}

namespace {

TJson ShuffleTable() {
  auto row = [](const std::string& start, const TJson& content, const TJson& cmds) {
    return TJson::array({start, 0, content, cmds});
  };
  TJson c = TJson::parse(R"([{"stbmute":{"Method":"command","Value":"1"}}])");
  return TJson::array({row("0 00:00:00", FilmRef("f1"), TJson::array()), row("", FilmRef("f2"), c),
                       row("", ListRef("p1"), TJson::array()), row(" ", FilmRef("f3"), TJson::array()),
                       row("0 05:00:00", FilmRef("f4"), TJson::array()), row("", FilmRef("f5"), TJson::array())});
}

std::multiset<std::string> Contents(const TJson& t, size_t lo, size_t hi) {
  std::multiset<std::string> s;
  for (size_t i = lo; i <= hi; ++i) s.insert(t[i][2]["_ID"].get<std::string>());
  return s;
}

}  // namespace

TEST(ShuffleTest, MovesContentWithinBlocksOnly) {
  TJson t = ShuffleTable();
  bool moved = false;
  for (uint32_t seed = 1; seed < 20; ++seed) {
    TShuffleResult r = ShuffleRows(t, "1", "6", true, false, seed);
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(Contents(r.Table, 0, 3), Contents(t, 0, 3));
    EXPECT_EQ(Contents(r.Table, 4, 5), Contents(t, 4, 5));
    for (size_t i = 0; i < 6; ++i) {
      EXPECT_EQ(r.Table[i][0], t[i][0]);  // start times stay
      EXPECT_EQ(r.Table[i][1], t[i][1]);
      EXPECT_EQ(r.Table[i][3], t[i][3]);  // commands stay when they do not take part
    }
    moved = moved || r.Table != t;
    EXPECT_EQ(ShuffleRows(t, "1", "6", true, false, seed).Table, r.Table);  // repeatable
  }
  EXPECT_TRUE(moved);
}

TEST(ShuffleTest, PlaylistsStayWhenTheyDoNotTakePart) {
  TJson t = ShuffleTable();
  for (uint32_t seed = 1; seed < 30; ++seed) {
    TShuffleResult r = ShuffleRows(t, "1", "6", false, true, seed);
    EXPECT_EQ(r.Table[2], t[2]);
    for (size_t i = 0; i < 6; ++i)
      if (r.Table[i][2]["_ID"] == "f2") EXPECT_EQ(r.Table[i][3], t[1][3]);  // commands travel along
  }
}

TEST(ShuffleTest, RangesAndBadNumbers) {
  TJson t = ShuffleTable();
  EXPECT_EQ(ShuffleRows(t, "3", "2", true, true, 7).Table, t);
  EXPECT_FALSE(ShuffleRows(t, "3", "2", true, true, 7).Changed);
  EXPECT_EQ(ShuffleRows(t, "x", "2", true, true, 7).Error, "Error");
  EXPECT_EQ(ShuffleRows(t, "1", "2.5", true, true, 7).Error, "Error");
  // A last row beyond the table works up to the last row.
  bool changed = false;
  for (uint32_t seed = 1; seed < 20 && !changed; ++seed) {
    TShuffleResult r = ShuffleRows(t, "5", "99", true, true, seed);
    EXPECT_EQ(Contents(r.Table, 0, 3), Contents(t, 0, 3));
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(r.Table[i], t[i]);
    changed = r.Table != t;
  }
  EXPECT_TRUE(changed);
  EXPECT_TRUE(RowsHoldPlaylist(t, 0, 3));
  EXPECT_FALSE(RowsHoldPlaylist(t, 3, 5));
  EXPECT_TRUE(RowsHoldCommands(t, 1, 1));
  EXPECT_FALSE(RowsHoldCommands(t, 2, 5));
}

namespace {

// check-schedule --json of channel schedule "cs" in a new project made from Records.
TJson CheckScheduleJson(const std::string& records) {
  TTempDir dir;
  WriteFileBytes(dir.File("records.json"), records);
  EXPECT_EQ(RunCliIn(dir, "new r.pq2pr").Code, 0);
  TCliRun imp = RunCliIn(dir, "--project r.pq2pr import records.json");
  EXPECT_EQ(imp.Code, 0) << imp.Err;
  TCliRun r = RunCliIn(dir, "--project r.pq2pr --json check-schedule cs");
  EXPECT_EQ(r.Code, 0) << r.Err;
  return TJson::parse(r.Out);
}

}  // namespace

// The first row starts on day 1: the automatic period and the gap up to the end of the period
// count from that start, as the build limits the last row.
TEST(CheckScheduleGolden, FirstRowOnDayOne) {
  TJson out = CheckScheduleJson(R"({"Films":{"fA":{"Name":"A","FileName":"vod\\a.m2t","Duration":"00:30:00,000","ShowInSchedule":true,"KeepWithNext":false}},"Channels":{"ch":{"Name":"Ch","URL":"igmp://239.1.1.1:1234","Description":"","Type":0,"Play":false}},"ChSched":{"cs":{"Name":"CS","Channel":{"_ID":"ch","_CL":"Channels"},"AutoPeriod":true,"Period":"1 00:00:00","Table":[["1 06:00:00",0,{"_ID":"fA","_CL":"Films"},[]],["1 06:30:00",0,{"_ID":"fA","_CL":"Films"},[]]]}}})");
  TJson expected = TJson::parse(R"([
    {"Row": 1, "Times": "1 06:00:00 - 1 06:30:00", "Duration": "00:30:00",
     "Err": {"TimeErr": "In the first row day of the beginning of broadcasting must be zero!"},
     "HasError": true},
    {"Row": 2, "Times": "1 06:30:00 - 1 07:00:00", "Duration": "00:30:00",
     "Err": {"Pause": "Interruption in the broadcast of 23:00:00 from 1 07:00:00 to 2 06:00:00"},
     "HasError": true},
    {"Period": "1 00:00:00"}])");
  EXPECT_EQ(out, expected) << out.dump(2);
}

// A keep-with-next group that began inside a playlist row is removed by the next row: the
// marks stop at the playlist row, which still plays its first film; the row of the earlier
// interval is left alone.
TEST(CheckScheduleGolden, GroupRemovedInsideARowStaysInItsInterval) {
  TJson out = CheckScheduleJson(R"({"Films":{"fA":{"Name":"A","FileName":"vod\\a.m2t","Duration":"00:01:00,000","ShowInSchedule":true,"KeepWithNext":false},"fK":{"Name":"K","FileName":"vod\\k.m2t","Duration":"00:10:00,000","ShowInSchedule":true,"KeepWithNext":true},"fN":{"Name":"N","FileName":"vod\\n.m2t","Duration":"00:10:00,000","ShowInSchedule":true,"KeepWithNext":false}},"PlayLists":{"pAK":{"Name":"A then K","Table":[[{"_ID":"fA","_CL":"Films"}],[{"_ID":"fK","_CL":"Films"}]],"Repeat":1}},"Channels":{"ch":{"Name":"Ch","URL":"igmp://239.1.1.1:1234","Description":"","Type":0,"Play":false}},"ChSched":{"cs":{"Name":"CS","Channel":{"_ID":"ch","_CL":"Channels"},"AutoPeriod":false,"Period":"0 01:15:00","Table":[["0 00:00:00",1,{"_ID":"fA","_CL":"Films"},[]],["0 01:00:00",1,{"_ID":"pAK","_CL":"PlayLists"},[]],["",1,{"_ID":"fN","_CL":"Films"},[]]]}}})");
  TJson expected = TJson::parse(R"([
    {"Row": 1, "Times": "00:00:00 - 00:01:00", "Duration": "00:01:00",
     "Err": {"Pause": "Interruption in the broadcast of 00:59:00 from 00:01:00 to 01:00:00"},
     "HasError": true},
    {"Row": 2, "Times": "01:00:00 - 01:01:00", "Duration": "00:11:00",
     "Err": {"FilmDeleted": "No place for the movies group. Failed condition \"Keep With Next\""},
     "HasError": true},
    {"Row": 3, "Times": "-", "Duration": "00:10:00",
     "Err": {"FilmDeleted": "No place for the movies group. Failed condition \"Keep With Next\"",
             "Pause": "Interruption in the broadcast of 00:14:00 from 01:01:00 to 01:15:00"},
     "HasError": true}])");
  EXPECT_EQ(out, expected) << out.dump(2);
}


// Rows after content that did not fit play nothing: each says so and why, with no made-up
// duration message, and the gap before the next start is reported from the real end.
TEST_F(RecomputeTest, DroppedRowsSayWhy) {
  struct Case {
    int Typ;
    std::string Why;
  };
  AddList("two", {FilmRef("a"), FilmRef("a")});
  for (const Case& c : {Case{1, "row 1 does not fit before 01:30:00"}, Case{0, "row 2 does not fit before 01:30:00"}}) {
    SCOPED_TRACE(c.Typ);
    // Del: the playlist of row 1 loses its second film; Cut: row 2 finds no room left.
    auto r = Run(ChSched("ch", "1 00:00:00", false,
                         {Row("0 00:00:00", c.Typ, ListRef("two")), Row("", 0, FilmRef("b")),
                          Row("", 0, FilmRef("short")), Row("0 01:30:00", 0, FilmRef("b"))}));
    const TChSchedRowView& dropped = r.Rows[c.Typ == 1 ? 1 : 2];
    EXPECT_EQ(dropped.Err[FilmDeleted], "The row is dropped: the content of " + c.Why +
                                            ", so nothing after it up to the next start time is broadcast.");
    EXPECT_EQ(dropped.Duration, "-");
    EXPECT_EQ(dropped.Range, "-");
    for (const TChSchedRowView& v : r.Rows) {
      EXPECT_EQ(v.Err[ZeroDuration], "");
      EXPECT_EQ(v.Err[Pause].find("from 00:00:00"), std::string::npos) << v.Err[Pause];
    }
  }
}
