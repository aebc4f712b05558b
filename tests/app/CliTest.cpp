#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "recstore/JsonText.h"
#include "support/TestSupport.h"

namespace {

using TRun = TCliRun;

struct CliTest : ::testing::Test {
  TTempDir Tmp;
  std::string Project = Tmp.File("demo.pq2pr");

  TRun Run(const std::string& args, const std::string& input = "") {
    return RunCliIn(Tmp.Path(), args, input);
  }
  std::string P() const { return "--project '" + Project + "' "; }
};

}  // namespace

TEST_F(CliTest, RecordLifecycle) {
  ASSERT_EQ(Run("new '" + Project + "'").Code, 0);
  EXPECT_EQ(ParseProjectBytes(ReadFileBytes(Project))["DBVersion"], "2.0.8.4");

  TRun put = Run(P() + "put Films --new", R"({"Name":"Кино","Duration":"01:30:00,000"})");
  ASSERT_EQ(put.Code, 0) << put.Err;
  std::string id = put.Out.substr(0, put.Out.find('\n'));
  EXPECT_EQ(id.size(), 24u);
  ASSERT_EQ(Run(P() + "put Films second", R"({"Name":"Second"})").Code, 0);

  TRun list = Run(P() + "list Films");
  EXPECT_EQ(list.Out, id + "\tКино\nsecond\tSecond\n");

  // By identifier or by name; the stored text is ASCII with escapes, the output UTF-8.
  TRun get = Run(P() + "get Films Кино");
  ASSERT_EQ(get.Code, 0);
  EXPECT_EQ(ParseJsonText(get.Out)["Duration"], "01:30:00,000");
  EXPECT_NE(ReadFileBytes(Project).find("\\u041a\\u0438\\u043d\\u043e"), std::string::npos);

  // Replace by name.
  ASSERT_EQ(Run(P() + "put Films Second", R"({"Name":"Second","Extra":1})").Code, 0);
  EXPECT_EQ(ParseJsonText(Run(P() + "get Films second").Out)["Extra"], 1);

  EXPECT_EQ(Run(P() + "del Films second").Code, 0);
  EXPECT_EQ(Run(P() + "get Films second").Code, 3);
  EXPECT_EQ(Run(P() + "del Films second").Code, 3);
  // The tree entry went with the record.
  TJson tree = ParseProjectBytes(ReadFileBytes(Project))["Tree"]["Films"];
  EXPECT_EQ(tree, TJson::parse("[{\"_ID\":\"" + id + "\"}]"));

  TRun info = Run("--json " + P() + "info");
  TJson j = ParseJsonText(info.Out);
  EXPECT_EQ(j["Open"], true);
  EXPECT_EQ(j["Collections"]["Films"], 1);
}

TEST_F(CliTest, ExitCodesAndRefusals) {
  EXPECT_EQ(Run("frobnicate").Code, 2);
  EXPECT_EQ(Run("list Films").Code, 2);  // no project
  EXPECT_EQ(Run(P() + "list Films").Code, 1);  // project missing
  ASSERT_EQ(Run("new '" + Project + "'").Code, 0);
  EXPECT_EQ(Run(P() + "list NoSuch").Code, 2);
  EXPECT_EQ(Run(P() + "put Films x", "{not json").Code, 1);
  EXPECT_EQ(Run(P() + "put Films x", "[1]").Code, 1);
  // new does not replace an existing project unless told to.
  Run(P() + "put Films keep", R"({"Name":"Keep"})");
  EXPECT_EQ(Run("new '" + Project + "'").Code, 1);
  EXPECT_EQ(Run("--no new '" + Project + "'").Code, 1);
  EXPECT_EQ(ParseJsonText(Run(P() + "get Films keep").Out)["Name"], "Keep");
  EXPECT_EQ(Run("--yes new '" + Project + "'").Code, 0);
  EXPECT_EQ(Run(P() + "get Films keep").Code, 3);
}

TEST_F(CliTest, NewerProjectIsNeverChanged) {
  const std::string original = "{\"DBVersion\":\"9.0.0.0\",\"Films\":{}}";
  WriteFileBytes(Project, original);
  TRun info = Run(P() + "info");
  EXPECT_EQ(info.Code, 0);
  EXPECT_NE(info.Out.find("Open: no"), std::string::npos);
  EXPECT_NE(info.Err.find("is newer than the version 2.0.8.4"), std::string::npos);
  EXPECT_EQ(Run(P() + "put Films x", R"({"Name":"x"})").Code, 1);
  EXPECT_EQ(Run(P() + "del Films x").Code, 1);
  EXPECT_EQ(ReadFileBytes(Project), original);
}

TEST_F(CliTest, ContractsDatabaseInTheWorkingDirectory) {
  TRun put = Run("--db contracts --workdir '" + Tmp.Path().string() + "' put Contracts c1",
                 R"({"Name":"Spring campaign"})");
  ASSERT_EQ(put.Code, 0) << put.Err;
  TJson saved = ParseProjectBytes(ReadFileBytes(Tmp.File("contracts.json")));
  EXPECT_EQ(saved["Contracts"]["c1"]["Name"], "Spring campaign");
  EXPECT_EQ(saved["Tree"]["Contracts"], TJson::parse(R"([{"_ID":"c1"}])"));
  EXPECT_EQ(Run("--db contracts list Contracts").Out, "c1\tSpring campaign\n");
}

TEST_F(CliTest, ImportStoresManyRecordsInOneWrite) {
  ASSERT_EQ(Run("new '" + Project + "'").Code, 0);
  const std::string doc = R"({"Films": {"a": {"Name": "A"}, "b": {"Name": "B", "_ID": "ignored"}},
                              "Options": {"Options": {"HTMLDir": "..\\HTML"}}})";
  TRun r = Run(P() + "import -", doc);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "imported 3 records\n");
  TJson saved = ParseProjectBytes(ReadFileBytes(Project));
  EXPECT_EQ(saved["Films"]["b"], TJson({{"Name", "B"}}));
  EXPECT_EQ(saved["Tree"]["Films"], TJson::parse(R"([{"_ID":"a"},{"_ID":"b"}])"));
  EXPECT_FALSE(saved["Tree"].contains("Options"));  // the options record has no tree
  // Importing again replaces records without adding tree entries twice.
  ASSERT_EQ(Run(P() + "import -", doc).Code, 0);
  EXPECT_EQ(ParseProjectBytes(ReadFileBytes(Project))["Tree"]["Films"].size(), 2u);
  EXPECT_EQ(Run(P() + "import -", R"({"Nowhere": {}})").Code, 2);
}
