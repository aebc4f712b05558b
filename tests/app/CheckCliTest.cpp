// check-servers: the findings as lines or JSON, exit 1 on any error and 0 on warnings only.
#include <gtest/gtest.h>

#include <filesystem>

#include "recstore/Json.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct CheckCliTest : ::testing::Test {
  TTempDir Tmp;
  std::string Project = Tmp.File("demo.pq2pr");
  TCliRun Run(const std::string& args, const std::string& input = "") {
    return RunCliIn(Tmp.Path(), args, input);
  }
  std::string P() const { return "--project '" + Project + "' "; }
  void MakeDemo() { ASSERT_EQ(ImportDemoProject(Tmp, Project), ""); }
  static bool AnyError(const TJson& findings) {
    for (const TJson& f : findings)
      if (f["Level"] == "error") return true;
    return false;
  }
};

}  // namespace

TEST_F(CheckCliTest, ExitCodeFollowsTheFindings) {
  MakeDemo();
  // Without the clips under the video folder every film of the plan is an error.
  TCliRun r = Run(P() + "--json check-servers --all --days 2");
  ASSERT_EQ(r.Code, 1) << r.Err;
  TJson findings = TJson::parse(r.Out);
  ASSERT_TRUE(findings.is_array());
  bool missingFilm = false;
  for (const TJson& f : findings) {
    EXPECT_FALSE(f["Server"].get<std::string>().empty());
    EXPECT_FALSE(f["Record"]["_ID"].get<std::string>().empty());
    missingFilm = missingFilm || (f["Kind"] == "film" && f["Record"]["_CL"] == "Films" &&
                                  f["Message"].get<std::string>().rfind("File not found ", 0) == 0);
  }
  EXPECT_TRUE(missingFilm) << r.Out;

  // With every clip in place what is left decides the exit code.
  for (const TJson& f : findings) {
    if (f["Kind"] != "film" || f["Record"]["_CL"] != "Films") continue;
    TCliRun film = Run(P() + "--json get Films " + f["Record"]["_ID"].get<std::string>());
    ASSERT_EQ(film.Code, 0) << film.Err;
    std::string name = TJson::parse(film.Out)["FileName"];
    for (char& c : name)
      if (c == '\\') c = '/';
    fs::create_directories(fs::path(Tmp.File("video/" + name)).parent_path());
    WriteFileBytes(Tmp.File("video/" + name), "ts");
  }
  r = Run(P() + "--json check-servers --all --days 2");
  findings = TJson::parse(r.Out);
  EXPECT_EQ(r.Code, AnyError(findings) ? 1 : 0) << r.Out;
  // The text form: one line a finding and the count.
  TCliRun text = Run(P() + "check-servers 'Playout 1' --days 2");
  EXPECT_NE(text.Out.find(" error(s), "), std::string::npos) << text.Out;
}

TEST_F(CheckCliTest, NeedsOneServerOrAll) {
  // A project without servers has no plan that could pass.
  const std::string empty = Tmp.File("empty.pq2pr");
  ASSERT_EQ(Run("new '" + empty + "'").Code, 0);
  TCliRun none = Run("--project '" + empty + "' check-servers --all");
  EXPECT_EQ(none.Code, 1);
  EXPECT_NE(none.Err.find("no servers"), std::string::npos) << none.Err;
  MakeDemo();
  EXPECT_EQ(Run(P() + "check-servers").Code, 2);
  EXPECT_EQ(Run(P() + "check-servers 'Playout 1' --all").Code, 2);
  EXPECT_EQ(Run(P() + "check-servers 'No such server'").Code, 3);
  // Days beyond what a check may build in memory are refused before anything is built.
  for (const char* days : {"0", "-3", "63", "100000"})
    EXPECT_EQ(Run(P() + "check-servers --all --days " + days).Code, 2) << days;
  EXPECT_NE(Run(P() + "check-servers --all --days 62").Code, 2);
}
