// The MongoDB storage against a real MongoDB wire-protocol server on 127.0.0.1, started and
// stopped by each test.
#include <gtest/gtest.h>
#include <mongoc/mongoc.h>

#include <chrono>
#include <functional>
#include <thread>

#include "integration/MongoTestServer.h"
#include "recstore/DataBaseUpdate.h"
#include "recstore/MongoAndSo.h"
#include "shell/Databases.h"
#include "shell/Users.h"
#include "support/TestSupport.h"

namespace {

struct MongoStorageTest : ::testing::Test {
  TMongoTestServer Server;
  TFakeOperator Op;
  std::string DbName = "pelmora";

  void SetUp() override { ASSERT_NO_THROW(Server.Start()); }

  std::unique_ptr<TDbFile> Client() {
    auto db = std::make_unique<TDbFile>(&Op);
    db->Collections().Add("Films");
    db->Collections().Add("Tree");
    db->SetUseMongoDb(true);
    db->Sethost("127.0.0.1");
    db->Setport(Server.Port());
    db->SetMongoDbName(DbName);
    EXPECT_TRUE(db->Load()) << db->LastError();
    return db;
  }

  // Every document of the collection as the server holds it (without the server's "_id").
  std::vector<TJson> Documents(TDbFile& db, const std::string& coll, const TJson& q = TJson::object()) {
    std::vector<TJson> docs;
    auto& c = db.CollectionByName(coll);
    c.Query(q);
    TJson d;
    while (c.Next(d)) docs.push_back(d);
    return docs;
  }

  // Inserts a document built by hand with libbson, bypassing the console's conversion.
  void InsertRaw(const std::string& coll, bson_t* doc) {
    EnsureMongocInitialised();
    std::string uri = "mongodb://127.0.0.1:" + std::to_string(Server.Port());
    mongoc_client_t* client = mongoc_client_new(uri.c_str());
    ASSERT_NE(client, nullptr);
    mongoc_collection_t* c = mongoc_client_get_collection(client, DbName.c_str(), coll.c_str());
    bson_error_t err;
    EXPECT_TRUE(mongoc_collection_insert_one(c, doc, nullptr, nullptr, &err)) << err.message;
    mongoc_collection_destroy(c);
    mongoc_client_destroy(client);
  }
};

const TJson Film = {{"Name", "Film"}, {"Year", 1999}};
const TJson Film2 = {{"Name", "Film two"}, {"Year", 2001}};

}  // namespace

TEST_F(MongoStorageTest, TwoClientsFirstUpdateWinsAndStaleCountersAreRefused) {
  auto a = Client();
  auto b = Client();
  auto& fa = a->CollectionByName("Films");
  auto& fb = b->CollectionByName("Films");
  int64_t c = 0;
  ASSERT_TRUE(fa.NewRecord("f1", Film, c));
  ASSERT_TRUE(fa.UpdateRecord("f1", Film, c));
  ASSERT_TRUE(fa.UpdateRecord("f1", Film, c));
  ASSERT_EQ(c, 3);

  int64_t ca = -1, cb = -1;
  ASSERT_TRUE(fa.GetRecord("f1", ca, true));
  ASSERT_TRUE(fb.GetRecord("f1", cb, true));
  EXPECT_EQ(ca, 3);
  EXPECT_EQ(cb, 3);

  TJson fromA = {{"Name", "changed by A"}};
  TJson fromB = {{"Name", "changed by B"}};
  EXPECT_TRUE(fa.UpdateRecord("f1", fromA, ca));
  EXPECT_EQ(ca, 4);
  EXPECT_FALSE(fb.UpdateRecord("f1", fromB, cb));
  EXPECT_EQ(cb, 3);

  int64_t now = -1;
  auto rec = fb.GetRecord("f1", now, true);
  ASSERT_TRUE(rec);
  EXPECT_EQ(*rec, fromA);
  EXPECT_EQ(now, 4);

  EXPECT_FALSE(fb.DelRecord("f1", 3));
  EXPECT_TRUE(fb.GetRecord("f1"));
  EXPECT_TRUE(fb.DelRecord("f1", 4));
  EXPECT_FALSE(fa.GetRecord("f1"));
  EXPECT_TRUE(Documents(*a, "Films").empty());
}

