// In-memory record changes that the next saving change writes.
#include <gtest/gtest.h>

#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

TEST(RecordNo1, RemovalIsWrittenByTheNextSavingChange) {
  TTempDir tmp;
  TFakeOperator op;
  auto db = CreateTimeLineDatabase(tmp.Path().string(), &op);
  db->New();
  auto& coll = db->Collections().Add("P");
  ASSERT_TRUE(coll.NewRecord("a", TJson::array({1})));
  ASSERT_TRUE(coll.NewRecord("b", TJson::array({2})));
  const std::string before = ReadFileBytes(db->FileName());

  coll.DelRecordNo1("a");
  coll.DelRecordNo1("missing");  // nothing there: nothing happens
  coll.SetRecordNo1("c", TJson::array({3}));
  EXPECT_FALSE(coll.GetRecord("a"));
  EXPECT_EQ(ReadFileBytes(db->FileName()), before);  // not written yet

  ASSERT_TRUE(db->Collections().Add("Q").NewRecord("x", TJson::object()));
  TJson disk = ParseProjectBytes(ReadFileBytes(db->FileName()));
  EXPECT_FALSE(disk["P"].contains("a"));
  EXPECT_EQ(disk["P"]["b"], TJson::array({2}));
  EXPECT_EQ(disk["P"]["c"], TJson::array({3}));
  // The written text equals a fresh rendering of the document (no stale cached record).
  EXPECT_EQ(ReadFileBytes(db->FileName()), WriteProjectText(db->JSON()));
}

TEST(RecordNo1, RemovalFromACollectionNeverWrittenDoesNothing) {
  TFakeOperator op;
  auto db = CreateTimeLineDatabase("", &op);
  db->New();
  auto& coll = db->Collections().Add("P");
  coll.DelRecordNo1("a");
  EXPECT_EQ(coll.AsJson(), nullptr);
}
