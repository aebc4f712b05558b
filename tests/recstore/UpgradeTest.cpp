#include <gtest/gtest.h>

#include <filesystem>

#include "recstore/DataBaseUpdate.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct UpgradeTest : ::testing::Test {
  TTempDir Tmp;
  TFakeOperator Op;
  std::string File = Tmp.File("old.pq2pr");

  std::unique_ptr<TDbFile> Open() {
    auto db = CreateMainDatabase(&Op);
    db->SetFileName(File);
    db->Load();
    return db;
  }
};

const char* OldProject =
    "{\"Films\":{\"f1\":{\"Name\":\"Film\",\"StateYear\":\"USA\",\"Cast\":\"A\",\"Genres\":\"G\"}},"
    "\"ChSched\":{\"s1\":{\"Name\":\"S\",\"Table\":[[\"0 00:00:00\",\"x\"],[\"0 01:00:00\",\"y\"]]}},"
    "\"Servers\":{\"v1\":{\"Name\":\"Srv\",\"TSched\":[[1,2,3],[4,5]]}},"
    "\"Tree\":{\"Films\":[{\"text\":\"Folder\",\"_ID\":\"old\"},{\"_ID\":\"f1\"},"
    "{\"text\":\"F2\",\"child\":[{\"text\":\"Inner\",\"child\":[],\"_ID\":\"inner\"}]}]}}";

}  // namespace

TEST_F(UpgradeTest, FileWithoutVersionRunsTheWholeChain) {
  WriteFileBytes(File, OldProject);
  auto db = Open();
  ASSERT_TRUE(db->DbIsOpen()) << db->LastError();
  EXPECT_EQ(db->LoadedDBVersion(), "2.0.8.4");

  const std::string backup = File + ".v0.0.0.0.bak";
  EXPECT_EQ(ReadFileBytes(backup), OldProject);  // the backup is the file as it was
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption, "Error");
  EXPECT_EQ(Op.Messages[0].Text,
            "Will update the database " + File + ". The old database is stored in a file " + backup);

  TJson saved = ParseProjectBytes(ReadFileBytes(File));
  EXPECT_EQ(saved["DBVersion"], "2.0.8.4");
  // Step 1: a column holding 1 at index 1 of every channel schedule row; AutoPeriod false.
  EXPECT_EQ(saved["ChSched"]["s1"]["Table"], TJson::parse(R"([["0 00:00:00",1,"x"],["0 01:00:00",1,"y"]])"));
  EXPECT_EQ(saved["ChSched"]["s1"]["AutoPeriod"], false);
  // Top-level folders get fresh identifiers and a child array; inner folders stay.
  const TJson& tree = saved["Tree"]["Films"];
  EXPECT_EQ(tree[0]["_ID"].get<std::string>().size(), 24u);
  EXPECT_NE(tree[0]["_ID"], "old");
  EXPECT_EQ(tree[0]["child"], TJson::array());
  EXPECT_EQ(tree[1], TJson({{"_ID", "f1"}}));
  EXPECT_EQ(tree[2]["child"][0]["_ID"], "inner");
  // Step 2: a null third cell in every server row (a short row is padded).
  EXPECT_EQ(saved["Servers"]["v1"]["TSched"], TJson::parse("[[1,2,null,3],[4,5,null]]"));
  // Step 3: the film texts are reset, servers get SatelliteSys false.
  EXPECT_TRUE(saved["Films"]["f1"]["StateYear"].is_null());
  EXPECT_TRUE(saved["Films"]["f1"]["Cast"].is_null());
  EXPECT_TRUE(saved["Films"]["f1"]["Genres"].is_null());
  EXPECT_EQ(saved["Films"]["f1"]["Name"], "Film");
  EXPECT_EQ(saved["Servers"]["v1"]["SatelliteSys"], false);
}

TEST_F(UpgradeTest, FileAt208RunsOnlyTheLastStep) {
  WriteFileBytes(File,
                 "{\"DBVersion\":\"2.0.8.0\",\"Films\":{\"f\":{\"Name\":\"F\",\"Cast\":\"X\"}},"
                 "\"Servers\":{\"s\":{\"TSched\":[[1]]}},\"Tree\":{\"Films\":[{\"text\":\"T\",\"_ID\":\"keep\"}]}}");
  auto db = Open();
  ASSERT_TRUE(db->DbIsOpen());
  TJson saved = ParseProjectBytes(ReadFileBytes(File));
  EXPECT_TRUE(saved["Films"]["f"]["Cast"].is_null());
  EXPECT_TRUE(saved["Films"]["f"].contains("Genres"));
  EXPECT_EQ(saved["Servers"]["s"]["TSched"], TJson::parse("[[1]]"));  // no column inserted
  EXPECT_EQ(saved["Tree"]["Films"][0]["_ID"], "keep");                // no folder fix
  EXPECT_TRUE(fs::exists(File + ".v2.0.8.0.bak"));
}

TEST_F(UpgradeTest, ChannelSchedulesNeverWrittenAreLeftAlone) {
  WriteFileBytes(File, "{\"DBVersion\":\"0.0.0.0\",\"Films\":{}}");
  auto db = Open();
  ASSERT_TRUE(db->DbIsOpen());
  TJson saved = ParseProjectBytes(ReadFileBytes(File));
  EXPECT_FALSE(saved.contains("ChSched"));
  EXPECT_EQ(saved["DBVersion"], "2.0.8.4");
}

