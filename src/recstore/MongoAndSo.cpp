#include "recstore/MongoAndSo.h"

#include <fmt/format.h>
#include <mongoc/mongoc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "recstore/JrecClasses.h"
#include "base/CommonProcedures.h"
#include "base/StrUtils.h"

// ---------------------------------------------------------------------------------------------
// JSON to BSON

namespace {

const char* const KDotMarker = "###_###";
const char* const KRegexMarker = "###^###";

std::string Hex8(uint32_t v) { return fmt::format("{:08X}", v); }
std::string Hex2(unsigned v) { return fmt::format("{:02X}", v & 0xFFu); }

std::string QueryKey(const std::string& key) {
  std::string out;
  out.reserve(key.size());
  const size_t n = std::strlen(KDotMarker);
  for (size_t i = 0; i < key.size();) {
    if (key.compare(i, n, KDotMarker) == 0) {
      out.push_back('.');
      i += n;
    } else {
      out.push_back(key[i++]);
    }
  }
  return out;
}

bool IsRegexArray(const TJson& v) {
  return v.is_array() && v.size() == 4 && v[0].is_string() && v[3].is_string() &&
         v[0].get_ref<const std::string&>() == KRegexMarker &&
         v[3].get_ref<const std::string&>() == KRegexMarker;
}

void AppendValue(bson_t* out, const std::string& key, const TJson& v, bool query);

void AppendMembers(bson_t* out, const TJson& obj, bool query) {
  for (auto it = obj.begin(); it != obj.end(); ++it)
    AppendValue(out, query ? QueryKey(it.key()) : it.key(), it.value(), query);
}

void Check(bool ok, const std::string& key) {
  if (!ok) throw EMongoConversion("Cannot store member \"" + key + "\" in a BSON document");
}

void AppendValue(bson_t* out, const std::string& key, const TJson& v, bool query) {
  const char* k = key.c_str();
  const int kl = static_cast<int>(key.size());
  if (key.find('\0') != std::string::npos)
    throw EMongoConversion("Member names may not contain a zero character");
  switch (v.type()) {
    case TJson::value_t::null:
    case TJson::value_t::discarded:
      Check(bson_append_null(out, k, kl), key);
      return;
    case TJson::value_t::boolean:
      Check(bson_append_bool(out, k, kl, v.get<bool>()), key);
      return;
    case TJson::value_t::number_integer:
      Check(bson_append_int64(out, k, kl, v.get<int64_t>()), key);
      return;
    case TJson::value_t::number_unsigned: {
      uint64_t u = v.get<uint64_t>();
      // Beyond the signed range only a double can hold the value.
      if (u > static_cast<uint64_t>(INT64_MAX))
        Check(bson_append_double(out, k, kl, static_cast<double>(u)), key);
      else
        Check(bson_append_int64(out, k, kl, static_cast<int64_t>(u)), key);
      return;
    }
    case TJson::value_t::number_float:
      Check(bson_append_double(out, k, kl, v.get<double>()), key);
      return;
    case TJson::value_t::string: {
      const std::string& s = v.get_ref<const std::string&>();
      bson_oid_t oid;
      if (ParseObjectIDMarker(s, oid)) {
        Check(bson_append_oid(out, k, kl, &oid), key);
      } else {
        Check(bson_append_utf8(out, k, kl, s.data(), static_cast<int>(s.size())), key);
      }
      return;
    }
    case TJson::value_t::object: {
      bson_t child;
      Check(bson_append_document_begin(out, k, kl, &child), key);
      AppendMembers(&child, v, query);
      Check(bson_append_document_end(out, &child), key);
      return;
    }
    case TJson::value_t::array: {
      if (query && IsRegexArray(v)) {
        std::string pattern = v[1].is_string() ? v[1].get<std::string>() : v[1].dump();
        std::string options = v[2].is_string() ? v[2].get<std::string>() : "";
        Check(bson_append_regex(out, k, kl, pattern.c_str(), options.c_str()), key);
        return;
      }
      bson_t child;
      Check(bson_append_array_begin(out, k, kl, &child), key);
      for (size_t i = 0; i < v.size(); ++i) AppendValue(&child, std::to_string(i), v[i], query);
      Check(bson_append_array_end(out, &child), key);
      return;
    }
    case TJson::value_t::binary:
      Check(bson_append_binary(out, k, kl, BSON_SUBTYPE_BINARY, v.get_binary().data(),
                               static_cast<uint32_t>(v.get_binary().size())),
            key);
      return;
  }
}

}  // namespace

