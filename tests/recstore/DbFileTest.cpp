#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct DbFileTest : ::testing::Test {
  TTempDir Tmp;
  TFakeOperator Op;
  std::string File = Tmp.File("p.pq2pr");

  std::unique_ptr<TDbFile> NewProject() {
    auto db = CreateMainDatabase(&Op);
    db->New();
    db->SetFileName(File);
    db->Save();
    return db;
  }
  std::unique_ptr<TDbFile> Open() {
    auto db = CreateMainDatabase(&Op);
    db->SetFileName(File);
    db->Load();
    return db;
  }
};

}  // namespace

TEST_F(DbFileTest, EveryChangeRewritesTheFileAndReloads) {
  auto db = NewProject();
  auto& films = db->CollectionByName("Films");
  EXPECT_EQ(films.AsJson(), nullptr);  // never written: no member
  ASSERT_TRUE(films.NewRecord("f1", {{"Name", "One"}, {"Duration", "00:01:00,000"}}));
  ASSERT_TRUE(films.NewRecord("f2", {{"Name", "Two"}}));
  ASSERT_TRUE(films.DelRecord("f2"));
  EXPECT_TRUE(films.DelRecord("missing"));  // file mode: deleting nothing succeeds

  auto again = Open();
  ASSERT_TRUE(again->DbIsOpen());
  auto rec = again->CollectionByName("Films").GetRecord("f1");
  ASSERT_TRUE(rec);
  EXPECT_EQ((*rec)["Name"], "One");
  EXPECT_FALSE(again->CollectionByName("Films").GetRecord("f2"));
  EXPECT_TRUE(Op.Messages.empty());
}

TEST_F(DbFileTest, ReadsAreDeepCopies) {
  auto db = NewProject();
  auto& films = db->CollectionByName("Films");
  films.NewRecord("f1", {{"Name", "One"}, {"Tags", {1, 2}}});
  auto rec = films.GetRecord("f1");
  (*rec)["Tags"].push_back(3);
  (*rec)["Name"] = "Changed";
  EXPECT_EQ((*films.GetRecord("f1"))["Name"], "One");
  EXPECT_EQ((*films.GetRecord("f1"))["Tags"].size(), 2u);
}

TEST_F(DbFileTest, CountersRefuseStaleChanges) {
  auto db = NewProject();
  auto& films = db->CollectionByName("Films");
  int64_t c = 0;
  ASSERT_TRUE(films.NewRecord("f1", {{"Name", "v1"}}, c));
  EXPECT_EQ(c, 1);

  int64_t a = -1, b = -1;
  films.GetRecord("f1", a, true);
  films.GetRecord("f1", b, true);
  EXPECT_EQ(a, 1);
  ASSERT_TRUE(films.UpdateRecord("f1", {{"Name", "first"}}, a));
  EXPECT_EQ(a, 2);
  // The second reader's counter is stale: refused, nothing changes.
  int64_t stale = b;
  EXPECT_FALSE(films.UpdateRecord("f1", {{"Name", "second"}}, b));
  EXPECT_EQ(b, stale);
  EXPECT_EQ((*films.GetRecord("f1"))["Name"], "first");
  int64_t now = -1;
  films.GetRecord("f1", now, true);
  EXPECT_EQ(now, 2);
  EXPECT_FALSE(films.DelRecord("f1", stale));
  EXPECT_TRUE(films.GetRecord("f1"));
  EXPECT_TRUE(films.DelRecord("f1", now));
  EXPECT_FALSE(films.GetRecord("f1"));

  // A change without counter leaves the counter where it was.
  int64_t k = 0;
  films.NewRecord("f3", {{"Name", "x"}}, k);
  films.UpdateRecord("f3", {{"Name", "y"}});
  int64_t after = -1;
  films.GetRecord("f3", after, true);
  EXPECT_EQ(after, 1);

  // Counters are not stored: after a reload every record starts at 0.
  auto again = Open();
  int64_t reloaded = -1;
  ASSERT_TRUE(again->CollectionByName("Films").GetRecord("f3", reloaded, true));
  EXPECT_EQ(reloaded, 0);
  EXPECT_EQ(ReadFileBytes(File).find("Cntr"), std::string::npos);
}

