#include "recstore/Backups.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "recstore/FileLock.h"
#include "recstore/JrecClasses.h"

namespace fs = std::filesystem;

namespace {

std::string Reason(int err) { return std::strerror(err); }

// "demo" of "/x/demo.pq2pr".
std::string StemOf(const std::string& projectFile) { return fs::path(projectFile).stem().string(); }

bool IsDayStamp(const std::string& s) {
  return s.size() == 8 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The day stamp of "<stem>.<yyyymmdd><ext>", "" when the name is not of that form.
std::string DayOfName(const std::string& name, const std::string& stem, const std::string& ext) {
  if (name.size() != stem.size() + 1 + 8 + ext.size()) return "";
  if (name.compare(0, stem.size(), stem) != 0 || name[stem.size()] != '.') return "";
  if (name.compare(name.size() - ext.size(), ext.size(), ext) != 0) return "";
  std::string day = name.substr(stem.size() + 1, 8);
  return IsDayStamp(day) ? day : "";
}

std::string ExtensionOf(const std::string& projectFile) {
  std::string ext = fs::path(projectFile).extension().string();
  return ext.empty() ? ".pq2pr" : ext;
}

struct TJournalFile {
  std::string Path;
  std::string Day;
};
std::vector<TJournalFile> KeptJournals(const std::string& projectFile) {
  std::vector<TJournalFile> out;
  std::error_code ec;
  const std::string stem = StemOf(projectFile);
  for (fs::directory_iterator it(BackupFolderOf(projectFile), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string day = DayOfName(it->path().filename().string(), stem, ".journal");
    if (!day.empty()) out.push_back({it->path().string(), day});
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.Day < b.Day; });
  return out;
}

bool ReadAll(const std::string& path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  out = std::move(ss).str();
  return !f.bad();
}

// Appends Bytes to Path with one write (O_APPEND keeps lines of parallel writers whole).
std::string AppendBytes(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return fmt::format("Can't write file {}: {}", path, Reason(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      ::close(fd);
      return fmt::format("Can't write file {}: {}", path, Reason(err));
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) return fmt::format("Can't write file {}: {}", path, Reason(errno));
  return "";
}

// Moves the live journal beside the backups, under the day of its first line (appended to a
// journal of that day that is already there).
std::string RotateJournal(const std::string& projectFile) {
  const std::string live = JournalFileOf(projectFile);
  std::string bytes;
  std::error_code ec;
  if (!fs::exists(live, ec) || !ReadAll(live, bytes) || bytes.empty()) return "";
  std::string day;
  size_t eol = bytes.find('\n');
  try {
    TJson first = TJson::parse(bytes.substr(0, eol));
    std::string t = JsonStr(first, "time");  // "yyyy-mm-ddT..."
    if (t.size() >= 10) day = t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2);
  } catch (const std::exception&) {
  }
  if (!IsDayStamp(day)) day = LocalDayStamp(std::time(nullptr));
  const std::string kept =
      (fs::path(BackupFolderOf(projectFile)) / (StemOf(projectFile) + "." + day + ".journal"))
          .string();
  if (!fs::exists(kept, ec)) {
    fs::rename(live, kept, ec);
    if (!ec) return "";
  }
  if (std::string err = AppendBytes(kept, bytes); !err.empty()) return err;
  fs::remove(live, ec);
  return "";
}

}  // namespace

std::string BackupFolderOf(const std::string& projectFile) { return projectFile + ".backups"; }

std::string JournalFileOf(const std::string& projectFile) { return projectFile + ".journal"; }

std::string LocalDayStamp(std::time_t t) {
  struct tm tmv {};
  ::localtime_r(&t, &tmv);
  char buf[16];
  std::strftime(buf, sizeof(buf), "%Y%m%d", &tmv);
  return buf;
}

std::string LocalTimeText(std::time_t t) {
  struct tm tmv {};
  ::localtime_r(&t, &tmv);
  char buf[40];
  std::strftime(buf, sizeof(buf), "%Y-%m-%dT%H:%M:%S%z", &tmv);
  std::string s = buf;  // "+0100" -> "+01:00"
  if (s.size() >= 5) s.insert(s.size() - 2, ":");
  return s;
}

std::vector<TBackupFile> ListBackups(const std::string& projectFile) {
  std::vector<TBackupFile> out;
  std::error_code ec;
  const std::string stem = StemOf(projectFile), ext = ExtensionOf(projectFile);
  for (fs::directory_iterator it(BackupFolderOf(projectFile), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string day = DayOfName(it->path().filename().string(), stem, ext);
    if (day.empty()) continue;
    std::error_code sec;
    uintmax_t size = fs::file_size(it->path(), sec);
    out.push_back({it->path().string(), day, sec ? 0 : size});
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.Day < b.Day; });
  return out;
}

TBackupResult KeepDailyBackup(const std::string& projectFile, int keep, std::time_t now) {
  TBackupResult result;
  if (keep <= 0) return result;
  struct stat st {};
  if (::stat(projectFile.c_str(), &st) != 0) return result;  // nothing written yet: nothing to keep
  const std::string folder = BackupFolderOf(projectFile);
  const std::string day = LocalDayStamp(now);
  const std::string target =
      (fs::path(folder) / (StemOf(projectFile) + "." + day + ExtensionOf(projectFile))).string();
  std::error_code ec;
  if (fs::exists(target, ec)) return result;
  fs::create_directories(folder, ec);
  if (ec) {
    result.Error = fmt::format("Can't make folder {}: {}", folder, ec.message());
    return result;
  }
  // The copy appears under a temporary name first, so no half copy is ever taken for a backup.
  const std::string temp = TempFileNameFor(target, static_cast<unsigned>(now));
  ::unlink(temp.c_str());
  if (::link(projectFile.c_str(), temp.c_str()) != 0) {
    std::string bytes;
    if (!ReadAll(projectFile, bytes)) {
      result.Error = fmt::format("Can't read file {}: {}", projectFile, Reason(errno));
      return result;
    }
    try {
      WriteFileAtomically(target, bytes);
    } catch (const std::exception& e) {
      result.Error = e.what();
      return result;
    }
  } else if (::rename(temp.c_str(), target.c_str()) != 0) {
    result.Error = fmt::format("Can't write file {}: {}", target, Reason(errno));
    ::unlink(temp.c_str());
    return result;
  }
  result.Made = true;
  result.Error = RotateJournal(projectFile);
  // The oldest backups beyond Keep go, with the journals of the days before the oldest kept.
  auto backups = ListBackups(projectFile);
  for (size_t i = 0; i + static_cast<size_t>(keep) < backups.size(); ++i) {
    if (fs::remove(backups[i].Path, ec)) ++result.Dropped;
  }
  backups = ListBackups(projectFile);
  if (!backups.empty()) {
    for (const auto& j : KeptJournals(projectFile))
      if (j.Day < backups.front().Day) fs::remove(j.Path, ec);
  }
  return result;
}

std::string AppendJournalLines(const std::string& projectFile, const std::vector<TJson>& lines) {
  if (lines.empty()) return "";
  std::string bytes;
  for (const auto& l : lines) {
    bytes += l.dump(-1, ' ', true, TJson::error_handler_t::replace);
    bytes += '\n';
  }
  return AppendBytes(JournalFileOf(projectFile), bytes);
}

std::vector<TJson> ReadJournal(const std::string& projectFile, size_t* unreadable) {
  std::vector<TJson> out;
  size_t bad = 0;
  std::vector<std::string> files;
  for (const auto& j : KeptJournals(projectFile)) files.push_back(j.Path);
  files.push_back(JournalFileOf(projectFile));
  for (const auto& path : files) {
    std::ifstream f(path, std::ios::binary);
    std::string line;
    while (std::getline(f, line)) {
      if (line.empty()) continue;
      try {
        TJson j = TJson::parse(line);
        if (j.is_object()) {
          out.push_back(std::move(j));
          continue;
        }
      } catch (const std::exception&) {
      }
      ++bad;
    }
  }
  if (unreadable) *unreadable = bad;
  return out;
}

TJson JournalLine(std::time_t when, const std::string& collection, const std::string& id,
                  const std::string& name, int64_t oldCntr, int64_t newCntr,
                  const std::string& kind) {
  TLockHolder self = TLockHolder::Self(when);
  TJson line = TJson::object();
  line["time"] = LocalTimeText(when);
  line["user"] = self.User;
  line["host"] = self.Host;
  line["program"] = self.Program;
  line["collection"] = collection;
  line["id"] = id;
  line["Name"] = name;
  line["old"] = oldCntr;
  line["new"] = newCntr;
  line["change"] = kind;
  return line;
}
