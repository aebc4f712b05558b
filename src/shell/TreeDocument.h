#pragma once
// The folder tree of a collection, as every editor, the command line and the package builder
// see it. It is the record of collection "Tree" named after the collection: an array of
// entries, where {"_ID": id} names a record and an entry with "child" is a folder
// ({"text": caption, "_ID": folder id, "child": [entries]}). A record entry may carry a "text"
// too (trees saved without identifiers only); "child" alone makes a folder.
#include <functional>
#include <stdexcept>
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
// missing) unless an entry names it already, or takes the record's entry out of it; counted, so
// another editor's tree change is never overwritten: a change that meets another writer's is
// made again on the tree as that writer left it, a bounded number of times. True when there
// was nothing to do. A read that fails raises EDbReadError.
bool AppendTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id);
bool RemoveRecordTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id);
// Appends an entry for every one of IDs that the tree document does not name yet.
bool AppendMissingTreeEntries(TDbFile& db, TDbCollectionItem& coll,
                              const std::vector<std::string>& IDs);

// The record was stored, its tree entry was not: repeating the command adds the entry.
class ETreeEntryNotStored : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Stores a record and gives it an entry in its collection's tree when it has none. A project
// file is written once, with both, or not at all. On MongoDB the record is stored first, then
// the entry is added (see AppendTreeEntry). Raises std::runtime_error with the reason when
// nothing was stored, ETreeEntryNotStored when only the record was.
void StoreRecordWithTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id,
                              const TJson& rec);
// Deletes a record and its tree entry: one write of a project file. On MongoDB the entry goes
// first, so a failure leaves the record for a repeated delete to find. Raises
// std::runtime_error with the reason when the deletion was not complete.
void DeleteRecordWithTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id);

// Stores every record of a {"Collection": {"id": record, ...}, ...} document: existing records
// are replaced; every record the tree does not name yet gets an entry at the end of its
// collection's tree (so a repeated import completes an interrupted one). A project file is
// written once at the end; MongoDB takes each record as it comes. CollectionOf gives the
// collection of a name (raising for names the database does not know). Raises
// std::runtime_error naming what was not stored and how many records were; gives the number of
// records stored.
size_t ImportRecords(TDbFile& db, const TJson& doc,
                     const std::function<TDbCollectionItem&(const std::string&)>& CollectionOf);
