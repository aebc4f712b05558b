// pelmora-cli check-portal and survey-template on a project written to disk.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "portal/PortalTestSupport.h"

namespace {

struct PortalCliTest : ::testing::Test, TPortalProject {
  // Runs in the project folder, whose "out" is the portal output folder, so the captured
  // output goes to files of its own.
  TCliRun Cli(const std::string& args) {
    std::string cmd = std::string("cd '") + Tmp.Path().string() + "' && '" + PELMORA_CLI_PATH +
                      "' " + args + " </dev/null >cli.out 2>cli.err";
    int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(Tmp.File("cli.out")),
            ReadFileBytes(Tmp.File("cli.err"))};
  }
  std::string P() const { return "--project '" + Tmp.File("proj.pq2pr") + "' "; }
  void Save() { Db->Save(); }
};

}  // namespace

TEST_F(PortalCliTest, CheckPortalPrintsTheStatusTexts) {
  Template("start.html", "<#text1>");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"}});
  Portal("P", "start");
  Save();
  TCliRun ok = Cli(P() + "check-portal 'Portal P'");
  EXPECT_EQ(ok.Code, 0) << ok.Err;
  EXPECT_EQ(ok.Out,
            "Creating Web portal\nCreating page \"dfs\"\nCreating page \"index\"\n"
            "Web portal was successfully created!\n");
  EXPECT_FALSE(std::filesystem::exists(Out()));

  Db->CollectionByName("WebPages").UpdateRecord("start", {{"Name", "Start"}, {"HTMLfile", "x.html"}});
  Save();
  TCliRun bad = Cli(P() + "check-portal P");
  EXPECT_EQ(bad.Code, 1);
  EXPECT_NE(bad.Err.find("Error in record: WebPages Start. Not found HTML-template file"),
            std::string::npos)
      << bad.Err;
  EXPECT_EQ(Cli(P() + "check-portal nosuch").Code, 3);
}

TEST_F(PortalCliTest, SurveyTemplatePrintsTheFieldCollection) {
  Template("page.html", "<#text_a><#ref_b><#menu>");
  Save();
  TCliRun r = Cli(P() + "survey-template page.html");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(JsonEqual(TJson::parse(r.Out),
                        TJson::parse(R"({"text":["text_a"],"ref":["ref_b"],"menu":true})")));
  TCliRun missing = Cli("survey-template " + Tmp.File("none.html"));
  EXPECT_EQ(missing.Code, 1);
  EXPECT_NE(missing.Err.find("Not found HTML-template file"), std::string::npos);
}

TEST(PortalDefaults, DefaultTemplatesLieBesideTheProgram) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(PELMORA_CLI_PATH).parent_path() / "default_templates";
  std::string index = ReadFileBytes((dir / "index.html").string());
  EXPECT_NE(index.find("<link rel=\"stylesheet\" href=\"common.css\">"), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(dir / "common.css"));
}
