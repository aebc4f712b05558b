#include "base/InstallPaths.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

std::string ProgramDir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path().string();
}

std::string InstalledDataDir() {
  const fs::path dir = ProgramDir();
  if (dir.empty() || dir.filename() != "bin") return {};
  const fs::path share = dir.parent_path() / "share" / "pelmora";
  std::error_code ec;
  return fs::is_directory(share, ec) ? share.string() : std::string();
}

std::string ProgramDataPath(const std::string& relative) {
  const fs::path beside = fs::path(ProgramDir()) / relative;
  std::error_code ec;
  if (fs::exists(beside, ec)) return beside.string();
  const std::string installed = InstalledDataDir();
  if (!installed.empty() && fs::exists(fs::path(installed) / relative, ec))
    return (fs::path(installed) / relative).string();
  return beside.string();
}

std::string UserDataDir(const std::string& sub) {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  fs::path base = xdg && *xdg ? fs::path(xdg) : fs::path(home && *home ? home : "/tmp") / ".local" / "share";
  fs::path dir = base / "pelmora";
  if (!sub.empty()) dir /= sub;
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir.string();
}
