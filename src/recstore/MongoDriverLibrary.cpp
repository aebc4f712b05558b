// The MongoDB driver (libmongoc, libbson), opened when a database on a MongoDB server is first
// used: the functions the MongoDB storage calls, forwarded to the libraries. Nothing else of the
// programs uses BSON, so a program working on project files never loads either.
#include <bson/bson.h>
#include <mongoc/mongoc.h>

#include "base/LazyLibrary.h"

namespace {
constexpr const char* Purpose = "Working with a database on a MongoDB server";
TLazyLibrary Bson("libbson-1.0.so.0", "libbson-1.0-0", Purpose);
TLazyLibrary Mongoc("libmongoc-1.0.so.0", "libmongoc-1.0-0", Purpose);
}  // namespace

#define BSON_FUNCTION(Ret, Name, Params, Args) PELMORA_LAZY_FUNCTION(Bson, Ret, Name, Params, Args)
#define MONGOC_FUNCTION(Ret, Name, Params, Args) \
  PELMORA_LAZY_FUNCTION(Mongoc, Ret, Name, Params, Args)

BSON_FUNCTION(bool, bson_append_array_begin,
              (bson_t* bson, const char* key, int key_length, bson_t* child),
              (bson, key, key_length, child))
BSON_FUNCTION(bool, bson_append_array_end, (bson_t* bson, bson_t* child), (bson, child))
BSON_FUNCTION(bool, bson_append_binary,
              (bson_t* bson, const char* key, int key_length, bson_subtype_t subtype,
               const uint8_t* binary, uint32_t length),
              (bson, key, key_length, subtype, binary, length))
BSON_FUNCTION(bool, bson_append_bool, (bson_t* bson, const char* key, int key_length, bool value),
              (bson, key, key_length, value))
BSON_FUNCTION(bool, bson_append_document,
              (bson_t* bson, const char* key, int key_length, const bson_t* value),
              (bson, key, key_length, value))
BSON_FUNCTION(bool, bson_append_document_begin,
              (bson_t* bson, const char* key, int key_length, bson_t* child),
              (bson, key, key_length, child))
BSON_FUNCTION(bool, bson_append_document_end, (bson_t* bson, bson_t* child), (bson, child))
BSON_FUNCTION(bool, bson_append_double,
              (bson_t* bson, const char* key, int key_length, double value),
              (bson, key, key_length, value))
BSON_FUNCTION(bool, bson_append_int32,
              (bson_t* bson, const char* key, int key_length, int32_t value),
              (bson, key, key_length, value))
BSON_FUNCTION(bool, bson_append_int64,
              (bson_t* bson, const char* key, int key_length, int64_t value),
              (bson, key, key_length, value))
BSON_FUNCTION(bool, bson_append_null, (bson_t* bson, const char* key, int key_length),
              (bson, key, key_length))
BSON_FUNCTION(bool, bson_append_oid,
              (bson_t* bson, const char* key, int key_length, const bson_oid_t* oid),
              (bson, key, key_length, oid))
BSON_FUNCTION(bool, bson_append_regex,
              (bson_t* bson, const char* key, int key_length, const char* regex,
               const char* options),
              (bson, key, key_length, regex, options))
BSON_FUNCTION(bool, bson_append_utf8,
              (bson_t* bson, const char* key, int key_length, const char* value, int length),
              (bson, key, key_length, value, length))
BSON_FUNCTION(void, bson_destroy, (bson_t* bson), (bson))
BSON_FUNCTION(const uint8_t*, bson_get_data, (const bson_t* bson), (bson))
BSON_FUNCTION(int64_t, bson_iter_as_int64, (const bson_iter_t* iter), (iter))
BSON_FUNCTION(void, bson_iter_binary,
              (const bson_iter_t* iter, bson_subtype_t* subtype, uint32_t* binary_len,
               const uint8_t** binary),
              (iter, subtype, binary_len, binary))
BSON_FUNCTION(bool, bson_iter_bool, (const bson_iter_t* iter), (iter))
BSON_FUNCTION(double, bson_iter_double, (const bson_iter_t* iter), (iter))
BSON_FUNCTION(bool, bson_iter_init_find, (bson_iter_t* iter, const bson_t* bson, const char* key),
              (iter, bson, key))
BSON_FUNCTION(bool, bson_iter_init_from_data,
              (bson_iter_t* iter, const uint8_t* data, size_t length), (iter, data, length))
