#include "shell/ProjectHistory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "recstore/Backups.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "shell/TreeDocument.h"

namespace {

bool IsCollection(const TJson& member) { return member.is_object(); }

std::string RecordName(const TJson& rec) { return rec.is_object() ? JsonStr(rec, "Name") : ""; }
// What a difference calls a record: its Name; a tree document by the collection it orders.
std::string DiffName(const std::string& coll, const std::string& id, const TJson& rec) {
  return coll == "Tree" ? "folder tree of " + id : RecordName(rec);
}

const TJson* Member(const TJson& doc, const std::string& key) {
  if (!doc.is_object()) return nullptr;
  auto it = doc.find(key);
  return it == doc.end() ? nullptr : &*it;
}

const TJson* RecordIn(const TJson& doc, const std::string& coll, const std::string& id) {
  const TJson* c = Member(doc, coll);
  if (!c || !c->is_object()) return nullptr;
  return Member(*c, id);
}

// Where the entry of record ID sits in a tree document: the folder holding it ("" at the top)
// and its place among that folder's entries.
bool FindEntryPlace(const TJson& entries, const std::string& id, const std::string& folder,
                    std::string& outFolder, size_t& outIndex) {
  if (!entries.is_array()) return false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TJson& e = entries[i];
    if (!e.is_object()) continue;
    if (TreeEntryIsFolder(e)) {
      if (FindEntryPlace(e["child"], id, JsonStr(e, "_ID"), outFolder, outIndex)) return true;
    } else if (JsonStr(e, "_ID") == id) {
      outFolder = folder;
      outIndex = i;
      return true;
    }
  }
  return false;
}

bool HasRecordEntry(const TJson& entries, const std::string& id) {
  std::string folder;
  size_t index = 0;
  return FindEntryPlace(entries, id, "", folder, index);
}

TJson* FindFolder(TJson& entries, const std::string& folderId) {
  if (!entries.is_array()) return nullptr;
  for (auto& e : entries) {
    if (!TreeEntryIsFolder(e)) continue;
    if (JsonStr(e, "_ID") == folderId) return &e["child"];
    if (TJson* f = FindFolder(e["child"], folderId)) return f;
  }
  return nullptr;
}

// Gives record ID its entry back in Current where Backup had it (the same folder and place,
// as far as the folder is still there; otherwise at the end of the top level).
void PutEntryBack(TJson& current, const TJson& backup, const std::string& id) {
  if (!current.is_array()) current = TJson::array();
  std::string folder;
  size_t index = 0;
  TJson entry = {{"_ID", id}};
  if (!FindEntryPlace(backup, id, "", folder, index)) {
    current.push_back(entry);
    return;
  }
  TJson* into = folder.empty() ? &current : FindFolder(current, folder);
  if (!into) into = &current;
  if (index > into->size()) index = into->size();
  into->insert(into->begin() + static_cast<std::ptrdiff_t>(index), entry);
}

struct TPlannedChange {
  std::string Collection;
  std::string ID;
  std::optional<TJson> Value;  // nothing: the record is deleted
  bool Existed = false;
};

void PlanCollection(const TJson& current, const TJson& backup, const std::string& coll,
                    std::vector<TPlannedChange>& plan) {
  const TJson* now = Member(current, coll);
  const TJson* then = Member(backup, coll);
  if (then && then->is_object()) {
    for (auto r = then->begin(); r != then->end(); ++r) {
      const TJson* cur = now && now->is_object() ? Member(*now, r.key()) : nullptr;
      if (!cur || !JsonEqual(*cur, r.value()))
        plan.push_back({coll, r.key(), r.value(), cur != nullptr});
    }
  }
  if (now && now->is_object()) {
    for (auto r = now->begin(); r != now->end(); ++r)
      if (!then || !then->is_object() || !Member(*then, r.key()))
        plan.push_back({coll, r.key(), std::nullopt, true});
  }
}

std::string VersionOf(const TJson& doc) {
  const TJson* v = Member(doc, "DBVersion");
  return v && v->is_string() ? v->get<std::string>() : "";
}

}  // namespace

TJson ReadProjectDocument(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error(fmt::format("Can't read file {}: {}", path, std::strerror(errno)));
  std::ostringstream ss;
  ss << f.rdbuf();
  TJson doc;
  try {
    doc = ParseProjectBytes(ss.str());
  } catch (const std::exception& e) {
    throw std::runtime_error(fmt::format("The file {} is not a project: {}", path, e.what()));
  }
  if (!doc.is_object()) throw std::runtime_error(fmt::format("The file {} is not a project", path));
  return doc;
}