TEST_F(MongoStorageTest, DocumentsHoldIdValueAndCounter) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  int64_t c = 0;
  ASSERT_TRUE(films.NewRecord("f1", Film, c));
  auto docs = Documents(*db, "Films");
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_TRUE(JsonEqual(docs[0], TJson({{"_ID", "f1"}, {"Value", Film}, {"Cntr", 1}})))
      << docs[0].dump();
}

TEST_F(MongoStorageTest, ModeTableRowsThatDifferFromFiles) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");

  // NewRec on an existing identifier never makes a second document: it is refused.
  ASSERT_TRUE(films.NewRecord("f1", Film));
  EXPECT_FALSE(films.NewRecord("f1", Film2));
  EXPECT_NE(db->LastError().find("already exists"), std::string::npos) << db->LastError();
  int64_t c = 0;
  EXPECT_FALSE(films.NewRecord("f1", Film2, c));
  EXPECT_EQ(Documents(*db, "Films", {{"_ID", "f1"}}).size(), 1u);
  EXPECT_EQ(*films.GetRecord("f1"), Film);
  EXPECT_TRUE(films.DelRecord("f1"));
  EXPECT_TRUE(Documents(*db, "Films").empty());

  // UpdateRec without counter on a missing record: false, nothing stored.
  EXPECT_FALSE(films.UpdateRecord("f2", Film));
  EXPECT_FALSE(films.GetRecord("f2"));
  EXPECT_TRUE(Documents(*db, "Films").empty());

  // NewOrUpdateRec without counter: the upsert stores, but only an update of an existing
  // document counts as success.
  EXPECT_FALSE(films.NewOrUpdateRecord("f3", Film));
  ASSERT_TRUE(films.GetRecord("f3"));
  EXPECT_EQ(*films.GetRecord("f3"), Film);
  EXPECT_TRUE(films.NewOrUpdateRecord("f3", Film2));
  EXPECT_EQ(*films.GetRecord("f3"), Film2);
  EXPECT_EQ(Documents(*db, "Films").size(), 1u);

  // DelRec on a missing identifier is false.
  EXPECT_FALSE(films.DelRecord("missing"));
  EXPECT_FALSE(films.DelRecord("missing", 0));
}

TEST_F(MongoStorageTest, ChangesWithoutCounterDropTheCounter) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  int64_t c = 0;
  ASSERT_TRUE(films.NewRecord("f1", Film, c));
  ASSERT_TRUE(films.UpdateRecord("f1", Film, c));
  ASSERT_EQ(c, 2);
  ASSERT_TRUE(films.UpdateRecord("f1", Film2));
  auto docs = Documents(*db, "Films");
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_FALSE(docs[0].contains("Cntr"));
  int64_t read = -1;
  ASSERT_TRUE(films.GetRecord("f1", read, true));
  EXPECT_EQ(read, 0);
  // A stale counter no longer matches; the counter read (0) does.
  EXPECT_FALSE(films.UpdateRecord("f1", Film, c));
  int64_t zero = 0;
  EXPECT_TRUE(films.UpdateRecord("f1", Film, zero));
  EXPECT_EQ(zero, 1);
}

TEST_F(MongoStorageTest, NewOrUpdateWithCounter) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  int64_t c = 5;
  // Missing record: created with counter 1.
  EXPECT_TRUE(films.NewOrUpdateRecord("f1", Film, c));
  EXPECT_EQ(c, 1);
  // Existing record with a stale counter: false, unchanged.
  int64_t stale = 0;
  EXPECT_FALSE(films.NewOrUpdateRecord("f1", Film2, stale));
  EXPECT_EQ(*films.GetRecord("f1"), Film);
  EXPECT_TRUE(films.NewOrUpdateRecord("f1", Film2, c));
  EXPECT_EQ(c, 2);
  EXPECT_EQ(Documents(*db, "Films").size(), 1u);
}

