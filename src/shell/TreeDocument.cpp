#include "shell/TreeDocument.h"

#include <algorithm>
#include <stdexcept>

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

bool AppendTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id) {
  TDbCollectionItem* tree = TreeOf(db, coll);
  if (!tree) return true;
  int64_t cntr = 0;
  std::optional<TJson> stored = tree->GetRecord(coll.Name(), cntr, true);
  TJson doc = stored && stored->is_array() ? *stored : TJson::array();
  doc.push_back({{"_ID", id}});
  return stored ? tree->UpdateRecord(coll.Name(), doc, cntr)
                : tree->NewRecord(coll.Name(), doc, cntr);
}

bool RemoveRecordTreeEntry(TDbFile& db, TDbCollectionItem& coll, const std::string& id) {
  TDbCollectionItem* tree = TreeOf(db, coll);
  if (!tree) return true;
  int64_t cntr = 0;
  std::optional<TJson> doc = tree->GetRecord(coll.Name(), cntr, true);
  if (!doc || !RemoveTreeEntry(*doc, id)) return true;
  return tree->UpdateRecord(coll.Name(), *doc, cntr);
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
  for (auto c = doc.begin(); c != doc.end(); ++c) {
    TDbCollectionItem& coll = CollectionOf(c.key());
    TJson treeDoc;
    const bool withTree = tree && tree != &coll && CollectionHasTree(coll);
    if (withTree) {
      treeDoc = tree->GetRecord(coll.Name()).value_or(TJson::array());
      if (!treeDoc.is_array()) treeDoc = TJson::array();
    }
    for (auto r = c.value().begin(); r != c.value().end(); ++r) {
      const bool existed = coll.GetRecord(r.key()).has_value();
      TJson rec = r.value();
      if (rec.is_object()) rec.erase("_ID");  // the identifier is the key, never a member
      if (mongo) {
        // Every change goes to the server at once; there is no write of the whole database.
        if (!StoreRecordCounted(coll, r.key(), rec))
          throw std::runtime_error("record " + r.key() + " of " + coll.Name() +
                                   " was not stored after " + std::to_string(count) + " others" +
                                   (db.LastError().empty() ? "" : ": " + db.LastError()));
      } else {
        coll.SetRecordNo1(r.key(), rec);
      }
      if (withTree && !existed) treeDoc.push_back({{"_ID", r.key()}});
      ++count;
    }
    if (withTree && mongo) {
      if (!StoreRecordCounted(*tree, coll.Name(), treeDoc))
        throw std::runtime_error("the records of " + coll.Name() +
                                 " were stored but their tree entries were not");
    } else if (withTree) {
      tree->SetRecordNo1(coll.Name(), treeDoc);
    }
  }
  if (!mongo) {
    try {
      db.Save();  // one write for everything put in memory above
    } catch (const std::exception& e) {
      throw std::runtime_error(std::string("the import was not written: ") + e.what());
    }
  }
  return count;
}