BSON_FUNCTION(int32_t, bson_iter_int32, (const bson_iter_t* iter), (iter))
BSON_FUNCTION(int64_t, bson_iter_int64, (const bson_iter_t* iter), (iter))
BSON_FUNCTION(const char*, bson_iter_key, (const bson_iter_t* iter), (iter))
BSON_FUNCTION(bool, bson_iter_next, (bson_iter_t* iter), (iter))
BSON_FUNCTION(const bson_oid_t*, bson_iter_oid, (const bson_iter_t* iter), (iter))
BSON_FUNCTION(bool, bson_iter_recurse, (const bson_iter_t* iter, bson_iter_t* child), (iter, child))
BSON_FUNCTION(const char*, bson_iter_symbol, (const bson_iter_t* iter, uint32_t* length),
              (iter, length))
BSON_FUNCTION(bson_type_t, bson_iter_type, (const bson_iter_t* iter), (iter))
BSON_FUNCTION(const char*, bson_iter_utf8, (const bson_iter_t* iter, uint32_t* length),
              (iter, length))
BSON_FUNCTION(void, bson_oid_to_string, (const bson_oid_t* oid, char str[25]), (oid, str))

MONGOC_FUNCTION(void, mongoc_init, (void), ())
MONGOC_FUNCTION(void, mongoc_cleanup, (void), ())
MONGOC_FUNCTION(mongoc_uri_t*, mongoc_uri_new_with_error,
                (const char* uri_string, bson_error_t* error), (uri_string, error))
MONGOC_FUNCTION(void, mongoc_uri_destroy, (mongoc_uri_t* uri), (uri))
MONGOC_FUNCTION(mongoc_client_t*, mongoc_client_new_from_uri_with_error,
                (const mongoc_uri_t* uri, bson_error_t* error), (uri, error))
MONGOC_FUNCTION(bool, mongoc_client_set_appname, (mongoc_client_t* client, const char* appname),
                (client, appname))
MONGOC_FUNCTION(bool, mongoc_client_set_error_api, (mongoc_client_t* client, int32_t version),
                (client, version))
MONGOC_FUNCTION(bool, mongoc_client_command_simple,
                (mongoc_client_t* client, const char* db_name, const bson_t* command,
                 const mongoc_read_prefs_t* read_prefs, bson_t* reply, bson_error_t* error),
                (client, db_name, command, read_prefs, reply, error))
MONGOC_FUNCTION(mongoc_collection_t*, mongoc_client_get_collection,
                (mongoc_client_t* client, const char* db, const char* collection),
                (client, db, collection))
MONGOC_FUNCTION(void, mongoc_client_destroy, (mongoc_client_t* client), (client))
MONGOC_FUNCTION(mongoc_cursor_t*, mongoc_collection_find_with_opts,
                (mongoc_collection_t* collection, const bson_t* filter, const bson_t* opts,
                 const mongoc_read_prefs_t* read_prefs),
                (collection, filter, opts, read_prefs))
MONGOC_FUNCTION(bool, mongoc_collection_insert_one,
                (mongoc_collection_t* collection, const bson_t* document, const bson_t* opts,
                 bson_t* reply, bson_error_t* error),
                (collection, document, opts, reply, error))
MONGOC_FUNCTION(bool, mongoc_collection_replace_one,
                (mongoc_collection_t* collection, const bson_t* selector,
                 const bson_t* replacement, const bson_t* opts, bson_t* reply, bson_error_t* error),
                (collection, selector, replacement, opts, reply, error))
MONGOC_FUNCTION(bool, mongoc_collection_delete_many,
                (mongoc_collection_t* collection, const bson_t* selector, const bson_t* opts,
                 bson_t* reply, bson_error_t* error),
                (collection, selector, opts, reply, error))
MONGOC_FUNCTION(bool, mongoc_collection_write_command_with_opts,
                (mongoc_collection_t* collection, const bson_t* command, const bson_t* opts,
                 bson_t* reply, bson_error_t* error),
                (collection, command, opts, reply, error))
MONGOC_FUNCTION(void, mongoc_collection_destroy, (mongoc_collection_t* collection), (collection))
MONGOC_FUNCTION(bool, mongoc_cursor_next, (mongoc_cursor_t* cursor, const bson_t** bson),
                (cursor, bson))
MONGOC_FUNCTION(bool, mongoc_cursor_error, (mongoc_cursor_t* cursor, bson_error_t* error),
                (cursor, error))
MONGOC_FUNCTION(void, mongoc_cursor_destroy, (mongoc_cursor_t* cursor), (cursor))
