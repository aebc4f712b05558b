#include "shell/TreeDocument.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "recstore/Backups.h"
#include "shell/Databases.h"

namespace {

void WalkTree(const TJson& entries, int depth, std::vector<TTreeListEntry>& out,
              std::vector<std::string>& seen, TDbCollectionItem& coll) {
  if (!entries.is_array()) return;
  for (const auto& e : entries) {
    if (!e.is_object()) continue;
    if (TreeEntryIsFolder(e)) {
      out.push_back({JsonStr(e, "_ID"), JsonStr(e, "text"), true, depth});
      WalkTree(e["child"], depth + 1, out, seen, coll);
      continue;
    }
    std::string id = JsonStr(e, "_ID");
    if (id.empty()) continue;
    auto rec = coll.GetRecord(id);
    if (!rec) continue;  // a tree entry whose record is gone
    seen.push_back(id);
    out.push_back({id, rec->is_object() ? JsonStr(*rec, "Name") : "", false, depth});
  }
}

const TJson& MongoListFields() {
  static const TJson fields = {{"_ID", 1}, {"Value.Name", 1}};
  return fields;
}

// How often a counted tree change is made again after meeting another writer's change.
constexpr int KTreeAttempts = 40;

// A short, random pause between attempts, so writers that met do not meet again.
void PauseBeforeRetry(int attempt) {
  static thread_local std::minstd_rand rnd(std::random_device{}());
  int ms = 2 + static_cast<int>(rnd() % static_cast<unsigned>(5 + 5 * std::min(attempt, 10)));
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void CollectEntryIDs(const TJson& entries, std::set<std::string>& out) {
  if (!entries.is_array()) return;
  for (const auto& e : entries) {
    if (!e.is_object()) continue;
    if (TreeEntryIsFolder(e))
      CollectEntryIDs(e["child"], out);
    else if (std::string id = JsonStr(e, "_ID"); !id.empty())
      out.insert(id);
  }
}

// Appends {"_ID": id} for each of IDs that Doc does not name; false when none was missing.
bool AddMissingEntries(TJson& doc, const std::vector<std::string>& IDs) {
  std::set<std::string> named;
  CollectEntryIDs(doc, named);
  bool added = false;
  for (const auto& id : IDs)
    if (named.insert(id).second) {
      doc.push_back({{"_ID", id}});
      added = true;
    }
  return added;
}

TDbCollectionItem* TreeOf(TDbFile& db, TDbCollectionItem& coll) {
  if (!CollectionHasTree(coll)) return nullptr;
  TDbCollectionItem* tree = db.FindCollection("Tree");
  return tree == &coll ? nullptr : tree;
}

}  // namespace

bool TreeEntryIsFolder(const TJson& entry) { return entry.is_object() && entry.contains("child"); }

std::vector<TTreeListEntry> ListInTreeOrder(TDbFile& db, TDbCollectionItem& coll) {
  std::vector<TTreeListEntry> out;
  std::vector<std::string> seen;
  if (TDbCollectionItem* tree = db.FindCollection("Tree"); tree && tree != &coll) {
    if (auto doc = tree->GetRecord(coll.Name())) WalkTree(*doc, 0, out, seen, coll);
  }
  std::sort(seen.begin(), seen.end());
  if (coll.IsMongoDb()) {
    // Documents in server order; only identifier and name are fetched.
    coll.Query(TJson::object(), &MongoListFields());
    TJson doc;
    while (coll.Next(doc)) {
      std::string id = JsonStr(doc, "_ID");
      if (id.empty() || std::binary_search(seen.begin(), seen.end(), id)) continue;
      const TJson* value = JsonPath(doc, "Value");
      out.push_back({id, value && value->is_object() ? JsonStr(*value, "Name") : "", false, 0});
    }
    return out;
  }
  if (TJson* all = coll.AsJson(); all && all->is_object()) {
    for (auto it = all->begin(); it != all->end(); ++it) {
      if (std::binary_search(seen.begin(), seen.end(), it.key())) continue;
      out.push_back(
          {it.key(), it.value().is_object() ? JsonStr(it.value(), "Name") : "", false, 0});
    }
  }
  return out;
}

std::string FindRecordByIdOrName(TDbFile& db, TDbCollectionItem& coll,
                                 const std::string& IdOrName) {
  if (IdOrName.empty()) return {};
  if (coll.GetRecord(IdOrName)) return IdOrName;
  for (const auto& e : ListInTreeOrder(db, coll))
    if (!e.IsFolder && e.Name == IdOrName) return e.ID;
  return {};
}

bool StoreRecordCounted(TDbCollectionItem& coll, const std::string& id, const TJson& rec) {
  int64_t cntr = 0;
  bool existed = coll.GetRecord(id, cntr, true).has_value();
  return existed ? coll.UpdateRecord(id, rec, cntr) : coll.NewRecord(id, rec, cntr);
}

bool RemoveTreeEntry(TJson& doc, const std::string& ID) {
  if (!doc.is_array()) return false;
  for (size_t i = 0; i < doc.size(); ++i) {
    TJson& e = doc[i];
    if (!e.is_object()) continue;
    if (!TreeEntryIsFolder(e) && JsonStr(e, "_ID") == ID) {
      doc.erase(i);
      return true;
    }
    if (TreeEntryIsFolder(e) && RemoveTreeEntry(e["child"], ID)) return true;
  }
  return false;
}

bool AppendMissingTreeEntries(TDbFile& db, TDbCollectionItem& coll,
                              const std::vector<std::string>& IDs) {
  TDbCollectionItem* tree = TreeOf(db, coll);
  if (!tree) return true;
  for (int attempt = 0; attempt < KTreeAttempts; ++attempt) {
    if (attempt) PauseBeforeRetry(attempt);
    int64_t cntr = 0;
    std::optional<TJson> stored = tree->GetRecord(coll.Name(), cntr, true);
    TJson doc = stored && stored->is_array() ? *stored : TJson::array();
    if (!AddMissingEntries(doc, IDs)) return true;
    if (stored ? tree->UpdateRecord(coll.Name(), doc, cntr)
               : tree->NewRecord(coll.Name(), doc, cntr))
      return true;
    if (!db.UseMongoDb()) return false;  // a file has no other writer to wait for
  }
  return false;
}

bool AppendTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id) {
  return AppendMissingTreeEntries(db, coll, {id});
}