TEST_F(MongoStorageTest, InMemoryOperationsNeverReachTheServer) {
  TTempDir tmp;
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  db->SetFileName(tmp.File("never.pq2pr"));
  films.SetRecordNo1("m1", Film);
  ASSERT_NE(films.AsJson(), nullptr);
  EXPECT_TRUE(films.AsJson()->contains("m1"));
  EXPECT_FALSE(films.GetRecord("m1"));
  db->Save();
  db->New();
  EXPECT_FALSE(std::filesystem::exists(tmp.File("never.pq2pr")));
  EXPECT_TRUE(Documents(*db, "Films").empty());
  EXPECT_TRUE(db->DbIsOpen());

  // Opening never checks a version nor runs an upgrade.
  bool upgraded = false;
  db->SetDBVersion("9.9.9.9");
  db->onDataBaseUpdate = [&](TDbFile&, bool& ok) { upgraded = ok = true; };
  EXPECT_TRUE(db->Load());
  EXPECT_FALSE(upgraded);
  EXPECT_TRUE(Op.Messages.empty());
}

TEST_F(MongoStorageTest, TreeDocumentsRoundTrip) {
  auto db = Client();
  auto& tree = db->CollectionByName("Tree");
  TJson doc = TJson::parse(
      R"([{"text":"Folder","_ID":"a","child":[{"_ID":"f1"},{"text":"Empty","child":[]}]},{"_ID":"f2"}])");
  int64_t c = 0;
  ASSERT_TRUE(tree.NewRecord("Films", doc, c));
  int64_t read = -1;
  auto back = tree.GetRecord("Films", read, true);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, doc);
  EXPECT_TRUE(back->is_array());
  EXPECT_EQ(read, 1);
}

TEST_F(MongoStorageTest, DateTimeElementsAreSkippedAndBadElementsFailTheRead) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  {
    bson_t doc = BSON_INITIALIZER, value;
    BSON_APPEND_UTF8(&doc, "_ID", "dated");
    BSON_APPEND_DOCUMENT_BEGIN(&doc, "Value", &value);
    BSON_APPEND_UTF8(&value, "Name", "With a date");
    BSON_APPEND_DATE_TIME(&value, "Added", 1700000000000LL);
    bson_append_document_end(&doc, &value);
    BSON_APPEND_INT32(&doc, "Cntr", 7);
    InsertRaw("Films", &doc);
    bson_destroy(&doc);
  }
  int64_t c = -1;
  auto rec = films.GetRecord("dated", c, true);
  ASSERT_TRUE(rec);
  EXPECT_EQ(*rec, TJson({{"Name", "With a date"}}));
  EXPECT_EQ(c, 7);
  EXPECT_TRUE(films.UpdateRecord("dated", *rec, c));  // 32-bit counters match too

  {
    bson_t doc = BSON_INITIALIZER, value;
    bson_decimal128_t dec;
    bson_decimal128_from_string("1.5", &dec);
    BSON_APPEND_UTF8(&doc, "_ID", "odd");
    BSON_APPEND_DOCUMENT_BEGIN(&doc, "Value", &value);
    BSON_APPEND_DECIMAL128(&value, "Price", &dec);
    bson_append_document_end(&doc, &value);
    InsertRaw("Films", &doc);
    bson_destroy(&doc);
  }
  // A document that cannot be read is a failed read, not a missing record.
  EXPECT_THROW(films.GetRecord("odd"), EDbReadError);
  EXPECT_EQ(db->LastError().rfind("Unknown BSON element type 13 at offset ", 0), 0u)
      << db->LastError();
  EXPECT_EQ(db->ReopenTimeOut(), 0);  // a document that cannot be read is no lost connection
  // A record that cannot be stored fails the change without a crash.
  TJson badKey = {{std::string("a\0b", 3), 1}};
  EXPECT_FALSE(films.NewRecord("bad", badKey));
  EXPECT_FALSE(films.GetRecord("bad"));
}

