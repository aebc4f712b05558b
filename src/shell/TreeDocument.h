#pragma once
// The folder tree of a collection, as every editor, the command line and the package builder
// see it. It is the record of collection "Tree" named after the collection: an array of
// entries, where {"_ID": id} names a record and an entry with "child" is a folder
// ({"text": caption, "_ID": folder id, "child": [entries]}). A record entry may carry a "text"
// too (trees saved without identifiers only); "child" alone makes a folder.
#include <functional>
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"

bool TreeEntryIsFolder(const TJson& entry);

struct TTreeListEntry {
  std::string ID;
  std::string Name;
  bool IsFolder = false;
  int Depth = 0;
};
// Identifiers in tree order: the records the tree document names first (depth first, folders
// included), then the records no entry names (in storage order). Entries whose record is gone
// are left out. Works alike on files and on MongoDB (where only identifiers and names are read).
std::vector<TTreeListEntry> ListInTreeOrder(TDbFile& db, TDbCollectionItem& coll);

// An existing identifier, or else the identifier of the first record in tree order whose "Name"
// is IdOrName; "" when neither.
std::string FindRecordByIdOrName(TDbFile& db, TDbCollectionItem& coll,
                                 const std::string& IdOrName);

// Stores a record with counter checking: replaces it when it exists (false when another client
// changed it in between), otherwise creates it. On MongoDB a plain upsert could not tell a new
// record from a stored one.
bool StoreRecordCounted(TDbCollectionItem& coll, const std::string& id, const TJson& rec);

// Takes the record entry with identifier ID out of a tree document (folders are searched too);
// false when it has none.
bool RemoveTreeEntry(TJson& doc, const std::string& ID);

// For a collection edited as a tree: appends {"_ID": id} to its stored tree document (made when
// missing), or takes the record's entry out of it; counted, so another editor's tree change is
// never overwritten. True when there was nothing to do.
bool AppendTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id);
bool RemoveRecordTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id);

// Stores every record of a {"Collection": {"id": record, ...}, ...} document: existing records
// are replaced, new ones get tree entries at the end of their collection's tree. A project file
// is written once at the end; MongoDB takes each record as it comes. CollectionOf gives the
// collection of a name (raising for names the database does not know). Raises
// std::runtime_error naming what was not stored; gives the number of records stored.
size_t ImportRecords(TDbFile& db, const TJson& doc,
                     const std::function<TDbCollectionItem&(const std::string&)>& CollectionOf);
