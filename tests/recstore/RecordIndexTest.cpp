// Records are found through an index of their places in the in-memory document. These cases
// change the document in every way the store allows and compare each lookup with a plain walk
// of the collection.
#include <gtest/gtest.h>

#include <random>

#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace {

struct RecordIndexTest : ::testing::Test {
  TTempDir Tmp;
  TFakeOperator Op;
  std::unique_ptr<TDbFile> Db = CreateMainDatabase(&Op);
  void SetUp() override {
    Db->SetFileName(Tmp.File("p.pq2pr"));
    Db->New();
  }
  TDbCollectionItem& Films() { return Db->CollectionByName("Films"); }
  // What a walk of the document says.
  std::optional<TJson> Walk(const std::string& id) {
    const TJson& doc = Db->JSON();
    auto m = doc.find("Films");
    if (m == doc.end()) return std::nullopt;
    for (auto it = m->begin(); it != m->end(); ++it)
      if (it.key() == id) return it.value();
    return std::nullopt;
  }
  void ExpectSameAsWalk(int ids) {
    for (int i = 0; i < ids; ++i) {
      const std::string id = "f" + std::to_string(i);
      std::optional<TJson> got = Films().GetRecord(id);
      std::optional<TJson> want = Walk(id);
      ASSERT_EQ(got.has_value(), want.has_value()) << id;
      if (got) EXPECT_EQ(*got, *want) << id;
    }
  }
};

TEST_F(RecordIndexTest, RandomChangesAgreeWithAWalk) {
  std::mt19937 rnd(7);
  int64_t cntr = 0;
  for (int step = 0; step < 2000; ++step) {
    const std::string id = "f" + std::to_string(rnd() % 60);
    switch (rnd() % 4) {
      case 0: Films().NewRecord(id, TJson{{"Name", id}, {"Step", step}}); break;
      case 1: Films().UpdateRecord(id, TJson{{"Name", id}, {"Step", step}}); break;
      case 2: Films().DelRecord(id); break;
      case 3: Films().SetRecordNo1(id, TJson{{"Name", id}, {"No1", step}}); break;
    }
    if (step % 50 == 0) ExpectSameAsWalk(60);
  }
  ExpectSameAsWalk(60);
  // Counted changes go the same way.
  ASSERT_TRUE(Films().NewRecord("counted", TJson{{"Name", "c"}}, cntr));
  ASSERT_TRUE(Films().UpdateRecord("counted", TJson{{"Name", "c2"}}, cntr));
  EXPECT_EQ(JsonStr(*Films().GetRecord("counted"), "Name"), "c2");
}

TEST_F(RecordIndexTest, ChangesMadeAroundTheStoreAreSeen) {
  for (int i = 0; i < 10; ++i) Films().NewRecord("f" + std::to_string(i), TJson{{"Name", i}});
  ASSERT_TRUE(Films().GetRecord("f3"));
  // The same number of records in the same memory, with one of them replaced by another.
  TJson* films = Films().AsJson();
  ASSERT_NE(films, nullptr);
  films->erase("f3");
  (*films)["f42"] = TJson{{"Name", 42}};
  EXPECT_FALSE(Films().GetRecord("f3"));
  ASSERT_TRUE(Films().GetRecord("f42"));
  EXPECT_EQ(JsonInt(*Films().GetRecord("f42"), "Name"), 42);
  ExpectSameAsWalk(50);

  TJson& doc = Db->MutableJSON();
  doc["Films"].erase("f42");
  doc["Films"]["f43"] = TJson{{"Name", 43}};
  EXPECT_FALSE(Films().GetRecord("f42"));
  EXPECT_TRUE(Films().GetRecord("f43"));
  ExpectSameAsWalk(50);
  // A reload starts afresh from the file.
  Db->Save();
  ASSERT_TRUE(Db->Load());
  EXPECT_TRUE(Films().GetRecord("f43"));
  ExpectSameAsWalk(50);
}

}  // namespace

namespace {
TEST_F(RecordIndexTest, CounterAloneMatchesTheCounterReadWithTheRecord) {
  int64_t c = 0;
  EXPECT_FALSE(Films().GetRecordCntr("absent", c));
  EXPECT_EQ(c, 0);
  int64_t written = 0;
  ASSERT_TRUE(Films().NewRecord("f1", TJson{{"Name", "a"}}, written));
  ASSERT_TRUE(Films().UpdateRecord("f1", TJson{{"Name", "b"}}, written));
  int64_t alone = -1, withRecord = -1;
  ASSERT_TRUE(Films().GetRecordCntr("f1", alone));
  ASSERT_TRUE(Films().GetRecord("f1", withRecord, true));
  EXPECT_EQ(alone, withRecord);
  EXPECT_EQ(alone, written);
  // A record stored without a counter reads as 0.
  Films().NewRecord("f2", TJson{{"Name", "c"}});
  ASSERT_TRUE(Films().GetRecordCntr("f2", alone));
  EXPECT_EQ(alone, 0);
}
}  // namespace