TJson DatabaseDocument(TDbFile& db) {
  if (!db.UseMongoDb()) return db.JSON();
  TJson doc = TJson::object();
  doc["DBVersion"] = db.LoadedDBVersion();
  for (size_t i = 0; i < db.Collections().Count(); ++i) {
    TDbCollectionItem& coll = db.Collections()[i];
    if (coll.Name() == "Journal") continue;  // the history of the database, not its records
    TJson records = TJson::object();
    coll.Query(TJson::object());
    TJson found;
    while (coll.Next(found)) {
      std::string id = JsonStr(found, "_ID");
      if (id.empty()) continue;
      const TJson* value = JsonPath(found, "Value");
      records[id] = value ? *value : TJson();
    }
    if (!records.empty()) doc[coll.Name()] = std::move(records);
  }
  return doc;
}

TJson DocumentCounts(const TJson& doc) {
  TJson counts = TJson::object();
  if (!doc.is_object()) return counts;
  for (auto it = doc.begin(); it != doc.end(); ++it)
    if (IsCollection(it.value())) counts[it.key()] = it.value().size();
  return counts;
}

std::vector<TRecordDifference> DiffDocuments(const TJson& before, const TJson& after) {
  std::vector<TRecordDifference> out;
  std::vector<std::string> collections;
  std::set<std::string> seen;
  for (const TJson* doc : {&after, &before}) {
    if (!doc->is_object()) continue;
    for (auto it = doc->begin(); it != doc->end(); ++it)
      if (IsCollection(it.value()) && seen.insert(it.key()).second) collections.push_back(it.key());
  }
  for (const auto& coll : collections) {
    const TJson* a = Member(after, coll);
    const TJson* b = Member(before, coll);
    const bool hasA = a && a->is_object(), hasB = b && b->is_object();
    if (hasA) {
      for (auto r = a->begin(); r != a->end(); ++r) {
        const TJson* old = hasB ? Member(*b, r.key()) : nullptr;
        if (!old)
          out.push_back({coll, r.key(), DiffName(coll, r.key(), r.value()), "added"});
        else if (!JsonEqual(*old, r.value()))
          out.push_back({coll, r.key(), DiffName(coll, r.key(), r.value()), "changed"});
      }
    }
    if (hasB) {
      for (auto r = b->begin(); r != b->end(); ++r)
        if (!hasA || !Member(*a, r.key()))
          out.push_back({coll, r.key(), DiffName(coll, r.key(), r.value()), "deleted"});
    }
  }
  return out;
}