TEST_F(DbFileTest, NewOrUpdateWithCounter) {
  auto db = NewProject();
  auto& films = db->CollectionByName("Films");
  int64_t c = 0;
  ASSERT_TRUE(films.NewOrUpdateRecord("f1", {{"Name", "a"}}, c));  // missing: created
  EXPECT_EQ(c, 1);
  int64_t stale = 0;
  EXPECT_FALSE(films.NewOrUpdateRecord("f1", {{"Name", "b"}}, stale));  // exists, stale
  EXPECT_EQ((*films.GetRecord("f1"))["Name"], "a");
  // A missing record has counter 0: updating it with counter 0 creates it.
  int64_t zero = 0;
  EXPECT_TRUE(films.UpdateRecord("g", {{"Name", "g"}}, zero));
  EXPECT_EQ(zero, 1);
}

TEST_F(DbFileTest, UnknownCollectionsAndMembersSurvive) {
  WriteFileBytes(File,
                 "{\"DBVersion\":\"2.0.8.4\",\"Alien\":{\"x\":{\"q\":[1,2.5,{\"w\":null}]}},"
                 "\"Films\":{\"f1\":{\"Name\":\"A\",\"Extra\":{\"deep\":true}}}}");
  auto db = Open();
  ASSERT_TRUE(db->DbIsOpen());
  // Loading a file at the program's version writes nothing.
  EXPECT_EQ(ReadFileBytes(File).substr(0, 2), "{\"");
  db->CollectionByName("Channels").NewRecord("c1", {{"Name", "C"}});
  TJson saved = ParseProjectBytes(ReadFileBytes(File));
  EXPECT_EQ(saved["Alien"]["x"]["q"][1], 2.5);
  EXPECT_TRUE(saved["Alien"]["x"]["q"][2]["w"].is_null());
  EXPECT_EQ(saved["Films"]["f1"]["Extra"]["deep"], true);
  EXPECT_EQ(saved["Channels"]["c1"]["Name"], "C");
}

TEST_F(DbFileTest, NewerFileIsNeverWritten) {
  const std::string original =
      "{\"DBVersion\":\"2.0.10.0\",\"Films\":{\"f1\":{\"Name\":\"keep me\"}}}";
  WriteFileBytes(File, original);
  auto db = Open();
  EXPECT_FALSE(db->DbIsOpen());
  EXPECT_TRUE(db->SaveDisabled());
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption, "Error");
  EXPECT_EQ(Op.Messages[0].Text, "The database " + File +
                                     " version 2.0.10.0 is newer than the version 2.0.8.4 "
                                     "supported by the program");
  // The database is empty in memory.
  EXPECT_FALSE(db->CollectionByName("Films").GetRecord("f1"));

  // A change attempt shows the "Save as" message; the file stays byte-identical.
  db->CollectionByName("Films").NewRecord("f2", {{"Name", "new"}});
  EXPECT_EQ(Op.Messages.back().Text,
            "Can't save the database to file " + File + ". Use the menu: \"Save as\".");
  EXPECT_EQ(ReadFileBytes(File), original);
  EXPECT_FALSE(fs::exists(File + ".v2.0.10.0.bak"));

  // Choosing another file name lifts the block, and the change held in memory is written.
  const std::string other = Tmp.File("other.pq2pr");
  db->SetFileName(other);
  EXPECT_FALSE(db->SaveDisabled());
  db->Save();
  EXPECT_EQ(ParseProjectBytes(ReadFileBytes(other))["Films"]["f2"]["Name"], "new");
  EXPECT_EQ(ReadFileBytes(File), original);
}

TEST_F(DbFileTest, UnreadableOrMalformedFileIsWriteProtected) {
  for (std::string bad : {std::string("{\"DBVersion\":\"2.0.8.4\",\"Films\":{"),
                          std::string("{\"DBVersion\":\"two\"}"), std::string("[1,2]"),
                          std::string("{\"DBVersion\":\"2.0.8\"}")}) {
    WriteFileBytes(File, bad);
    auto db = Open();
    EXPECT_FALSE(db->DbIsOpen()) << bad;
    EXPECT_TRUE(db->SaveDisabled()) << bad;
    EXPECT_FALSE(db->LastError().empty()) << bad;
    db->CollectionByName("Films").NewRecord("x", {{"Name", "x"}});
    EXPECT_EQ(ReadFileBytes(File), bad) << "a damaged file must never be overwritten";
  }
}