TEST_F(UpgradeTest, NoStepFromTheFileVersionFailsAndKeepsTheFile) {
  const std::string original = "{\"DBVersion\":\"2.0.5.0\",\"Films\":{\"f\":{\"Name\":\"F\"}}}";
  WriteFileBytes(File, original);
  auto db = Open();
  EXPECT_FALSE(db->DbIsOpen());
  EXPECT_TRUE(db->SaveDisabled());
  EXPECT_EQ(Op.Messages.back().Text, "Unable to convert a database " + File +
                                         " from version 2.0.5.0 to version 2.0.8.4\n"
                                         "There is no conversion step from version 2.0.5.0.");
  EXPECT_EQ(ReadFileBytes(File), original);
  EXPECT_EQ(ReadFileBytes(File + ".v2.0.5.0.bak"), original);
}

TEST_F(UpgradeTest, RecordWithoutTheTableFailsTheConversion) {
  const std::string original =
      "{\"DBVersion\":\"2.0.2.0\",\"Servers\":{\"s\":{\"Name\":\"no table\"}}}";
  WriteFileBytes(File, original);
  auto db = Open();
  EXPECT_FALSE(db->DbIsOpen());
  EXPECT_EQ(Op.Messages.back().Text,
            "Unable to convert a database " + File +
                " from version 2.0.2.0 to version 2.0.8.4\nThe conversion step from version "
                "2.0.2.0 to version 2.0.8.0 failed: record \"s\" of Servers: the record has no "
                "table \"TSched\"");
  EXPECT_EQ(Op.Messages.back().Caption, "Error");
  EXPECT_EQ(ReadFileBytes(File), original);
  // Nothing but the backup was written; a change now is refused with the "Save as" message.
  db->CollectionByName("Films").NewRecord("x", {{"Name", "x"}});
  EXPECT_EQ(ReadFileBytes(File), original);
}

TEST_F(UpgradeTest, FixTreeFoldersTwiceGivesNewIdentifiers) {
  TDbFile db(&Op);
  db.Collections().Add("Tree");
  db.New();
  db.CollectionByName("Tree").SetRecordNo1("Films", TJson::parse(R"([{"text":"A","child":[]}])"));
  TDbUpdateTable table(db);
  table.FixTreeFolders("Tree");
  std::string first = (*db.CollectionByName("Tree").GetRecord("Films"))[0]["_ID"];
  table.FixTreeFolders("Tree");
  std::string second = (*db.CollectionByName("Tree").GetRecord("Films"))[0]["_ID"];
  EXPECT_NE(first, second);
}

TEST_F(UpgradeTest, UpdateStopsWhenAStepFails) {
  TDbFile db(&Op);
  db.SetDBVersion("1.0.0.2");
  db.New();
  db.SetLoadedDBVersion("1.0.0.0");
  TDbUpdateTable table(db);
  int ran = 0;
  table.Add("1.0.0.0", "1.0.0.1", [&] { ++ran; return true; });
  table.Add("1.0.0.1", "1.0.0.2", [&] { ++ran; return false; });
  EXPECT_FALSE(table.Update());
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(db.LoadedDBVersion(), "1.0.0.1");
}

// The backup and the final save are steps of their own: when one fails the operator is told
// which and why, and the project file is left as it was.
TEST_F(UpgradeTest, FailedBackupOrFinalSaveIsToldWithTheReason) {
  const std::string original = "{\"DBVersion\":\"2.0.8.0\",\"Films\":{\"f\":{\"Name\":\"F\"}}}";
  struct TCase {
    const char* Name;
    std::string Expected;  // the second line of the message begins so
    bool BlockBackup;
  };
  const std::vector<TCase> cases = {
      {"backup", "The backup could not be written, so nothing was converted. Can't write file " +
                     File + ".v2.0.8.0.bak: ",
       true},
      // The file vanished behind the program's back: the on-disk check refuses the save.
      {"final save", "The converted database could not be saved. The database file " + File +
                         " was not saved: another program replaced it",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(File);
    fs::remove_all(File + ".v2.0.8.0.bak");
    WriteFileBytes(File, original);
    // A folder that is not empty cannot be replaced by a file.
    const std::string blocked = c.BlockBackup ? File + ".v2.0.8.0.bak" : File + ".blocked";
    fs::create_directories(blocked + "/keep");
    Op.Messages.clear();
    auto db = CreateMainDatabase(&Op);
    db->SetFileName(File);
    if (!c.BlockBackup) {
      // The file is replaced by a folder while the conversion runs, so only the save fails.
      db->onDataBaseUpdate = [&](TDbFile& sender, bool& ok) {
        DbF1DataBaseUpdate(sender, ok);
        fs::remove(File);
        fs::rename(blocked, File);
      };
    }
    db->Load();
    EXPECT_FALSE(db->DbIsOpen());
    EXPECT_TRUE(db->SaveDisabled());
    ASSERT_FALSE(Op.Messages.empty());
    const std::string text = Op.Messages.back().Text;
    const std::string first = "Unable to convert a database " + File +
                              " from version 2.0.8.0 to version 2.0.8.4\n";
    EXPECT_EQ(text.substr(0, first.size()), first) << text;
    EXPECT_EQ(text.substr(first.size(), c.Expected.size()), c.Expected) << text;
    EXPECT_FALSE(db->LastError().empty());
    if (c.BlockBackup) {
      EXPECT_EQ(Op.Messages.size(), 1u);  // no "Will update" before a backup that failed
      EXPECT_EQ(ReadFileBytes(File), original);
    } else {
      EXPECT_NE(text.find(File + ".v2.0.8.0.bak"), std::string::npos) << text;
      EXPECT_EQ(ReadFileBytes(File + ".v2.0.8.0.bak"), original);
    }
    fs::remove_all(File);
    fs::remove_all(blocked);
  }
}
