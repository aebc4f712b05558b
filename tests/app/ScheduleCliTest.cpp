#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "recstore/JsonText.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct TRun {
  int Code;
  std::string Out;
  std::string Err;
};

// The demo project in a temporary folder, with stand-in files for its films.
struct ScheduleCliTest : ::testing::Test {
  TTempDir Tmp;
  std::string Project = Tmp.File("demo.pq2pr");

  ScheduleCliTest() {
    EXPECT_EQ(Run("new '" + Project + "'").Code, 0);
    std::string records = std::string(PELMORA_TESTDATA_DIR) + "/../../examples/demo/records.json";
    TRun imp = Run(P() + "import '" + records + "'");
    EXPECT_EQ(imp.Code, 0) << imp.Err;
    fs::create_directories(Tmp.Path() / "video" / "city");
    fs::create_directories(Tmp.Path() / "video" / "nature");
    for (const char* f : {"video/city/city_lights.m2t", "video/city/night_city.m2t",
                          "video/nature/mountain_morning.m2t"})
      WriteFileBytes(Tmp.File(f), "ts");
  }
  TRun Run(const std::string& args) {
    std::string cmd = std::string("cd '") + Tmp.Path().string() + "' && '" + PELMORA_CLI_PATH +
                      "' " + args + " </dev/null >out 2>err";
    int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(Tmp.File("out")),
            ReadFileBytes(Tmp.File("err"))};
  }
  std::string P() const { return "--project '" + Project + "' "; }
};

}  // namespace

TEST_F(ScheduleCliTest, BuildPackagePrintsEveryStatus) {
  TRun r = Run(P() + "build-package 'Playout 1'");
  ASSERT_EQ(r.Code, 0) << r.Err;
  std::string folder = Tmp.File("servers/Playout 1");
  EXPECT_EQ(r.Out, "Creating files\nServer's folder is created\nGroups and config files is created\n"
                   "Files in folder \"" + folder + "\" is successfully created!\n");
  std::string dir = folder + "/json/18991230T000000/";
  EXPECT_EQ(ReadFileBytes(dir + "1.cmdp"), "onstart: stbpower 1\nonstop: stbpower 0\n");
  EXPECT_EQ(ReadFileBytes(dir + "0.cmdp"), "26.000: showtext \"info\" \"Next: City Lights\" 5000\n");
  TJson sched = ParseJsonText(ReadFileBytes(dir + "demo_nedelya.json"));
  ASSERT_EQ(sched.size(), 4u);  // movies, head-end, movie commands, command channel
  EXPECT_EQ(sched[0]["intervals"][0]["rule"], "RRULE:FREQ=MINUTELY;INTERVAL=1");
  EXPECT_EQ(sched[1]["channel"]["name"], "News Live");
  EXPECT_EQ(sched[2]["channel"]["name"], "Demo Movies-cmd");
  EXPECT_EQ(sched[3]["channel"]["name"], "Lobby Lights");
  EXPECT_TRUE(fs::exists(folder + "/config.json"));
  EXPECT_TRUE(fs::exists(folder + "/UsedFilms.json"));

  EXPECT_EQ(Run(P() + "build-package 'No such server'").Code, 3);
}

TEST_F(ScheduleCliTest, BuildPackageAbortExitsOne) {
  // A missing film file: the question gets the safe answer No, and --yes goes on.
  fs::remove(Tmp.File("video/city/night_city.m2t"));
  TRun r = Run(P() + "build-package 'Playout 1'");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Out.find("Error in the file name \"city\\night_city.m2t\""), std::string::npos) << r.Out;
  EXPECT_NE(r.Err.find("File not found "), std::string::npos);
  EXPECT_EQ(Run(P() + "--yes build-package 'Playout 1'").Code, 0);
}

TEST_F(ScheduleCliTest, CheckScheduleTextAndJson) {
  TRun r = Run(P() + "check-schedule 'Demo Movies, every minute'");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "1\t00:00:00 - 00:00:25\t00:00:25\t\n"
            "2\t00:00:25 - 00:00:29\t00:00:04\t\n"
            "3\t00:00:30 - 00:00:59\t00:00:29\t\n");
  TRun j = Run(P() + "check-schedule 'Lobby lights' --json");
  ASSERT_EQ(j.Code, 0) << j.Err;
  TJson rows = ParseJsonText(j.Out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1]["Row"], 2);
  EXPECT_EQ(rows[1]["Times"], "00:00:50");
  EXPECT_EQ(rows[1]["Duration"], "-");
  EXPECT_EQ(rows[1]["Err"], TJson::object());
  EXPECT_EQ(rows[1]["HasError"], false);
}

TEST_F(ScheduleCliTest, ShowSchedule) {
  TRun r = Run(P() + "show-schedule 'Демо неделя' --no-seconds");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("Channel: Demo Movies\nIntervals: (00:00-00:00) (00:00-00:00)\nMovies:\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\"City Lights\"   number of playbacks 5"), std::string::npos);
  TRun t = Run(P() + "show-schedule 'Демо неделя' --timeline --no-rows");
  EXPECT_NE(t.Out.find("day0 00:00:30 - day0 00:00:59 == Interval == \n"), std::string::npos) << t.Out;
  EXPECT_EQ(t.Out.find("Channel:"), std::string::npos);
}

