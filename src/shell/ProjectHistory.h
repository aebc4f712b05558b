#pragma once
// Going back in a project's history: what differs between two states of a database (a backup,
// an exported file, the project as it is now), and bringing back the whole project, one
// collection or one record as a backup holds it. Used by the command line and the console's
// "Backups..." window alike.
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"

// The records of a project file: {"Collection": {"id": record}, ..., "DBVersion": "..."}.
// Raises std::runtime_error naming the file and the reason when it cannot be read.
TJson ReadProjectDocument(const std::string& path);
// The records of an open database in the same form (file mode: the document in memory;
// MongoDB: every collection read from the server). Raises EDbReadError when a read fails.
TJson DatabaseDocument(TDbFile& db);
// Record counts per collection of a document.
TJson DocumentCounts(const TJson& doc);

struct TRecordDifference {
  std::string Collection;
  std::string ID;
  std::string Name;
  std::string Kind;  // "added", "changed" or "deleted": what happened from Before to After
};
// Records added, changed and deleted from Before to After, collection by collection (in the
// order After holds them, then those only Before has), each collection's records in the order
// of the document that has them. Records compare as values: member order and number spelling
// ("25." and 25) do not count.
std::vector<TRecordDifference> DiffDocuments(const TJson& before, const TJson& after);

struct TRestoreResult {
  int Added = 0;
  int Changed = 0;
  int Deleted = 0;
  int TreeEntries = 0;  // tree entries given back to restored records
};
// Makes the database hold what Backup holds: everything (Collection empty), one collection
// (its records and its folder tree), or one record (ID; the record gets its tree entry back
// where the backup had it when the tree has none for it). In file mode this is one change:
// one write of the file, and nothing changes when the write fails. Every record changed is a
// journal line "restored". Raises std::runtime_error saying why nothing (or, on MongoDB, not
// everything) was restored.
TRestoreResult RestoreFromDocument(TDbFile& db, const TJson& backup,
                                   const std::string& collection = "",
                                   const std::string& id = "");
// Stores every record of a project file (an export or a backup) as the file holds it, tree
// documents included, leaving records the file does not have: how an exported database is
// imported. The same rules of one change and of the journal as above.
TRestoreResult ImportProjectDocument(TDbFile& db, const TJson& file);
// Whether a document to import is a whole project file (it carries "DBVersion").
bool IsProjectDocument(const TJson& doc);

// Writes the whole database as a project file (the same text form), atomically.
// Gives the number of records written.
size_t ExportDatabase(TDbFile& db, const std::string& path);
