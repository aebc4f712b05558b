// JSON <-> BSON conversion of the MongoDB storage, checked against BSON built by hand with
// libbson's builders (no server needed), and the not-connected behaviour of the storage.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstring>

#include "recstore/MongoAndSo.h"
#include "recstore/JrecClasses.h"
#include "support/TestSupport.h"

namespace {

// Owns a bson_t for the length of a test.
struct TDoc {
  bson_t B = BSON_INITIALIZER;
  ~TDoc() { bson_destroy(&B); }
  bson_t* operator&() { return &B; }
  std::vector<uint8_t> Bytes() const {
    const uint8_t* d = bson_get_data(&B);
    return std::vector<uint8_t>(d, d + B.len);
  }
};

TJson Read(const std::vector<uint8_t>& bytes) { return BsonBytesToJson(bytes.data(), bytes.size()); }

std::string ErrorOf(const std::vector<uint8_t>& bytes) {
  try {
    BsonBytesToJson(bytes.data(), bytes.size());
  } catch (const EMongoConversion& e) {
    return e.what();
  }
  return "(no error)";
}

std::string JsonErrorOf(const TJson& j, TBsonUse use = TBsonUse::Document) {
  try {
    JsonToBsonBytes(j, use);
  } catch (const EMongoConversion& e) {
    return e.what();
  }
  return "(no error)";
}

// Offset of the element named Key at the top level of a document.
uint32_t OffsetOf(const bson_t* doc, const char* key) {
  bson_iter_t it;
  EXPECT_TRUE(bson_iter_init_find(&it, doc, key));
  return it.off;
}

}  // namespace

TEST(MongoConversionTest, JsonValueKindsBecomeTheirBsonElements) {
  TJson j = TJson::parse(
      R"({"n":null,"b":true,"i":42,"big":9000000000,"neg":-7,"d":2.5,"s":"text","o":{"x":1},"a":[1,"two",null]})");
  auto bytes = JsonToBsonBytes(j);
  bson_t doc;
  ASSERT_TRUE(bson_init_static(&doc, bytes.data(), bytes.size()));
  bson_iter_t it;
  ASSERT_TRUE(bson_iter_init(&it, &doc));
  std::vector<std::pair<std::string, bson_type_t>> seen;
  while (bson_iter_next(&it)) seen.emplace_back(bson_iter_key(&it), bson_iter_type(&it));
  std::vector<std::pair<std::string, bson_type_t>> expected = {
      {"n", BSON_TYPE_NULL},   {"b", BSON_TYPE_BOOL},   {"i", BSON_TYPE_INT64},
      {"big", BSON_TYPE_INT64}, {"neg", BSON_TYPE_INT64}, {"d", BSON_TYPE_DOUBLE},
      {"s", BSON_TYPE_UTF8},   {"o", BSON_TYPE_DOCUMENT}, {"a", BSON_TYPE_ARRAY}};
  EXPECT_EQ(seen, expected);  // members in the object's order
  ASSERT_TRUE(bson_iter_init_find(&it, &doc, "big"));
  EXPECT_EQ(bson_iter_int64(&it), 9000000000LL);
  ASSERT_TRUE(bson_iter_init_find(&it, &doc, "d"));
  EXPECT_DOUBLE_EQ(bson_iter_double(&it), 2.5);
  bson_iter_t child;
  ASSERT_TRUE(bson_iter_init_find(&it, &doc, "a"));
  ASSERT_TRUE(bson_iter_recurse(&it, &child));
  std::vector<std::string> keys;
  while (bson_iter_next(&child)) keys.push_back(bson_iter_key(&child));
  EXPECT_EQ(keys, (std::vector<std::string>{"0", "1", "2"}));
  // And back: the same JSON.
  EXPECT_EQ(Read(bytes), j);
}

TEST(MongoConversionTest, ObjectIdMarkersBothWays) {
  TJson j = {{"ref", "ObjectID(\"0123456789ABCDEFabcdef01\")"}};
  auto bytes = JsonToBsonBytes(j);
  bson_t doc;
  ASSERT_TRUE(bson_init_static(&doc, bytes.data(), bytes.size()));
  bson_iter_t it;
  ASSERT_TRUE(bson_iter_init_find(&it, &doc, "ref"));
  ASSERT_EQ(bson_iter_type(&it), BSON_TYPE_OID);
  const uint8_t expected[12] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB,
                                0xCD, 0xEF, 0xab, 0xcd, 0xef, 0x01};
  EXPECT_EQ(std::memcmp(bson_iter_oid(&it)->bytes, expected, 12), 0);
  // Read back with lower-case digits.
  EXPECT_EQ(Read(bytes)["ref"], "ObjectID(\"0123456789abcdefabcdef01\")");

  // The last two characters of a marker may be anything.
  auto loose = JsonToBsonBytes(TJson{{"r", "ObjectID(\"0123456789abcdefabcdef01xx"}});
  EXPECT_EQ(Read(loose)["r"], "ObjectID(\"0123456789abcdefabcdef01\")");
}

