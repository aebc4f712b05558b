// Command offsets that keep their sign, and command lists that check mode reports instead of
// letting "Create files" fail later; the texts of commands and command lists.
#include "schedule/ChSchedCheck.h"
#include "schedule/DoSchedule.h"
#include "schedule/ScheduleFixture.h"

namespace {

struct CommandFaultsTest : ScheduleDbTest {
  TTempDir Tmp;
  int Packages = 0;
  CommandFaultsTest() {
    AddChannel("ch", 0, "Movies");
    AddChannel("cmd", 2, "Lights");
    AddFilm("a", "01:00:00,000");
    AddFilm("b", "00:30:00,000");
  }
  static TJson Mute(double delay) {
    return TJson::array({{{"stbmute", {{"Method", "command"}, {"Value", "1"}, {"Delay", delay}}}}});
  }
  // Check mode: the row results.
  std::vector<TOneFilmInfo> Check(const TJson& rec) {
    TSchedule sh(Db.get());
    std::vector<TOneFilmInfo> rows;
    TSuperReference sr(&Op);
    ChannelBuild(sr, *Db, "cs", rec, sh, rows, true);
    return rows;
  }
  // Build mode and export: the abort message ("" when none) and the command playlists' lines.
  std::string BuildAndExport(const TJson& rec, std::vector<std::string>& cmdLines) {
    Col("ChSched").SetRecordNo1("cs", rec);
    TSchedule sh(Db.get());
    sh.Name = "s";
    std::vector<TOneFilmInfo> rows;
    TSuperReference sr(&Op);
    try {
      ChannelBuild(sr, *Db, "cs", rec, sh, rows, false);
    } catch (const EDbFException& e) {
      return e.what();
    }
    std::unique_ptr<TFilmListArray> pls, cmdp;
    TUsedFilms used;
    TJson value;
    std::string video = Tmp.File("video");
    std::filesystem::create_directories(video);
    for (const char* f : {"a.m2t", "b.m2t"}) WriteFileBytes(video + "/" + f, "x");
    // A package folder of its own: playlists already there would be read back.
    std::string pkg = Tmp.File("pkg" + std::to_string(++Packages)) + "/";
    std::string err = MakeScheduleFiles(sh, *Db, pkg, video, "20151116T060000", pls, cmdp, used,
                                        value, Op);
    for (const auto& l : cmdp->Items)
      for (const std::string& line : l->Items) cmdLines.push_back(line);
    return err;
  }
};

}  // namespace

// A negative delay at the start of a later interval would fire before that interval starts; the
// playlist has no sign for it. Check mode names it in the row's command slot, the build stops,
// and a negative delay inside an interval is written as the earlier offset it is.
TEST_F(CommandFaultsTest, NegativeDelayNeverPrecedesItsInterval) {
  struct {
    const char* name;
    const char* row1Start;
    double delay;
    const char* checkErr;
    const char* buildErr;
    std::vector<std::string> lines;
  } cases[] = {
      {"new interval, -10 s", "0 01:00:00", -10, CommandBeforeStartMessage,
       "Error in record: ChSched sched. Row \"2\". Invalid delay value of the first command!", {}},
      {"continuing row, -10 s", "", -10, "", "", {"3590.000: stbmute 1"}},
      {"new interval, +10 s", "0 01:00:00", 10, "", "", {"10.000: stbmute 1"}},
      {"new interval, 0 s", "0 01:00:00", 0, "", "", {"onstart: stbmute 1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TJson rec = ChSched("ch", "0 02:00:00", false,
                        {Row("0 00:00:00", 0, FilmRef("a")), Row(c.row1Start, 0, FilmRef("b"), Mute(c.delay))});
    std::vector<TOneFilmInfo> rows = Check(rec);
    EXPECT_EQ(rows[1].Err[TimeErr], c.checkErr);
    std::vector<std::string> lines;
    EXPECT_EQ(BuildAndExport(rec, lines), c.buildErr);
    EXPECT_EQ(lines, c.lines);
  }
}

// Should a schedule ever hold a command before its interval, the export refuses it and writes
// no playlist with an unsigned offset.
TEST_F(CommandFaultsTest, ExportRefusesACommandBeforeItsInterval) {
  TSchedule sh(Db.get());
  sh.Name = "s";
  TScheduleInterval* in = sh.AddInterval("cmd", Hms(1), 0, 1, Cut, false);
  in->TempEndTime = Hms(1, 1);
  in->ScheduleCmd.push_back({Hms(0, 59, 50), "stbmute 1"});
  std::unique_ptr<TFilmListArray> pls, cmdp;
  TUsedFilms used;
  TJson value;
  std::string err = MakeScheduleFiles(sh, *Db, Tmp.File("pkg") + "/", Tmp.File("video"),
                                      "20151116T060000", pls, cmdp, used, value, Op);
  EXPECT_EQ(err, CommandBeforeStartMessage);
  EXPECT_FALSE(std::filesystem::exists(Tmp.File("pkg/json/20151116T060000/0.cmdp")));
}

// A delay of an hour or more cannot be written; it is not a "must be positive" matter.
TEST_F(CommandFaultsTest, DelayOfAnHourOrMore) {
  for (double d : {3600.0, -3600.0, 4000.5}) {
    std::vector<TOneFilmInfo> rows =
        Check(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("a"), Mute(d))}));
    EXPECT_EQ(rows[0].Err[TimeErr], DelayTooLongMessage) << d;
  }
  std::vector<TOneFilmInfo> rows =
      Check(ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("a"), Mute(3599.9))}));
  EXPECT_EQ(rows[0].Err[TimeErr], "");
}

