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

// A change of a record and of its tree entry is one write: whichever write fails, the project
// holds either the whole change or nothing of it, and the command says which.
TEST_F(CliTest, PutAndDelAreOneWriteOfRecordAndTreeEntry) {
  ASSERT_EQ(Run("new '" + Project + "'").Code, 0);
  ASSERT_EQ(Run(P() + "put Films keep", R"({"Name":"Keep"})").Code, 0);
  const std::string before = ReadFileBytes(Project);
  struct {
    const char* Args;
    const char* Input;
    int FailAt;      // the rename that fails
    size_t Records;  // records once the change is written
  } cases[] = {
      {"put Films --new", R"({"Name":"New"})", 1, 2}, {"put Films --new", R"({"Name":"New"})", 2, 2},
      {"put Films named", R"({"Name":"Named"})", 1, 2}, {"put Films named", R"({"Name":"Named"})", 2, 2},
      {"del Films keep", "", 1, 0}, {"del Films keep", "", 2, 0},
  };
  for (const auto& c : cases) {
    WriteFileBytes(Project, before);
    setenv("LD_PRELOAD", PELMORA_FAIL_RENAME_LIB, 1);
    setenv("PELMORA_FAIL_RENAME_AT", std::to_string(c.FailAt).c_str(), 1);
    TRun r = Run(P() + c.Args, c.Input);
    unsetenv("LD_PRELOAD");
    unsetenv("PELMORA_FAIL_RENAME_AT");
    TJson doc = ParseProjectBytes(ReadFileBytes(Project));
    const TJson& films = doc["Films"];
    TJson tree = doc["Tree"].value("Films", TJson::array());
    size_t entries = tree.size();
    SCOPED_TRACE(std::string(c.Args) + " failing at write " + std::to_string(c.FailAt));
    // Every record has its entry and every entry its record.
    EXPECT_EQ(films.size(), entries) << doc.dump();
    for (const auto& e : tree) EXPECT_TRUE(films.contains(e["_ID"].get<std::string>()));
    if (r.Code == 0) {
      EXPECT_EQ(films.size(), c.Records);
    } else {
      EXPECT_EQ(r.Code, 1);
      EXPECT_EQ(ReadFileBytes(Project), before);
      EXPECT_NE(r.Err.find("Input/output error"), std::string::npos) << r.Err;
    }
    // A single write: the second rename is never reached.
    if (c.FailAt == 2) {
      EXPECT_EQ(r.Code, 0) << r.Err;
    }
  }
}

// The record command and the import take a record as deep as a document may be, and the
// project still opens afterwards.
TEST_F(CliTest, DeepRecordsKeepTheProjectReadable) {
  ASSERT_EQ(Run("new '" + Project + "'").Code, 0);
  auto nested = [](int depth) {
    return std::string(depth - 1, '[') + "{}" + std::string(depth - 1, ']');
  };
  const std::string deepest = "{\"n\":" + nested(MaxJsonDepth - 1) + "}";
  TRun put = Run(P() + "put Films deep", deepest);
  ASSERT_EQ(put.Code, 0) << put.Err;
  TRun list = Run(P() + "list Films");
  EXPECT_EQ(list.Code, 0) << list.Err;
  EXPECT_EQ(list.Out, "deep\t\n");
  TRun imp = Run(P() + "import -", "{\"Films\":{\"i\":" + deepest + "}}");
  EXPECT_EQ(imp.Code, 0) << imp.Err;
  TRun again = Run(P() + "put Films deep2", deepest);
  EXPECT_EQ(again.Code, 0) << again.Err;
  EXPECT_EQ(Run(P() + "list Films").Out, "deep\t\ni\t\ndeep2\t\n");
}

// A stray byte among UTF-8 input is refused with its offset instead of turning the whole text
// into Windows-1251; a project holding one is shown but never changed.
TEST_F(CliTest, StrayByteAmongUtf8IsRefusedWithItsOffset) {
  ASSERT_EQ(Run("new '" + Project + "'").Code, 0);
  for (const std::string cmd : {"put Films f", "import -"}) {
    std::string rec = "{\"Name\":\"Жук\xFF\"}";
    TRun r = Run(P() + cmd, cmd == "import -" ? "{\"Films\":{\"f\":" + rec + "}}" : rec);
    EXPECT_EQ(r.Code, 1) << cmd;
    EXPECT_NE(r.Err.find("not UTF-8"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find(cmd == "import -" ? "offset 29" : "offset 15"), std::string::npos) << r.Err;
  }
  std::string bytes = ReadFileBytes(Project);
  bytes.insert(bytes.rfind('}'), ",\"Films\":{\"f\":{\"Name\":\"Жук\xFF\"}}");
  WriteFileBytes(Project, bytes);
  TRun get = Run(P() + "get Films f");
  EXPECT_EQ(get.Code, 0) << get.Err;
  EXPECT_NE(get.Err.find("offset " + std::to_string(bytes.find('\xFF'))), std::string::npos) << get.Err;
  TRun put = Run(P() + "put Films g", "{}");
  EXPECT_EQ(put.Code, 1);
  EXPECT_NE(put.Err.find("write-protected"), std::string::npos) << put.Err;
  EXPECT_EQ(ReadFileBytes(Project), bytes);
}

// --timeout is a number of seconds above 0 and up to an hour for every command that has it;
// anything else is a usage error before any server is contacted.
TEST_F(CliTest, TimeoutsAreValidatedEverywhere) {
  for (const std::string cmd : {"deploy S", "restart S", "send S --command '{}'"})
    for (const std::string value : {"0", "-1", "nan", "inf", "1e9", "3601"}) {
      TRun r = Run(P() + cmd + " --timeout " + value);
      EXPECT_EQ(r.Code, 2) << cmd << " " << value;
      EXPECT_NE(r.Err.find("--timeout must be a number of seconds above 0 and at most 3600"),
                std::string::npos)
          << cmd << " " << value << ": " << r.Err;
    }
}