TEST_F(DbFileTest, MissingFileIsCreatedByTheFirstChange) {
  auto db = CreateContractsDatabase(Tmp.Path().string(), &Op);
  db->Loaded();
  EXPECT_FALSE(db->DbIsOpen());
  EXPECT_FALSE(db->SaveDisabled());
  EXPECT_TRUE(Op.Messages.empty());
  ASSERT_TRUE(db->CollectionByName("Contracts").NewRecord("c", {{"Name", "Contract"}}));
  TJson saved = ParseProjectBytes(ReadFileBytes(Tmp.File("contracts.json")));
  EXPECT_EQ(saved["Contracts"]["c"]["Name"], "Contract");
  EXPECT_EQ(saved["DBVersion"], "0.0.0.0");
}

// A write that fails leaves memory as it was, as well as the file: the record, its counter and
// the document, for every kind of change; the change is not written by a later save either.
TEST_F(DbFileTest, FailedWriteSaysWhyAndChangesNothing) {
  auto db = NewProject();
  auto& films = db->CollectionByName("Films");
  int64_t cntr = 0;
  ASSERT_TRUE(films.NewRecord("f0", {{"Name", "before"}}, cntr));
  ASSERT_TRUE(films.NewRecord("f9", {{"Name", "last"}}));
  const std::string before = ReadFileBytes(File);
  const TJson memory = db->JSON();
  struct TChange {
    const char* What;
    std::function<bool()> Run;
  };
  const std::vector<TChange> changes = {
      {"new record", [&] { return films.NewRecord("f1", {{"Name", "after"}}); }},
      {"update", [&] { int64_t c = cntr; return films.UpdateRecord("f0", {{"Name", "x"}}, c); }},
      {"update without counter", [&] { return films.UpdateRecord("f0", {{"Name", "y"}}); }},
      {"delete", [&] { return films.DelRecord("f0", cntr); }},
      {"new collection", [&] { return db->CollectionByName("Users").NewRecord("u", {{"Name", "u"}}); }},
  };
  for (const TChange& change : changes) {
    Op.Messages.clear();
    bool ok = true;
    {
      TFailingWrites full;
      ok = change.Run();
    }
    EXPECT_FALSE(ok) << change.What;
    ASSERT_FALSE(Op.Messages.empty()) << change.What;
    EXPECT_EQ(Op.Messages.back().Caption, "IO Error");
    EXPECT_NE(Op.Messages.back().Text.find(TFailingWrites::Reason()), std::string::npos)
        << Op.Messages.back().Text;
    EXPECT_EQ(db->LastError(), Op.Messages.back().Text);
    EXPECT_EQ(ReadFileBytes(File), before) << change.What;
    EXPECT_TRUE(JsonEqual(db->JSON(), memory)) << change.What;
    EXPECT_EQ(db->JSON().dump(), memory.dump()) << change.What << ": the order kept too";
  }
  // The counter still matches, so the same update succeeds once the disk takes writes; the
  // failed changes are not written along with it.
  ASSERT_TRUE(films.UpdateRecord("f0", {{"Name", "now"}}, cntr));
  TJson saved = ParseProjectBytes(ReadFileBytes(File));
  EXPECT_EQ(saved["Films"]["f0"]["Name"], "now");
  EXPECT_FALSE(saved["Films"].contains("f1"));
  EXPECT_FALSE(saved.contains("Users"));
  // A refusal because of another counter is no write error.
  int64_t stale = cntr - 1;
  EXPECT_FALSE(films.UpdateRecord("f0", {{"Name", "stale"}}, stale));
  EXPECT_EQ(db->LastError(), "");
}