void JsonToBson(const TJson& obj, bson_t* out, TBsonUse use) {
  if (use == TBsonUse::GetQuery && obj.is_array()) {
    // Commands whose member order matters: [{"a": 1}, {"b": 2}] is sent as {"a": 1, "b": 2}.
    for (const auto& m : obj) {
      if (!m.is_object() || m.size() != 1) throw EMongoConversion("Invalid SuperObject type " + JsonKindName(m));
      AppendMembers(out, m, false);
    }
    return;
  }
  if (!obj.is_object()) throw EMongoConversion("Invalid SuperObject type " + JsonKindName(obj));
  AppendMembers(out, obj, use == TBsonUse::Query);
}

std::vector<uint8_t> JsonToBsonBytes(const TJson& obj, TBsonUse use) {
  bson_t doc = BSON_INITIALIZER;
  try {
    JsonToBson(obj, &doc, use);
  } catch (...) {
    bson_destroy(&doc);
    throw;
  }
  const uint8_t* data = bson_get_data(&doc);
  std::vector<uint8_t> bytes(data, data + doc.len);
  bson_destroy(&doc);
  return bytes;
}

std::string ObjectIDMarker(const bson_oid_t& oid) {
  char hex[25];
  bson_oid_to_string(&oid, hex);
  return std::string("ObjectID(\"") + hex + "\")";
}

