// The tree document of a collection: order, folders, lookup by identifier or name, entries
// added and removed with the tree's counter, import.
#include <gtest/gtest.h>

#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "shell/TreeDocument.h"
#include "support/TestSupport.h"

namespace {

struct TreeDocumentTest : ::testing::Test {
  TTempDir Tmp;
  TFakeOperator Op;
  std::unique_ptr<TDbFile> Db = CreateMainDatabase(&Op);
  TreeDocumentTest() {
    Db->SetFileName(Tmp.File("p.pq2pr"));
    Db->New();
    for (auto [id, name] : {std::pair{"a", "Same"}, {"b", "Same"}, {"c", "Loose"}, {"d", "Titled"}})
      Films().NewRecord(id, TJson{{"Name", name}});
    // "b" first, inside a folder; "d" is a record entry that keeps its text (not a folder);
    // "gone" names a record that no longer exists; "a" and "c" have no entry.
    Tree().NewRecord("Films", TJson::parse(R"([
        {"text": "Folder", "_ID": "f1", "child": [{"_ID": "b"}, {"_ID": "gone"}]},
        {"text": "Titled", "_ID": "d"}])"));
  }
  TDbCollectionItem& Films() { return Db->CollectionByName("Films"); }
  TDbCollectionItem& Tree() { return Db->CollectionByName("Tree"); }
};

std::string Listing(const std::vector<TTreeListEntry>& l) {
  std::string s;
  for (const auto& e : l)
    s += std::string(e.Depth, '.') + (e.IsFolder ? "[" + e.Name + "]" : e.ID + "=" + e.Name) + " ";
  return s;
}

}  // namespace

TEST_F(TreeDocumentTest, OrderFoldersAndLookup) {
  EXPECT_EQ(Listing(ListInTreeOrder(*Db, Films())), "[Folder] .b=Same d=Titled a=Same c=Loose ");
  struct {
    const char* Arg;
    const char* Found;
  } cases[] = {{"a", "a"}, {"Same", "b"}, {"Loose", "c"}, {"Folder", ""}, {"gone", ""}, {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(FindRecordByIdOrName(*Db, Films(), c.Arg), c.Found) << c.Arg;
}

TEST_F(TreeDocumentTest, EntriesFollowTheirRecordsAndNeverOverwriteAnotherEditorsTree) {
  ASSERT_TRUE(AppendTreeEntry(*Db, Films(), "c"));
  ASSERT_TRUE(RemoveRecordTreeEntry(*Db, Films(), "b"));
  EXPECT_EQ(*Tree().GetRecord("Films"), TJson::parse(R"([
      {"text": "Folder", "_ID": "f1", "child": [{"_ID": "gone"}]},
      {"text": "Titled", "_ID": "d"}, {"_ID": "c"}])"));
  EXPECT_TRUE(RemoveRecordTreeEntry(*Db, Films(), "nowhere"));  // nothing to do
  // The options record has no tree: nothing is added for it.
  TDbCollectionItem& options = Db->CollectionByName("Options");
  ASSERT_TRUE(AppendTreeEntry(*Db, options, "Options"));
  EXPECT_FALSE(Tree().GetRecord("Options"));
  // A collection without a tree document gets one.
  Db->CollectionByName("Channels").NewRecord("ch", TJson{{"Name", "News"}});
  ASSERT_TRUE(AppendTreeEntry(*Db, Db->CollectionByName("Channels"), "ch"));
  EXPECT_EQ(*Tree().GetRecord("Channels"), TJson::parse(R"([{"_ID": "ch"}])"));
}

// Every imported record the tree does not name gets one entry, an existing record too (an
// earlier import may have stopped before it wrote the entries).
TEST_F(TreeDocumentTest, ImportReplacesAndAddsEveryMissingEntryOnce) {
  auto coll = [this](const std::string& n) -> TDbCollectionItem& { return Db->CollectionByName(n); };
  const TJson doc = TJson::parse(R"({"Films": {"a": {"Name": "A2", "_ID": "x"}, "n": {"Name": "N"}},
                                     "Options": {"Options": {"HTMLDir": "..\\HTML"}}})");
  EXPECT_EQ(ImportRecords(*Db, doc, coll), 3u);
  EXPECT_EQ(*Films().GetRecord("a"), TJson({{"Name", "A2"}}));
  TJson tree = *Tree().GetRecord("Films");
  ASSERT_GE(tree.size(), 2u);
  EXPECT_EQ(tree[tree.size() - 2], TJson({{"_ID", "a"}}));
  EXPECT_EQ(tree.back(), TJson({{"_ID", "n"}}));
  EXPECT_EQ(ImportRecords(*Db, doc, coll), 3u);
  EXPECT_EQ(*Tree().GetRecord("Films"), tree);  // no second entry
  // Written once, to the file.
  EXPECT_EQ(ParseProjectBytes(ReadFileBytes(Tmp.File("p.pq2pr")))["Films"]["n"]["Name"], "N");
  EXPECT_THROW(ImportRecords(*Db, TJson::parse(R"({"Films": [1]})"), coll), std::runtime_error);
}
