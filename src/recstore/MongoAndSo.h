#pragma once
// MongoDB storage of a record database: the mapping of JSON values to BSON documents and back,
// and the storage behind TDbFile when it works on a MongoDB database. Each record is one
// document {"_ID": identifier, "Value": record, "Cntr": change counter} in the MongoDB
// collection named after the record collection; the server's own "_id" is left to the server.
#include <bson/bson.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "recstore/Json.h"

// A value that cannot be converted between JSON and BSON; the message says why.
class EMongoConversion : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// How a JSON document is meant to be used on the server.
enum class TBsonUse {
  Document,  // records, selectors, replacements, field selectors
  Query,     // the query of a cursor: "###_###" in member names becomes ".", and the array
             // ["###^###", pattern, options, "###^###"] becomes a regular expression
  GetQuery,  // the query of a single read: may also be an array of one-member objects,
             // written as one document whose members keep the array's order
};

// Appends the members of Obj to Out (an initialised, empty document). Raises EMongoConversion
// with "Invalid SuperObject type <kind>" when Obj is not an object (or, for GetQuery, not an
// array of one-member objects).
void JsonToBson(const TJson& obj, bson_t* out, TBsonUse use = TBsonUse::Document);
// The document's bytes.
std::vector<uint8_t> JsonToBsonBytes(const TJson& obj, TBsonUse use = TBsonUse::Document);

// Converts a whole BSON document (its declared size first) into a JSON object. Elements the
// console does not keep (dates, regular expressions, code, timestamps, binary subtypes 0, 2
// and 6) are skipped; anything it cannot read raises EMongoConversion with the reason and the
// offset (8 upper-case hexadecimal digits) of the element in the document.
TJson BsonBytesToJson(const uint8_t* data, size_t len);
TJson BsonToJson(const bson_t* doc);

// The marker text of an ObjectId: ObjectID("<24 lower-case hexadecimal digits>").
std::string ObjectIDMarker(const bson_oid_t& oid);
// True, with the identifier, when Text is an ObjectId marker: 36 characters beginning with
// ObjectID(" and holding 24 hexadecimal digits after it.
bool ParseObjectIDMarker(const std::string& text, bson_oid_t& oid);
// A 16-byte UUID in Windows GUID memory order, as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string GuidText(const uint8_t bytes[16]);

// Makes sure the MongoDB driver is initialised once for the process; the driver is cleaned up
// when the process ends and no connection is left.
void EnsureMongocInitialised();