bool ParseObjectIDMarker(const std::string& text, bson_oid_t& oid) {
  static const std::string prefix = "ObjectID(\"";
  if (text.size() != 36 || text.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = 0; i < 12; ++i) {
    int hi = HexValue(text[10 + 2 * i]);
    int lo = HexValue(text[11 + 2 * i]);
    // Not hexadecimal: an ordinary text that only looks like a marker; kept as a string.
    if (hi < 0 || lo < 0) return false;
    oid.bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

std::string GuidText(const uint8_t b[16]) {
  return fmt::format("{{{:02X}{:02X}{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}-"
                     "{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}}}",
                     b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11],
                     b[12], b[13], b[14], b[15]);
}

// ---------------------------------------------------------------------------------------------
// BSON to JSON

namespace {

struct TBsonReader {
  const uint8_t* Base;

  uint32_t Offset(const bson_iter_t& it) const {
    return static_cast<uint32_t>((it.raw - Base) + it.off);
  }

  static bool KnownType(uint8_t t) {
    return (t >= 0x01 && t <= 0x13) || t == 0x7F || t == 0xFF;
  }

  // Explains why the iterator stopped on corrupt data; Raw is the (sub)document and ElemOff the
  // offset inside it of the element that could not be read.
  [[noreturn]] void Corrupt(const uint8_t* raw, uint32_t elemOff, bool isArray) const {
    uint32_t off = static_cast<uint32_t>((raw - Base) + elemOff);
    uint8_t type = raw[elemOff];
    if (!KnownType(type))
      throw EMongoConversion("Unknown BSON element type " + Hex2(type) + " at offset " +
                             Hex8(off));
    if (type == BSON_TYPE_UTF8 || type == BSON_TYPE_SYMBOL || type == BSON_TYPE_CODE)
      throw EMongoConversion("BSON string incorrectly terminated at offset " + Hex8(off));
    if (isArray || type == BSON_TYPE_ARRAY)
      throw EMongoConversion("More BSON array data than declared at offset " + Hex8(off));
    throw EMongoConversion("Unexpected end of stream");
  }

  void ReadMembers(bson_iter_t& it, TJson& out, bool isArray) const {
    size_t index = 0;
    // The iterator forgets its data when it meets corrupt bytes; keep what the report needs.
    const uint8_t* raw = it.raw;
    while (true) {
      const uint32_t elemOff = it.next_off;
      if (!bson_iter_next(&it)) {
        if (it.err_off != 0) Corrupt(raw, elemOff, isArray);
        break;
      }
      const char* key = bson_iter_key(&it);
      if (isArray && std::to_string(index) != key)
        throw EMongoConversion(std::string("Invalid BSON array index ") + key);
      ++index;
      TJson value;
      if (!ReadValue(it, value)) {
        if (isArray) out.push_back(nullptr);  // keeps the later elements at their places
        continue;
      }
      if (isArray)
        out.push_back(std::move(value));
      else
        out[key] = std::move(value);
    }
  }

  // False when the element is one the console skips.
  bool ReadValue(bson_iter_t& it, TJson& value) const {
    const uint32_t off = Offset(it);
    switch (bson_iter_type(&it)) {
      case BSON_TYPE_DOUBLE:
        value = bson_iter_double(&it);
        return true;
      case BSON_TYPE_UTF8:
      case BSON_TYPE_SYMBOL: {
        uint32_t len = 0;
        const char* s = bson_iter_type(&it) == BSON_TYPE_UTF8 ? bson_iter_utf8(&it, &len)
                                                              : bson_iter_symbol(&it, &len);
        value = std::string(s, len);
        return true;
      }
      case BSON_TYPE_DOCUMENT:
      case BSON_TYPE_ARRAY: {
        const bool isArray = bson_iter_type(&it) == BSON_TYPE_ARRAY;
        bson_iter_t child;
        if (!bson_iter_recurse(&it, &child))
          throw EMongoConversion(isArray ? "More BSON array data than declared at offset " +
                                               Hex8(off)
                                         : std::string("Unexpected end of stream"));
        value = isArray ? TJson::array() : TJson::object();
        ReadMembers(child, value, isArray);
        return true;
      }
      case BSON_TYPE_BINARY: {
        bson_subtype_t subtype;
        uint32_t len = 0;
        const uint8_t* data = nullptr;
        bson_iter_binary(&it, &subtype, &len, &data);
        switch (subtype) {
          case BSON_SUBTYPE_UUID_DEPRECATED:
            if (len != 16)
              throw EMongoConversion("Unexpected UUID length (" + std::to_string(len) +
                                     ") at offset " + Hex8(off));
            value = GuidText(data);
            return true;
          case BSON_SUBTYPE_BINARY:
          case BSON_SUBTYPE_BINARY_DEPRECATED:
          case BSON_SUBTYPE_ENCRYPTED:
            return false;
          case BSON_SUBTYPE_FUNCTION:
          case BSON_SUBTYPE_MD5:
            throw EMongoConversion("Not Implemented");
          default:
            throw EMongoConversion("Unknown BSON binary type " + Hex2(subtype) + " at offset " +
                                   Hex8(off));
        }
      }
      case BSON_TYPE_OID:
        value = ObjectIDMarker(*bson_iter_oid(&it));
        return true;
      case BSON_TYPE_BOOL:
        value = bson_iter_bool(&it);
        return true;
      case BSON_TYPE_DATE_TIME:
      case BSON_TYPE_REGEX:
      case BSON_TYPE_CODE:
      case BSON_TYPE_TIMESTAMP:
        return false;
      case BSON_TYPE_NULL:
        value = nullptr;
        return true;
      case BSON_TYPE_INT32:
        value = static_cast<int64_t>(bson_iter_int32(&it));
        return true;
      case BSON_TYPE_INT64:
        value = bson_iter_int64(&it);
        return true;
      case BSON_TYPE_CODEWSCOPE:
        throw EMongoConversion("Not Implemented");
      default:
        throw EMongoConversion("Unknown BSON element type " +
                               Hex2(static_cast<unsigned>(bson_iter_type(&it))) +
                               " at offset " + Hex8(off));
    }
  }
};

}  // namespace

TJson BsonBytesToJson(const uint8_t* data, size_t len) {
  if (!data || len < 5) throw EMongoConversion("Unexpected end of stream");
  uint32_t declared = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
                      (static_cast<uint32_t>(data[2]) << 16) |
                      (static_cast<uint32_t>(data[3]) << 24);
  if (declared > len) throw EMongoConversion("Less BSON data than declared");
  if (declared < len) throw EMongoConversion("More BSON data than declared");
  bson_iter_t it;
  if (declared < 5 || !bson_iter_init_from_data(&it, data, len))
    throw EMongoConversion("Unexpected end of stream");
  TJson out = TJson::object();
  TBsonReader{data}.ReadMembers(it, out, false);
  return out;
}

TJson BsonToJson(const bson_t* doc) { return BsonBytesToJson(bson_get_data(doc), doc->len); }

// ---------------------------------------------------------------------------------------------
// Driver lifetime

namespace {

std::atomic<int> GLiveClients{0};

struct TMongocCleanup {
  ~TMongocCleanup() {
    // Statics made before the driver was first used are destroyed after this; a connection
    // such a static still holds keeps the driver, and the process end reclaims both.
    if (GLiveClients.load() == 0) mongoc_cleanup();
  }
};

}  // namespace

void EnsureMongocInitialised() {
  static std::once_flag once;
  std::call_once(once, [] {
    mongoc_init();
    static TMongocCleanup cleanup;  // cleans the driver up at exit
  });
}

// ---------------------------------------------------------------------------------------------
// The MongoDB storage

namespace {

struct TBsonDoc {
  bson_t Doc = BSON_INITIALIZER;
  TBsonDoc() = default;
  TBsonDoc(const TJson& j, TBsonUse use = TBsonUse::Document) { Fill(j, use); }
  void Fill(const TJson& j, TBsonUse use) {
    try {
      JsonToBson(j, &Doc, use);
    } catch (...) {
      bson_destroy(&Doc);
      throw;
    }
  }
  ~TBsonDoc() { bson_destroy(&Doc); }
  TBsonDoc(const TBsonDoc&) = delete;
  TBsonDoc& operator=(const TBsonDoc&) = delete;
  bson_t* get() { return &Doc; }
};

const TJson KCounterOnly = {{"Cntr", 1}};

int64_t ReadCounter(const TJson& doc) {
  auto it = doc.find("Cntr");
  if (it == doc.end()) return 0;
  if (it->is_number_integer()) return it->get<int64_t>();
  if (it->is_number_float()) return static_cast<int64_t>(it->get<double>());
  return 0;
}

// Why a read failed, as the record store reports it.
std::string ReadError(const bson_error_t& err) {
  const uint32_t CursorNotFound = 43;  // the server's code for a cursor it no longer knows
  if (err.domain == MONGOC_ERROR_SERVER && err.code == CursorNotFound)
    return "MongoWire.Get: cursor not found";
  return std::string("MongoWire.Get: ") + err.message;
}

int64_t ReplyCount(const bson_t* reply, const char* key) {
  bson_iter_t it;
  if (bson_iter_init_find(&it, reply, key) && BSON_ITER_HOLDS_NUMBER(&it))
    return bson_iter_as_int64(&it);
  return 0;
}

}  // namespace

class TMongoStorage : public TDbStorage {
public:
  explicit TMongoStorage(TDbFile& db) : FDb(db) { EnsureMongocInitialised(); }
  ~TMongoStorage() override { Close(); }

  bool IsMongoDb() const override { return true; }
  bool Load() override;
  std::optional<TJson> GetRecord(TDbCollectionItem& coll, const std::string& aID, int64_t* cntr,
                                 bool UseCntr) override {
    return Get(coll, TJson{{"_ID", aID}}, TBsonUse::Document, nullptr, cntr, UseCntr, false,
               &aID);
  }
  bool ChangeRecord(TDbCollectionItem& coll, const std::string& aID, const TJson* aRecord,
                    TChangeRecordTtp chtyp, bool UseCntr, int64_t cntr) override {
    return ChangeRecordSel(coll, TJson{{"_ID", aID}}, aRecord, chtyp, UseCntr, cntr);
  }
  // Only the counter comes from the server, not the record (a tree document can be large).
  bool RecordCounter(TDbCollectionItem& coll, const std::string& aID, int64_t& cntr) override {
    cntr = 0;
    return Get(coll, TJson{{"_ID", aID}}, TBsonUse::Document, &KCounterOnly, &cntr, true, true,
               &aID)
        .has_value();
  }
  void Query(TDbCollectionItem& coll, const TJson& qwery, const TJson* fieldSelector) override;
  bool Next(TDbCollectionItem& coll, TJson& doc) override;
  std::optional<TJson> GetRecordByQuery(TDbCollectionItem& coll, const TJson& qwery,
                                        const TJson* fieldSelector, int64_t* cntr,
                                        bool UseCntr) override {
    return Get(coll, qwery, TBsonUse::GetQuery, fieldSelector, cntr, UseCntr);
  }

private:
  bool Open(std::string& error);
  void Close();
  void CloseCursor();
  struct TCollectionFree {
    void operator()(mongoc_collection_t* c) const { mongoc_collection_destroy(c); }
  };
  using TCollectionPtr = std::unique_ptr<mongoc_collection_t, TCollectionFree>;
  TCollectionPtr Collection(const TDbCollectionItem& coll);
  // With CounterOnly the document needs no "Value" and the result is null when it is there.
  // With UniqueID the query selects one identifier: a second document under it fails the read.
  // A read that fails raises EDbReadError.
  std::optional<TJson> Get(TDbCollectionItem& coll, const TJson& qwery, TBsonUse use,
                           const TJson* fieldSelector, int64_t* cntr, bool UseCntr,
                           bool CounterOnly = false, const std::string* UniqueID = nullptr);
  [[noreturn]] void NotConnected(const char* operation);
  // Asks the server once per collection and connection for a unique index on "_ID", so that
  // no two clients can store one identifier twice. A server that refuses is not an error here:
  // inserts check for the identifier themselves.
  void EnsureUniqueID(mongoc_collection_t* collection, const std::string& name);
  bool ChangeRecordSel(TDbCollectionItem& coll, const TJson& sel, const TJson* aRecord,
                       TChangeRecordTtp chtyp, bool UseCntr, int64_t cntr);
  void ReadFailed();

  TDbFile& FDb;
  std::recursive_mutex FLock;  // the driver's client serves one request at a time
  mongoc_client_t* FClient = nullptr;
  mongoc_collection_t* FCursorCollection = nullptr;
  mongoc_cursor_t* FCursor = nullptr;
  bool FMongoConnected = false;
  std::set<std::string> FIndexed;  // collections whose "_ID" index was asked for
};

namespace {

std::string UriHost(const std::string& host) {
  // An IPv6 address goes into brackets in a connection address.
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host.empty() ? "127.0.0.1" : host;
}

}  // namespace

bool TMongoStorage::Open(std::string& error) {
  Close();
  std::string uri = fmt::format(
      "mongodb://{}:{}/?connectTimeoutMS=3000&serverSelectionTimeoutMS=3000&socketTimeoutMS="
      "30000&serverSelectionTryOnce=true",
      UriHost(FDb.host()), FDb.port());
  bson_error_t err;
  mongoc_uri_t* parsed = mongoc_uri_new_with_error(uri.c_str(), &err);
  if (!parsed) {
    error = err.message;
    return false;
  }
  FClient = mongoc_client_new_from_uri_with_error(parsed, &err);
  mongoc_uri_destroy(parsed);
  if (!FClient) {
    error = err.message;
    return false;
  }
  ++GLiveClients;
  mongoc_client_set_error_api(FClient, MONGOC_ERROR_API_VERSION_2);
  mongoc_client_set_appname(FClient, "pelmora");
  // The driver connects lazily; a ping proves that the server answers.
  bson_t ping = BSON_INITIALIZER;
  BSON_APPEND_INT32(&ping, "ping", 1);
  bson_t reply;
  bool ok = mongoc_client_command_simple(FClient, "admin", &ping, nullptr, &reply, &err);
  bson_destroy(&ping);
  bson_destroy(&reply);
  if (!ok) {
    error = err.message;
    Close();
    return false;
  }
  return true;
}

void TMongoStorage::CloseCursor() {
  if (FCursor) mongoc_cursor_destroy(FCursor);
  if (FCursorCollection) mongoc_collection_destroy(FCursorCollection);
  FCursor = nullptr;
  FCursorCollection = nullptr;
}

void TMongoStorage::Close() {
  CloseCursor();
  FIndexed.clear();
  if (FClient) {
    mongoc_client_destroy(FClient);
    FClient = nullptr;
    --GLiveClients;
  }
}

bool TMongoStorage::Load() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FMongoConnected = false;
  std::string error;
  if (!Open(error)) {
    FDb.FLastError = "Connection Failed " + error;
    FDb.Operator().MessageBox("Error", fmt::format("Connection Failed {}", error),
                              TMsgIcon::Error);
    return false;
  }
  FMongoConnected = true;
  FDb.FReopenTimeOut = 0;
  return true;
}

