#include "recstore/FileLock.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

#include <fmt/format.h>

#include "recstore/Json.h"

namespace fs = std::filesystem;

namespace {

const char* const NoteAttribute = "user.pelmora.lock";

std::optional<TLockHolder> ReadNote(int fd) {
  char buf[1024];
  ssize_t n = ::fgetxattr(fd, NoteAttribute, buf, sizeof(buf));
  if (n <= 0) return std::nullopt;
  return TLockHolder::FromText(std::string(buf, static_cast<size_t>(n)));
}

void WriteNote(int fd, const TLockHolder& holder) {
  const std::string text = holder.ToText();
  // A file system without extended attributes keeps the lock but cannot say who holds it.
  (void)::fsetxattr(fd, NoteAttribute, text.data(), text.size(), 0);
}

bool NoLocksHere(int err) { return err == ENOLCK || err == EOPNOTSUPP || err == EINVAL; }

uint64_t HashBytes(std::string_view bytes) { return std::hash<std::string_view>{}(bytes); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Holders

const std::string& ThisHost() {
  static const std::string host = [] {
    char buf[256] = {};
    if (::gethostname(buf, sizeof(buf) - 1) != 0 || !buf[0]) return std::string("localhost");
    return std::string(buf);
  }();
  return host;
}

bool ProcessRuns(int64_t pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

TLockHolder TLockHolder::Self(int64_t since) {
  // The user's name is looked up once: every save notes it.
  static const std::string user = [] {
    if (struct passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return std::string(pw->pw_name);
    if (const char* u = std::getenv("USER")) return std::string(u);
    return std::to_string(::geteuid());
  }();
  TLockHolder h;
  h.User = user;
  h.Host = ThisHost();
  h.Program = program_invocation_short_name;
  h.Pid = ::getpid();
  h.Since = since;
  return h;
}

std::string TLockHolder::Describe() const {
  if (!Known()) return "another program";
  std::string s = fmt::format("{} on {} ({}, process {})", User.empty() ? "?" : User,
                              Host.empty() ? "?" : Host, Program.empty() ? "?" : Program, Pid);
  if (Since > 0) {
    time_t t = static_cast<time_t>(Since);
    struct tm tmv;
    if (::localtime_r(&t, &tmv)) {
      char buf[32];
      std::strftime(buf, sizeof(buf), "%d.%m.%Y %H:%M:%S", &tmv);
      s += std::string(" since ") + buf;
    }
  }
  return s;
}

std::string TLockHolder::ToText() const {
  TJson o = TJson::object();
  o["User"] = User;
  o["Host"] = Host;
  o["Program"] = Program;
  o["PID"] = Pid;
  o["Since"] = Since;
  return o.dump(-1, ' ', true, TJson::error_handler_t::replace);
}

std::optional<TLockHolder> TLockHolder::FromText(const std::string& text) {
  try {
    TJson o = TJson::parse(text);
    if (!o.is_object()) return std::nullopt;
    TLockHolder h;
    h.User = JsonStr(o, "User");
    h.Host = JsonStr(o, "Host");
    h.Program = JsonStr(o, "Program");
    h.Pid = JsonInt(o, "PID");
    h.Since = JsonInt(o, "Since");
    return h;
  } catch (...) {
    return std::nullopt;
  }
}

// ---------------------------------------------------------------------------------------------
// The lock

TFileLock::TResult TFileLock::Acquire(const std::string& path, double waitSeconds) {
  if (Held() && FPath == path) {
    // Still the file under that name? Another program may have put a new one in its place.
    struct stat mine, named;
    if (::fstat(FFd, &mine) == 0 && ::stat(path.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
      return TResult::Acquired;
  }
  Release();
  FError.clear();
  FHolder = {};
  FPrevious = {};
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(waitSeconds > 0 ? waitSeconds : 0));
  for (;;) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) return TResult::Missing;
      FError = std::strerror(errno);
      return TResult::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || NoLocksHere(errno)) {
      // The previous holder may have put a new file in place before letting go of the old one.
      struct stat mine, named;
      if (::fstat(fd, &mine) != 0 || ::stat(path.c_str(), &named) != 0 ||
          mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) {
        ::close(fd);
        continue;
      }
      std::optional<TLockHolder> before = ReadNote(fd);
      FFd = fd;
      FPath = path;
      FSince = static_cast<int64_t>(::time(nullptr));
      WriteNote(fd, TLockHolder::Self(FSince));
      // A note left behind names a holder that ended without releasing the lock (the kernel
      // released it). One that still runs has only failed to remove its note.
      if (before && before->Known() &&
          !(before->Host == ThisHost() && (before->Pid == ::getpid() || ProcessRuns(before->Pid)))) {
        FPrevious = *before;
        return TResult::TakenOver;
      }
      return TResult::Acquired;
    }
    if (errno != EWOULDBLOCK) {
      FError = std::strerror(errno);
      ::close(fd);
      return TResult::Failed;
    }
    FHolder = ReadNote(fd).value_or(TLockHolder{});
    ::close(fd);
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return TResult::Held;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(20), deadline - now));
  }
}