TEST(MongoConversionTest, StringsThatAreNotMarkersStayStrings) {
  for (std::string s : {std::string("ObjectID(\"0123456789abcdefabcdef0\")"),     // 35 chars
                        std::string("ObjectID(\"0123456789abcdefabcdef011\")"),   // 37 chars
                        std::string("objectid(\"0123456789abcdefabcdef01\")"),    // wrong prefix
                        std::string("ObjectID(\"0123456789abcdefabcdefzz\")")}) { // not hex
    auto bytes = JsonToBsonBytes(TJson{{"s", s}});
    bson_t doc;
    ASSERT_TRUE(bson_init_static(&doc, bytes.data(), bytes.size()));
    bson_iter_t it;
    ASSERT_TRUE(bson_iter_init_find(&it, &doc, "s"));
    EXPECT_EQ(bson_iter_type(&it), BSON_TYPE_UTF8) << s;
    EXPECT_EQ(Read(bytes)["s"], s);
  }
}

TEST(MongoConversionTest, QueryRulesApplyOnlyToQueries) {
  TJson q = TJson::parse(
      R"({"Value###_###Name":"x","Value":{"Deep###_###Er###_###Key":1},"r":["###^###","^Fi.m","i","###^###"]})");
  auto bytes = JsonToBsonBytes(q, TBsonUse::Query);
  bson_t doc;
  ASSERT_TRUE(bson_init_static(&doc, bytes.data(), bytes.size()));
  bson_iter_t it;
  EXPECT_TRUE(bson_iter_init_find(&it, &doc, "Value.Name"));
  EXPECT_TRUE(bson_iter_init_find(&it, &doc, "Value"));
  bson_iter_t inner;
  EXPECT_TRUE(bson_iter_init(&it, &doc) && bson_iter_find_descendant(&it, "Value", &inner));
  bson_iter_t sub;
  ASSERT_TRUE(bson_iter_recurse(&inner, &sub));
  ASSERT_TRUE(bson_iter_next(&sub));
  EXPECT_STREQ(bson_iter_key(&sub), "Deep.Er.Key");
  ASSERT_TRUE(bson_iter_init_find(&it, &doc, "r"));
  ASSERT_EQ(bson_iter_type(&it), BSON_TYPE_REGEX);
  const char* options = nullptr;
  EXPECT_STREQ(bson_iter_regex(&it, &options), "^Fi.m");
  EXPECT_STREQ(options, "i");

  // Records, selectors and single reads keep names and arrays as they are.
  auto plain = JsonToBsonBytes(q, TBsonUse::Document);
  TJson back = Read(plain);
  EXPECT_TRUE(back.contains("Value###_###Name"));
  EXPECT_EQ(back["r"], q["r"]);
  // Only four elements with the marker at both ends make a regular expression.
  TJson three = {{"r", {"###^###", "a", "###^###"}}};
  EXPECT_EQ(Read(JsonToBsonBytes(three, TBsonUse::Query)), three);
  TJson wrongEnd = {{"r", {"###^###", "a", "i", "x"}}};
  EXPECT_EQ(Read(JsonToBsonBytes(wrongEnd, TBsonUse::Query)), wrongEnd);
}

TEST(MongoConversionTest, GetQueryAsArrayOfOneMemberObjectsKeepsOrder) {
  TJson q = TJson::parse(R"([{"z":1},{"a":"two"},{"m":{"k":true}}])");
  auto bytes = JsonToBsonBytes(q, TBsonUse::GetQuery);
  TJson back = Read(bytes);
  std::vector<std::string> keys;
  for (auto it = back.begin(); it != back.end(); ++it) keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"z", "a", "m"}));
  EXPECT_EQ(back["m"]["k"], true);
  EXPECT_EQ(JsonErrorOf(TJson::parse(R"([{"a":1,"b":2}])"), TBsonUse::GetQuery),
            "Invalid SuperObject type object");
  // The array form is for single reads only.
  EXPECT_EQ(JsonErrorOf(q, TBsonUse::Query), "Invalid SuperObject type array");
}

