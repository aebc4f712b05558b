#include "servers/ServerRows.h"

#include <fmt/format.h>

#include <algorithm>

#include "catalogue/Channels.h"

namespace {

std::string RefID(const TJson& row, size_t cell) {
  if (!row.is_array() || cell >= row.size() || !row[cell].is_object()) return "";
  return JsonStr(row[cell], "_ID");
}

std::string CellText(const TJson& row, size_t cell) {
  if (!row.is_array() || cell >= row.size() || !row[cell].is_string()) return "";
  return row[cell].get<std::string>();
}

bool IsBlank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

// A name that may become one file inside a folder of the package.
bool SafePackageFileName(const std::string& name) {
  return !IsBlank(name) && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

}  // namespace

TRowTimes ReadRowTimes(TSuperReference& supRef, const TJson& row, size_t i) {
  TRowTimes t;
  int rowNo = static_cast<int>(i) + 1;
  try {
    t.Calc = StrToDateTime(CellText(row, 1));
  } catch (const EConvertError& e) {
    supRef.ShowErrorMsg(e.what(), "Calc from", rowNo, "Schedule", true);
  }
  std::string startText = CellText(row, 2);
  if (IsBlank(startText)) {
    if (i > 0) supRef.ShowErrorMsg("Start time is not set!", "Start at", rowNo, "Schedule", true);
    return t;
  }
  try {
    t.Start = StrToDateTime(startText);
    t.HasStart = true;
  } catch (const EConvertError& e) {
    supRef.ShowErrorMsg(e.what(), "Start at", rowNo, "Schedule", true);
  }
  return t;
}

void AddHeadEndChannels(TSuperReference& supRef, TDbFile& db, const TJson& srvOptions,
                        TSchedule& sh) {
  const TJson* tbl = &RecordTable(supRef, srvOptions, "Table");
  size_t n = tbl->size();
  TDbCollectionItem& groups = db.CollectionByName("Groups");
  TDbCollectionItem& channels = db.CollectionByName("Channels");
  for (size_t i = 0; i < n; ++i) {
    CheckRefCellNotEmpty(supRef, *tbl, i, 0, "Groups", "STB group", "an STB group");
    std::optional<TJson> g = supRef.Push(groups, *tbl, 0, static_cast<int>(i), "Groups", true);
    const TJson* gt = g ? &RecordTable(supRef, *g, "Table") : nullptr;
    size_t gn = gt ? gt->size() : 0;
    for (size_t k = 0; k < gn; ++k) {
      std::optional<TJson> ch = supRef.Get(channels, *gt, 0, static_cast<int>(k), "", true);
      if (!ch) continue;
      std::string id = RefID((*gt)[k], 0);
      if (std::find(sh.ChannelsId.begin(), sh.ChannelsId.end(), id) != sh.ChannelsId.end()) continue;
      if (JsonInt(*ch, "Type") == ChTypeHeadend)
        sh.AddChannel(id);
      else
        supRef.ShowErrorMsg("The schedule for this channel isn't defined!", true);
    }
    supRef.Pop();
  }
}

std::vector<TServerRow> ReadServerRows(TSuperReference& supRef, TDbFile& db, const TJson& server,
                                       IOperator& Op) {
  const TJson& tsched = RecordTable(supRef, server, "TSched");
  TDbCollectionItem& options = db.CollectionByName("SrvOptions");
  std::vector<TServerRow> rows;
  for (size_t i = 0; i < tsched.size(); ++i) {
    const TJson& cells = tsched[i];
    TServerRow row;
    row.Index = i;
    row.Times = ReadRowTimes(supRef, cells, i);
    row.ScheduleID = RefID(cells, 0);
    // Only the first row may go without a schedule; the error names the server and its row.
    if (row.ScheduleID.empty() && i > 0)
      supRef.ShowErrorMsg("Broadcast schedule is not set!", static_cast<int>(i) + 1, "Shedules",
                          true);
    CheckRefCellNotEmpty(supRef, tsched, i, 3, "Schedule", "Options", "the server's options");
    std::optional<TJson> opt = supRef.Push(options, tsched, 3, static_cast<int>(i), "Schedule", true);
    row.OptionsID = RefID(cells, 3);
    row.Options = *opt;
    if (row.ScheduleID.empty()) {
      row.Schedule = std::make_shared<TSchedule>(&db);
    } else {
      std::string why;
      row.Schedule = BuildSchedule(row.ScheduleID, db, &Op, &why);
      if (!row.Schedule)
        supRef.ForceException("Error of creation of the schedule!" + (why.empty() ? "" : " " + why));
    }
    AddHeadEndChannels(supRef, db, row.Options, *row.Schedule);
    supRef.Pop();  // the server options
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string PackageScheduleName(TSuperReference& supRef, TDbFile& db, const TServerRow& row) {
  if (row.ScheduleID.empty()) return "headend";
  std::string name = ScheduleFileName(row.Schedule->Name);
  if (!SafePackageFileName(name)) {
    supRef.Push(db.CollectionByName("Schedules"), row.ScheduleID, false);
    supRef.ShowErrorMsg(fmt::format("Schedule name \"{}\" cannot be a file name of the server's "
                                    "package: it must not be empty, \".\" or \"..\" or hold "
                                    "path separators",
                                    row.Schedule->Name),
                        true);
  }
  return name;
}
