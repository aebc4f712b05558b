// Commands that read, show, check or build from a project never change the project file, and
// `info` tells what it read and exits 1 when the database is not open.
#include <gtest/gtest.h>

#include <filesystem>

#include "recstore/JsonText.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct ReadOnlyCliTest : ::testing::Test {
  TTempDir Tmp;
  std::string Project = Tmp.File("demo.pq2pr");

  TCliRun Run(const std::string& args, const std::string& input = "") {
    return RunCliIn(Tmp.Path(), args, input);
  }
  std::string P() const { return "--project '" + Project + "' "; }

  // The demo catalogue and portal, with an options record that names none of the folders, so
  // every folder a command asks for falls back to its default.
  void MakeDemo() {
    ASSERT_EQ(ImportDemoProject(Tmp, Project), "");
    ASSERT_EQ(Run(P() + "put Options Options", R"({"PlayChannels": false})").Code, 0);
    for (const char* f : {"video/city/city_lights.m2t", "video/city/night_city.m2t",
                          "video/nature/mountain_morning.m2t"}) {
      fs::create_directories(fs::path(Tmp.File(f)).parent_path());
      WriteFileBytes(Tmp.File(f), "ts");
    }
  }
};

}  // namespace

TEST_F(ReadOnlyCliTest, ReadingCommandsLeaveTheProjectByteIdentical) {
  MakeDemo();
  const std::string before = ReadFileBytes(Project);
  const auto mtime = fs::last_write_time(Project);
  const char* commands[] = {
      "info",
      "list Films",
      "get Servers 'Playout 1'",
      "check-schedule 'Demo Movies, every minute'",
      "show-schedule 'Демо неделя'",
      "check-portal 'Demo portal'",
      "survey-template start.html",
      "share-url 'Playout 1'",
      "--yes build-package 'Playout 1'",
      "check-servers --all",
  };
  for (const char* c : commands) {
    TCliRun r = Run(P() + c);
    EXPECT_NE(r.Code, 2) << c << ": " << r.Err;
    EXPECT_EQ(ReadFileBytes(Project), before) << c << " changed the project";
  }
  EXPECT_EQ(fs::last_write_time(Project), mtime);
  // The package was built from the default servers folder all the same.
  EXPECT_TRUE(fs::exists(Tmp.File("servers/Playout 1/config.json")));
}

TEST_F(ReadOnlyCliTest, ReadingAnOlderProjectConvertsOnlyInMemory) {
  const std::string older =
      "{\"DBVersion\":\"2.0.8.0\",\"Films\":{\"f\":{\"Name\":\"Old film\"}}}";
  WriteFileBytes(Project, older);
  TCliRun list = Run(P() + "list Films");
  EXPECT_EQ(list.Code, 0) << list.Err;
  EXPECT_EQ(list.Out, "f\tOld film\n");
  EXPECT_EQ(ReadFileBytes(Project), older);
  EXPECT_FALSE(fs::exists(Project + ".v2.0.8.0.bak"));
  // A change converts the file for good, keeping the byte copy.
  ASSERT_EQ(Run(P() + "put Films g", R"({"Name":"New film"})").Code, 0);
  EXPECT_EQ(ReadFileBytes(Project + ".v2.0.8.0.bak"), older);
  EXPECT_EQ(ParseProjectBytes(ReadFileBytes(Project))["DBVersion"], "2.0.8.4");
}

TEST_F(ReadOnlyCliTest, InfoSaysWhatItReadAndFailsWhenNotOpen) {
  struct TCase {
    const char* Name;
    const char* Content;  // nullptr: no file
    int Code;
    std::vector<std::string> Present;
    std::vector<std::string> Absent;
  } cases[] = {
      {"missing", nullptr, 1, {"does not exist"}, {"DBVersion", "Collections"}},
      {"malformed", "{\"DBVersion\":", 1, {"Open: no", "Error: "}, {"DBVersion", "Collections"}},
      {"newer", "{\"DBVersion\":\"9.0.0.0\",\"Films\":{}}", 0,
       {"DBVersion: 9.0.0.0", "Open: no", "Write-protected: yes"}, {"Collections"}},
      {"current", "{\"DBVersion\":\"2.0.8.4\",\"Films\":{\"a\":{}}}", 0,
       {"DBVersion: 2.0.8.4", "Open: yes", "  Films\t1"}, {"Write-protected"}},
  };
  for (const TCase& c : cases) {
    fs::remove(Project);
    if (c.Content) WriteFileBytes(Project, c.Content);
    TCliRun r = Run(P() + "info");
    EXPECT_EQ(r.Code, c.Code) << c.Name << ": " << r.Out << r.Err;
    const std::string all = r.Out + r.Err;
    for (const auto& s : c.Present) EXPECT_NE(all.find(s), std::string::npos) << c.Name << ": " << s;
    for (const auto& s : c.Absent) EXPECT_EQ(r.Out.find(s), std::string::npos) << c.Name << ": " << s;
    if (c.Content) {
      EXPECT_EQ(ReadFileBytes(Project), c.Content) << c.Name;
    }
  }
}
