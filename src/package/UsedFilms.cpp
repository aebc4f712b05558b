#include "package/UsedFilms.h"

#include <algorithm>
#include <filesystem>

#include "base/StrUtils.h"
#include "package/Cir2Lat.h"
#include "shell/Options.h"

namespace fs = std::filesystem;

namespace {

std::string Replace(std::string s, char from, char to) {
  std::replace(s.begin(), s.end(), from, to);
  return s;
}

// A file name that would place the film outside the server's inbox (or read a file outside
// the video folder): an absolute path, a drive, or a ".." component.
bool LeavesRoot(const std::string& fileName) {
  if (fileName.empty()) return false;
  if (fileName[0] == '\\' || fileName[0] == '/') return true;
  if (fileName.size() >= 2 && fileName[1] == ':') return true;
  size_t start = 0;
  while (start <= fileName.size()) {
    size_t end = fileName.find_first_of("\\/", start);
    if (end == std::string::npos) end = fileName.size();
    if (fileName.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

TMapFilmResult MapFilmName(const std::string& id, const std::string& name,
                           const std::string& fileName, const std::string& videoRoot,
                           TUsedFilms& used, IOperator& op) {
  TMapFilmResult r;
  if (LeavesRoot(fileName)) {
    r.Error = "The file name of the film \"" + name + "\" (" + id +
              ") lies outside the video folder: " + fileName;
    op.MessageBox("Error", r.Error, TMsgIcon::Error);
    return r;
  }
  std::string linux = LowerCase(Cir2Lat(fileName));
  if (std::none_of(used.ByID.begin(), used.ByID.end(),
                   [&](const TMovieAttributes& m) { return m.ID == id; })) {
    std::string html = Replace(linux, '\\', '_');
    size_t slash = html.find_last_of('/');
    if (slash != std::string::npos) html.erase(0, slash + 1);
    size_t dot = html.find_last_of('.');
    if (dot != std::string::npos) html.erase(dot);
    used.ByID.push_back({id, html, ""});
  }
  std::string win = JoinRootPath(videoRoot, fileName);
  std::error_code ec;
  if (!fs::is_regular_file(win, ec) &&
      std::find(used.NotFounded.begin(), used.NotFounded.end(), fileName) == used.NotFounded.end()) {
    used.NotFounded.push_back(fileName);
    std::string q = "File not found " + win + ". Continue?";
    if (op.Ask("IO Error", q, TMsgIcon::Warning, TMsgButtons::YesNo, TMsgAnswer::No) != TMsgAnswer::Yes) {
      r.Error = q;
      return r;
    }
  }
  r.ServerPath = "/inbox/" + Replace(linux, '\\', '/');
  auto it = std::lower_bound(used.InUse.begin(), used.InUse.end(), linux,
                             [](const TWinLinuxNames& a, const std::string& b) { return a.Linux < b; });
  if (it == used.InUse.end() || it->Linux != linux) {
    used.InUse.insert(it, {win, linux});
  } else if (it->Win != win) {
    std::string q = "Two various films will receive identical names on the video server: " + win +
                    ", " + it->Win + ". Continue?";
    if (op.Ask("IO Error", q, TMsgIcon::Warning, TMsgButtons::YesNo, TMsgAnswer::No) != TMsgAnswer::Yes)
      r.Error = q;
  }
  return r;
}
