// The texts of a built schedule: the summary (text and JSON), the time line and CSV file, the
// folder of the CSV files, and the show-schedule command's options.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "recstore/JsonText.h"
#include "schedule/DoSchedule.h"
#include "schedule/ScheduleFixture.h"

namespace fs = std::filesystem;

namespace {

using TLines = std::vector<std::string>;

struct SummaryTest : ScheduleDbTest {
  TSchedule Sh{Db.get()};
  SummaryTest() {
    AddChannel("ch", 0, "Movies");
    AddChannel("ch2", 0, "Second");
    AddChannel("ch3", 0, "Hidden only");
    AddFilm("a", "00:10:00,000", false, "", "Alpha");
    AddFilm("b", "00:20:00,000", false, "", "Beta", false);
    AddFilm("c", "00:05:00,000", false, "", "Gamma");
    AddList("six", {FilmRef("a")}, 6);
  }
  void Build(const std::string& id, const TJson& rec) {
    Col("ChSched").SetRecordNo1(id, rec);
    TSuperReference sr(&Op);
    std::vector<TOneFilmInfo> rows;
    ChannelBuild(sr, *Db, id, rec, Sh, rows, false);
  }
  // Channel "Movies": five timed rows, the first a playlist of Alpha six times.
  void BuildMovies() {
    Build("cs1", ChSched("ch", "1 00:00:00", false,
                         {Row("0 00:00:00", 0, ListRef("six")), Row("0 02:00:00", 0, FilmRef("b")),
                          Row("0 03:00:00", 0, FilmRef("b")), Row("0 04:00:00", 0, FilmRef("c")),
                          Row("0 05:00:00", 0, FilmRef("a"))}));
  }
  // Channel "Second": Alpha at 00:00:00 and Gamma on day 1 at 06:00:00.
  void BuildSecond() {
    Build("cs2", ChSched("ch2", "2 00:00:00", false,
                         {Row("0 00:00:00", 0, FilmRef("a")), Row("1 06:00:00", 0, FilmRef("c"))}));
  }
};

const TLines MoviesText = {
    "",
    "Channel: Movies",
    "Intervals: (00:00:00-01:00:00) (02:00:00-02:20:00) (03:00:00-03:20:00) (04:00:00-04:05:00)",
    " (05:00:00-05:10:00)",
    "Movies:",
    "  00:00:00  00:10:00  00:20:00  00:30:00  00:40:00",
    "  00:50:00  05:00:00  \"Alpha\"   number of playbacks 7",
    "",
    "  02:00:00  03:00:00  \"Beta\"   number of playbacks 2",
    "  04:00:00  \"Gamma\"   number of playbacks 1",
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Summary

TEST_F(SummaryTest, TextWrapsIntervalsByFourAndTimesAfterFortyCharacters) {
  BuildMovies();
  TLines memo;
  TJson js = ScheduleSummary(*Db, Sh, &memo, true, true, true, false);
  EXPECT_EQ(memo, MoviesText);
  // Only films shown in the schedule, start times "hh:nn" joined by single spaces.
  EXPECT_EQ(js, TJson::parse(R"({"ch": [["00:00 00:10 00:20 00:30 00:40 00:50 05:00", "a"],
                                         ["04:00", "c"]]})"));
}

TEST_F(SummaryTest, HiddenFilmsOnlyWithShowAllFilms) {
  BuildMovies();
  TLines memo;
  TJson js = ScheduleSummary(*Db, Sh, &memo, true, false, true, false);
  TLines want = MoviesText;
  want.erase(want.begin() + 8);  // the Beta line
  EXPECT_EQ(memo, want);
  // The JSON never depends on the text flags.
  TJson plain = ScheduleSummary(*Db, Sh, nullptr, false, false, false, false);
  EXPECT_EQ(js, plain);
  EXPECT_EQ(plain["ch"].size(), 2u);
}

TEST_F(SummaryTest, WithoutStartTimesNameAndCount) {
  BuildMovies();
  TLines memo;
  ScheduleSummary(*Db, Sh, &memo, false, true, true, false);
  TLines want(MoviesText.begin(), MoviesText.begin() + 5);
  want.push_back("Alpha number of playbacks 7");
  want.push_back("Beta number of playbacks 2");
  want.push_back("Gamma number of playbacks 1");
  EXPECT_EQ(memo, want);
}

TEST_F(SummaryTest, FourIntervalsStayOnOneLine) {
  Build("cs1", ChSched("ch", "1 00:00:00", false,
                       {Row("0 00:00:00", 0, FilmRef("c")), Row("0 01:00:00", 0, FilmRef("c")),
                        Row("0 02:00:00", 0, FilmRef("c")), Row("0 03:00:00", 0, FilmRef("c"))}));
  TLines memo;
  ScheduleSummary(*Db, Sh, &memo, true, true, true, false);
  ASSERT_EQ(memo.size(), 5u);
  EXPECT_EQ(memo[2],
            "Intervals: (00:00:00-00:05:00) (01:00:00-01:05:00) (02:00:00-02:05:00) (03:00:00-03:05:00)");
  // Four times make exactly 40 characters: no new line yet.
  EXPECT_EQ(memo[4], "  00:00:00  01:00:00  02:00:00  03:00:00  \"Gamma\"   number of playbacks 4");
}

TEST_F(SummaryTest, SecondsAndDays) {
  BuildSecond();
  TLines memo;
  ScheduleSummary(*Db, Sh, &memo, true, true, true, false);
  EXPECT_EQ(memo, (TLines{"", "Channel: Second", "Intervals: (00:00:00-00:10:00) (06:00:00-06:05:00)",
                          "Movies:", "  00:00:00  \"Alpha\"   number of playbacks 1",
                          "  06:00:00  \"Gamma\"   number of playbacks 1"}));
  memo.clear();
  ScheduleSummary(*Db, Sh, &memo, true, true, true, true);
  EXPECT_EQ(memo[2], "Intervals: (00:00:00-00:10:00) (1 06:00:00-1 06:05:00)");
  EXPECT_EQ(memo[5], "  1 06:00:00  \"Gamma\"   number of playbacks 1");
  memo.clear();
  ScheduleSummary(*Db, Sh, &memo, true, true, false, true);
  EXPECT_EQ(memo[2], "Intervals: (00:00-00:10) (1 06:00-1 06:05)");
  EXPECT_EQ(memo[4], "  00:00  \"Alpha\"   number of playbacks 1");
  EXPECT_EQ(memo[5], "  1 06:00  \"Gamma\"   number of playbacks 1");
  memo.clear();
  ScheduleSummary(*Db, Sh, &memo, true, true, false, false);
  EXPECT_EQ(memo[2], "Intervals: (00:00-00:10) (06:00-06:05)");
}

TEST_F(SummaryTest, ChannelsInOrderAndWithoutShownFilmsAbsentFromJson) {
  BuildSecond();
  Build("cs3", ChSched("ch3", "1 00:00:00", false, {Row("0 00:00:00", 0, FilmRef("b"))}));
  TLines memo;
  TJson js = ScheduleSummary(*Db, Sh, &memo, true, true, true, false);
  EXPECT_EQ(js, TJson::parse(R"({"ch2": [["00:00", "a"], ["06:00", "c"]]})"));
  ASSERT_EQ(memo.size(), 11u);
  EXPECT_EQ(memo[1], "Channel: Second");
  EXPECT_EQ(memo[6], "");
  EXPECT_EQ(memo[7], "Channel: Hidden only");
  EXPECT_EQ(memo[8], "Intervals: (00:00:00-00:20:00)");
  EXPECT_EQ(memo[10], "  00:00:00  \"Beta\"   number of playbacks 1");
}

TEST_F(SummaryTest, IndexListLimitsTheIntervals) {
  BuildMovies();
  BuildSecond();
  ASSERT_EQ(Sh.Intervals.size(), 7u);
  TLines memo;
  TJson js = ScheduleSummary(*Db, Sh, &memo, true, true, true, false, {4, 6});
  EXPECT_EQ(memo, (TLines{"", "Channel: Movies", "Intervals: (05:00:00-05:10:00)", "Movies:",
                          "  05:00:00  \"Alpha\"   number of playbacks 1", "", "Channel: Second",
                          "Intervals: (06:00:00-06:05:00)", "Movies:",
                          "  06:00:00  \"Gamma\"   number of playbacks 1"}));
  EXPECT_EQ(js, TJson::parse(R"({"ch": [["05:00", "a"]], "ch2": [["06:00", "c"]]})"));
}

TEST_F(SummaryTest, IntervalsNotOnPaperAreLeftOutButTheirFilmsCount) {
  BuildSecond();
  Sh.Intervals[0]->ShowInPaperSchedule = false;
  TLines memo;
  ScheduleSummary(*Db, Sh, &memo, true, true, true, false);
  EXPECT_EQ(memo[2], "Intervals: (06:00:00-06:05:00)");
  EXPECT_EQ(memo[4], "  00:00:00  \"Alpha\"   number of playbacks 1");
}

// ---------------------------------------------------------------------------------------------
// Time line and CSV file

namespace {

struct DebugTest : SummaryTest {
  TTempDir Tmp;
  DebugTest() {
    Sh.Name = "Week";
    // Alpha at 00:00:00, Gamma at 00:30:00 (a gap of 20 minutes), Alpha on day 1 at 00:00:01
    // (a gap of 23:25:01).
    Build("cs1", ChSched("ch", "2 00:00:00", false,
                         {Row("0 00:00:00", 0, FilmRef("a")), Row("0 00:30:00", 0, FilmRef("c")),
                          Row("1 00:00:01", 0, FilmRef("a"))}));
  }
};

const TLines TimeLineText = {
    "day0 00:00:00 - day0 00:10:00 == Interval == ",
    "day0 00:00:00  Alpha",
    "day0 00:30:00 - day0 00:35:00 == Interval == ",
    "day0 00:30:00  Gamma",
    "day1 00:00:01 - day1 00:10:01 == Interval == ",
    "day1 00:00:01  Alpha",
};
const std::string CsvBytes =
    "day;time;film;duration\r\n"
    "0;00:00:00;Alpha;00:10:00\r\n"
    "0;00:10:00;<<Empty space>>;00:20:00\r\n"
    "0;00:30:00;Gamma;00:05:00\r\n"
    "0;00:35:00;<<Empty space>>;23:25:01\r\n"
    "1;00:00:01;Alpha;00:10:00\r\n";

}  // namespace

TEST_F(DebugTest, TimeLineOnly) {
  TLines memo;
  TShowScheduleOptions o;
  o.TimeLine = true;
  EXPECT_EQ(PrintScheduleDebug(Sh, memo, o, Tmp.Path().string()), "");
  EXPECT_EQ(memo, TimeLineText);
  EXPECT_FALSE(fs::exists(Tmp.File("Week.csv")));
}

TEST_F(DebugTest, CsvFileBytes) {
  TLines memo;
  TShowScheduleOptions o;
  o.SaveCsv = true;
  std::string dir = (Tmp.Path() / "csv").string();  // created when missing
  std::string path = PrintScheduleDebug(Sh, memo, o, dir);
  EXPECT_EQ(path, (fs::path(dir) / "Week.csv").string());
  EXPECT_EQ(ReadFileBytes(path), CsvBytes);
  EXPECT_TRUE(memo.empty());
}

TEST_F(DebugTest, EmptySpaceFromOneSecondOn) {
  TSchedule sh{Db.get()};
  sh.Name = "Gaps";
  std::swap(sh.Intervals, Sh.Intervals);
  sh.ChannelsId = Sh.ChannelsId;
  // Gamma now starts 999 ms after Alpha's end, the last Alpha exactly one second after Gamma's.
  sh.Intervals[1]->StartTime = Hms(0, 10, 0, 999);
  sh.Intervals[2]->StartTime = Hms(0, 35, 1);
  TLines memo;
  TShowScheduleOptions o;
  o.SaveCsv = true;
  std::string csv = ReadFileBytes(PrintScheduleDebug(sh, memo, o, Tmp.Path().string()));
  EXPECT_EQ(csv.find("0;00:10:00;<<Empty space>>"), std::string::npos) << csv;
  EXPECT_NE(csv.find("0;00:35:00;<<Empty space>>;00:00:01\r\n"), std::string::npos) << csv;
}

TEST_F(DebugTest, ScheduleNameCannotLeaveTheFolder) {
  Sh.Name = "../up/Week";
  TLines memo;
  TShowScheduleOptions o;
  o.SaveCsv = true;
  fs::path dir = Tmp.Path() / "csv";
  std::string path = PrintScheduleDebug(Sh, memo, o, dir.string());
  EXPECT_EQ(fs::path(path).parent_path(), dir);
  EXPECT_EQ(ReadFileBytes(path), CsvBytes);
  EXPECT_FALSE(fs::exists(Tmp.Path() / "up"));
}

TEST(ScheduleCsvDir, BesideTheProgramWhenWritableElseUserData) {
  fs::path beside = fs::read_symlink("/proc/self/exe").parent_path() / "csv";
  std::error_code ec;
  if (fs::is_directory(beside)) fs::remove_all(beside, ec);
  EXPECT_EQ(ScheduleCsvDir(), beside.string());
  EXPECT_TRUE(fs::is_directory(beside));

  // A file in the way: the folder cannot be made there, so the user's data directory serves.
  fs::remove_all(beside, ec);
  WriteFileBytes(beside.string(), "in the way");
  TTempDir data;
  const char* old = std::getenv("XDG_DATA_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
  std::string dir = ScheduleCsvDir();
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
  fs::remove(beside, ec);
  EXPECT_EQ(dir, (data.Path() / "pelmora" / "csv").string());
  EXPECT_TRUE(fs::is_directory(dir));
}

// ---------------------------------------------------------------------------------------------
// The whole text

TEST_F(DebugTest, ShowScheduleJoinsTimeLineAndSummary) {
  TShowScheduleOptions o;
  o.TimeLine = true;
  TLines got = ShowSchedule(*Db, Sh, o);
  TLines want = TimeLineText;
  for (const char* l : {"", "", "", "Channel: Movies",
                        "Intervals: (00:00:00-00:10:00) (00:30:00-00:35:00) (00:00:01-00:10:01)",
                        "Movies:", "  00:00:00  00:00:01  \"Alpha\"   number of playbacks 2",
                        "  00:30:00  \"Gamma\"   number of playbacks 1"})
    want.push_back(l);
  EXPECT_EQ(got, want);
  o.ShowRowsFilms = false;
  want = TimeLineText;
  want.push_back("");
  want.push_back("");
  EXPECT_EQ(ShowSchedule(*Db, Sh, o), want);
  o.TimeLine = false;
  EXPECT_EQ(ShowSchedule(*Db, Sh, o), TLines{});
}

// ---------------------------------------------------------------------------------------------
// show-schedule

namespace {

// A project with one channel: Alpha at 00:00:00, the hidden Beta at 01:00:00 and Alpha on day 1
// at 00:30:00.
struct ShowScheduleCliTest : ::testing::Test {
  TTempDir Tmp;
  std::string Project = Tmp.File("p.pq2pr");
  ShowScheduleCliTest() {
    EXPECT_EQ(RunCliIn(Tmp, "new '" + Project + "'").Code, 0);
    WriteFileBytes(Tmp.File("records.json"), R"({
  "Films": {
    "65a000000000000000000001": {"Name": "Alpha", "FileName": "a.m2t", "Duration": "00:10:00,000", "ShowInSchedule": true, "KeepWithNext": false},
    "65a000000000000000000002": {"Name": "Beta", "FileName": "b.m2t", "Duration": "00:20:00,000", "ShowInSchedule": false, "KeepWithNext": false}
  },
  "Channels": {
    "65a000000000000000000003": {"Name": "Movies", "URL": "igmp://239.1.1.1:1234", "Type": 0}
  },
  "ChSched": {
    "65a000000000000000000004": {"Name": "Rows", "Channel": {"_ID": "65a000000000000000000003", "_CL": "Channels"}, "AutoPeriod": false, "Period": "2 00:00:00", "Table": [
      ["0 00:00:00", 0, {"_ID": "65a000000000000000000001", "_CL": "Films"}, []],
      ["0 01:00:00", 0, {"_ID": "65a000000000000000000002", "_CL": "Films"}, []],
      ["1 00:30:00", 0, {"_ID": "65a000000000000000000001", "_CL": "Films"}, []]]}
  },
  "Schedules": {
    "65a000000000000000000005": {"Name": "Week", "Table": [[{"_ID": "65a000000000000000000004", "_CL": "ChSched"}]]}
  }
})");
    TCliRun imp = RunCliIn(Tmp, P() + "import '" + Tmp.File("records.json") + "'");
    EXPECT_EQ(imp.Code, 0) << imp.Err;
  }
  std::string P() const { return "--project '" + Project + "' "; }
  TCliRun Show(const std::string& flags) { return RunCliIn(Tmp, P() + "show-schedule Week " + flags); }
};

const std::string Head = "\nChannel: Movies\n";

}  // namespace

TEST_F(ShowScheduleCliTest, DefaultsAndEachOption) {
  TCliRun r = Show("");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, Head +
                       "Intervals: (00:00:00-00:10:00) (01:00:00-01:20:00) (00:30:00-00:40:00)\n"
                       "Movies:\n"
                       "  00:00:00  00:30:00  \"Alpha\"   number of playbacks 2\n"
                       "  01:00:00  \"Beta\"   number of playbacks 1\n");
  EXPECT_EQ(Show("--days").Out,
            Head +
                "Intervals: (00:00:00-00:10:00) (01:00:00-01:20:00) (1 00:30:00-1 00:40:00)\n"
                "Movies:\n"
                "  00:00:00  1 00:30:00  \"Alpha\"   number of playbacks 2\n"
                "  01:00:00  \"Beta\"   number of playbacks 1\n");
  EXPECT_EQ(Show("--no-seconds").Out, Head +
                                          "Intervals: (00:00-00:10) (01:00-01:20) (00:30-00:40)\n"
                                          "Movies:\n"
                                          "  00:00  00:30  \"Alpha\"   number of playbacks 2\n"
                                          "  01:00  \"Beta\"   number of playbacks 1\n");
  EXPECT_EQ(Show("--only-shown").Out,
            Head +
                "Intervals: (00:00:00-00:10:00) (01:00:00-01:20:00) (00:30:00-00:40:00)\n"
                "Movies:\n"
                "  00:00:00  00:30:00  \"Alpha\"   number of playbacks 2\n");
  EXPECT_EQ(Show("--no-start-times").Out,
            Head +
                "Intervals: (00:00:00-00:10:00) (01:00:00-01:20:00) (00:30:00-00:40:00)\n"
                "Movies:\n"
                "Alpha number of playbacks 2\n"
                "Beta number of playbacks 1\n");
  TCliRun none = Show("--no-rows");
  EXPECT_EQ(none.Code, 0);
  EXPECT_EQ(none.Out, "");
  EXPECT_EQ(Show("--timeline --no-rows").Out,
            "day0 00:00:00 - day0 00:10:00 == Interval == \n"
            "day0 00:00:00  Alpha\n"
            "day0 01:00:00 - day0 01:20:00 == Interval == \n"
            "day0 01:00:00  Beta\n"
            "day1 00:30:00 - day1 00:40:00 == Interval == \n"
            "day1 00:30:00  Alpha\n"
            "\n\n");
  EXPECT_EQ(Show("--bogus").Code, 2);
  EXPECT_EQ(RunCliIn(Tmp, P() + "show-schedule 'No such'").Code, 3);
}

TEST_F(ShowScheduleCliTest, CsvBesideTheProgramNamedInTheStatus) {
  fs::path csv = fs::path(PELMORA_CLI_PATH).parent_path() / "csv" / "Week.csv";
  std::error_code ec;
  fs::remove(csv, ec);
  TCliRun r = Show("--csv --no-rows");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "\n\n");  // no time line, the two empty lines only
  EXPECT_NE(r.Err.find("Schedule saved in " + csv.string() + "\n"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadFileBytes(csv.string()),
            "day;time;film;duration\r\n"
            "0;00:00:00;Alpha;00:10:00\r\n"
            "0;00:10:00;<<Empty space>>;00:50:00\r\n"
            "0;01:00:00;Beta;00:20:00\r\n"
            "0;01:20:00;<<Empty space>>;23:10:00\r\n"
            "1;00:30:00;Alpha;00:10:00\r\n");
  fs::remove(csv, ec);
}
