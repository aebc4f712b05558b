#include "servers/ServerEpg.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "servers/ServerRows.h"

namespace {

std::string RefID(const TJson& row, size_t cell) {
  if (!row.is_array() || cell >= row.size() || !row[cell].is_object()) return "";
  return JsonStr(row[cell], "_ID");
}

const TJson& Rows(const TJson& rec, const char* key, const char* collection,
                 const std::string& id) {
  return RecordTable(rec, key, collection, id);
}

}  // namespace

std::vector<TEpgRow> BuildServerEpgRows(TDbFile& db, const std::string& ServerID, IOperator& Op) {
  std::vector<TEpgRow> rows;
  TSuperReference supRef(&Op);
  TDbCollectionItem& servers = db.CollectionByName("Servers");
  try {
    std::optional<TJson> server = supRef.Push(servers, ServerID, true);
    for (TServerRow& row : ReadServerRows(supRef, db, *server, Op))
      rows.push_back({std::move(row.Schedule), row.Times.Calc, row.Times.Start, row.Times.HasStart});
    supRef.Pop();
  } catch (...) {
    supRef.ClrErrors();
    throw;
  }
  return rows;
}

std::vector<std::string> ServerGroups(TDbFile& db, const TJson& server) {
  std::vector<std::string> out;
  TDbCollectionItem& options = db.CollectionByName("SrvOptions");
  for (const TJson& row : Rows(server, "TSched", "Servers", "")) {
    std::string optID = RefID(row, 3);
    std::optional<TJson> opt = optID.empty() ? std::nullopt : options.GetRecord(optID);
    if (!opt) continue;
    for (const TJson& g : Rows(*opt, "Table", "SrvOptions", optID)) {
      std::string id = RefID(g, 0);
      if (!id.empty() && std::find(out.begin(), out.end(), id) == out.end()) out.push_back(id);
    }
  }
  return out;
}

std::vector<TM3uEntry> GroupM3uEntries(TSuperReference& SupRef, TDbFile& db,
                                       const std::string& GroupID) {
  std::vector<TM3uEntry> out;
  TDbCollectionItem& channels = db.CollectionByName("Channels");
  std::optional<TJson> g = SupRef.Push(db.CollectionByName("Groups"), GroupID, true);
  std::string groupName = JsonStr(*g, "Name");
  const TJson& tbl = Rows(*g, "Table", "Groups", GroupID);
  for (size_t k = 0; k < tbl.size(); ++k) {
    std::optional<TJson> ch = SupRef.Get(channels, tbl, 0, static_cast<int>(k), "", true);
    if (!ch || JsonInt(*ch, "Type") == 2) continue;
    std::string id = RefID(tbl[k], 0);
    out.push_back({EpgChannelId(id, *ch), JsonStr(*ch, "Name"), groupName,
                   PlayUrl(JsonStr(*ch, "URL"))});
  }
  SupRef.Pop();
  return out;
}

void WriteEpgFiles(TSuperReference& SupRef, TDbFile& db, const TJson& server,
                   const std::vector<TEpgRow>& rows, const std::string& F) {
  // Every name is checked before anything is written.
  std::vector<std::pair<std::string, std::vector<TM3uEntry>>> lists;
  TDbCollectionItem& groups = db.CollectionByName("Groups");
  for (const std::string& gid : ServerGroups(db, server)) {
    std::optional<TJson> g = SupRef.Push(groups, gid, true);
    std::string name = JsonStr(*g, "Name");
    if (!SafeGroupFileName(name))
      SupRef.ShowErrorMsg(fmt::format("STB group name \"{}\" cannot be a file name of the "
                                      "channel list: it must not be empty, \".\", \"..\" or "
                                      "hold path separators",
                                      name),
                          true);
    SupRef.Pop();
    lists.emplace_back(name, GroupM3uEntries(SupRef, db, gid));
  }
  TDateTime today = static_cast<TDateTime>(DayCount(Now()));
  int64_t from = LocalToEpoch(today);
  int64_t to = LocalToEpoch(today + EpgDefaultDays);
  WriteFileAtomically(F + "epg.xml", GuideXmltv(BuildGuide(db, rows, from, to)));
  for (const auto& [name, entries] : lists)
    WriteFileAtomically(F + "channels_" + name + ".m3u", M3uText(entries, "epg.xml"));
}
