// The project's history: daily backups, the change journal, differences and restore.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "recstore/Backups.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "shell/ProjectHistory.h"
#include "shell/TreeDocument.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Noon of day N of December 2026, local time.
std::time_t Day(int n) { return LocalNoon(2026, 12, n); }

struct History : ::testing::Test {
  TScopedFakeOperator Op;
  TTempDir Tmp;
  std::time_t Now = Day(1);
  std::unique_ptr<TDbFile> Db;

  std::string Project() const { return Tmp.File("p.pq2pr"); }

  void SetUp() override {
    Db = CreateMainDatabase(&Op);
    Db->HistoryClock = [this] { return Now; };
    Db->New();
    Db->SetFileName(Project());
    Db->Save();
  }
  void Put(const std::string& coll, const std::string& id, const TJson& rec) {
    ASSERT_TRUE(StoreRecordCounted(Db->CollectionByName(coll), id, rec)) << Db->LastError();
  }
  std::vector<std::string> BackupDays() const {
    std::vector<std::string> out;
    for (const auto& b : ListBackups(Project())) out.push_back(b.Day);
    return out;
  }
};

}  // namespace

TEST_F(History, FirstChangeOfADayKeepsTheFileAsItWasAndLaterChangesDoNot) {
  const std::string before = ReadFileBytes(Project());
  Put("Films", "f1", {{"Name", "One"}});
  Put("Films", "f2", {{"Name", "Two"}});
  ASSERT_EQ(BackupDays(), std::vector<std::string>{"20261201"});
  EXPECT_EQ(ReadFileBytes(ListBackups(Project())[0].Path), before);

  Now = Day(2);
  const std::string beforeDay2 = ReadFileBytes(Project());
  Put("Films", "f1", {{"Name", "One, changed"}});
  ASSERT_EQ(BackupDays(), (std::vector<std::string>{"20261201", "20261202"}));
  EXPECT_EQ(ReadFileBytes(ListBackups(Project())[1].Path), beforeDay2);

  // The journal: one line per change, day 1's kept beside the backups.
  std::vector<TJson> lines = ReadJournal(Project());
  std::vector<std::string> films;
  for (const auto& l : lines)
    if (JsonStr(l, "collection") == "Films")
      films.push_back(JsonStr(l, "id") + " " + JsonStr(l, "change") + " " + JsonStr(l, "Name"));
  EXPECT_EQ(films, (std::vector<std::string>{"f1 new One", "f2 new Two", "f1 changed One, changed"}));
  EXPECT_TRUE(fs::exists(BackupFolderOf(Project()) + "/p.20261201.journal"));
  for (const auto& l : lines)
    for (const char* key : {"time", "user", "host", "program", "old", "new"})
      EXPECT_TRUE(l.contains(key)) << key << " missing in " << l.dump();
}

TEST_F(History, RetentionDropsTheOldestBackupsWithTheirJournalsAndZeroTurnsHistoryOff) {
  Put("Options", "Options", {{"BackupDays", 3}});
  for (int d = 2; d <= 6; ++d) {
    Now = Day(d);
    Put("Films", "f", {{"Name", "Day " + std::to_string(d)}});
  }
  EXPECT_EQ(BackupDays(), (std::vector<std::string>{"20261204", "20261205", "20261206"}));
  for (const auto& e : fs::directory_iterator(BackupFolderOf(Project())))
    EXPECT_GE(e.path().filename().string(), "p.20261204") << e.path();

  // Off: no new backup, no journal line.
  Put("Options", "Options", {{"BackupDays", "0"}});
  const size_t lines = ReadJournal(Project()).size();
  Now = Day(7);
  Put("Films", "f", {{"Name", "Day 7"}});
  EXPECT_EQ(BackupDays().size(), 3u);
  EXPECT_EQ(ReadJournal(Project()).size(), lines);
}