// Malformed command lists are reported in check mode, with the message the build then stops
// with; an empty object (what older editors stored in new rows) holds no command.
TEST_F(CommandFaultsTest, MalformedCommandsAreReportedInCheckMode) {
  const std::string twoKeys = InvalidCommandMessage(1);
  struct {
    const char* name;
    TJson cmds;
    std::string checkErr;
    std::string buildErr;
  } cases[] = {
      {"two keys",
       TJson::parse(R"([{"stbmute":{"Method":"command","Value":"1"}},
                        {"stbmute":{"Method":"command","Value":"1"},"tvmute":{"Method":"command","Value":"1"}}])"),
       twoKeys, "Error in record: ChSched sched. Row \"1\". " + twoKeys},
      {"value not an object", TJson::parse(R"([{"stbmute":5}])"), InvalidCommandMessage(0),
       "Error in record: ChSched sched. Row \"1\". " + InvalidCommandMessage(0)},
      {"element not an object", TJson::parse(R"(["stbmute"])"), InvalidCommandMessage(0),
       "Error in record: ChSched sched. Row \"1\". " + InvalidCommandMessage(0)},
      {"cell not an array", TJson::parse(R"({"stbmute":{"Method":"command"}})"), InvalidCommandListMessage,
       std::string("Error in record: ChSched sched. Row \"1\". ") + InvalidCommandListMessage},
      {"empty object", TJson::object(), "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TJson rec = ChSched("ch", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("a"), c.cmds)});
    EXPECT_EQ(Check(rec)[0].Err[TimeErr], c.checkErr);
    std::vector<std::string> lines;
    EXPECT_EQ(BuildAndExport(rec, lines), c.buildErr);
  }
}

// A command channel whose period is under a minute is told so once per row.
TEST_F(CommandFaultsTest, ShortPeriodOfACommandChannelOnce) {
  const std::string msg = "Period must be greater than 00:01:00";
  for (const char* period : {"0 00:00:00", "0 00:00:30"}) {
    SCOPED_TRACE(period);
    TJson rec = ChSched("cmd", period, false, {Row("0 00:00:00", 0, TJson::object(), Mute(0))});
    EXPECT_EQ(Check(rec)[0].Err[Period], msg);
    TChSchedRecompute r = RecomputeChSched(*Db, "cs", rec, &Op);
    EXPECT_EQ(r.Rows[0].Err[Period], msg);
  }
}

TEST_F(CommandFaultsTest, TextsOfCommandsAndLists) {
  TJson list = TJson::parse(R"([
    {"stbmute":{"Method":"command","Value":"1","Delay":0}},
    {"channel":{"Method":"command","Value":"ch"}},
    {"channel":{"Method":"command","Value":"gone"}},
    {"none":{"Method":"start_channel","Value":"cmd","Time":"0 00:00:05"}},
    {"mystery":{"Method":"command","Value":"1"}}
  ])");
  EXPECT_EQ(CmdListText(*Db, list),
            "STB mute; Set channel Movies; Set channel; Start channel Lights; ???");
  EXPECT_EQ(CmdListText(*Db, TJson::object()), "");
  EXPECT_EQ(CmdListText(*Db, TJson::array()), "");
  EXPECT_EQ(CmdNodeText(*Db, TJson::parse(R"({"stbmute":{"Method":"other","Value":"1"}})")), "???");
}

