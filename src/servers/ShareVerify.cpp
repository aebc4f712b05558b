#include "servers/ShareVerify.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "base/Operator.h"
#include "recstore/Json.h"
#include "schedule/DoSchedule.h"
#include "shell/Options.h"

namespace fs = std::filesystem;

namespace {

std::string ReadLocal(const std::string& path, bool& ok) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  ok = static_cast<bool>(f);
  return ss.str();
}

// A private folder of this process for the files it puts on a share from memory.
class TScratchDir {
public:
  TScratchDir() {
    std::string base = fs::temp_directory_path().string() + "/pelmora-share-XXXXXX";
    std::vector<char> name(base.begin(), base.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
      throw std::runtime_error("A temporary folder cannot be made: " +
                               std::string(std::strerror(errno)));
    FPath = name.data();
  }
  ~TScratchDir() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  // Bytes in a file of its own, with modification time MTime (seconds, 0: now).
  std::string Put(const std::string& bytes, int64_t mtime) {
    std::string path = FPath + "/" + std::to_string(++FCount);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) throw std::runtime_error("A temporary file cannot be written: " + path);
    if (mtime > 0) {
      struct timeval tv[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
      ::utimes(path.c_str(), tv);
    }
    return path;
  }

private:
  std::string FPath;
  int FCount = 0;
};

// Puts Bytes on the share under RelPath through CopyFile (read back by MD5 before it takes
// its name).
void PutOnShare(TSmbShare& share, TScratchDir& scratch, const std::string& relPath,
                const std::string& bytes, int64_t mtime) {
  TCopyPair pair;
  pair.Source = scratch.Put(bytes, mtime);
  pair.RelPath = relPath;
  pair.Size = bytes.size();
  pair.MTime = mtime;
  TCopyProgress progress;
  share.CopyFile(pair, progress, {}, TSmbShare::TCheck::Digest);
}

std::string StampNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm {};
  ::localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%S", &tm);
  return buf;
}

}  // namespace

std::string KeepSharePackage(TSmbShare& share, const std::vector<std::string>& relPaths) {
  // One folder a copy, each named after every folder there, so the newest is the last in name
  // order (rollback takes it) even within one second or after the clock went back.
  std::string last;
  for (const std::string& n : share.List(keptPackagesFolder))
    if (n.size() > 1 && n.back() == '/') last = std::max(last, n.substr(0, n.size() - 1));
  std::string name = StampNow();
  const size_t stampSize = name.size();
  if (!last.empty() && last.substr(0, stampSize) >= name) {
    int n = 1;
    if (last.size() > stampSize + 1 && last[stampSize] == '-')
      n = std::atoi(last.c_str() + stampSize + 1);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%02d", n + 1);
    name = last.substr(0, stampSize) + suffix;
  }
  const std::string folder = keptPackagesFolder + "/" + name;
  TScratchDir scratch;
  TJson manifest = TJson::array();
  for (const std::string& rel : relPaths) {
    std::string bytes;
    if (!share.ReadFile(rel, bytes)) continue;
    const int64_t mtime = share.Info(rel).MTime;
    try {
      PutOnShare(share, scratch, folder + "/" + rel, bytes, mtime);
    } catch (const std::exception& e) {
      throw std::runtime_error("The package on the server cannot be kept before it is replaced: " +
                               std::string(e.what()));
    }
    manifest.push_back({{"file", rel}, {"size", bytes.size()}, {"mtime", mtime},
                        {"md5", Md5Hex(bytes)}});
  }
  if (manifest.empty()) return "";
  PutOnShare(share, scratch, folder + "/manifest.json", manifest.dump(1, ' ', true), 0);
  // The oldest kept packages beyond the count go; one that cannot be removed stays.
  std::vector<std::string> kept;
  for (const std::string& n : share.List(keptPackagesFolder))
    if (n.size() > 1 && n.back() == '/') kept.push_back(n.substr(0, n.size() - 1));
  std::sort(kept.begin(), kept.end());
  for (size_t i = 0; i + keptPackagesCount < kept.size(); ++i)
    share.RemoveTree(keptPackagesFolder + "/" + kept[i]);
  return folder;
}