TEST_F(History, ABackupThatCannotBeMadeIsToldOnceAndTheChangeIsSaved) {
  WriteFileBytes(BackupFolderOf(Project()), "a file where the folder should be");
  Put("Films", "f1", {{"Name", "One"}});
  Put("Films", "f2", {{"Name", "Two"}});
  auto reloaded = CreateMainDatabase(&Op);
  reloaded->SetFileName(Project());
  reloaded->SetGuardFile(false);
  ASSERT_TRUE(reloaded->Load());
  EXPECT_TRUE(reloaded->CollectionByName("Films").GetRecord("f2").has_value());
  int warnings = 0;
  for (const auto& m : Op.Messages)
    if (m.Text.find("daily backup") != std::string::npos) ++warnings;
  EXPECT_EQ(warnings, 1);
}

TEST(HistoryDiff, NamesEveryDifferenceAndOnlyThose) {
  TJson before = ParseJsonText(R"({"DBVersion":"1",
    "Films":{"a":{"Name":"Same","N":25.0,"X":1,"Y":2},"b":{"Name":"Gone"},"c":{"Name":"Old"}},
    "Channels":{"k":{"Name":"Kept"}},
    "Tree":{"Films":[{"_ID":"a"},{"_ID":"b"}]}})");
  TJson after = ParseJsonText(R"({"DBVersion":"1",
    "Films":{"c":{"Name":"New"},"a":{"Y":2,"X":1,"N":25,"Name":"Same"},"d":{"Name":"Added"}},
    "Channels":{"k":{"Name":"Kept"}},
    "Groups":{"g":{"Name":"G"}},
    "Tree":{"Films":[{"_ID":"a"},{"_ID":"c"}]}})");
  std::vector<std::string> got;
  for (const auto& d : DiffDocuments(before, after))
    got.push_back(d.Collection + " " + d.Kind + " " + d.ID + " " + d.Name);
  EXPECT_EQ(got, (std::vector<std::string>{"Films changed c New", "Films added d Added",
                                           "Films deleted b Gone", "Groups added g G",
                                           "Tree changed Films folder tree of Films"}));
  EXPECT_TRUE(DiffDocuments(after, after).empty());
}

TEST_F(History, RestoringADeletedRecordBringsItAndItsTreeEntryBackAsOneWrite) {
  TDbCollectionItem& films = Db->CollectionByName("Films");
  Put("Films", "f1", {{"Name", "One"}, {"Duration", "00:01:00,000"}});
  Put("Films", "f2", {{"Name", "Two"}, {"Sub", {{"A", TJson::array({1, 2.5, "x"})}}}});
  Put("Films", "f3", {{"Name", "Three"}});
  Put("Tree", "Films", TJson::array({{{"_ID", "f1"}},
                                     {{"text", "Folder"}, {"_ID", "fold"},
                                      {"child", TJson::array({{{"_ID", "f2"}}, {{"_ID", "f3"}}})}}}));
  const TJson recordThen = *films.GetRecord("f2");
  const TJson treeThen = *Db->CollectionByName("Tree").GetRecord("Films");
  Now = Day(2);  // today's backup holds the three films
  ASSERT_TRUE(films.DelRecord("f2"));
  ASSERT_TRUE(RemoveRecordTreeEntry(*Db, films, "f2"));

  TJson backup = ReadProjectDocument(ListBackups(Project()).back().Path);
  TRestoreResult r = RestoreFromDocument(*Db, backup, "Films", "f2");
  EXPECT_EQ(r.Added, 1);
  EXPECT_EQ(r.TreeEntries, 1);
  auto again = CreateMainDatabase(&Op);
  again->SetFileName(Project());
  again->SetGuardFile(false);
  ASSERT_TRUE(again->Load());
  EXPECT_EQ(again->CollectionByName("Films").GetRecord("f2")->dump(), recordThen.dump());
  EXPECT_EQ(again->CollectionByName("Tree").GetRecord("Films")->dump(), treeThen.dump());
  bool journalled = false;
  for (const auto& l : ReadJournal(Project()))
    journalled |= JsonStr(l, "change") == "restored" && JsonStr(l, "id") == "f2";
  EXPECT_TRUE(journalled);

  // A record the backup does not have is refused, and nothing changes.
  const std::string file = ReadFileBytes(Project());
  EXPECT_THROW(RestoreFromDocument(*Db, backup, "Films", "nope"), std::runtime_error);
  EXPECT_EQ(ReadFileBytes(Project()), file);
}

