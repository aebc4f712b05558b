#include "servers/CreateFiles.h"

#include <fmt/format.h>

#include <filesystem>

#include "catalogue/Channels.h"
#include "package/Cir2Lat.h"
#include "servers/ServerEpg.h"
#include "shell/Options.h"

namespace fs = std::filesystem;

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

// A server name becomes a folder below the servers directory: it must stay one folder.
bool SafeFolderName(const std::string& name) {
  return !IsBlank(name) && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos;
}

TDateTime Today() { return static_cast<TDateTime>(DayCount(Now())); }

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

// The package folder of a server with a trailing separator: the servers directory and the
// server's Name.
static std::string PackageDir(TDbFile& db, const std::string& serverName) {
  std::string root = GetOptionDir(db, odServers);
  while (!root.empty() && root.back() == '/') root.pop_back();
  return root + "/" + serverName + "/";
}

void AddHeadEndChannels(TSuperReference& supRef, TDbFile& db, const TJson& srvOptions,
                        TSchedule& sh) {
  const TJson* tbl = JsonPath(srvOptions, "Table");
  size_t n = tbl && tbl->is_array() ? tbl->size() : 0;
  TDbCollectionItem& groups = db.CollectionByName("Groups");
  TDbCollectionItem& channels = db.CollectionByName("Channels");
  for (size_t i = 0; i < n; ++i) {
    std::optional<TJson> g = supRef.Push(groups, *tbl, 0, static_cast<int>(i), "Groups", true);
    const TJson* gt = g ? JsonPath(*g, "Table") : nullptr;
    size_t gn = gt && gt->is_array() ? gt->size() : 0;
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

std::string MakeConfigFile(TSuperReference& supRef, TDbFile& db, const TJson& TSched,
                           bool Satellite, const std::vector<std::string>& Md5,
                           TUsedFilms& used, const TJson& Summaries, const std::string& F,
                           IOperator& Op, IPortalMaker* Portal) {
  std::string path = F + "config.json";
  std::string prefix;
  if (Satellite) {
    fs::path p = fs::path(F.substr(0, F.size() - 1));
    prefix = p.parent_path().filename().string() + "/" + p.filename().string() + "/";
  }
  TJson config = TJson::array();
  TDbCollectionItem& schedules = db.CollectionByName("Schedules");
  TDbCollectionItem& options = db.CollectionByName("SrvOptions");
  TDateTime prevStart = 0;
  size_t n = TSched.is_array() ? TSched.size() : 0;
  for (size_t i = 0; i < n; ++i) {
    const TJson& row = TSched[i];
    int rowNo = static_cast<int>(i) + 1;
    std::string name;
    TDateTime calc = 0, start = 0;
    bool activate = false;
    std::string schedID = RefID(row, 0);
    if (!schedID.empty()) {
      std::optional<TJson> sched = supRef.Get(schedules, schedID);
      name = ScheduleFileName(JsonStr(*sched, "Name"));
      TRowTimes times = ReadRowTimes(supRef, row, i);
      calc = times.Calc;
      start = times.Start;
      if (times.HasStart) {
        if (i == 0 && start > Now()) {
          std::string text = fmt::format("No broadcasting until {}", DateTimeToStr(start));
          if (Op.Ask("Warning", text + " " + ". Continue?", TMsgIcon::Warning, TMsgButtons::YesNo,
                     TMsgAnswer::No) != TMsgAnswer::Yes)
            supRef.ForceException(text);
        }
        activate = true;
        if (start < calc)
          supRef.ShowErrorMsg("Time of start must be greater or equal Base time!", "Start at",
                              rowNo, "Schedule", true);
      }
    } else {
      name = "headend";
      calc = Today();
      start = 0;
    }
    std::string stamp = DateTimeToStamp(start);
    TJson entry = TJson::object();
    if (Portal) {
      std::string optID = RefID(row, 3);
      std::optional<TJson> opt = optID.empty() ? std::nullopt : options.GetRecord(optID);
      std::string root;
      std::string err = Portal->MakePortals(supRef, db, optID, opt ? *opt : TJson::object(), stamp,
                                            F, used, i < Summaries.size() ? Summaries[i] : TJson::object(),
                                            root);
      if (!err.empty()) supRef.ForceException(err);
      if (!root.empty()) entry["portal"] = root;
    }
    if (i > 0 && start <= prevStart)
      supRef.ShowErrorMsg("Time of start must be less than next row Start time!", "Start at",
                          rowNo - 1, "Schedule", true);
    prevStart = start;
    entry["start"] = DateTimeToStamp(calc);
    if (activate) entry["activate"] = stamp;
    entry["file"] = "/inbox/" + prefix + "json" + "/" + stamp + "/" + name + ".json";
    if (i >= 1)
      entry["groups"] = "/inbox/" + prefix + "groups_" + stamp + ".json";
    else if (!prefix.empty())
      entry["groups"] = "/inbox/" + prefix + "groups.json";
    entry["MD5"] = i < Md5.size() ? Md5[i] : std::string();
    config.push_back(entry);
  }
  try {
    WriteFileAtomically(path, PackageJsonText(config));
  } catch (const std::exception&) {
    return "Can't to write to file " + path;
  }
  return "";
}

TCreateFilesResult CreateServerFiles(TDbFile& db, const std::string& ServerID, IOperator& Op,
                                     IPortalMaker* Portal) {
  TCreateFilesResult res;
  auto status = [&](const std::string& text) {
    res.Status = text;
    Op.StatusText(text);
  };
  status("Creating files");
  TDbCollectionItem& servers = db.CollectionByName("Servers");
  std::optional<TJson> server = servers.GetRecord(ServerID);
  if (!server) {
    status("Invalid reference.");
    return res;
  }
  std::string name = JsonStr(*server, "Name");
  std::string F = PackageDir(db, name);
  res.Folder = F.substr(0, F.size() - 1);
  {
    std::error_code ec;
    bool ok = SafeFolderName(name);
    if (ok) {
      EmptyFolder(F);
      fs::create_directories(F, ec);
      ok = !ec && fs::is_directory(F, ec);
    }
    if (!ok) {
      std::string text = "Can't to create directory " + F;
      status(text);
      Op.MessageBox("IO Error", text, TMsgIcon::Error);
      return res;
    }
  }
  status("Server's folder is created");
  std::string index = F + "update-index.txt";
  try {
    WriteFileAtomically(index, "");
  } catch (const std::exception&) {
    std::string text = "Can't to write to file " + index;
    Op.MessageBox("IO Error", text, TMsgIcon::Warning);
    status(text);
    return res;
  }

  TUsedFilms used;
  TJson summaries = TJson::array();
  std::vector<std::string> md5;
  std::string videoRoot = GetOptionDir(db, odVideo);
  TSuperReference supRef(&Op);
  bool lastWithoutSchedule = false;
  // With MakeEpg the built schedules are kept for the guide and the channel lists.
  bool makeEpg = JsonBool(*server, "MakeEpg");
  std::vector<TEpgRow> epgRows;
  try {
    supRef.Push(servers, ServerID, false);
    static const TJson noRows = TJson::array();
    const TJson* tp = JsonPath(*server, "TSched");
    const TJson& tsched = tp && tp->is_array() ? *tp : noRows;
    TDbCollectionItem& options = db.CollectionByName("SrvOptions");
    for (size_t i = 0; i < tsched.size(); ++i) {
      const TJson& row = tsched[i];
      TRowTimes times = ReadRowTimes(supRef, row, i);
      std::string stamp = DateTimeToStamp(times.Start);

      std::optional<TJson> opt = supRef.Push(options, tsched, 3, static_cast<int>(i), "Schedule", true);
      if (!MakeGroupsFile(supRef, db, *opt, stamp, static_cast<int>(i), F, Op))
        supRef.ForceException("Can't to write to file " +
                              (i == 0 ? F + "groups.json" : F + "groups_" + stamp + ".json"));
      status("Groups and config files is created");

      std::string schedID = RefID(row, 0);
      std::unique_ptr<TFilmListArray> pls, cmdp;
      TJson value;
      if (schedID.empty()) {
        if (i > 0) supRef.Get(db.CollectionByName("Schedules"), tsched, 0, static_cast<int>(i), "Shedules", true);
        auto sh = std::make_shared<TSchedule>(&db);
        AddHeadEndChannels(supRef, db, *opt, *sh);
        std::string err = MakeScheduleFiles(*sh, db, F, videoRoot, DateTimeToStamp(0), pls, cmdp, used, value, Op);
        if (!err.empty()) supRef.ForceException(err);
        if (makeEpg) epgRows.push_back({std::move(sh), times.Calc, times.Start, times.HasStart});
        md5.push_back(Md5Hex(CompactJsonText(value)));
        summaries.push_back(TJson::object());
        lastWithoutSchedule = true;
      } else {
        std::unique_ptr<TSchedule> sh = BuildSchedule(schedID, db, &Op);
        if (!sh) supRef.ForceException("Error of creation of the schedule!");
        summaries.push_back(ScheduleSummary(db, *sh, nullptr, true, true, true, true));
        AddHeadEndChannels(supRef, db, *opt, *sh);
        std::string err = MakeScheduleFiles(*sh, db, F, videoRoot, stamp, pls, cmdp, used, value, Op);
        if (!err.empty()) supRef.ForceException(err);
        auto [films, cmds] = PlaylistDigests(pls.get(), cmdp.get());
        md5.push_back(ScheduleRowDigest(value, films, cmds));
        lastWithoutSchedule = false;
        if (makeEpg) epgRows.push_back({std::move(sh), times.Calc, times.Start, times.HasStart});
      }
      supRef.Pop();  // the server options
    }
    std::string err = MakeConfigFile(supRef, db, tsched, JsonBool(*server, "SatelliteSys"), md5,
                                     used, summaries, F, Op, Portal);
    if (!err.empty()) supRef.ForceException(err);
    WriteUsedFilmsFile(used, F);
    if (makeEpg) WriteEpgFiles(supRef, db, *server, epgRows, F);
    supRef.Pop();
  } catch (const EDbFException& e) {
    supRef.ClrErrors();
    status(e.what());
    return res;
  } catch (const std::exception& e) {
    supRef.ClrErrors();
    status(e.what());
    return res;
  }
  std::string text = fmt::format("Files in folder \"{}\" is successfully created!", res.Folder);
  if (lastWithoutSchedule) text = "Broadcast schedule is not set! " + text;
  status(text);
  res.Ok = true;
  return res;
}