TMongoStorage::TCollectionPtr TMongoStorage::Collection(const TDbCollectionItem& coll) {
  return TCollectionPtr(
      mongoc_client_get_collection(FClient, FDb.MongoDbName().c_str(), coll.Name().c_str()));
}

void TMongoStorage::ReadFailed() {
  // After a failed read the connection is reopened, at most once every five seconds.
  TDateTime now = Now();
  if (FDb.FReopenTimeOut == 0) FDb.FReopenTimeOut = now;
  if ((now - FDb.FReopenTimeOut) * 86400.0 > 5.0) {
    FDb.FReopenTimeOut = now;
    std::string ignored;
    Open(ignored);  // a failed reopen is tried again on a later read
  }
}

void TMongoStorage::NotConnected(const char* operation) {
  std::string why = fmt::format("{}: not connected to the MongoDB server {}:{}", operation,
                                FDb.host(), FDb.port());
  FDb.FLastError = why;
  throw EDbReadError(why);
}

std::optional<TJson> TMongoStorage::Get(TDbCollectionItem& coll, const TJson& qwery,
                                        TBsonUse use, const TJson* fieldSelector, int64_t* cntr,
                                        bool UseCntr, bool CounterOnly,
                                        const std::string* UniqueID) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (!FMongoConnected) NotConnected("MongoWire.Get");
  if (!FClient) {
    ReadFailed();
    if (!FClient) NotConnected("MongoWire.Get");
  }
  TBsonDoc filter(qwery, use);
  TBsonDoc opts;
  // A read by identifier asks for two documents, to see a second one stored under it.
  BSON_APPEND_INT64(opts.get(), "limit", UniqueID ? 2 : 1);
  BSON_APPEND_BOOL(opts.get(), "singleBatch", true);
  if (fieldSelector && fieldSelector->is_object() && !fieldSelector->empty()) {
    TBsonDoc projection(*fieldSelector);
    BSON_APPEND_DOCUMENT(opts.get(), "projection", projection.get());
  }
  TCollectionPtr collection = Collection(coll);
  mongoc_cursor_t* cursor =
      mongoc_collection_find_with_opts(collection.get(), filter.get(), opts.get(), nullptr);
  const bson_t* found = nullptr;
  bool gotOne = mongoc_cursor_next(cursor, &found);
  bson_error_t err;
  bool failed = !gotOne && mongoc_cursor_error(cursor, &err);
  std::optional<TJson> doc;
  std::string conversionError;
  bool second = false;
  if (gotOne) {
    try {
      doc = BsonToJson(found);
    } catch (const EMongoConversion& e) {
      conversionError = e.what();
    }
    if (UniqueID) {
      const bson_t* another = nullptr;
      second = mongoc_cursor_next(cursor, &another);
      if (!second && mongoc_cursor_error(cursor, &err)) failed = true;
    }
  }
  mongoc_cursor_destroy(cursor);
  if (failed) {
    std::string why = ReadError(err);
    FDb.FLastError = why;
    ReadFailed();
    throw EDbReadError(why);
  }
  if (!gotOne) return std::nullopt;
  FDb.FReopenTimeOut = 0;
  if (second)
    throw EDbReadError(fmt::format("Two documents with _ID \"{}\" in collection {}.{}",
                                   *UniqueID, FDb.MongoDbName(), coll.Name()));
  if (!doc) throw EDbReadError(conversionError);
  if (CounterOnly) {
    if (cntr) *cntr = ReadCounter(*doc);
    return TJson();
  }
  auto value = doc->find("Value");
  if (value == doc->end())
    throw EDbReadError(fmt::format("The document with _ID \"{}\" in collection {}.{} has no "
                                   "\"Value\"",
                                   JsonStr(*doc, "_ID"), FDb.MongoDbName(), coll.Name()));
  if (UseCntr && cntr) *cntr = ReadCounter(*doc);
  return std::move(*value);
}

