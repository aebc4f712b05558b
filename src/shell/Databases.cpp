#include "shell/Databases.h"

#include <filesystem>

#include "recstore/DataBaseUpdate.h"

namespace {
TDbFile* GDbF1 = nullptr;
TDbFile* GContractsDb = nullptr;
TDbFile* GTimeLineDb = nullptr;

std::string InWorkDir(const std::string& workDir, const char* name) {
  if (workDir.empty()) return name;
  return (std::filesystem::path(workDir) / name).string();
}
}  // namespace

TDbFile* DbF1() { return GDbF1; }
void SetDbF1(TDbFile* db) { GDbF1 = db; }
TDbFile* ContractsDb() { return GContractsDb; }
void SetContractsDb(TDbFile* db) { GContractsDb = db; }
TDbFile* TimeLineDb() { return GTimeLineDb; }
void SetTimeLineDb(TDbFile* db) { GTimeLineDb = db; }

std::unique_ptr<TDbFile> CreateMainDatabase(IOperator* op) {
  auto db = std::make_unique<TDbFile>(op);
  db->SetDBVersion(MainDbVersion);
  db->SetMongoDbName(MainMongoDbName);
  db->onDataBaseUpdate = DbF1DataBaseUpdate;
  // The collections of the main database: name, title, and whether its records are kept in
  // a folder tree (the tree document of the same name in "Tree").
  struct TDef {
    const char* name;
    const char* caption;
    bool hasTree;
  };
  static const TDef defs[] = {
      {"Tree", "", false},
      {"Films", "Movies", true},
      {"Channels", "Channels", true},
      {"PlayLists", "PlayLists", true},
      {"ChSched", "Channel schedules", true},
      {"Groups", "Groups of STB", true},
      {"Servers", "Servers", true},
      {"Schedules", "Schedules", true},
      {"OnLineContr", "Online control", true},
      {"WebPages", "Web pages", true},
      {"Portals", "Web portals", true},
      {"SrvOptions", "Server's options", true},
      {"Options", "", false},
      {"ShowSchedule", "", false},
      {"AutoChanged", "", false},
      {"Users", "Users", true},
  };
  for (const auto& d : defs) db->Collections().Add(d.name, d.caption).SetHasTree(d.hasTree);
  db->BackupDays = ProjectBackupDays;
  return db;
}

int ProjectBackupDays(TDbFile& db) {
  TDbCollectionItem* options = db.FindCollection("Options");
  if (!options) return DefaultBackupDays;
  auto rec = options->GetRecord("Options");
  if (!rec || !rec->is_object() || !rec->contains("BackupDays")) return DefaultBackupDays;
  const TJson& v = (*rec)["BackupDays"];
  long long days = DefaultBackupDays;
  if (v.is_number()) {
    days = v.get<long long>();
  } else if (v.is_string()) {
    try {
      size_t used = 0;
      const std::string text = v.get<std::string>();
      days = std::stoll(text, &used);
      if (used != text.size()) days = DefaultBackupDays;
    } catch (const std::exception&) {
      days = DefaultBackupDays;
    }
  }
  if (days < 0) return 0;
  return days > 3650 ? 3650 : static_cast<int>(days);
}

std::unique_ptr<TDbFile> CreateContractsDatabase(const std::string& workDir, IOperator* op) {
  auto db = std::make_unique<TDbFile>(op);
  db->SetDBVersion("0.0.0.0");
  db->Collections().Add("Tree");
  db->Collections().Add("Contracts").SetHasTree(true);
  db->Collections().Add("Places").SetHasTree(true);
  db->SetFileName(InWorkDir(workDir, ContractsFileName));
  return db;
}

std::unique_ptr<TDbFile> CreateTimeLineDatabase(const std::string& workDir, IOperator* op) {
  auto db = std::make_unique<TDbFile>(op);
  db->SetDBVersion("0.0.0.0");
  db->SetFileName(InWorkDir(workDir, TimeLineFileName));
  return db;
}

bool CollectionHasTree(const TDbCollectionItem& coll) { return coll.HasTree(); }