namespace {
TRestoreResult Restore(TDbFile& db, const TJson& backup, const std::string& collection,
                       const std::string& id, bool keepOthers) {
  if (!db.DbIsOpen()) throw std::runtime_error("the database is not open; nothing was restored");
  const std::string backupVersion = VersionOf(backup);
  const std::string ourVersion = db.LoadedDBVersion();
  if (!backupVersion.empty() && backupVersion != ourVersion)
    throw std::runtime_error(fmt::format(
        "the backup is of database version {} and the project of version {}: open the backup "
        "as a project of its own (it is converted) and restore from that; nothing was restored",
        backupVersion, ourVersion));
  const TJson current = DatabaseDocument(db);
  std::vector<TPlannedChange> plan;
  if (collection.empty()) {
    std::set<std::string> seen;
    for (const TJson* doc : {&backup, &current})
      for (auto it = doc->begin(); it != doc->end(); ++it)
        if (IsCollection(it.value()) && seen.insert(it.key()).second)
          PlanCollection(current, backup, it.key(), plan);
    if (keepOthers)
      plan.erase(std::remove_if(plan.begin(), plan.end(), [](const auto& c) { return !c.Value; }),
                 plan.end());
  } else if (id.empty()) {
    const TJson* inBackup = Member(backup, collection);
    if ((!inBackup || !inBackup->is_object()) && !db.FindCollection(collection))
      throw std::runtime_error("there is no collection \"" + collection +
                               "\" in the backup or the project; nothing was restored");
    PlanCollection(current, backup, collection, plan);
    // The collection's folder tree goes back with its records.
    if (collection != "Tree" && db.FindCollection(collection) &&
        CollectionHasTree(*db.FindCollection(collection))) {
      const TJson* treeThen = RecordIn(backup, "Tree", collection);
      const TJson* treeNow = RecordIn(current, "Tree", collection);
      if (treeThen && (!treeNow || !JsonEqual(*treeNow, *treeThen)))
        plan.push_back({"Tree", collection, *treeThen, treeNow != nullptr});
      else if (!treeThen && treeNow)
        plan.push_back({"Tree", collection, std::nullopt, true});
    }
  } else {
    const TJson* rec = RecordIn(backup, collection, id);
    if (!rec)
      throw std::runtime_error("the backup has no record \"" + id + "\" in " + collection +
                               "; nothing was restored");
    const TJson* cur = RecordIn(current, collection, id);
    if (!cur || !JsonEqual(*cur, *rec)) plan.push_back({collection, id, *rec, cur != nullptr});
    TDbCollectionItem* coll = db.FindCollection(collection);
    if (collection != "Tree" && coll && CollectionHasTree(*coll)) {
      const TJson* treeNow = RecordIn(current, "Tree", collection);
      if (!treeNow || !HasRecordEntry(*treeNow, id)) {
        TJson tree = treeNow ? *treeNow : TJson::array();
        const TJson* treeThen = RecordIn(backup, "Tree", collection);
        PutEntryBack(tree, treeThen ? *treeThen : TJson::array(), id);
        plan.push_back({"Tree", collection, tree, treeNow != nullptr});
      }
    }
  }

  TRestoreResult result;
  auto count = [&](const TPlannedChange& c) {
    if (c.Collection == "Tree" && !(collection.empty() || collection == "Tree")) {
      ++result.TreeEntries;
      return;
    }
    if (!c.Value)
      ++result.Deleted;
    else if (c.Existed)
      ++result.Changed;
    else
      ++result.Added;
  };
  auto collectionOf = [&](const std::string& name) -> TDbCollectionItem& {
    if (TDbCollectionItem* c = db.FindCollection(name)) return *c;
    return db.Collections().Add(name);  // a collection this program does not define, kept
  };
  if (plan.empty()) return result;

  if (!db.UseMongoDb()) {
    try {
      db.ChangeAtomically([&] {
        for (const auto& c : plan)
          collectionOf(c.Collection).StageRecord(c.ID, c.Value ? &*c.Value : nullptr);
      });
    } catch (const std::exception& e) {
      throw std::runtime_error(std::string("nothing was restored: ") + e.what());
    }
    for (const auto& c : plan) count(c);
    if (db.JournalOn()) {
      std::vector<TJson> lines;
      const std::time_t now = db.HistoryNow();
      for (const auto& c : plan) {
        int64_t cntr = 0;
        if (c.Value) collectionOf(c.Collection).GetRecordCntr(c.ID, cntr);
        const TJson* old = RecordIn(current, c.Collection, c.ID);
        lines.push_back(JournalLine(now, c.Collection, c.ID,
                                    RecordName(c.Value ? *c.Value : (old ? *old : TJson())),
                                    c.Value && cntr > 0 ? cntr - 1 : 0, cntr, "restored"));
      }
      db.JournalChanges(lines);
    }
    return result;
  }
  // MongoDB: every record goes to the server as it comes.
  size_t done = 0;
  for (const auto& c : plan) {
    TDbCollectionItem& coll = collectionOf(c.Collection);
    bool ok = c.Value ? StoreRecordCounted(coll, c.ID, *c.Value) : coll.DelRecord(c.ID);
    if (!ok)
      throw std::runtime_error(fmt::format(
          "record {} of {} was not restored after {} others{}", c.ID, c.Collection, done,
          db.LastError().empty() ? "" : ": " + db.LastError()));
    count(c);
    ++done;
  }
  return result;
}

}  // namespace

TRestoreResult RestoreFromDocument(TDbFile& db, const TJson& backup, const std::string& collection,
                                   const std::string& id) {
  return Restore(db, backup, collection, id, false);
}

TRestoreResult ImportProjectDocument(TDbFile& db, const TJson& file) {
  return Restore(db, file, "", "", true);
}

bool IsProjectDocument(const TJson& doc) {
  const TJson* v = Member(doc, "DBVersion");
  return v && v->is_string();
}

size_t ExportDatabase(TDbFile& db, const std::string& path) {
  TJson doc = DatabaseDocument(db);
  size_t records = 0;
  for (auto it = doc.begin(); it != doc.end(); ++it)
    if (IsCollection(it.value())) records += it.value().size();
  WriteFileAtomically(path, WriteProjectText(doc));
  return records;
}