void TMongoStorage::EnsureUniqueID(mongoc_collection_t* collection, const std::string& name) {
  if (!FIndexed.insert(name).second) return;
  bson_t keys = BSON_INITIALIZER;
  BSON_APPEND_INT32(&keys, "_ID", 1);
  bson_t index = BSON_INITIALIZER;
  BSON_APPEND_DOCUMENT(&index, "key", &keys);
  BSON_APPEND_UTF8(&index, "name", "_ID_1");
  BSON_APPEND_BOOL(&index, "unique", true);
  bson_t command = BSON_INITIALIZER, list;
  BSON_APPEND_UTF8(&command, "createIndexes", name.c_str());
  BSON_APPEND_ARRAY_BEGIN(&command, "indexes", &list);
  BSON_APPEND_DOCUMENT(&list, "0", &index);
  bson_append_array_end(&command, &list);
  bson_t reply;
  bson_error_t err;
  // Refused when a database already holds duplicates (made by older consoles); the reads then
  // name them.
  mongoc_collection_write_command_with_opts(collection, &command, nullptr, &reply, &err);
  bson_destroy(&reply);
  bson_destroy(&command);
  bson_destroy(&index);
  bson_destroy(&keys);
}

bool TMongoStorage::ChangeRecordSel(TDbCollectionItem& coll, const TJson& sel,
                                    const TJson* aRecord, TChangeRecordTtp chtyp, bool UseCntr,
                                    int64_t cntr) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (!FMongoConnected || !FClient) return false;
  if (!aRecord && chtyp == NewRec) throw EMongoConversion("MongoWire.Insert: SuperObject required");
  if (!aRecord && chtyp != DelRec) throw EMongoConversion("MongoWire.Update: SuperObject required");
  TJson document = sel;
  TJson selector = sel;
  if (aRecord) document["Value"] = *aRecord;
  if (UseCntr) {
    // A document last written without counter checking has no "Cntr" and reads as 0; counter
    // 0 must match it too, or such a record could never be saved again with counter checking.
    if (cntr == 0)
      selector["Cntr"] = {{"$in", TJson::array({0, nullptr})}};
    else
      selector["Cntr"] = cntr;
    document["Cntr"] = cntr + 1;
  }
  // Records are stored as the console made them; member names with "." or "$" included.
  TBsonDoc opts;
  BSON_APPEND_BOOL(opts.get(), "validate", false);
  // Both documents are converted before the server is asked, so a value that cannot be
  // stored fails the change without touching the server.
  TBsonDoc selBson(selector);
  TBsonDoc docBson(document);
  TCollectionPtr collection = Collection(coll);
  bson_t reply;
  bson_error_t err;
  bool ok = false;
  int64_t affected = 0;
  switch (chtyp) {
    case NewRec: {
      // Never a second document under one identifier: the unique index refuses it where the
      // server keeps indexes, and the identifier is looked for first (a failed look raises).
      EnsureUniqueID(collection.get(), coll.Name());
      const std::string id = JsonStr(sel, "_ID");
      int64_t ignored = 0;
      if (Get(coll, TJson{{"_ID", id}}, TBsonUse::Document, &KCounterOnly, &ignored, true, true,
              &id)) {
        FDb.FLastError = fmt::format("A record with _ID \"{}\" already exists in collection {}",
                                     id, coll.Name());
        return false;
      }
      ok = mongoc_collection_insert_one(collection.get(), docBson.get(), opts.get(), &reply,
                                        &err);
      affected = 1;
      break;
    }
    case UpdateRec:
    case NewOrUpdateRec:
      if (chtyp == NewOrUpdateRec && !UseCntr) EnsureUniqueID(collection.get(), coll.Name());
      BSON_APPEND_BOOL(opts.get(), "upsert", chtyp == NewOrUpdateRec && !UseCntr);
      ok = mongoc_collection_replace_one(collection.get(), selBson.get(), docBson.get(),
                                         opts.get(), &reply, &err);
      // An upsert that inserted has updated nothing that existed.
      affected = ReplyCount(&reply, "matchedCount");
      break;
    case DelRec:
      ok = mongoc_collection_delete_many(collection.get(), selBson.get(), nullptr, &reply, &err);
      affected = ReplyCount(&reply, "deletedCount");
      break;
  }
  bson_destroy(&reply);
  if (!ok) {
    FDb.FLastError = err.message;
    return false;
  }
  return affected > 0;
}