TEST_F(MongoStorageTest, QueriesAddressNestedFieldsAndPatterns) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  ASSERT_TRUE(films.NewRecord("f1", TJson({{"Name", "Alpha"}, {"Year", 1999}})));
  ASSERT_TRUE(films.NewRecord("f2", TJson({{"Name", "Beta"}, {"Year", 2001}})));
  ASSERT_TRUE(films.NewRecord("f3", TJson({{"Name", "alphabet"}, {"Year", 2001}})));

  auto byName = Documents(*db, "Films", {{"Value###_###Name", "Beta"}});
  ASSERT_EQ(byName.size(), 1u);
  EXPECT_EQ(byName[0]["_ID"], "f2");

  auto byPattern =
      Documents(*db, "Films", {{"Value###_###Name", {"###^###", "^alpha", "i", "###^###"}}});
  std::vector<std::string> ids;
  for (auto& d : byPattern) ids.push_back(d["_ID"]);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"f1", "f3"}));

  int64_t c = -1;
  auto one = films.GetRecord(TJson::parse(R"([{"_ID":"f3"}])"), nullptr, c, true);
  ASSERT_TRUE(one);
  EXPECT_EQ((*one)["Name"], "alphabet");
  EXPECT_EQ(c, 0);
  EXPECT_FALSE(films.GetRecord(TJson({{"_ID", "none"}}), nullptr, c, false));
}

TEST_F(MongoStorageTest, UpgradeStepsRewriteEveryDocumentWithCounters) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  int64_t c1 = 0, c2 = 0;
  ASSERT_TRUE(films.NewRecord("f1", TJson({{"Name", "A"}, {"Cast", "x"}}), c1));
  ASSERT_TRUE(films.NewRecord("f2", TJson({{"Name", "B"}}), c2));
  TDbUpdateTable table(*db);
  table.SetField("Films", "Cast", nullptr);
  int64_t r1 = -1, r2 = -1;
  EXPECT_EQ(*films.GetRecord("f1", r1, true), TJson({{"Name", "A"}, {"Cast", nullptr}}));
  EXPECT_EQ(*films.GetRecord("f2", r2, true), TJson({{"Name", "B"}, {"Cast", nullptr}}));
  EXPECT_EQ(r1, 2);
  EXPECT_EQ(r2, 2);
  EXPECT_EQ(Documents(*db, "Films").size(), 2u);  // rewritten, not duplicated

  // Another console changes a record while the step runs: the write is refused.
  auto other = Client();
  try {
    table.ForEachRecord(
        "Films",
        [&](TJson& rec, const TJson&) {
          int64_t oc = -1;
          std::string id = rec["Name"] == "A" ? "f1" : "f2";
          auto cur = other->CollectionByName("Films").GetRecord(id, oc, true);
          other->CollectionByName("Films").UpdateRecord(id, *cur, oc);
          rec["Touched"] = true;
        },
        TJson::object());
    FAIL() << "a refused write must stop the step";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Error! Can't change record!");
  }
}