TEST(CommandDialogRulesTest, DefaultObjectsAndOptionEditors) {
  EXPECT_TRUE(DefaultCmdObject(cmdTable[0]).is_null());  // a heading
  EXPECT_EQ(DefaultCmdObject(cmdTable[3]),
            TJson::parse(R"({"stbmute":{"Method":"command","Value":"1","Delay":0}})"));
  EXPECT_EQ(DefaultCmdObject(cmdTable[25]),
            TJson::parse(R"({"none":{"Method":"setvariable","Value":"","Delay":0}})"));
  // Every default object finds its own row again.
  for (size_t i = 0; i < cmdTable.size(); ++i)
    if (!cmdTable[i].meth.empty()) EXPECT_EQ(FindCmdTableRowIndex(DefaultCmdObject(cmdTable[i])), int(i));

  TCmdOptionView page = CmdOptionView(cmdTable[23]);  // "Show Web-page"
  EXPECT_TRUE(page.Delay && page.Time && page.Cust1 && page.Cust2);
  EXPECT_FALSE(page.Channel || page.Text);
  EXPECT_EQ(page.TimeCaption, "Timeout");
  EXPECT_EQ(page.Cust1Caption + "/" + page.Cust1Key, "Web page/WPage");
  EXPECT_EQ(page.Cust2Caption + "/" + page.Cust2Key, "HTML-element/Value");
  TCmdOptionView var = CmdOptionView(cmdTable[25]);  // "Set variable"
  EXPECT_TRUE(var.Cust1 && var.Cust2 && !var.Time);
  EXPECT_EQ(var.Cust1Caption + "/" + var.Cust1Key, "Variable name/Value");
  EXPECT_EQ(var.Cust2Caption + "/" + var.Cust2Key, "Variable value/Val2");
  TCmdOptionView start = CmdOptionView(cmdTable[16]);  // "Start channel"
  EXPECT_TRUE(start.Channel && start.Time && !start.Cust1 && !start.Text);
  EXPECT_EQ(start.TimeCaption, "Start time");
  EXPECT_TRUE(CmdOptionView(cmdTable[24]).Text);
}

// The editor keeps one record index between recomputes: a film changed, added or deleted in
// between is seen by the next recompute.
TEST_F(CommandFaultsTest, KeptRecordIndexFollowsTheProject) {
  auto index = std::make_shared<TScheduleRecordIndex>();
  TJson rec = ChSched("ch", "1 00:00:00", true, {Row("0 00:00:00", 0, FilmRef("a")), Row("", 0, FilmRef("c"))});
  auto run = [&] { return RecomputeChSched(*Db, "cs", rec, &Op, index); };
  TChSchedRecompute r = run();
  EXPECT_EQ(r.Rows[0].Duration, "01:00:00");
  EXPECT_EQ(r.Rows[1].Err[InvalidReference], "Invalid reference.");
  const int built = index->Rebuilds();
  EXPECT_EQ(run().Rows[0].Duration, "01:00:00");
  EXPECT_EQ(index->Rebuilds(), built);  // nothing changed: nothing indexed again
  AddFilm("a", "02:00:00,000");          // changed in place
  EXPECT_EQ(run().Rows[0].Duration, "02:00:00");
  for (int i = 0; i < 50; ++i) AddFilm("x" + std::to_string(i), "00:01:00,000");  // storage grows
  AddFilm("c", "00:10:00,000");
  r = run();
  EXPECT_EQ(r.Rows[1].Duration, "00:10:00");
  EXPECT_EQ(r.Rows[1].Err[InvalidReference], "");
  Col("Films").DelRecord("a");
  EXPECT_EQ(run().Rows[0].Duration, "-");
}

// The dialog shows "0 00:00:00" for a command with a start time or a timeout that holds none;
// that is what gets stored. Commands without a time get none; a time given stays.
TEST(CommandDialogRulesTest, ShownTimeIsStored) {
  struct Case {
    const char* Command;
    const char* Time;  // nullptr: no "Time" after completing
  };
  for (const Case& c : {Case{R"({"showtext":{"Method":"command","Value":"t","Delay":0}})", "0 00:00:00"},
                        Case{R"({"showpage":{"Method":"command","Value":"f","WPage":"a.html"}})", "0 00:00:00"},
                        Case{R"({"none":{"Method":"start_channel","Value":"ch","Time":"  "}})", "0 00:00:00"},
                        Case{R"({"none":{"Method":"start_channel","Value":"ch","Time":"0 06:00:00"}})", "0 06:00:00"},
                        Case{R"({"stbpower":{"Method":"command","Value":"1","Delay":0}})", nullptr},
                        Case{R"({"mystery":{"Method":"x"}})", nullptr}}) {
    TJson cmd = TJson::parse(c.Command);
    CompleteCmdParams(cmd);
    const TJson& p = cmd.begin().value();
    if (c.Time)
      EXPECT_EQ(JsonStr(p, "Time"), c.Time) << c.Command;
    else
      EXPECT_FALSE(p.contains("Time")) << c.Command;
  }
}
