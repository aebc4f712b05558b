#include "servers/CreateFiles.h"

#include <fmt/format.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "catalogue/Channels.h"
#include "package/Cir2Lat.h"
#include "servers/ServerEpg.h"
#include "servers/ServerPlan.h"
#include "servers/Servers.h"
#include "servers/ShareTransfer.h"
#include "shell/Options.h"

namespace fs = std::filesystem;

namespace {

TDateTime Today() { return static_cast<TDateTime>(DayCount(Now())); }

// Removes a folder with everything in it; read-only entries get write permission first.
void RemoveTree(const fs::path& dir) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(dir, ec))) return;
  if (fs::is_directory(fs::symlink_status(dir, ec))) EmptyFolder(dir.string());
  fs::remove_all(dir, ec);
}

// The folder a package is built in: beside the package folder, so that it can take the package
// folder's place by a rename on the same file system. Its name carries the process id; folders
// left by a build whose process is gone are removed when the next build of that server starts.
class TPackageBuildDir {
public:
  explicit TPackageBuildDir(const std::string& packageDir) {
    std::string f = packageDir;
    while (f.size() > 1 && f.back() == '/') f.pop_back();
    FFinal = fs::path(f);
    FPrefix = "." + FFinal.filename().string() + ".building-";
    static std::atomic<unsigned> counter{0};
    FTemp = FFinal.parent_path() /
            (FPrefix + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  }
  ~TPackageBuildDir() {
    if (!FCommitted) RemoveTree(FTemp);
  }
  TPackageBuildDir(const TPackageBuildDir&) = delete;
  TPackageBuildDir& operator=(const TPackageBuildDir&) = delete;

  // The build folder with a trailing separator.
  std::string Path() const { return FTemp.string() + "/"; }

  bool Create() {
    std::error_code ec;
    fs::create_directories(FFinal.parent_path(), ec);
    RemoveStale();
    RemoveTree(FTemp);
    return fs::create_directory(FTemp, ec) && !ec;
  }

  // Puts the built folder in the package folder's place; the previous package goes. Throws
  // std::runtime_error when the package folder cannot be replaced (it then stays as it was).
  void Commit() {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(FFinal, ec))) {
      fs::rename(FTemp, FFinal, ec);
      if (ec) Fail(ec.value());
    } else if (::renameat2(AT_FDCWD, FTemp.c_str(), AT_FDCWD, FFinal.c_str(), RENAME_EXCHANGE) ==
               0) {
      // One step: the server folder is never missing. FTemp now holds the previous package.
      RemoveTree(FTemp);
    } else {
      // A file system without the exchange: move the old package aside, the new one in.
      fs::path old = FTemp;
      old += ".old";
      fs::rename(FFinal, old, ec);
      if (ec) Fail(ec.value());
      fs::rename(FTemp, FFinal, ec);
      if (ec) {
        std::error_code back;
        fs::rename(old, FFinal, back);
        Fail(ec.value());
      }
      RemoveTree(old);
    }
    FCommitted = true;
  }

private:
  [[noreturn]] void Fail(int err) {
    throw std::runtime_error("Can't to replace directory " + FFinal.string() + ": " +
                             std::strerror(err));
  }
  void RemoveStale() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(FFinal.parent_path(), ec)) {
      std::string name = e.path().filename().string();
      if (name.rfind(FPrefix, 0) != 0) continue;
      pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + FPrefix.size()));
      if (pid <= 0 || pid == ::getpid()) continue;
      if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // its build may still run
      RemoveTree(e.path());
    }
  }

  fs::path FFinal;
  fs::path FTemp;
  std::string FPrefix;
  bool FCommitted = false;
};

}  // namespace

std::string MakeConfigFile(TSuperReference& supRef, TDbFile& db,
                           const std::vector<TServerRow>& rows, const std::string& Prefix,
                           const std::vector<std::string>& Md5, TUsedFilms& used,
                           const TJson& Summaries, const std::string& F, IOperator& Op,
                           IPortalMaker* Portal) {
  std::string path = F + "config.json";
  TJson config = TJson::array();
  for (const TServerRow& row : rows) {
    size_t i = row.Index;
    std::string name = row.FileName.empty() ? std::string("headend") : row.FileName;
    TDateTime calc = row.ScheduleID.empty() ? Today() : row.Times.Calc;
    TDateTime start = row.ScheduleID.empty() ? 0 : row.Times.Start;
    bool activate = !row.ScheduleID.empty() && row.Times.HasStart;
    std::string stamp = DateTimeToStamp(start);
    TJson entry = TJson::object();
    if (Portal) {
      std::string root;
      // The summary of this row: the package's rows and their summaries go in the same order.
      const size_t k = static_cast<size_t>(&row - rows.data());
      std::string err = Portal->MakePortals(supRef, db, row.OptionsID, row.Options, stamp, F, used,
                                            k < Summaries.size() ? Summaries[k] : TJson::object(),
                                            root);
      if (!err.empty()) supRef.ForceException(err);
      if (!root.empty()) entry["portal"] = root;
    }
    entry["start"] = DateTimeToStamp(calc);
    if (activate) entry["activate"] = stamp;
    entry["file"] = "/inbox/" + Prefix + "json" + "/" + stamp + "/" + name + ".json";
    if (i >= 1)
      entry["groups"] = "/inbox/" + Prefix + "groups_" + stamp + ".json";
    else if (!Prefix.empty())
      entry["groups"] = "/inbox/" + Prefix + "groups.json";
    entry["MD5"] = i < Md5.size() ? Md5[i] : std::string();
    config.push_back(entry);
  }
  try {
    WriteFileAtomically(path, PackageJsonText(config));
  } catch (const std::exception& e) {
    return "Can't to write to file " + path + ": " + WriteFailureReason(e);
  }
  return "";
}