void TMongoStorage::Query(TDbCollectionItem& coll, const TJson& qwery,
                          const TJson* fieldSelector) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  CloseCursor();
  if (!FMongoConnected || !FClient) NotConnected("MongoWire.Query");
  TBsonDoc filter(qwery, TBsonUse::Query);
  TBsonDoc opts;
  if (fieldSelector && fieldSelector->is_object() && !fieldSelector->empty()) {
    TBsonDoc projection(*fieldSelector);
    BSON_APPEND_DOCUMENT(opts.get(), "projection", projection.get());
  }
  FCursorCollection = Collection(coll).release();
  FCursor = mongoc_collection_find_with_opts(FCursorCollection, filter.get(), opts.get(), nullptr);
}

bool TMongoStorage::Next(TDbCollectionItem&, TJson& doc) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (!FMongoConnected || !FCursor) return false;
  const bson_t* found = nullptr;
  if (!mongoc_cursor_next(FCursor, &found)) {
    bson_error_t err;
    bool failed = mongoc_cursor_error(FCursor, &err);
    CloseCursor();
    if (!failed) return false;
    FDb.FLastError = ReadError(err);
    throw EDbReadError(FDb.FLastError);
  }
  try {
    doc = BsonToJson(found);
  } catch (const EMongoConversion& e) {
    FDb.FLastError = e.what();
    CloseCursor();
    throw EDbReadError(FDb.FLastError);
  }
  doc.erase("_id");  // the server's own identifier is not the console's business
  return true;
}

std::unique_ptr<TDbStorage> CreateMongoStorage(TDbFile& db) {
  return std::make_unique<TMongoStorage>(db);
}