TVerifyResult VerifyShare(const TDeployRequest& request, IOperator& op) {
  TVerifyResult result;
  std::string packageDir = request.PackageDir;
  if (!packageDir.empty() && packageDir.back() != '/') packageDir += '/';
  auto fail = [&](const std::string& text) {
    result.Ok = false;
    result.Status = text;
    op.StatusText(text);
    return result;
  };
  std::string why;
  std::unique_ptr<TSmbShare> connected = ConnectShare(request, op, why);
  if (!connected) return fail(why);
  TSmbShare& share = *connected;
  TPackageLock lock;
  if (!lock.Acquire(packageDir, false, request.PackageLockWait)) {
    share.Disconnect(true);
    return fail("The package " + packageDir + " is being replaced by \"Create files\"; "
                "check again when it is finished.");
  }
  op.StatusText("Checking of files on the server");
  try {
    for (const TCopyPair& pair : ListPackageFiles(packageDir)) {
      if (!SafeSharePath(pair.RelPath)) continue;
      ++result.Checked;
      TSmbShare::TRemoteFile remote = share.Info(pair.RelPath);
      std::string why;
      if (!remote.Exists) {
        why = "missing";
      } else if (remote.Size != pair.Size) {
        why = "size differs";
      } else {
        bool ok = false;
        std::string local = ReadLocal(pair.Source, ok), onShare;
        if (!ok) throw std::runtime_error(pair.Source + ". The file cannot be read");
        if (!share.ReadFile(pair.RelPath, onShare)) why = "missing";
        else if (Md5Hex(onShare) != Md5Hex(local)) why = "digest differs";
      }
      if (!why.empty()) result.Drift.push_back({pair.RelPath, false, why});
    }
    // The films by size.
    bool ok = false;
    std::string listText = ReadLocal(packageDir + "UsedFilms.json", ok);
    TJson films = ok ? TJson::parse(listText, nullptr, false) : TJson::array();
    if (films.is_array()) {
      for (const TJson& e : films) {
        std::string win = JsonStr(e, "win"), srv = JsonStr(e, "srv");
        auto rel = SafeSharePath(srv);
        if (!rel) continue;
        std::error_code ec;
        std::string source = win;
        if (!fs::is_regular_file(source, ec)) source = ToNativePath(win);
        if (!fs::is_regular_file(source, ec)) {
          result.NotHere.push_back(win);
          continue;
        }
        ++result.Checked;
        TSmbShare::TRemoteFile remote = share.Info(*rel);
        if (!remote.Exists) result.Drift.push_back({*rel, true, "missing"});
        else if (remote.Size != fs::file_size(source, ec)) result.Drift.push_back({*rel, true, "size differs"});
      }
    }
  } catch (const std::exception& e) {
    share.Disconnect(request.ForceDisconnect);
    return fail(e.what());
  }
  share.Disconnect(request.ForceDisconnect);
  result.Ok = result.Drift.empty();
  result.Status = result.Ok ? std::to_string(result.Checked) + " files checked, the server holds the package"
                            : std::to_string(result.Drift.size()) + " of " +
                                  std::to_string(result.Checked) + " files differ on the server";
  op.StatusText(result.Status);
  return result;
}

TRollbackResult RollbackShare(const TDeployRequest& request, IOperator& op) {
  TRollbackResult result;
  const std::string caption = "Rollback";
  auto fail = [&](const std::string& text) {
    result.Ok = false;
    result.Status = text;
    op.StatusText(text);
    op.MessageBox(caption, text, TMsgIcon::Error);
    return result;
  };
  std::string why;
  std::unique_ptr<TSmbShare> connected = ConnectShare(request, op, why);
  if (!connected) return fail(why);
  TSmbShare& share = *connected;
  auto finish = [&](const std::string& text) {
    share.Disconnect(request.ForceDisconnect);
    return fail(text);
  };
  std::string last;
  for (const std::string& name : share.List(keptPackagesFolder))
    if (name.size() > 1 && name.back() == '/') last = std::max(last, name.substr(0, name.size() - 1));
  if (last.empty()) return finish("No package is kept on the server " + request.Share);
  result.KeptFolder = keptPackagesFolder + "/" + last;

  struct TKept {
    std::string Rel, Bytes;
    int64_t MTime = 0;
  };
  std::vector<TKept> kept;
  try {
    std::string text;
    if (!share.ReadFile(result.KeptFolder + "/manifest.json", text))
      return finish(result.KeptFolder + "/manifest.json is missing on the server");
    TJson manifest = TJson::parse(text, nullptr, false);
    if (!manifest.is_array() || manifest.empty())
      return finish(result.KeptFolder + "/manifest.json cannot be read");
    // Every kept copy is checked before anything is put back.
    for (const TJson& e : manifest) {
      TKept k;
      k.Rel = JsonStr(e, "file");
      if (!SafeSharePath(k.Rel) || *SafeSharePath(k.Rel) != k.Rel)
        return finish(result.KeptFolder + "/manifest.json names a file outside the share: " + k.Rel);
      k.MTime = e.value("mtime", int64_t{0});
      if (!share.ReadFile(result.KeptFolder + "/" + k.Rel, k.Bytes))
        return finish("The kept copy " + result.KeptFolder + "/" + k.Rel + " is missing");
      if (Md5Hex(k.Bytes) != JsonStr(e, "md5"))
        return finish("The kept copy " + result.KeptFolder + "/" + k.Rel +
                      " differs from its manifest (MD5)");
      kept.push_back(std::move(k));
    }
    // Schedules, playlists and the rest first; what switches the server last.
    std::stable_sort(kept.begin(), kept.end(), [](const TKept& a, const TKept& b) {
      auto rank = [](const std::string& r) {
        return r == "config.json" ? 1 : r == "update-index.txt" ? 2 : 0;
      };
      return rank(a.Rel) < rank(b.Rel);
    });
    op.StatusText("Restoring the package kept in " + result.KeptFolder);
    TScratchDir scratch;
    for (const TKept& k : kept) {
      PutOnShare(share, scratch, k.Rel, k.Bytes, k.MTime);
      result.Restored.push_back(k.Rel);
    }
    // What the restored configuration names must be there.
    share.ForgetListings();
    std::vector<std::string> absent;
    for (const std::string& rel : PackageNamedFiles([&](const std::string& r) -> std::optional<std::string> {
           std::string b;
           if (!share.ReadFile(r, b)) return std::nullopt;
           return b;
         }))
      if (!share.Info(rel).Exists) absent.push_back(rel);
    if (!absent.empty()) {
      std::string text = "The package was put back, but the share lacks files it names: ";
      for (size_t i = 0; i < absent.size(); ++i) text += (i ? ", " : "") + absent[i];
      return finish(text);
    }
  } catch (const std::exception& e) {
    return finish(e.what());
  }
  share.Disconnect(request.ForceDisconnect);
  result.Ok = true;
  result.Status = std::to_string(result.Restored.size()) + " files of the package kept in " +
                  result.KeptFolder + " restored and verified";
  op.StatusText(result.Status);
  return result;
}
