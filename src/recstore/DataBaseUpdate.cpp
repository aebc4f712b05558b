#include "recstore/DataBaseUpdate.h"

#include <stdexcept>
#include <vector>

#include "recstore/mongoID.h"

void TDbUpdateTable::Add(const std::string& OldVer, const std::string& NewVer,
                         std::function<bool()> Proc) {
  Farray.push_back({OldVer, NewVer, std::move(Proc)});
}

bool TDbUpdateTable::Update() {
  FError.clear();
  // Each step moves the version forward, so a table of N steps runs at most N of them.
  for (size_t guard = 0; guard <= Farray.size(); ++guard) {
    const std::string current = FDbfile.LoadedDBVersion();
    const TDBUpdateTableRow* step = nullptr;
    for (const auto& row : Farray)
      if (row.OldVersion == current) {
        step = &row;
        break;
      }
    if (!step) {
      FError = "There is no conversion step from version " + current + ".";
      return false;
    }
    const std::string which = "The conversion step from version " + step->OldVersion +
                              " to version " + step->newVersion + " failed";
    try {
      if (!step->Proc()) {
        FError = which + ".";
        return false;
      }
    } catch (const std::exception& e) {
      FError = which + ": " + e.what();
      return false;
    }
    FDbfile.SetLoadedDBVersion(step->newVersion);
    if (CompareVersions(FDbfile.LoadedDBVersion(), FDbfile.DBVersion()) == 0) return true;
  }
  FError = "The conversion steps did not lead to version " + FDbfile.DBVersion() + ".";
  return false;
}

void TDbUpdateTable::ForEachRecord(const std::string& collection, const TRecordChange& change,
                                   const TJson& param) {
  TDbCollectionItem& coll = FDbfile.CollectionByName(collection);
  if (!coll.IsMongoDb()) {
    TJson* records = coll.AsJson();
    if (!records || !records->is_object()) return;
    for (auto it = records->begin(); it != records->end(); ++it) {
      try {
        change(it.value(), param);
      } catch (const std::exception& e) {
        throw std::runtime_error("record \"" + it.key() + "\" of " + collection + ": " + e.what());
      }
    }
    return;
  }
  // Every document is read before the first is written back: a server may hand a rewritten
  // document to the same cursor again, and a step applied twice would corrupt the record.
  std::vector<TJson> docs;
  coll.Query(TJson::object());
  TJson doc;
  while (coll.Next(doc)) docs.push_back(std::move(doc));
  for (TJson& d : docs) {
    TJson value = d.contains("Value") ? d["Value"] : TJson();
    change(value, param);
    std::string id = JsonStr(d, "_ID");
    if (!coll.ChangeRecord(id, &value, UpdateRec, true, JsonInt(d, "Cntr")))
      throw std::runtime_error("Error! Can't change record!");
  }
}

void TDbUpdateTable::InsertTableColumn(const std::string& collection, const std::string& tableKey,
                                       int columnIndex, const TJson* value) {
  if (columnIndex < 0) throw std::invalid_argument("negative column index");
  TJson param = {{"Table", tableKey}, {"NewColIndex", columnIndex}};
  if (value) param["NewValue"] = *value;
  ForEachRecord(
      collection,
      [](TJson& record, const TJson& p) {
        const std::string key = p["Table"].get<std::string>();
        if (!record.is_object() || !record.contains(key) || !record[key].is_array())
          throw std::runtime_error("the record has no table \"" + key + "\"");
        size_t index = p["NewColIndex"].get<size_t>();
        TJson cell = p.contains("NewValue") ? p["NewValue"] : TJson();
        for (auto& row : record[key]) {
          if (!row.is_array()) throw std::runtime_error("a row of \"" + key + "\" is not an array");
          // A short row is padded with nulls up to the new column.
          while (row.size() < index) row.push_back(nullptr);
          row.insert(row.begin() + static_cast<std::ptrdiff_t>(index), cell);
        }
      },
      param);
}

void TDbUpdateTable::SetField(const std::string& collection, const std::string& key,
                              const TJson& value) {
  TJson param = {{"Key", key}, {"Value", value}};
  ForEachRecord(
      collection,
      [](TJson& record, const TJson& p) {
        if (!record.is_object()) return;
        record[p["Key"].get<std::string>()] = p["Value"];
      },
      param);
}

void TDbUpdateTable::FixTreeFolders(const std::string& treeCollection) {
  ForEachRecord(
      treeCollection,
      [](TJson& tree, const TJson&) {
        if (!tree.is_array()) return;
        for (auto& entry : tree) {
          if (!entry.is_object()) continue;
          auto text = entry.find("text");
          if (text == entry.end() || !text->is_string()) continue;
          entry["_ID"] = NewObjectID();
          if (!entry.contains("child") || !entry["child"].is_array()) entry["child"] = TJson::array();
        }
      },
      TJson::object());
}

void DbF1DataBaseUpdate(TDbFile& Sender, bool& Success) {
  TDbUpdateTable table(Sender);
  table.Add("0.0.0.0", "2.0.2.0", [&table] {
    TJson one = 1;
    table.InsertTableColumn("ChSched", "Table", 1, &one);
    table.SetField("ChSched", "AutoPeriod", false);
    table.FixTreeFolders("Tree");
    return true;
  });
  table.Add("2.0.2.0", "2.0.8.0", [&table] {
    table.InsertTableColumn("Servers", "TSched", 2);
    return true;
  });
  table.Add("2.0.8.0", "2.0.8.4", [&table] {
    table.SetField("Films", "StateYear", nullptr);
    table.SetField("Films", "Cast", nullptr);
    table.SetField("Films", "Genres", nullptr);
    table.SetField("Servers", "SatelliteSys", false);
    return true;
  });
  Success = table.Update();
  if (!Success) throw std::runtime_error(table.Error());
}