namespace {

// The path of the package files inside the server's inbox for a satellite delivery system:
// the servers folder's name and the server's folder name.
std::string SatellitePrefix(const std::string& packageDir) {
  fs::path p = fs::path(packageDir.substr(0, packageDir.size() - 1));
  return p.parent_path().filename().string() + "/" + p.filename().string() + "/";
}

}  // namespace

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
  std::string F = ServerPackageDir(db, *server);
  res.Folder = F.substr(0, F.size() - 1);
  auto cannotCreate = [&](const std::string& dir) {
    std::string text = "Can't to create directory " + dir;
    status(text);
    Op.MessageBox("IO Error", text, TMsgIcon::Error);
    return res;
  };
  if (!SafeServerFolderName(name)) return cannotCreate(F);

  TUsedFilms used;
  TJson summaries = TJson::array();
  std::vector<std::string> md5;
  std::string videoRoot = GetOptionDir(db, odVideo);
  TSuperReference supRef(&Op);
  bool lastWithoutSchedule = false;
  bool makeEpg = JsonBool(*server, "MakeEpg");
  try {
    supRef.Push(servers, ServerID, false);
    // Every row is read, checked and built before the first file is written.
    std::vector<TServerRow> rows = BuildServerPlan(supRef, db, ServerID, *server, Op).Rows;

    TPackageBuildDir build(F);
    if (!build.Create()) {
      supRef.ClrErrors();
      return cannotCreate(build.Path());
    }
    std::string T = build.Path();
    status("Server's folder is created");
    std::string index = T + "update-index.txt";
    try {
      WriteFileAtomically(index, "");
    } catch (const std::exception& e) {
      std::string text = "Can't to write to file " + index + ": " + WriteFailureReason(e);
      Op.MessageBox("IO Error", text, TMsgIcon::Warning);
      status(text);
      supRef.ClrErrors();
      return res;
    }

    TDbCollectionItem& options = db.CollectionByName("SrvOptions");
    for (TServerRow& row : rows) {
      size_t i = row.Index;
      std::string stamp = DateTimeToStamp(row.Times.Start);
      supRef.Push(options, row.OptionsID, false);
      std::string groupsError =
          MakeGroupsFile(supRef, db, row.Options, stamp, static_cast<int>(i), T, Op);
      if (!groupsError.empty()) supRef.ForceException(groupsError);
      status("Groups and config files is created");

      std::unique_ptr<TFilmListArray> pls, cmdp;
      TJson value;
      TSchedule& sh = *row.Schedule;
      if (row.ScheduleID.empty()) {
        std::string err =
            MakeScheduleFiles(sh, db, T, videoRoot, DateTimeToStamp(0), pls, cmdp, used, value, Op);
        if (!err.empty()) supRef.ForceException(err);
        md5.push_back(Md5Hex(CompactJsonText(value)));
        summaries.push_back(TJson::object());
        lastWithoutSchedule = true;
      } else {
        summaries.push_back(ScheduleSummary(db, sh, nullptr, true, true, true, true));
        std::string err = MakeScheduleFiles(sh, db, T, videoRoot, stamp, pls, cmdp, used, value, Op);
        if (!err.empty()) supRef.ForceException(err);
        auto [films, cmds] = PlaylistDigests(pls.get(), cmdp.get());
        md5.push_back(ScheduleRowDigest(value, films, cmds));
        lastWithoutSchedule = false;
      }
      supRef.Pop();  // the server options
    }
    std::string prefix = JsonBool(*server, "SatelliteSys") ? SatellitePrefix(F) : std::string();
    std::string err =
        MakeConfigFile(supRef, db, rows, prefix, md5, used, summaries, T, Op, Portal);
    if (!err.empty()) supRef.ForceException(err);
    WriteUsedFilmsFile(used, T);
    if (makeEpg) {
      std::vector<TEpgRow> epgRows;
      for (const TServerRow& row : rows)
        epgRows.push_back({row.Schedule, row.Times.Calc, row.Times.Start, row.Times.HasStart});
      WriteEpgFiles(supRef, db, *server, epgRows, T);
    }
    {
      // A copy to the share that is reading the package keeps it until it is done.
      TPackageLock packageLock;
      if (!packageLock.Acquire(F, true, std::chrono::seconds(60)))
        supRef.ForceException("The package " + res.Folder +
                              " is being copied to the server; it was not replaced. Create the "
                              "files again when the copy is finished.");
      build.Commit();
    }
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