TEST(MongoConversionTest, NonObjectsAreRefusedWithTheirKind) {
  EXPECT_EQ(JsonErrorOf(TJson(nullptr)), "Invalid SuperObject type null");
  EXPECT_EQ(JsonErrorOf(TJson(true)), "Invalid SuperObject type boolean");
  EXPECT_EQ(JsonErrorOf(TJson(3)), "Invalid SuperObject type integer");
  EXPECT_EQ(JsonErrorOf(TJson(3.5)), "Invalid SuperObject type double");
  EXPECT_EQ(JsonErrorOf(TJson("s")), "Invalid SuperObject type string");
  EXPECT_EQ(JsonErrorOf(TJson::array()), "Invalid SuperObject type array");
  EXPECT_EQ(JsonErrorOf(TJson::object()), "(no error)");
}

TEST(MongoConversionTest, BsonElementsBecomeJsonValues) {
  TDoc d;
  BSON_APPEND_DOUBLE(&d, "d", 1.25);
  BSON_APPEND_UTF8(&d, "s", "Фильм");
  bson_append_symbol(&d, "sym", -1, "symbol", -1);
  BSON_APPEND_INT32(&d, "i32", -5);
  BSON_APPEND_INT64(&d, "i64", 1LL << 40);
  BSON_APPEND_BOOL(&d, "f", false);
  BSON_APPEND_NULL(&d, "n");
  bson_oid_t oid;
  bson_oid_init_from_string(&oid, "5f1e2d3c4b5a69788796a5b4");
  BSON_APPEND_OID(&d, "id", &oid);
  TJson j = Read(d.Bytes());
  EXPECT_EQ(j, TJson::parse(R"J({"d":1.25,"s":"Фильм","sym":"symbol","i32":-5,"i64":1099511627776,
      "f":false,"n":null,"id":"ObjectID(\"5f1e2d3c4b5a69788796a5b4\")"})J"));
  EXPECT_TRUE(j["d"].is_number_float());
  EXPECT_TRUE(j["i32"].is_number_integer());
  EXPECT_TRUE(j.contains("n"));
}