TEST_F(DbFileTest, AtomicSaveLeavesNoTemporaryFiles) {
  auto db = NewProject();
  for (int i = 0; i < 5; ++i)
    db->CollectionByName("Films").NewRecord("f" + std::to_string(i), {{"Name", "x"}});
  // Beside the project only its history: the backups folder and the change journal.
  int files = 0;
  for (const auto& e : fs::directory_iterator(Tmp.Path())) {
    const std::string name = e.path().filename().string();
    if (name == File.substr(File.rfind('/') + 1) + ".backups" ||
        name == File.substr(File.rfind('/') + 1) + ".journal")
      continue;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(DbFileTest, SetRecordNo1WaitsForTheNextSavingChange) {
  auto db = NewProject();
  auto& films = db->CollectionByName("Films");
  films.SetRecordNo1("a", {{"Name", "A"}});
  films.SetRecordNo1("b", {{"Name", "B"}});
  EXPECT_EQ(ParseProjectBytes(ReadFileBytes(File)).contains("Films"), false);
  EXPECT_TRUE(films.GetRecord("a"));
  db->CollectionByName("Channels").NewRecord("c", {{"Name", "C"}});
  TJson saved = ParseProjectBytes(ReadFileBytes(File));
  EXPECT_EQ(saved["Films"].size(), 2u);
}

TEST_F(DbFileTest, CollectionsAndNames) {
  auto db = CreateMainDatabase(&Op);
  EXPECT_EQ(db->Collections().Count(), 16u);
  EXPECT_EQ(db->Collections()[0].Name(), "Tree");
  EXPECT_EQ(db->CollectionByName("Films").GetName(), "Movies");
  EXPECT_EQ(db->CollectionByName("ShowSchedule").GetName(), "ShowSchedule");
  // Whether a collection keeps a folder tree is part of the collection table.
  for (size_t i = 0; i < db->Collections().Count(); ++i) {
    const std::string& name = db->Collections()[i].Name();
    bool plain = name == "Tree" || name == "Options" || name == "ShowSchedule" || name == "AutoChanged";
    EXPECT_EQ(db->Collections()[i].HasTree(), !plain) << name;
  }
  db->CollectionByName("Films").SetCaption("Catalogue");
  EXPECT_EQ(db->CollectionByName("Films").GetName(), "Catalogue");
  try {
    db->CollectionByName("films");  // case-sensitive
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Not found collection by name: films");
  }
  TCollectionData cd;
  db->SC("Films", "Tree", cd);
  EXPECT_EQ(cd.Records->Name(), "Films");
  EXPECT_EQ(cd.Tree->Name(), "Tree");
  EXPECT_EQ(cd.TreeID, "Films");
  EXPECT_EQ(db->DBVersion(), "2.0.8.4");
  TDbFile plain(&Op);
  EXPECT_EQ(plain.DBVersion(), "0.0.0.0");
  EXPECT_EQ(plain.LoadedDBVersion(), "0.0.0.0");
}

TEST_F(DbFileTest, GetFollowsReferences) {
  auto db = NewProject();
  db->CollectionByName("Films").NewRecord("f1", {{"Name", "One"}});
  EXPECT_EQ((*db->get({"f1", "Films"}))["Name"], "One");
  EXPECT_FALSE(db->get({"nope", "Films"}));
  EXPECT_THROW(db->get({"f1", "Nowhere"}), std::runtime_error);
  TrefID r = JsonToTrefID(nullptr);
  EXPECT_TRUE(r._ID.empty() && r.Collection.empty());
  TJson o = TrefIDToJson({"abc", "Films"});
  EXPECT_EQ(o, TJson({{"_ID", "abc"}, {"_CL", "Films"}}));
  TrefID back = JsonToTrefID(&o);
  EXPECT_EQ(back._ID, "abc");
  EXPECT_EQ(back.Collection, "Films");
}

TEST(CompareVersions, ComparesPartsAsNumbers) {
  EXPECT_EQ(CompareVersions("2.0.8.4", "2.0.10.0"), -1);
  EXPECT_EQ(CompareVersions("2.0.10.0", "2.0.8.4"), 1);
  EXPECT_EQ(CompareVersions("2.0.8.4", "2.0.8.4"), 0);
  EXPECT_EQ(CompareVersions("2.0.8.4.9", "2.0.8.4.1"), 0);  // parts after the fourth ignored
  EXPECT_THROW(CompareVersions("2.0.8", "2.0.8.4"), std::invalid_argument);
  EXPECT_THROW(CompareVersions("2.0.x.4", "2.0.8.4"), std::invalid_argument);
  EXPECT_THROW(CompareVersions("2..8.4", "2.0.8.4"), std::invalid_argument);
}

TEST(EDbFException, MessageForms) {
  TDbFile db;
  auto& c = db.Collections().Add("Films");
  EDbFException withColl(&c, "abc");
  EXPECT_STREQ(withColl.what(), "Records \"abc\" is not found in collection \"Films\"");
  EXPECT_EQ(withColl.Coll, &c);
  EDbFException plain(nullptr, "just text");
  EXPECT_STREQ(plain.what(), "just text");
}

// Rewriting after a change formats only the changed records; whatever the mix of changes,
// the file must always be exactly the text of the whole document.
TEST_F(DbFileTest, IncrementalRewriteAlwaysMatchesAFullWrite) {
  auto db = NewProject();
  std::mt19937 rng(7);
  const char* colls[] = {"Films", "Channels", "Tree"};
  int checked = 0;
  for (int step = 0; step < 400; ++step) {
    auto& coll = db->CollectionByName(colls[rng() % 3]);
    std::string id = "r" + std::to_string(rng() % 12);
    TJson rec = {{"Name", "n" + std::to_string(rng() % 1000)}, {"V", static_cast<double>(rng() % 7) / 2}};
    bool saves = false;  // a refused change (stale counter) writes nothing
    switch (rng() % 7) {
      case 0: saves = coll.NewRecord(id, rec); break;
      case 1: saves = coll.UpdateRecord(id, rec); break;
      case 2: saves = coll.DelRecord(id); break;
      case 3: coll.SetRecordNo1(id, rec); break;
      case 4:
        if (TJson* all = coll.AsJson(); all && !all->empty()) (*all->begin())["Live"] = step;
        break;
      case 5: {
        int64_t c = 0;
        coll.GetRecord(id, c, true);
        saves = coll.UpdateRecord(id, rec, c);
        break;
      }
      case 6:
        if (step % 50 == 0) db->MutableJSON()["Extra"] = step;
        saves = coll.NewOrUpdateRecord(id, rec);
        break;
    }
    if (saves) {
      ASSERT_EQ(ReadFileBytes(File), WriteProjectText(db->JSON())) << "step " << step;
      ++checked;
    }
  }
  EXPECT_GT(checked, 200);
  auto again = Open();
  EXPECT_EQ(again->JSON(), db->JSON());
}

// A record is stored only when the file it goes into can be read back: a record as deep as a
// document may be loads inside the project (two levels deeper), a deeper one is refused by
// every change, and the file is left as it was.
TEST_F(DbFileTest, RecordsAsDeepAsTheReaderAllowsLoadBackDeeperOnesAreRefused) {
  auto nested = [](int depth) {
    TJson v = TJson::object();
    for (int i = 1; i < depth; ++i) v = TJson{{"n", v}};
    return v;
  };
  struct {
    int Depth;
    bool Stored;
  } cases[] = {{10, true}, {MaxJsonDepth, true}, {MaxJsonDepth + 1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Depth);
    auto db = NewProject();
    const std::string before = ReadFileBytes(File);
    TJson rec = nested(c.Depth);
    auto& films = db->CollectionByName("Films");
    EXPECT_EQ(films.NewRecord("deep", rec), c.Stored) << db->LastError();
    EXPECT_EQ(films.NewOrUpdateRecord("deep", rec), c.Stored);
    if (!c.Stored) {
      EXPECT_NE(db->LastError().find("nested deeper than"), std::string::npos) << db->LastError();
      EXPECT_EQ(ReadFileBytes(File), before);
      continue;
    }
    db.reset();  // lets go of the file
    auto again = Open();
    ASSERT_TRUE(again->DbIsOpen()) << again->LastError();
    EXPECT_FALSE(again->SaveDisabled());
    EXPECT_EQ(*again->CollectionByName("Films").GetRecord("deep"), rec);
  }
}

// A project whose UTF-8 text holds a stray byte opens write-protected, with a warning naming
// the byte's offset; nothing is garbled and nothing is written back.
TEST_F(DbFileTest, StrayByteAmongUtf8OpensWriteProtectedWithItsOffset) {
  NewProject();
  std::string bytes = ReadFileBytes(File);
  bytes.insert(bytes.rfind('}'), ",\r\n\"Films\": {\"f\": {\"Name\": \"Жук\xFF\"}}");
  WriteFileBytes(File, bytes);
  const size_t offset = bytes.find('\xFF');
  auto db = Open();
  ASSERT_TRUE(db->DbIsOpen()) << db->LastError();
  EXPECT_TRUE(db->SaveDisabled());
  EXPECT_EQ(*db->CollectionByName("Films").GetRecord("f"), TJson({{"Name", "Жук\uFFFD"}}));
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_NE(Op.Messages.back().Text.find("offset " + std::to_string(offset)), std::string::npos)
      << Op.Messages.back().Text;
  db->CollectionByName("Films").NewRecord("g", {{"Name", "x"}});
  EXPECT_EQ(ReadFileBytes(File), bytes);
}