void TFileLock::Release() {
  if (FFd < 0) return;
  (void)::fremovexattr(FFd, NoteAttribute);
  ::close(FFd);
  FFd = -1;
  FPath.clear();
  FSince = 0;
}

bool TFileLock::PrepareSuccessor(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && !NoLocksHere(errno)) return false;
  if (FSince == 0) FSince = static_cast<int64_t>(::time(nullptr));
  WriteNote(fd, TLockHolder::Self(FSince));
  return true;
}

void TFileLock::Adopt(int fd, const std::string& path) {
  // The replaced file is gone from the folder; its lock and note go with it.
  if (FFd >= 0) ::close(FFd);
  FFd = fd;
  FPath = path;
  if (FSince == 0) FSince = static_cast<int64_t>(::time(nullptr));
}

// ---------------------------------------------------------------------------------------------
// The file as read or written

TFileIdentity TFileIdentity::FromStat(const struct stat& st, const std::string& bytes) {
  TFileIdentity id;
  id.State = TState::Present;
  id.Dev = st.st_dev;
  id.Ino = st.st_ino;
  id.Size = st.st_size;
  id.MTime = st.st_mtim;
  // Whole-second time stamps (FAT, SMB shares, ...) do not tell two writes within the same
  // seconds apart.
  const time_t now = ::time(nullptr);
  id.Unsure = st.st_mtim.tv_nsec == 0 && now - st.st_mtim.tv_sec < 3;
  if (id.Unsure) id.Hash = HashBytes(bytes);
  return id;
}

std::string FileChangeReason(const TFileIdentity& known, const std::string& path) {
  if (known.State == TFileIdentity::TState::Unknown) return {};
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};  // gone (or unreachable: the write will tell)
  if (known.State == TFileIdentity::TState::Absent) return "another program created it";
  if (st.st_dev != known.Dev || st.st_ino != known.Ino) return "another program replaced it";
  if (st.st_size != known.Size || st.st_mtim.tv_sec != known.MTime.tv_sec ||
      st.st_mtim.tv_nsec != known.MTime.tv_nsec)
    return "another program changed it";
  if (known.Unsure) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    if (!f || HashBytes(ss.view()) != known.Hash) return "another program changed it";
  }
  return {};
}

// ---------------------------------------------------------------------------------------------
// Temporary files

std::string TempFileNameFor(const std::string& path, unsigned random) {
  fs::path target(path);
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  return (dir / fmt::format(".{}.{}.{}.{}.tmp", target.filename().string(), ThisHost(),
                            ::getpid(), random))
      .string();
}

int RemoveStaleTempFiles(const std::string& path) {
  fs::path target(path);
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  const std::string prefix = "." + target.filename().string() + "." + ThisHost() + ".";
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0)
      continue;
    // PID.RANDOM between the prefix and ".tmp".
    std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    size_t dot = middle.find('.');
    if (dot == 0 || dot == std::string::npos) continue;
    int64_t pid = 0;
    bool digits = true;
    for (size_t i = 0; i < dot && digits; ++i) {
      if (middle[i] < '0' || middle[i] > '9' || i > 9)
        digits = false;
      else
        pid = pid * 10 + (middle[i] - '0');
    }
    if (!digits || ProcessRuns(pid)) continue;
    std::error_code rec;
    if (fs::remove(it->path(), rec)) ++removed;
  }
  return removed;
}