bool RemoveRecordTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id) {
  TDbCollectionItem* tree = TreeOf(db, coll);
  if (!tree) return true;
  for (int attempt = 0; attempt < KTreeAttempts; ++attempt) {
    if (attempt) PauseBeforeRetry(attempt);
    int64_t cntr = 0;
    std::optional<TJson> doc = tree->GetRecord(coll.Name(), cntr, true);
    if (!doc || !RemoveTreeEntry(*doc, id)) return true;
    if (tree->UpdateRecord(coll.Name(), *doc, cntr)) return true;
    if (!db.UseMongoDb()) return false;
  }
  return false;
}

namespace {

// A record change written to a project file, for the journal.
struct TWrittenChange {
  TDbCollectionItem* Coll;
  std::string ID;
  TJson Record;  // as written, or as it was for a deleted record
  const char* Kind;
};

// One journal line per record a project-file write changed, with the counters it left.
void JournalWritten(TDbFile& db, const std::vector<TWrittenChange>& changes) {
  if (changes.empty() || !db.JournalOn()) return;
  std::vector<TJson> lines;
  const std::time_t now = db.HistoryNow();
  for (const auto& c : changes) {
    int64_t cntr = 0;
    const bool deleted = std::string(c.Kind) == "deleted";
    if (!deleted) c.Coll->GetRecordCntr(c.ID, cntr);
    const std::string name = c.Record.is_object() ? JsonStr(c.Record, "Name") : "";
    lines.push_back(JournalLine(now, c.Coll->Name(), c.ID, name,
                                deleted ? 0 : (cntr > 0 ? cntr - 1 : 0), cntr, c.Kind));
  }
  db.JournalChanges(lines);
}

std::string WithReason(const std::string& what, TDbFile& db) {
  return what + (db.LastError().empty() ? "" : ": " + db.LastError());
}

}  // namespace

void StoreRecordWithTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id,
                              const TJson& rec) {
  TDbCollectionItem* tree = TreeOf(db, coll);
  if (db.UseMongoDb()) {
    if (!StoreRecordCounted(coll, id, rec))
      throw std::runtime_error(WithReason("the record was not stored", db));
    bool entered = false;
    try {
      entered = AppendTreeEntry(db, coll, id);
    } catch (const std::exception& e) {
      throw ETreeEntryNotStored(std::string("the record was stored but its tree entry was not: ") +
                                e.what());
    }
    if (!entered)
      throw ETreeEntryNotStored(
          WithReason("the record was stored but its tree entry was not (repeat the command to "
                     "add it)",
                     db));
    return;
  }
  // A project file: record and entry go into memory and reach the disk in one write.
  RequireLoadableRecord(rec);
  if (db.ReadOnly() || db.SaveDisabled())
    throw std::runtime_error("the record was not stored: the database is write-protected");
  const bool existed = coll.GetRecord(id).has_value();
  std::optional<TJson> oldTree = tree ? tree->GetRecord(coll.Name()) : std::nullopt;
  TJson doc = oldTree && oldTree->is_array() ? *oldTree : TJson::array();
  const bool treeChanged = tree && AddMissingEntries(doc, {id});
  try {
    db.ChangeAtomically([&] {
      coll.StageRecord(id, &rec);
      if (treeChanged) tree->StageRecord(coll.Name(), &doc);
    });
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("the record was not stored: ") + e.what());
  }
  std::vector<TWrittenChange> written{{&coll, id, rec, existed ? "changed" : "new"}};
  if (treeChanged) written.push_back({tree, coll.Name(), doc, oldTree ? "changed" : "new"});
  JournalWritten(db, written);
}

void DeleteRecordWithTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id) {
  TDbCollectionItem* tree = TreeOf(db, coll);
  if (db.UseMongoDb()) {
    if (!RemoveRecordTreeEntry(db, coll, id))
      throw std::runtime_error(
          WithReason("the tree entry of the record was not removed; the record is kept", db));
    if (!coll.DelRecord(id)) throw std::runtime_error(WithReason("the record was not deleted", db));
    return;
  }
  if (db.ReadOnly() || db.SaveDisabled())
    throw std::runtime_error("the record was not deleted: the database is write-protected");
  std::optional<TJson> oldRec = coll.GetRecord(id);
  std::optional<TJson> oldTree = tree ? tree->GetRecord(coll.Name()) : std::nullopt;
  TJson doc = oldTree ? *oldTree : TJson();
  const bool treeChanged = oldTree && RemoveTreeEntry(doc, id);
  try {
    db.ChangeAtomically([&] {
      coll.StageRecord(id, nullptr);
      if (treeChanged) tree->StageRecord(coll.Name(), &doc);
    });
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("the record was not deleted: ") + e.what());
  }
  std::vector<TWrittenChange> written;
  if (oldRec) written.push_back({&coll, id, *oldRec, "deleted"});
  if (treeChanged) written.push_back({tree, coll.Name(), doc, "changed"});
  JournalWritten(db, written);
}

size_t ImportRecords(TDbFile& db, const TJson& doc,
                     const std::function<TDbCollectionItem&(const std::string&)>& CollectionOf) {
  if (!doc.is_object()) throw std::runtime_error("the import file must hold a JSON object");
  for (auto c = doc.begin(); c != doc.end(); ++c) {
    CollectionOf(c.key());
    if (!c.value().is_object())
      throw std::runtime_error("collection " + c.key() + " must map identifiers to records");
  }
  const bool mongo = db.UseMongoDb();
  TDbCollectionItem* tree = db.FindCollection("Tree");
  size_t count = 0;
  std::vector<TWrittenChange> imported;  // file mode: journalled once written
  for (auto c = doc.begin(); c != doc.end(); ++c) {
    TDbCollectionItem& coll = CollectionOf(c.key());
    TJson treeDoc;
    const bool withTree = tree && tree != &coll && CollectionHasTree(coll);
    if (withTree) {
      treeDoc = tree->GetRecord(coll.Name()).value_or(TJson::array());
      if (!treeDoc.is_array()) treeDoc = TJson::array();
    }
    std::vector<std::string> ids;
    for (auto r = c.value().begin(); r != c.value().end(); ++r) {
      TJson rec = r.value();
      if (rec.is_object()) rec.erase("_ID");  // the identifier is the key, never a member
      if (mongo) {
        // Every change goes to the server at once; there is no write of the whole database.
        bool stored = false;
        std::string why;
        try {
          stored = StoreRecordCounted(coll, r.key(), rec);
        } catch (const std::exception& e) {
          why = e.what();  // a read that failed (a lost connection)
        }
        if (why.empty()) why = db.LastError();
        if (!stored)
          throw std::runtime_error("record " + r.key() + " of " + coll.Name() +
                                   " was not stored; " + std::to_string(count) +
                                   " records were stored before it" +
                                   (why.empty() ? "" : ": " + why) +
                                   ". Repeat the import to complete it.");
      } else {
        imported.push_back({&coll, r.key(), rec, coll.GetRecord(r.key()) ? "changed" : "new"});
        try {
          RequireLoadableRecord(rec);
        } catch (const std::exception& e) {
          throw std::runtime_error("record " + r.key() + " of " + coll.Name() +
                                   " was not imported: " + e.what() + "; nothing was imported");
        }
        coll.SetRecordNo1(r.key(), rec);
      }
      if (withTree) ids.push_back(r.key());
      ++count;
    }
    if (withTree && mongo) {
      bool entered = false;
      std::string why;
      try {
        entered = AppendMissingTreeEntries(db, coll, ids);
      } catch (const std::exception& e) {
        why = e.what();
      }
      if (!entered)
        throw std::runtime_error(
            std::to_string(count) + " records were stored, but the tree entries of " +
            coll.Name() + " were not" +
            (why.empty() ? (db.LastError().empty() ? "" : ": " + db.LastError()) : ": " + why) +
            ". Repeat the import to complete it.");
    } else if (withTree && AddMissingEntries(treeDoc, ids)) {
      tree->SetRecordNo1(coll.Name(), treeDoc);
    }
  }
  if (!mongo) {
    try {
      db.Save();  // one write for everything put in memory above
    } catch (const std::exception& e) {
      throw std::runtime_error(std::string("the import was not written: ") + e.what());
    }
    JournalWritten(db, imported);
  }
  return count;
}