// A value of the wrong type, or a text that does not parse, fails every command that reads it,
// with a message naming the record and the key; none of them succeeds with an empty result.
TEST_F(ScheduleCliTest, WrongTypesFailEveryCommandNamingRecordAndKey) {
  const std::string original = ReadFileBytes(Project);
  struct {
    const char* Collection;
    const char* Record;  // Name
    const char* Key;
    const char* Value;   // JSON
    const char* Named;   // in the message besides the key
    std::vector<std::string> Commands;
  } cases[] = {
      {"SrvOptions", "Lobby options", "Table", "5", "Lobby options",
       {"build-package 'Playout 1'", "m3u 'Playout 1'"}},
      {"Films", "Mountain Morning", "Duration", "\"4 sec\"", "Mountain Morning",
       {"build-package 'Playout 1'", "check-schedule 'Demo Movies, every minute'",
        "epg 'Playout 1'"}},
      {"ChSched", "Demo Movies, every minute", "Table", "7", "Demo Movies, every minute",
       {"build-package 'Playout 1'", "check-schedule 'Demo Movies, every minute'",
        "epg 'Playout 1'"}},
  };
  for (const auto& c : cases) {
    WriteFileBytes(Project, original);
    TJson rec = ParseJsonText(Run(P() + "get " + c.Collection + " '" + c.Record + "'").Out);
    rec[c.Key] = TJson::parse(c.Value);
    WriteFileBytes(Tmp.File("rec.json"), rec.dump());
    ASSERT_EQ(Run(P() + "put " + c.Collection + " '" + c.Record + "' rec.json").Code, 0);
    for (const std::string& cmd : c.Commands) {
      SCOPED_TRACE(std::string(c.Collection) + "." + c.Key + " = " + c.Value + ": " + cmd);
      TRun r = Run(P() + cmd);
      EXPECT_EQ(r.Code, 1) << r.Out;
      EXPECT_NE(r.Err.find(c.Named), std::string::npos) << r.Err;
      EXPECT_NE(r.Err.find(std::string("\"") + c.Key + "\""), std::string::npos) << r.Err;
    }
  }
}

// A file that cannot be written is named with the reason.
TEST_F(ScheduleCliTest, WriteFailuresSayWhy) {
  const std::string target = Project + "/guide.out";  // below a file: no such folder
  for (const std::string cmd : {"epg 'Playout 1' -o", "m3u 'Playout 1' -o"}) {
    TRun r = Run(P() + cmd + " '" + target + "'");
    EXPECT_EQ(r.Code, 1) << cmd;
    EXPECT_NE(r.Err.find("Can't to write to file " + target + ": Not a directory"), std::string::npos)
        << cmd << ": " << r.Err;
  }
}

// --all builds every server in tree order and goes on past one that fails; the summary names
// each outcome and the run exits 1. --json gives the same as one document.
TEST_F(ScheduleCliTest, BuildPackageAllGoesOnPastAFailedServer) {
  TJson server = ParseJsonText(Run(P() + "get Servers 'Playout 1'").Out);
  server["Name"] = "Playout 2";
  WriteFileBytes(Tmp.File("p2.json"), server.dump());
  ASSERT_EQ(Run(P() + "put Servers p2 p2.json").Code, 0);
  server["Name"] = "Broken";
  server["TSched"].push_back(server["TSched"][0]);  // a second row without "Start at"
  WriteFileBytes(Tmp.File("broken.json"), server.dump());
  ASSERT_EQ(Run(P() + "put Servers broken broken.json").Code, 0);

  TRun r = Run(P() + "build-package --all");
  EXPECT_EQ(r.Code, 1) << r.Err;
  const std::string summary = r.Out.substr(r.Out.find("Summary\n"));
  EXPECT_EQ(summary.substr(0, summary.find("Broken")),
            "Summary\nPlayout 1: built\nPlayout 2: built\n") << r.Out;
  EXPECT_NE(summary.find("Broken: failed: "), std::string::npos) << r.Out;
  EXPECT_NE(summary.find("Start time is not set!"), std::string::npos) << r.Out;
  EXPECT_TRUE(fs::exists(Tmp.File("servers/Playout 2/config.json")));

  TRun j = Run(P() + "--json build-package --all");
  EXPECT_EQ(j.Code, 1);
  TJson doc = ParseJsonText(j.Out);
  EXPECT_EQ(doc["ok"], false);
  ASSERT_EQ(doc["servers"].size(), 3u);
  std::vector<std::string> states;
  for (const TJson& s : doc["servers"]) states.push_back(s["server"].get<std::string>() + " " +
                                                         s["state"].get<std::string>());
  EXPECT_EQ(states, (std::vector<std::string>{"Playout 1 built", "Playout 2 built", "Broken failed"}));
  EXPECT_EQ(doc["servers"][1]["folder"], Tmp.File("servers/Playout 2"));

  EXPECT_EQ(Run(P() + "build-package").Code, 2);
  EXPECT_EQ(Run(P() + "build-package 'Playout 1' --all").Code, 2);
}
