#pragma once
// One writer per database file. The writer holds an exclusive flock() on the file itself for as
// long as it has the database open; the kernel drops it when the process ends, however it ends.
// Every save replaces the file by a new one (write beside, rename over), so the writer locks the
// new file before it takes the old one's place, and a waiter that got the old file checks that
// what it locked is still the file under the name. Who holds the lock (user, host, program,
// process, since when) is written into the file's extended attribute "user.pelmora.lock".
//
// Besides the lock, the writer remembers the file as it read or last wrote it (device, inode,
// size, modification time; a content hash where the time stamp is too coarse to tell) and never
// writes over a file that changed behind its back.
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

// Who holds a database file.
struct TLockHolder {
  std::string User;
  std::string Host;
  std::string Program;
  int64_t Pid = 0;
  int64_t Since = 0;  // Unix seconds when the lock was taken

  bool Known() const { return Pid != 0 || !User.empty(); }
  // "USER on HOST (PROGRAM, process PID) since dd.mm.yyyy hh:nn:ss", or "another program".
  std::string Describe() const;
  // This process on this host.
  static TLockHolder Self(int64_t since);
  std::string ToText() const;
  static std::optional<TLockHolder> FromText(const std::string& text);
};

// Whether process Pid runs on this host.
bool ProcessRuns(int64_t pid);
// The host name of this machine.
const std::string& ThisHost();

class TFileLock {
public:
  enum class TResult {
    Acquired,   // the lock is ours
    TakenOver,  // ours; a previous holder had ended without releasing it (PreviousHolder)
    Held,       // another program holds it (Holder) and did not release it in time
    Missing,    // there is no such file: nothing to lock
    Failed      // the file cannot be opened (Error)
  };

  TFileLock() = default;
  ~TFileLock() { Release(); }
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  // Locks file Path, waiting up to WaitSeconds for another holder to let go.
  TResult Acquire(const std::string& path, double waitSeconds);
  // Drops the lock (and its holder note).
  void Release();
  bool Held() const { return FFd >= 0; }
  const std::string& Path() const { return FPath; }
  const TLockHolder& Holder() const { return FHolder; }
  const TLockHolder& PreviousHolder() const { return FPrevious; }
  const std::string& Error() const { return FError; }

  // Makes the already locked descriptor Fd of the file that has just been renamed to Path the
  // lock, releasing the one of the file it replaced.
  void Adopt(int fd, const std::string& path);
  // Locks Fd of a new file that is about to replace the locked one and writes the holder note
  // into it; false when it cannot be locked.
  bool PrepareSuccessor(int fd);

private:
  int FFd = -1;
  std::string FPath;
  int64_t FSince = 0;
  TLockHolder FHolder;
  TLockHolder FPrevious;
  std::string FError;
};

// The file as this program read or last wrote it.
struct TFileIdentity {
  enum class TState { Unknown, Absent, Present };
  TState State = TState::Unknown;
  dev_t Dev = 0;
  ino_t Ino = 0;
  off_t Size = 0;
  timespec MTime{};
  // The time stamp cannot tell a later change of the same size (a file system that keeps whole
  // seconds, and the file was written within the last seconds): the content hash decides.
  bool Unsure = false;
  uint64_t Hash = 0;

  // From a stat of the file; Bytes is its content, hashed only when the time stamp is unsure.
  static TFileIdentity FromStat(const struct stat& st, const std::string& bytes);
  // Nothing known: any file may be written.
  static TFileIdentity Unknown() { return {}; }
  static TFileIdentity AbsentFile() {
    TFileIdentity id;
    id.State = TState::Absent;
    return id;
  }
};

// "" when the file at Path is still the one Known describes, otherwise why not ("another
// program replaced it", ...). A file that is gone counts as unchanged: writing it loses nothing.
std::string FileChangeReason(const TFileIdentity& known, const std::string& path);

// Name of a temporary file for writing Path, carrying this host and process:
// ".NAME.HOST.PID.RANDOM.tmp" beside it.
std::string TempFileNameFor(const std::string& path, unsigned random);
// Removes the temporary files of Path left by processes of this host that no longer run.
// Returns how many were removed.
int RemoveStaleTempFiles(const std::string& path);
