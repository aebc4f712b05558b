#include "shell/Databases.h"

#include <filesystem>

#include "recstore/DataBaseUpdate.h"

namespace {
TDbFile* GDbF1 = nullptr;

std::string InWorkDir(const std::string& workDir, const char* name) {
  if (workDir.empty()) return name;
  return (std::filesystem::path(workDir) / name).string();
}
}  // namespace

TDbFile* DbF1() { return GDbF1; }
void SetDbF1(TDbFile* db) { GDbF1 = db; }

std::unique_ptr<TDbFile> CreateMainDatabase(IOperator* op) {
  auto db = std::make_unique<TDbFile>(op);
  db->SetDBVersion(MainDbVersion);
  db->SetMongoDbName(MainMongoDbName);
  db->onDataBaseUpdate = DbF1DataBaseUpdate;
  struct TDef {
    const char* name;
    const char* form;
    const char* menu;
  };
  static const TDef defs[] = {
      {"Tree", "", ""},
      {"Films", "TFormFilms", "Movies"},
      {"Channels", "TFormChannels", "Channels"},
      {"PlayLists", "TFormPlayLists", "PlayLists"},
      {"ChSched", "TFormChSchedules", "Channel schedules"},
      {"Groups", "TFormGroups", "Groups of STB"},
      {"Servers", "TFormServers", "Servers"},
      {"Schedules", "TFormSchedules", "Schedules"},
      {"OnLineContr", "TFormOnLineContr", "Online control"},
      {"WebPages", "TFormWebPage", "Web pages"},
      {"Portals", "TFormPortals", "Web portals"},
      {"SrvOptions", "TFormSrvOptions", "Server's options"},
      {"Options", "TFormOptions", ""},
      {"ShowSchedule", "", ""},
      {"AutoChanged", "", ""},
      {"Users", "TFormUsers", "Users"},
  };
  for (const auto& d : defs) {
    auto& item = db->Collections().Add(d.name, d.menu);
    item.SetFormClassName(d.form);
  }
  return db;
}

std::unique_ptr<TDbFile> CreateContractsDatabase(const std::string& workDir, IOperator* op) {
  auto db = std::make_unique<TDbFile>(op);
  db->SetDBVersion("0.0.0.0");
  db->Collections().Add("Tree");
  db->Collections().Add("Contracts").SetFormClassName("TFormContracts");
  db->Collections().Add("Places").SetFormClassName("TFormPlaces");
  db->SetFileName(InWorkDir(workDir, ContractsFileName));
  return db;
}

std::unique_ptr<TDbFile> CreateTimeLineDatabase(const std::string& workDir, IOperator* op) {
  auto db = std::make_unique<TDbFile>(op);
  db->SetDBVersion("0.0.0.0");
  db->SetFileName(InWorkDir(workDir, TimeLineFileName));
  return db;
}

bool CollectionHasTree(const TDbCollectionItem& coll) {
  const std::string& form = coll.FormClassName();
  return !form.empty() && form != "TFormOptions";
}