TEST_F(MongoStorageTest, ReadsRecoverAfterTheServerComesBack) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  ASSERT_TRUE(films.NewRecord("f1", Film));
  ASSERT_TRUE(films.GetRecord("f1"));
  const int port = Server.Port();

  Server.Stop();
  EXPECT_THROW(films.GetRecord("f1"), EDbReadError);
  EXPECT_EQ(db->LastError().rfind("MongoWire.Get: ", 0), 0u) << db->LastError();
  const double firstFailure = db->ReopenTimeOut();
  EXPECT_NE(firstFailure, 0);
  EXPECT_FALSE(films.UpdateRecord("f1", Film2));  // changes just fail
  // Within five seconds of the first failure the connection is left alone...
  EXPECT_THROW(films.GetRecord("f1"), EDbReadError);
  EXPECT_EQ(db->ReopenTimeOut(), firstFailure);
  // ...after them a failed read reopens it (here in vain) and starts a new window.
  std::this_thread::sleep_for(std::chrono::milliseconds(5500));
  EXPECT_THROW(films.GetRecord("f1"), EDbReadError);
  EXPECT_GT(db->ReopenTimeOut(), firstFailure);
  auto failedAt = std::chrono::steady_clock::now();

  ASSERT_NO_THROW(Server.Start(port));
  {
    // The restarted server is empty; another console stores the record again.
    auto other = Client();
    ASSERT_TRUE(other->CollectionByName("Films").NewRecord("f1", Film2));
  }
  bool recovered = false;
  while (std::chrono::steady_clock::now() - failedAt < std::chrono::seconds(20)) {
    try {
      if (auto rec = films.GetRecord("f1")) {
        EXPECT_EQ(*rec, Film2);
        recovered = true;
        break;
      }
    } catch (const EDbReadError&) {
      // not back yet
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_TRUE(recovered);
  EXPECT_EQ(db->ReopenTimeOut(), 0);
  EXPECT_TRUE(films.UpdateRecord("f1", Film));
  EXPECT_TRUE(Op.Messages.empty());  // the operator is not bothered while it recovers
}

TEST_F(MongoStorageTest, CounterAloneComesWithoutTheRecord) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  int64_t c = 0;
  EXPECT_FALSE(films.GetRecordCntr("none", c));
  EXPECT_EQ(c, 0);
  ASSERT_TRUE(films.NewRecord("f1", Film, c));
  ASSERT_TRUE(films.UpdateRecord("f1", Film2, c));
  int64_t alone = -1, withRecord = -1;
  ASSERT_TRUE(films.GetRecordCntr("f1", alone));
  ASSERT_TRUE(films.GetRecord("f1", withRecord, true));
  EXPECT_EQ(alone, withRecord);
  EXPECT_EQ(alone, c);
  ASSERT_TRUE(films.UpdateRecord("f1", Film));  // without counter: reads as 0
  ASSERT_TRUE(films.GetRecordCntr("f1", alone));
  EXPECT_EQ(alone, 0);
}

// A read that fails (here: the server stopped between two calls) is an error with the driver's
// reason, and nothing that needs to know whether a record is there goes on to insert it.
TEST_F(MongoStorageTest, FailedReadsAreErrorsAndNothingIsInsertedAfterThem) {
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  auto& tree = db->CollectionByName("Tree");
  ASSERT_TRUE(films.NewRecord("f1", Film));
  int64_t c = -1;
  ASSERT_TRUE(films.GetRecord("f1", c, true));
  const int port = Server.Port();
  Server.Stop();

  struct TRead {
    const char* Name;
    std::function<void()> Run;
  };
  TJson doc;
  int64_t cntr = 0;
  const std::vector<TRead> reads = {
      {"GetRecord", [&] { films.GetRecord("f1"); }},
      {"GetRecord with counter", [&] { films.GetRecord("f1", cntr, true); }},
      {"counter read", [&] { films.GetRecordCntr("f1", cntr); }},
      {"query read", [&] { films.GetRecord(TJson{{"_ID", "f1"}}, nullptr, cntr, false); }},
      {"Query and Next", [&] {
         films.Query(TJson::object());
         films.Next(doc);
       }},
  };
  for (const auto& r : reads) {
    EXPECT_THROW(r.Run(), EDbReadError) << r.Name;
    EXPECT_EQ(db->LastError().rfind("MongoWire.", 0), 0u) << r.Name << ": " << db->LastError();
  }
  // Changes that would create a missing record fail instead.
  int64_t zero = 0;
  EXPECT_FALSE(films.NewOrUpdateRecord("f2", Film2, zero));
  EXPECT_FALSE(db->LastError().empty());
  EXPECT_FALSE(films.NewRecord("f2", Film2));
  EXPECT_FALSE(tree.NewOrUpdateRecord("Films", TJson::array(), zero));

  // The server comes back (empty: it keeps nothing in memory) and another console stores f2;
  // the first console, reconnected, can neither add a second f2 nor take it for missing.
  ASSERT_NO_THROW(Server.Start(port));
  auto other = Client();
  ASSERT_TRUE(other->CollectionByName("Films").NewRecord("f2", Film2));
  auto again = Client();
  auto& films2 = again->CollectionByName("Films");
  EXPECT_FALSE(films2.NewRecord("f2", Film));
  int64_t stale = 0;
  EXPECT_TRUE(films2.NewOrUpdateRecord("f2", Film, stale));  // counter 0 matches: an update
  EXPECT_EQ(Documents(*again, "Films").size(), 1u);
  EXPECT_EQ(Documents(*again, "Tree").size(), 0u);
}