TEST_F(History, WholeRestoreMakesTheProjectEqualToTheBackup) {
  Put("Films", "f1", {{"Name", "One"}});
  Now = Day(2);
  Put("Films", "f2", {{"Name", "Two"}});
  Put("Channels", "c1", {{"Name", "Channel"}});
  ASSERT_TRUE(Db->CollectionByName("Films").DelRecord("f1"));
  TJson backup = ReadProjectDocument(ListBackups(Project()).back().Path);
  RestoreFromDocument(*Db, backup);
  EXPECT_TRUE(DiffDocuments(backup, ReadProjectDocument(Project())).empty());
}

TEST(HistoryCli, OneJournalLinePerChangeUnderTenParallelWriters) {
  TTempDir tmp;
  ASSERT_EQ(RunCliIn(tmp, "new p.pq2pr").Code, 0);
  // Ten processes at once, each with its own input and output files.
  std::vector<std::thread> writers;
  std::vector<int> codes(10);
  for (int i = 0; i < 10; ++i) {
    const std::string n = std::to_string(i);
    WriteFileBytes(tmp.File("in" + n), "{\"Name\":\"Film " + n + "\"}");
    writers.emplace_back([&, i, n] {
      std::string cmd = "cd '" + tmp.Path().string() + "' && '" + PELMORA_CLI_PATH +
                        "' --project p.pq2pr --wait 120 put Films --new <in" + n + " >out" + n +
                        " 2>err" + n;
      codes[i] = std::system(cmd.c_str());
    });
  }
  for (auto& w : writers) w.join();
  std::set<std::string> stored;
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(codes[i], 0) << ReadFileBytes(tmp.File("err" + std::to_string(i)));
    stored.insert(ReadFileBytes(tmp.File("out" + std::to_string(i))).substr(0, 24));
  }
  ASSERT_EQ(stored.size(), 10u);
  TCliRun journal = RunCliIn(tmp, "--project p.pq2pr --json journal --collection Films");
  ASSERT_EQ(journal.Code, 0) << journal.Err;
  std::set<std::string> journalled;
  TJson lines = ParseJsonText(journal.Out);
  for (const auto& l : lines) {
    EXPECT_EQ(JsonStr(l, "change"), "new");
    EXPECT_EQ(JsonStr(l, "program"), "pelmora-cli");
    journalled.insert(JsonStr(l, "id"));
  }
  EXPECT_EQ(lines.size(), 10u);
  EXPECT_EQ(journalled, stored);

  // backups, diff and restore of the whole project through the command line.
  TCliRun backups = RunCliIn(tmp, "--project p.pq2pr --json backups");
  ASSERT_EQ(backups.Code, 0) << backups.Err;
  TJson list = ParseJsonText(backups.Out);
  ASSERT_EQ(list.size(), 1u);  // the empty project, kept before the day's first change
  TCliRun diff = RunCliIn(tmp, "--project p.pq2pr diff " + JsonStr(list[0], "Date"));
  ASSERT_EQ(diff.Code, 0) << diff.Err;
  EXPECT_NE(diff.Out.find("Films: 10 added, 0 changed, 0 deleted"), std::string::npos) << diff.Out;
  TCliRun restore = RunCliIn(tmp, "--project p.pq2pr restore " + JsonStr(list[0], "Date"));
  ASSERT_EQ(restore.Code, 0) << restore.Err;
  EXPECT_EQ(RunCliIn(tmp, "--project p.pq2pr list Films").Out, "");
}