TEST(MongoConversionTest, GuidInWindowsByteOrder) {
  const uint8_t g[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                         0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  TDoc d;
  BSON_APPEND_BINARY(&d, "g", BSON_SUBTYPE_UUID_DEPRECATED, g, 16);
  EXPECT_EQ(Read(d.Bytes())["g"], "{00112233-4455-6677-8899-AABBCCDDEEFF}");
}

TEST(MongoConversionTest, SkippedElementsLeaveNoMember) {
  const uint8_t bin[3] = {1, 2, 3};
  TDoc d;
  BSON_APPEND_UTF8(&d, "keep", "yes");
  BSON_APPEND_DATE_TIME(&d, "when", 1700000000000LL);
  BSON_APPEND_REGEX(&d, "re", "^a", "i");
  BSON_APPEND_CODE(&d, "code", "function(){}");
  BSON_APPEND_TIMESTAMP(&d, "ts", 5, 6);
  BSON_APPEND_BINARY(&d, "b0", BSON_SUBTYPE_BINARY, bin, 3);
  BSON_APPEND_BINARY(&d, "b2", BSON_SUBTYPE_BINARY_DEPRECATED, bin, 3);
  BSON_APPEND_BINARY(&d, "b6", BSON_SUBTYPE_ENCRYPTED, bin, 3);
  BSON_APPEND_INT32(&d, "last", 7);
  EXPECT_EQ(Read(d.Bytes()), TJson::parse(R"({"keep":"yes","last":7})"));
}

TEST(MongoConversionTest, NestedDocumentsAndTreeArraysRoundTrip) {
  TJson tree = TJson::parse(
      R"({"_ID":"Films","Value":[{"text":"Folder","_ID":"a1","child":[{"_ID":"f1"},{"text":"E","child":[]}]},{"_ID":"f2"}],"Cntr":3})");
  EXPECT_EQ(Read(JsonToBsonBytes(tree)), tree);
}

TEST(MongoConversionTest, BinaryErrorsNameSubtypeLengthAndOffset) {
  const uint8_t bytes[20] = {};
  {
    TDoc d;
    BSON_APPEND_INT32(&d, "a", 1);
    BSON_APPEND_BINARY(&d, "g", BSON_SUBTYPE_UUID_DEPRECATED, bytes, 15);
    EXPECT_EQ(ErrorOf(d.Bytes()),
              "Unexpected UUID length (15) at offset " + fmt::format("{:08X}", OffsetOf(&d, "g")));
  }
  {
    TDoc d;
    BSON_APPEND_BINARY(&d, "u", BSON_SUBTYPE_UUID, bytes, 16);
    EXPECT_EQ(ErrorOf(d.Bytes()), "Unknown BSON binary type 04 at offset 00000004");
  }
  {
    TDoc d;
    BSON_APPEND_UTF8(&d, "pad", "xyz");
    BSON_APPEND_BINARY(&d, "u", BSON_SUBTYPE_USER, bytes, 2);
    EXPECT_EQ(ErrorOf(d.Bytes()), "Unknown BSON binary type 80 at offset 00000011");
  }
  for (bson_subtype_t t : {BSON_SUBTYPE_FUNCTION, BSON_SUBTYPE_MD5}) {
    TDoc d;
    BSON_APPEND_BINARY(&d, "x", t, bytes, 16);
    EXPECT_EQ(ErrorOf(d.Bytes()), "Not Implemented");
  }
}

TEST(MongoConversionTest, OffsetsCountFromTheStartOfTheWholeDocument) {
  const uint8_t bytes[4] = {};
  TDoc d;
  bson_t child;
  BSON_APPEND_INT32(&d, "a", 1);               // 4 + 7 bytes
  BSON_APPEND_DOCUMENT_BEGIN(&d, "o", &child);  // element at 11, its document at 14
  BSON_APPEND_BINARY(&child, "g", BSON_SUBTYPE_UUID_DEPRECATED, bytes, 4);  // at 14 + 4
  bson_append_document_end(&d, &child);
  EXPECT_EQ(ErrorOf(d.Bytes()), "Unexpected UUID length (4) at offset 00000012");
}

TEST(MongoConversionTest, UnknownAndUnsupportedElementTypes) {
  {
    TDoc d;
    BSON_APPEND_MINKEY(&d, "m");
    EXPECT_EQ(ErrorOf(d.Bytes()), "Unknown BSON element type FF at offset 00000004");
  }
  {
    TDoc d;
    BSON_APPEND_INT32(&d, "a", 1);
    BSON_APPEND_MAXKEY(&d, "m");
    EXPECT_EQ(ErrorOf(d.Bytes()), "Unknown BSON element type 7F at offset 0000000B");
  }
  {
    TDoc d;
    bson_decimal128_t dec;
    bson_decimal128_from_string("1.5", &dec);
    BSON_APPEND_DECIMAL128(&d, "x", &dec);
    EXPECT_EQ(ErrorOf(d.Bytes()), "Unknown BSON element type 13 at offset 00000004");
  }
  {
    TDoc d;
    BSON_APPEND_UNDEFINED(&d, "u");
    EXPECT_EQ(ErrorOf(d.Bytes()), "Unknown BSON element type 06 at offset 00000004");
  }
  {
    TDoc d, scope;
    BSON_APPEND_CODE_WITH_SCOPE(&d, "c", "x", &scope);
    EXPECT_EQ(ErrorOf(d.Bytes()), "Not Implemented");
  }
  {
    // A type byte no BSON version defines.
    std::vector<uint8_t> raw = {12, 0, 0, 0, 0x42, 'k', 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(ErrorOf(raw), "Unknown BSON element type 42 at offset 00000004");
  }
}

TEST(MongoConversionTest, ArrayKeysMustCountFromZero) {
  TDoc d;
  bson_t child;
  BSON_APPEND_ARRAY_BEGIN(&d, "a", &child);
  BSON_APPEND_INT32(&child, "0", 1);
  BSON_APPEND_INT32(&child, "2", 2);
  bson_append_array_end(&d, &child);
  EXPECT_EQ(ErrorOf(d.Bytes()), "Invalid BSON array index 2");
}

TEST(MongoConversionTest, BrokenDocumentsAreReportedNotTrusted) {
  TDoc d;
  BSON_APPEND_UTF8(&d, "s", "abc");
  auto good = d.Bytes();
  ASSERT_EQ(Read(good), TJson({{"s", "abc"}}));

  auto longer = good;
  longer.push_back(0);
  EXPECT_EQ(ErrorOf(longer), "More BSON data than declared");

  auto shorter = good;
  shorter.pop_back();
  EXPECT_EQ(ErrorOf(shorter), "Less BSON data than declared");

  EXPECT_EQ(ErrorOf({5, 0, 0}), "Unexpected end of stream");
  EXPECT_EQ(ErrorOf({}), "Unexpected end of stream");

  // The string "abc" has length 4 with its zero byte; overwrite the zero.
  auto unterminated = good;
  unterminated[unterminated.size() - 2] = 'x';
  EXPECT_EQ(ErrorOf(unterminated), "BSON string incorrectly terminated at offset 00000004");

  // An embedded array declaring more bytes than the document holds.
  TDoc withArray;
  bson_t child;
  BSON_APPEND_ARRAY_BEGIN(&withArray, "a", &child);
  BSON_APPEND_INT32(&child, "0", 1);
  bson_append_array_end(&withArray, &child);
  auto arr = withArray.Bytes();
  arr[7] = 0x40;  // the array's declared size
  EXPECT_EQ(ErrorOf(arr), "More BSON array data than declared at offset 00000004");
}

TEST(MongoConversionTest, GuidAndMarkerHelpers) {
  const uint8_t zero[16] = {};
  EXPECT_EQ(GuidText(zero), "{00000000-0000-0000-0000-000000000000}");
  bson_oid_t oid;
  EXPECT_TRUE(ParseObjectIDMarker("ObjectID(\"ffffffffffffffffffffffff\")", oid));
  EXPECT_EQ(ObjectIDMarker(oid), "ObjectID(\"ffffffffffffffffffffffff\")");
  EXPECT_FALSE(ParseObjectIDMarker("ffffffffffffffffffffffff", oid));
}

// Without a connection the storage reads nothing, changes nothing and never asks a server.
// Without a connection a read is an error, never "no record"; changes are refused. The server
// is not contacted.
TEST(MongoStorageTest, NotConnectedReadsFailAndChangesAreRefused) {
  TFakeOperator op;
  TDbFile db(&op);
  db.Collections().Add("Films");
  db.SetUseMongoDb(true);
  TDbCollectionItem& films = db.CollectionByName("Films");
  int64_t cntr = 7;
  EXPECT_THROW(films.GetRecord("a"), EDbReadError);
  EXPECT_NE(db.LastError().find("not connected to the MongoDB server"), std::string::npos)
      << db.LastError();
  EXPECT_THROW(films.GetRecord("a", cntr, true), EDbReadError);
  EXPECT_EQ(cntr, 7);
  EXPECT_FALSE(films.NewRecord("a", TJson{{"Name", "x"}}));
  EXPECT_FALSE(films.UpdateRecord("a", TJson{{"Name", "x"}}));
  EXPECT_FALSE(films.NewOrUpdateRecord("a", TJson{{"Name", "x"}}));
  int64_t zero = 0;
  EXPECT_FALSE(films.NewOrUpdateRecord("a", TJson{{"Name", "x"}}, zero));
  EXPECT_FALSE(films.DelRecord("a"));
  EXPECT_THROW(films.Query(TJson::object()), EDbReadError);
  TJson doc;
  EXPECT_FALSE(films.Next(doc));  // no cursor was opened
  EXPECT_THROW(films.GetRecord(TJson{{"_ID", "a"}}, nullptr, cntr, true), EDbReadError);
  EXPECT_EQ(db.ReopenTimeOut(), 0);  // no read failed on the server: none was attempted
  EXPECT_TRUE(op.Messages.empty());
  EXPECT_FALSE(db.DbIsOpen());
}

TEST(MongoStorageTest, FailedConnectShowsConnectionFailed) {
  TFakeOperator op;
  TDbFile db(&op);
  db.Collections().Add("Films");
  db.SetUseMongoDb(true);
  db.Sethost("127.0.0.1");
  db.Setport(1);  // nothing listens on port 1
  EXPECT_FALSE(db.Load());
  EXPECT_FALSE(db.DbIsOpen());
  ASSERT_EQ(op.Messages.size(), 1u);
  EXPECT_EQ(op.Messages[0].Caption, "Error");
  EXPECT_EQ(op.Messages[0].Text.rfind("Connection Failed ", 0), 0u) << op.Messages[0].Text;
  EXPECT_GT(op.Messages[0].Text.size(), std::string("Connection Failed ").size());
  EXPECT_FALSE(db.CollectionByName("Films").NewRecord("a", TJson::object()));
}