// Two documents under one identifier (left by an older console) are reported, never read as
// one of them.
TEST_F(MongoStorageTest, TwoDocumentsUnderOneIdentifierAreReported) {
  for (int i = 0; i < 2; ++i) {
    bson_t doc = BSON_INITIALIZER, value;
    BSON_APPEND_UTF8(&doc, "_ID", "twice");
    BSON_APPEND_DOCUMENT_BEGIN(&doc, "Value", &value);
    BSON_APPEND_INT32(&value, "Copy", i);
    bson_append_document_end(&doc, &value);
    InsertRaw("Films", &doc);
    bson_destroy(&doc);
  }
  auto db = Client();
  auto& films = db->CollectionByName("Films");
  int64_t c = 0;
  EXPECT_THROW(films.GetRecord("twice"), EDbReadError);
  EXPECT_EQ(db->LastError(), "Two documents with _ID \"twice\" in collection pelmora.Films");
  EXPECT_THROW(films.GetRecordCntr("twice", c), EDbReadError);
  EXPECT_FALSE(films.NewRecord("twice", Film));
  EXPECT_EQ(Documents(*db, "Films").size(), 2u);
}

// "Default" on a fresh MongoDB database: the tree document "Users" is not there yet.
TEST_F(MongoStorageTest, DefaultUserOnAFreshDatabase) {
  TFakeOperator op;
  auto db = CreateMainDatabase(&op);
  db->SetUseMongoDb(true);
  db->Setport(Server.Port());
  db->SetMongoDbName(DbName);
  ASSERT_TRUE(db->Load()) << db->LastError();
  auto& users = db->CollectionByName("Users");
  auto& tree = db->CollectionByName("Tree");
  const std::string id = CreateDefaultUser(users, tree);
  ASSERT_EQ(id.size(), 24u) << db->LastError();
  int64_t c = -1;
  EXPECT_EQ(*tree.GetRecord("Users", c, true), TJson::parse(R"([{"_ID":")" + id + R"("}])"));
  EXPECT_EQ(c, 1);
  auto user = users.GetRecord(id);
  ASSERT_TRUE(user);
  EXPECT_EQ((*user)["Name"], "Default");
  // Users exist now: nothing more is made.
  EXPECT_EQ(CreateDefaultUser(users, tree), "");
  EXPECT_EQ(Documents(*db, "Users").size(), 1u);

  // With the server gone the read fails loudly and nothing is half made.
  ASSERT_TRUE(tree.DelRecord("Users"));
  ASSERT_TRUE(users.DelRecord(id));
  Server.Stop();
  EXPECT_THROW(CreateDefaultUser(users, tree), EDbReadError);
}
