#include "recstore/JrecClasses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <fmt/format.h>

#include "recstore/Backups.h"
#include "recstore/JsonText.h"
#include "recstore/mongoID.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// References and exceptions

TJson TrefIDToJson(const TrefID& ref) {
  TJson o = TJson::object();
  o["_ID"] = ref._ID;
  o["_CL"] = ref.Collection;
  return o;
}

TrefID JsonToTrefID(const TJson* obj) {
  TrefID r;
  if (!obj || !obj->is_object()) return r;
  r._ID = JsonStr(*obj, "_ID");
  r.Collection = JsonStr(*obj, "_CL");
  return r;
}

namespace {
std::string EDbFMessage(TDbCollectionItem* coll, const std::string& id) {
  if (!coll) return id;
  return "Records \"" + id + "\" is not found in collection \"" + coll->Name() + "\"";
}
}  // namespace

EDbFException::EDbFException(TDbCollectionItem* coll, const std::string& id)
    : std::runtime_error(EDbFMessage(coll, id)), Coll(coll), ID(coll ? id : std::string()) {}

// ---------------------------------------------------------------------------------------------
// Atomic file writing

namespace {

std::string ErrnoText(int err) {
  switch (err) {
    case ENOSPC: return "the disk is full";
    case EDQUOT: return "the disk quota is exhausted";
    case EACCES:
    case EPERM: return "permission denied";
    case EROFS: return "the file system is read-only";
    case ENOENT: return "the folder does not exist";
    default: return std::strerror(err);
  }
}

[[noreturn]] void ThrowWriteError(const std::string& path, int err) {
  throw EDbWriteError(fmt::format("Can't write file {}: {}", path, ErrnoText(err)), ErrnoText(err));
}

}  // namespace

namespace {

// Writes and renames; with Lock, the new file is locked before the rename and kept open as the
// lock, and Written describes it.
void WriteAtomically(const std::string& path, const std::string& bytes, TFileLock* lock,
                     TFileIdentity* written) {
  if (path.empty()) throw EDbWriteError("Can't write file: no file name");
  fs::path target(path);
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  std::random_device rd;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 20 && fd < 0; ++attempt) {
    tmp = TempFileNameFor(path, rd());
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) ThrowWriteError(path, errno);
  }
  if (fd < 0) ThrowWriteError(path, EEXIST);
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    ThrowWriteError(path, err);
  };
  // Keep the permissions of the file being replaced.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  // The new file is locked and its holder noted before the flush, which then writes both.
  if (lock && !lock->PrepareSuccessor(fd)) fail(errno);
  if (::fsync(fd) != 0) fail(errno);
  if (lock) {
    struct stat ws;
    if (::fstat(fd, &ws) != 0) fail(errno);
    *written = TFileIdentity::FromStat(ws, bytes);
  } else if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    ThrowWriteError(path, err);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    if (lock) ::close(fd);
    ::unlink(tmp.c_str());
    ThrowWriteError(path, err);
  }
  if (lock) lock->Adopt(fd, path);
  // Make the rename itself durable.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  WriteAtomically(path, bytes, nullptr, nullptr);
}

void WriteFileAtomically(const std::string& path, const std::string& bytes, TFileLock& lock,
                         TFileIdentity& written) {
  WriteAtomically(path, bytes, &lock, &written);
}

namespace {

bool ReadWholeFile(const std::string& path, std::string& out, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = fmt::format("Can't read file {}: {}", path, ErrnoText(errno));
    return false;
  }
  std::ostringstream ss;
  ss << f.rdbuf();
  if (f.bad()) {
    error = fmt::format("Can't read file {}", path);
    return false;
  }
  out = std::move(ss).str();
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// File storage: the whole database is one JSON document in memory, rewritten on every change.

class TFileStorage : public TDbStorage {
public:
  explicit TFileStorage(TDbFile& db) : FDb(db) {}
  bool IsMongoDb() const override { return false; }
  bool Load() override;
  std::optional<TJson> GetRecord(TDbCollectionItem& coll, const std::string& aID, int64_t* cntr,
                                 bool UseCntr) override;
  bool ChangeRecord(TDbCollectionItem& coll, const std::string& aID, const TJson* aRecord,
                    TChangeRecordTtp chtyp, bool UseCntr, int64_t cntr) override;
  bool RecordCounter(TDbCollectionItem& coll, const std::string& aID, int64_t& cntr) override;

private:
  // What a change replaced, so that a change the disk did not take can be taken back.
  struct TUndo {
    bool CreatedMember = false;
    bool Had = false;  // the record was there
    TJson Old;
    size_t Pos = 0;  // where it sat among the collection's records
    bool HadCntr = false;
    int64_t Cntr = 0;
  };
  TUndo Remember(TJson& member, bool createdMember, const std::string& coll,
                 const std::string& aID);
  // Saves; when the save fails, memory is put back as it was before the change, so the file
  // and the memory still agree and the record's counter still matches the editor's.
  bool SaveOrUndo(const std::string& coll, const std::string& aID, const TUndo& undo);
  bool SaveAfterChange();
  TDbFile& FDb;
};

bool TFileStorage::Load() {
  const std::string fileName = FDb.FFileName;
  IOperator& op = FDb.Operator();
  FDb.FLockedBy.reset();
  FDb.FDiskIdentity = TFileIdentity::Unknown();
  if (fileName.empty()) return false;
  if (FDb.FGuardFile && !FDb.FReadOnly) {
    // One writer per file: the lock is held from here until the database is closed. A
    // connection that only reads takes no lock, so it never makes a console that opens the
    // file at the same moment write-protected.
    if (FDb.FLock.Held() && FDb.FLock.Path() != fileName) FDb.FLock.Release();
    switch (FDb.FLock.Acquire(fileName, FDb.FLockWait)) {
      case TFileLock::TResult::Held: {
        const TLockHolder& holder = FDb.FLock.Holder();
        FDb.FLockedBy = holder;
        // Another database object of this very process is no news to the operator.
        if (FDb.FReportHeldLock && !(holder.Pid == ::getpid() && holder.Host == ThisHost()))
          op.MessageBox("Warning",
                        fmt::format("The database {} is in use by {}. It is opened "
                                    "write-protected: no change is saved to it.",
                                    fileName, holder.Describe()),
                        TMsgIcon::Warning);
        break;
      }
      case TFileLock::TResult::TakenOver:
        op.MessageBox("Warning",
                      fmt::format("The database {} was held by {}, which no longer runs. Its "
                                  "lock was taken over.",
                                  fileName, FDb.FLock.PreviousHolder().Describe()),
                      TMsgIcon::Warning);
        break;
      default: break;
    }
  }
  std::error_code ec;
  if (!fs::exists(fileName, ec)) {
    FDb.FDiskIdentity = TFileIdentity::AbsentFile();
    return false;  // the first change creates it
  }
  try {
    std::string bytes, error;
    struct stat before;
    bool statted = ::stat(fileName.c_str(), &before) == 0;
    if (!ReadWholeFile(fileName, bytes, error)) throw std::runtime_error(error);
    if (statted) FDb.FDiskIdentity = TFileIdentity::FromStat(before, bytes);
    size_t badByte = std::string::npos;
    TJson doc = ParseProjectBytes(bytes, MaxDatabaseFileDepth, &badByte);
    if (!doc.is_object()) throw std::runtime_error("the file does not hold a JSON object");
    FDb.FJSON = std::move(doc);
    FDb.ResetRecordIndex();
    FDb.FTextCache.Reset();
    FDb.FCNTR.clear();
    if (badByte != std::string::npos) {
      // Written back, the replaced byte would be lost for good: the file is only shown.
      FDb.FDisableSaveDB = true;
      FDb.FLastError = fmt::format("a byte that is not UTF-8 at offset {} among UTF-8 text",
                                   badByte);
      op.MessageBox("Warning",
                    fmt::format("The database {} holds a byte that is not UTF-8 at offset {} "
                                "among UTF-8 text. It is opened write-protected: no change is "
                                "saved to it. Correct the byte and open the file again.",
                                fileName, badByte),
                    TMsgIcon::Warning);
    }
    const std::string fileVersion = FDb.LoadedDBVersion();
    FDb.FFileDBVersion = fileVersion;
    int cmp = CompareVersions(FDb.DBVersion(), fileVersion);
    if (cmp == 0) return true;
    if (cmp < 0) {
      op.MessageBox("Error",
                    fmt::format("The database {} version {} is newer than the version {} "
                                "supported by the program",
                                fileName, fileVersion, FDb.DBVersion()),
                    TMsgIcon::Error);
      FDb.FDisableSaveDB = true;
      FDb.FLastError = "the file is newer than the program";
      return false;
    }
    bool success = false;
    // Every way the conversion can fail is told to the operator: which step, and why.
    const std::string unable =
        fmt::format("Unable to convert a database {} from version {} to version {}", fileName,
                    fileVersion, FDb.DBVersion());
    auto refuse = [&](const std::string& why) {
      op.MessageBox("Error", unable + "\n" + why, TMsgIcon::Error);
      FDb.FDisableSaveDB = true;
      FDb.FLastError = why;
      return false;
    };
    std::string backup;
    if (FDb.onDataBaseUpdate && FDb.FReadOnly) {
      // A reading connection converts in memory only: the file stays as it is, so no backup.
      try {
        FDb.onDataBaseUpdate(FDb, success);
      } catch (const std::exception& e) {
        success = false;
        FDb.FLastError = e.what();
      }
      if (success) return true;
    } else if (FDb.onDataBaseUpdate) {
      // The backup is a byte copy of the file as it was, so nothing of the original (its
      // encoding, its number spellings) is lost should the conversion go wrong.
      backup = fileName + ".v" + fileVersion + ".bak";
      try {
        WriteFileAtomically(backup, bytes);
      } catch (const std::exception& e) {
        return refuse(std::string("The backup could not be written, so nothing was converted. ") +
                      e.what());
      }
      op.MessageBox("Error",
                    fmt::format("Will update the database {}. The old database is stored in a "
                                "file {}",
                                fileName, backup),
                    TMsgIcon::Error);
      try {
        FDb.onDataBaseUpdate(FDb, success);
      } catch (const std::exception& e) {
        success = false;
        FDb.FLastError = e.what();
      } catch (...) {
        success = false;
      }
    }
    if (success && badByte != std::string::npos) return true;  // converted in memory only
    if (success) {
      FDb.FDisableSaveDB = false;
      try {
        FDb.Save();
      } catch (const std::exception& e) {
        return refuse(fmt::format("The converted database could not be saved. {}. The file is "
                                  "unchanged; the old database is also stored in a file {}",
                                  e.what(), backup));
      }
      return true;
    }
    return refuse(FDb.FLastError.empty() ? std::string("The conversion failed.")
                                         : FDb.FLastError);
  } catch (const std::exception& e) {
    // The file is there but could not be read: never write over it, so it can be recovered.
    FDb.FDisableSaveDB = true;
    FDb.FLastError = e.what();
    return false;
  }
}

std::optional<TJson> TFileStorage::GetRecord(TDbCollectionItem& coll, const std::string& aID,
                                             int64_t* cntr, bool UseCntr) {
  auto member = FDb.FJSON.find(coll.Name());
  if (member == FDb.FJSON.end() || !member->is_object()) return std::nullopt;
  TJson* rec = FDb.FindInMember(*member, coll.Name(), aID);
  if (!rec) return std::nullopt;
  if (UseCntr && cntr) *cntr = FDb.FCNTR[coll.Name() + aID];
  return *rec;
}

bool TFileStorage::RecordCounter(TDbCollectionItem& coll, const std::string& aID,
                                 int64_t& cntr) {
  cntr = 0;
  auto member = FDb.FJSON.find(coll.Name());
  if (member == FDb.FJSON.end() || !member->is_object()) return false;
  if (!FDb.FindInMember(*member, coll.Name(), aID)) return false;
  auto c = FDb.FCNTR.find(coll.Name() + aID);
  if (c != FDb.FCNTR.end()) cntr = c->second;
  return true;
}

bool TFileStorage::ChangeRecord(TDbCollectionItem& coll, const std::string& aID,
                                const TJson* aRecord, TChangeRecordTtp chtyp, bool UseCntr,
                                int64_t cntr) {
  TJson& doc = FDb.FJSON;
  if (!doc.is_object()) {
    doc = TJson::object();
    FDb.ResetRecordIndex();
    FDb.FTextCache.Reset();
  }
  FDb.FTextCache.Invalidate(coll.Name(), aID);
  auto memberIt = doc.find(coll.Name());
  bool createdMember = false;
  if (memberIt == doc.end()) {
    if (chtyp == DelRec && !UseCntr) {
      // Nothing to delete; still a successful change that rewrites the file as usual.
      return SaveAfterChange();
    }
    doc[coll.Name()] = TJson::object();
    memberIt = doc.find(coll.Name());
    createdMember = true;
  }
  TJson& member = *memberIt;
  if (!member.is_object()) {
    FDb.FLastError = "collection " + coll.Name() + " is not an object in the file";
    return false;
  }
  if (chtyp != DelRec && !aRecord) return false;
  const std::string key = coll.Name() + aID;
  if (!UseCntr) {
    const TUndo undo = Remember(member, createdMember, coll.Name(), aID);
    if (chtyp == DelRec)
      member.erase(aID);
    else
      FDb.PutInMember(member, coll.Name(), aID, *aRecord);
    return SaveOrUndo(coll.Name(), aID, undo);
  }
  auto cIt = FDb.FCNTR.find(key);
  int64_t stored = cIt == FDb.FCNTR.end() ? 0 : cIt->second;
  if (chtyp != NewRec && stored != cntr) {
    if (createdMember) doc.erase(coll.Name());
    return false;
  }
  const TUndo undo = Remember(member, createdMember, coll.Name(), aID);
  switch (chtyp) {
    case NewRec:
    case UpdateRec:
    case NewOrUpdateRec:
      FDb.PutInMember(member, coll.Name(), aID, *aRecord);
      FDb.FCNTR[key] = cntr + 1;
      return SaveOrUndo(coll.Name(), aID, undo);
    case DelRec:
      member.erase(aID);
      FDb.FCNTR.erase(key);
      return SaveOrUndo(coll.Name(), aID, undo);
  }
  return false;
}

TFileStorage::TUndo TFileStorage::Remember(TJson& member, bool createdMember,
                                           const std::string& coll, const std::string& aID) {
  TUndo u;
  u.CreatedMember = createdMember;
  if (TJson* rec = FDb.FindInMember(member, coll, aID)) {
    u.Had = true;
    u.Old = *rec;
    const auto& obj = member.get_ref<const TJson::object_t&>();
    u.Pos = 0;
    for (const auto& kv : obj) {
      if (&kv.second == rec) break;
      ++u.Pos;
    }
  }
  auto c = FDb.FCNTR.find(coll + aID);
  if (c != FDb.FCNTR.end()) {
    u.HadCntr = true;
    u.Cntr = c->second;
  }
  return u;
}

bool TFileStorage::SaveOrUndo(const std::string& coll, const std::string& aID,
                              const TUndo& undo) {
  if (SaveAfterChange()) return true;
  // A database without a file lives in memory only: there the change is all there is.
  if (FDb.FFileName.empty()) return false;
  TJson& doc = FDb.FJSON;
  const std::string key = coll + aID;
  if (undo.HadCntr)
    FDb.FCNTR[key] = undo.Cntr;
  else
    FDb.FCNTR.erase(key);
  if (undo.CreatedMember) {
    doc.erase(coll);
  } else if (auto m = doc.find(coll); m != doc.end() && m->is_object()) {
    if (!undo.Had) {
      m->erase(aID);
    } else if (TJson* cur = FDb.FindInMember(*m, coll, aID)) {
      *cur = undo.Old;
    } else {
      // It was deleted: back in its place.
      auto& obj = m->get_ref<TJson::object_t&>();
      TJson rebuilt = TJson::object();
      auto& out = rebuilt.get_ref<TJson::object_t&>();
      out.reserve(obj.size() + 1);
      size_t i = 0;
      for (auto& kv : obj) {
        if (i++ == undo.Pos) out.push_back({aID, undo.Old});
        out.push_back({kv.first, std::move(kv.second)});
      }
      if (undo.Pos >= obj.size()) out.push_back({aID, undo.Old});
      *m = std::move(rebuilt);
    }
  }
  FDb.FRecordIndex.erase(coll);
  FDb.FTextCache.Invalidate(coll, aID);
  return false;
}

bool TFileStorage::SaveAfterChange() {
  try {
    FDb.Save();
    return true;
  } catch (const EDbFileChanged& e) {
    // No later save can succeed until the file is read again (the caller takes the change back).
    FDb.FLastError = e.what();
    if (FDb.onFileChangedOnDisk)
      FDb.onFileChangedOnDisk(FDb, e.what());
    else
      FDb.Operator().MessageBox("IO Error", e.what(), TMsgIcon::Error);
    return false;
  } catch (const std::exception& e) {
    // Nothing reached the disk; the caller takes the change back out of memory.
    FDb.FLastError = e.what();
    FDb.Operator().MessageBox("IO Error", e.what(), TMsgIcon::Error);
    return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Versions

int CompareVersions(const std::string& a, const std::string& b) {
  std::string ra = a + ".", rb = b + ".";
  auto take = [](std::string& s) -> long long {
    size_t dot = s.find('.');
    std::string part = s.substr(0, dot);
    s.erase(0, dot == std::string::npos ? s.size() : dot + 1);
    size_t i = 0;
    if (!part.empty() && (part[0] == '-' || part[0] == '+')) i = 1;
    if (i >= part.size() || part.size() - i > 18)
      throw std::invalid_argument("invalid version part '" + part + "'");
    for (size_t k = i; k < part.size(); ++k)
      if (part[k] < '0' || part[k] > '9')
        throw std::invalid_argument("invalid version part '" + part + "'");
    return std::stoll(part);
  };
  for (int i = 0; i < 4; ++i) {
    long long pa = take(ra), pb = take(rb);
    if (pa < pb) return -1;
    if (pa > pb) return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// TDbFile

TDbFile::TDbFile(IOperator* op)
    : FDbCollections(*this), FFileStorage(std::make_unique<TFileStorage>(*this)), FOperator(op) {}

TDbFile::~TDbFile() = default;

TJson& TDbFile::MutableJSON() {
  FTextCache.ExposeAll();
  FIndexAllExposed = true;
  return FJSON;
}

void TDbFile::ResetRecordIndex() {
  FRecordIndex.clear();
  FIndexAllExposed = false;
}

TJson* TDbFile::FindInMember(TJson& member, const std::string& coll, const std::string& id) {
  // The records of a collection are a vector of (key, value) pairs in file order.
  auto& obj = member.get_ref<TJson::object_t&>();
  TMemberIndex& ix = FRecordIndex[coll];
  auto rebuild = [&] {
    ix.Pos.clear();
    ix.Pos.reserve(obj.size());
    size_t i = 0;
    for (const auto& kv : obj) ix.Pos.emplace(kv.first, i++);
    ix.Size = obj.size();
    ix.Base = obj.empty() ? nullptr : static_cast<const void*>(&*obj.begin());
  };
  const void* base = obj.empty() ? nullptr : static_cast<const void*>(&*obj.begin());
  if (ix.Size != obj.size() || ix.Base != base) rebuild();
  auto hit = ix.Pos.find(id);
  if (hit != ix.Pos.end() && hit->second < obj.size()) {
    auto e = obj.begin() + static_cast<std::ptrdiff_t>(hit->second);
    if (e->first == id) return &e->second;
  }
  if (hit != ix.Pos.end() || ix.Exposed || FIndexAllExposed) {
    // The index is stale (the document was changed around it): look the record up directly.
    auto f = obj.find(id);
    if (f == obj.end()) return nullptr;
    rebuild();
    return &f->second;
  }
  return nullptr;
}

void TDbFile::PutInMember(TJson& member, const std::string& coll, const std::string& id,
                          const TJson& record) {
  if (TJson* existing = FindInMember(member, coll, id)) {
    *existing = record;
    return;
  }
  auto& obj = member.get_ref<TJson::object_t&>();
  obj.push_back({id, record});  // known to be new: no search for an equal key
  TMemberIndex& ix = FRecordIndex[coll];
  ix.Pos[id] = obj.size() - 1;
  ix.Size = obj.size();
  ix.Base = &*obj.begin();
}

IOperator& TDbFile::Operator() const { return FOperator ? *FOperator : AppOperator(); }

void TDbFile::SetUseMongoDb(bool v) {
  if (v && !FUseMongoDb) {
    FLock.Release();
    FLockedBy.reset();
    FDiskIdentity = TFileIdentity::Unknown();
  }
  FUseMongoDb = v;
}

TDbStorage& TDbFile::Storage() {
  if (!FUseMongoDb) return *FFileStorage;
  if (!FMongoStorage) FMongoStorage = CreateMongoStorage(*this);
  return *FMongoStorage;
}

void TDbFile::SetFileName(const std::string& v) {
  if (v != FFileName) {
    // Another file: the one held so far is closed.
    FLock.Release();
    FLockedBy.reset();
    FDiskIdentity = TFileIdentity::Unknown();
  }
  FFileName = v;
  FDisableSaveDB = false;
}

std::string TDbFile::DBVersion() const { return FDBVersion.empty() ? "0.0.0.0" : FDBVersion; }

std::string TDbFile::LoadedDBVersion() const {
  auto it = FJSON.is_object() ? FJSON.find("DBVersion") : FJSON.end();
  if (it == FJSON.end() || !it->is_string() || it->get_ref<const std::string&>().empty())
    return "0.0.0.0";
  return it->get<std::string>();
}

void TDbFile::SetLoadedDBVersion(const std::string& v) {
  if (!FJSON.is_object()) {
    FJSON = TJson::object();
    FTextCache.Reset();
  }
  FJSON["DBVersion"] = v;
}

void TDbFile::Loaded() {
  if (FAutoLoad) Load();
}

bool TDbFile::Load() {
  bool success = false;
  FLastError.clear();
  FFileDBVersion.clear();
  if (FUseMongoDb) {
    FLock.Release();
    FLockedBy.reset();
  }
  try {
    success = Storage().Load();
  } catch (const std::exception& e) {
    FLastError = e.what();
    success = false;
  }
  if (!success && !FUseMongoDb) {
    bool keepBlock = FDisableSaveDB;
    New();
    FDisableSaveDB = keepBlock;
  }
  FOpened = success;
  return success;
}

void TDbFile::Save() {
  if (FUseMongoDb || FReadOnly) return;
  if (FDisableSaveDB) {
    Operator().MessageBox(
        "Error",
        fmt::format("Can't save the database to file {}. Use the menu: \"Save as\".", FFileName),
        TMsgIcon::Error);
    return;
  }
  if (!FGuardFile) {
    WriteProjectText(FTextBuffer, FJSON, &FTextCache);
    WriteFileAtomically(FFileName, FTextBuffer);
    return;
  }
  auto inUse = [this](const TLockHolder& holder) {
    return EDbWriteError(fmt::format("Can't save the database to file {}: it is in use by {}.",
                                     FFileName, holder.Describe()));
  };
  if (FLockedBy) throw inUse(*FLockedBy);
  if (!FLock.Held() || FLock.Path() != FFileName) {
    // A new file name, or a file that appeared since the load: take its lock first. A file
    // that is not there yet is locked as it is written.
    if (FLock.Acquire(FFileName, FLockWait) == TFileLock::TResult::Held) throw inUse(FLock.Holder());
  }
  std::string why = FileChangeReason(FDiskIdentity, FFileName);
  if (!why.empty())
    throw EDbFileChanged(fmt::format(
        "The database file {} was not saved: {} after this program read it. Open the file "
        "again and repeat the change.",
        FFileName, why));
  RemoveStaleTempFiles(FFileName);
  KeepDailyBackupBeforeSave();
  WriteProjectText(FTextBuffer, FJSON, &FTextCache);
  TFileIdentity written;
  WriteFileAtomically(FFileName, FTextBuffer, FLock, written);
  FDiskIdentity = written;
}

void TDbFile::ChangeAtomically(const std::function<void()>& stage) {
  if (FReadOnly) throw EDbWriteError("the database is open for reading only");
  if (FUseMongoDb) throw EDbWriteError("a MongoDB database is changed record by record");
  if (SaveDisabled())
    throw EDbWriteError(fmt::format("the database {} is write-protected", FFileName));
  // What each staged record was, so that a failed write takes the change back.
  std::vector<TStagedUndo> undo;
  FStaging = &undo;
  try {
    stage();
    FStaging = nullptr;
    Save();
  } catch (...) {
    FStaging = nullptr;
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
      if (it->Old)
        it->Coll->SetRecordNo1(it->ID, *it->Old);
      else
        it->Coll->DelRecordNo1(it->ID);
      const std::string key = it->Coll->Name() + it->ID;
      if (it->OldCntr)
        FCNTR[key] = *it->OldCntr;
      else
        FCNTR.erase(key);
    }
    throw;
  }
}

int TDbFile::HistoryKeep() {
  if (!BackupDays) return 0;
  const std::string day = LocalDayStamp(HistoryNow());
  if (day != FHistoryDay) {
    try {
      FHistoryKeep = BackupDays(*this);
    } catch (const std::exception&) {
      FHistoryKeep = 0;  // the setting cannot be read now: asked again tomorrow
    }
    FHistoryDay = day;
  }
  return FHistoryKeep;
}

bool TDbFile::JournalOn() { return FOpened && !FReadOnly && HistoryKeep() > 0; }

void TDbFile::HistoryWarning(const std::string& what) {
  if (FHistoryWarned) return;
  FHistoryWarned = true;  // told once: the operator's work goes on all the same
  Operator().MessageBox("Warning", what + "\nThe change itself is saved.", TMsgIcon::Warning);
}

void TDbFile::KeepDailyBackupBeforeSave() {
  if (FUseMongoDb || FFileName.empty()) return;
  int keep = HistoryKeep();
  if (keep <= 0) return;
  TBackupResult r = KeepDailyBackup(FFileName, keep, HistoryNow());
  if (!r.Error.empty())
    HistoryWarning(fmt::format("The daily backup of {} was not made: {}", FFileName, r.Error));
}

void TDbFile::JournalChanges(const std::vector<TJson>& lines) {
  if (lines.empty()) return;
  if (!FUseMongoDb) {
    std::string err = AppendJournalLines(FFileName, lines);
    if (!err.empty()) HistoryWarning("The change journal was not written: " + err);
    return;
  }
  TDbCollectionItem* journal = FindCollection("Journal");
  if (!journal) journal = &FDbCollections.Add("Journal");
  for (const auto& line : lines) {
    if (!journal->NewRecord(NewObjectID(), line)) {
      HistoryWarning("The change journal was not written: " + FLastError);
      return;
    }
  }
}

void TDbFile::New() {
  if (FUseMongoDb) return;
  FJSON = TJson::object();
  FJSON["DBVersion"] = DBVersion();
  ResetRecordIndex();
  FTextCache.Reset();
  FCNTR.clear();
  FOpened = true;
}

std::optional<TJson> TDbFile::get(const TrefID& RefID) {
  return CollectionByName(RefID.Collection).GetRecord(RefID._ID);
}

TDbCollectionItem* TDbFile::FindCollection(const std::string& name) {
  for (size_t i = 0; i < FDbCollections.Count(); ++i)
    if (FDbCollections[i].Name() == name) return &FDbCollections[i];
  return nullptr;
}

TDbCollectionItem& TDbFile::CollectionByName(const std::string& name) {
  if (auto* c = FindCollection(name)) return *c;
  throw std::runtime_error("Not found collection by name: " + name);
}

void TDbFile::SC(const std::string& RecordsName, const std::string& TreeName,
                 TCollectionData& out, const std::string& TreeID) {
  out.Records = &CollectionByName(RecordsName);
  if (!TreeName.empty()) out.Tree = &CollectionByName(TreeName);
  out.TreeID = TreeID.empty() ? RecordsName : TreeID;
}

// ---------------------------------------------------------------------------------------------
// Collections

TDbCollectionItem::TDbCollectionItem(TDbFile& owner, std::string name)
    : FDbFile(&owner), FName(std::move(name)) {}

void TDbCollectionItem::SetName(const std::string& v) { FName = v; }
void TDbCollectionItem::SetCaption(const std::string& v) { FCaption = v; }

std::string TDbCollectionItem::GetName() const { return FCaption.empty() ? FName : FCaption; }

// Runs a read of the storage; whatever makes it fail is raised as EDbReadError and kept as the
// database's last error.
template <typename TRead>
static auto GuardedRead(std::string& lastError, TRead&& read) -> decltype(read()) {
  try {
    return read();
  } catch (const EDbReadError& e) {
    lastError = e.what();
    throw;
  } catch (const std::exception& e) {
    lastError = e.what();
    throw EDbReadError(e.what());
  }
}

std::optional<TJson> TDbCollectionItem::GetRecord(const std::string& aID) {
  return GuardedRead(FDbFile->FLastError,
                     [&] { return FDbFile->Storage().GetRecord(*this, aID, nullptr, false); });
}

bool TDbCollectionItem::GetRecordCntr(const std::string& aID, int64_t& cntr) {
  cntr = 0;
  return GuardedRead(FDbFile->FLastError,
                     [&] { return FDbFile->Storage().RecordCounter(*this, aID, cntr); });
}

std::optional<TJson> TDbCollectionItem::GetRecord(const std::string& aID, int64_t& cntr,
                                                  bool UseCntr) {
  return GuardedRead(FDbFile->FLastError,
                     [&] { return FDbFile->Storage().GetRecord(*this, aID, &cntr, UseCntr); });
}

bool TDbCollectionItem::ChangeRecord(const std::string& aID, const TJson* aRecord,
                                     TChangeRecordTtp chtyp, bool UseCntr, int64_t cntr) {
  if (FDbFile->FReadOnly) {
    FDbFile->FLastError = "the database is open for reading only";
    return false;
  }
  // A change that fails with this still empty was refused (another counter), not failed.
  FDbFile->FLastError.clear();
  try {
    // What the journal says of the change is read before it (the journal itself is not
    // journalled).
    const bool journal = FName != "Journal" && FDbFile->JournalOn();
    int64_t oldCntr = 0;
    bool existed = false;
    std::string name;
    if (journal && chtyp == NewRec) {
      // A new record: nothing to read.
    } else if (journal && chtyp == UpdateRec && UseCntr) {
      existed = true;  // a counted update succeeds only on the record with this counter
      oldCntr = cntr;
    } else if (journal) {
      try {
        existed = FDbFile->Storage().RecordCounter(*this, aID, oldCntr);
        if (chtyp == DelRec && existed)
          if (auto old = FDbFile->Storage().GetRecord(*this, aID, nullptr, false);
              old && old->is_object())
            name = JsonStr(*old, "Name");
      } catch (const std::exception&) {
      }
    }
    if (aRecord) RequireLoadableRecord(*aRecord);
    bool ok = FDbFile->Storage().ChangeRecord(*this, aID, aRecord, chtyp, UseCntr, cntr);
    if (ok && journal && (chtyp != DelRec || existed)) {
      if (aRecord && aRecord->is_object()) name = JsonStr(*aRecord, "Name");
      int64_t newCntr = 0;
      if (chtyp != DelRec) {
        if (UseCntr)
          newCntr = cntr + 1;
        else if (!FDbFile->FUseMongoDb)
          FDbFile->Storage().RecordCounter(*this, aID, newCntr);
      }
      const char* kind = chtyp == DelRec ? "deleted" : (existed ? "changed" : "new");
      FDbFile->JournalChanges(
          {JournalLine(FDbFile->HistoryNow(), FName, aID, name, oldCntr, newCntr, kind)});
    }
    return ok;
  } catch (const std::exception& e) {
    FDbFile->FLastError = e.what();
    return false;
  } catch (...) {
    return false;
  }
}

bool TDbCollectionItem::NewRecord(const std::string& aID, const TJson& aRecord) {
  return ChangeRecord(aID, &aRecord, NewRec, false, 0);
}

bool TDbCollectionItem::NewRecord(const std::string& aID, const TJson& aRecord, int64_t& cntr) {
  bool ok = ChangeRecord(aID, &aRecord, NewRec, true, cntr);
  if (ok) ++cntr;
  return ok;
}

bool TDbCollectionItem::UpdateRecord(const std::string& aID, const TJson& aRecord) {
  return ChangeRecord(aID, &aRecord, UpdateRec, false, 0);
}

bool TDbCollectionItem::UpdateRecord(const std::string& aID, const TJson& aRecord,
                                     int64_t& cntr) {
  bool ok = ChangeRecord(aID, &aRecord, UpdateRec, true, cntr);
  if (ok) ++cntr;
  return ok;
}

bool TDbCollectionItem::NewOrUpdateRecord(const std::string& aID, const TJson& aRecord) {
  return ChangeRecord(aID, &aRecord, NewOrUpdateRec, false, 0);
}

bool TDbCollectionItem::NewOrUpdateRecord(const std::string& aID, const TJson& aRecord,
                                          int64_t& cntr) {
  if (UpdateRecord(aID, aRecord, cntr)) return true;
  try {
    if (GetRecord(aID)) return false;  // there, with another counter
  } catch (const EDbReadError&) {
    return false;  // not known whether it is there: creating it could make a second one
  }
  cntr = 0;
  return NewRecord(aID, aRecord, cntr);
}

bool TDbCollectionItem::DelRecord(const std::string& aID) {
  return ChangeRecord(aID, nullptr, DelRec, false, 0);
}

bool TDbCollectionItem::DelRecord(const std::string& aID, int64_t cntr) {
  return ChangeRecord(aID, nullptr, DelRec, true, cntr);
}

std::string RecordValueError(const TJson& record, const std::string& key,
                             const std::string& collection, const std::string& id,
                             const std::string& problem) {
  std::string name = record.is_object() ? JsonStr(record, "Name") : std::string();
  return fmt::format("Error in record: {} \"{}\"{}. \"{}\" {}", collection, name,
                     id.empty() ? std::string() : " (" + id + ")", key, problem);
}

namespace {
// What is wrong with a value read where a table belongs ("" when nothing is).
std::string TableProblem(const TJson* t) {
  if (!t || t->is_null() || t->is_array()) return "";
  return std::string("must be a table, not ") + (t->is_number()    ? "a number"
                                                 : t->is_string()  ? "a text"
                                                 : t->is_boolean() ? "true or false"
                                                                   : "an object");
}
const TJson& NoRows() {
  static const TJson none = TJson::array();
  return none;
}
}  // namespace

const TJson& RecordTable(const TJson& record, const std::string& key,
                         const std::string& collection, const std::string& id) {
  const TJson* t = JsonPath(record, key);
  std::string problem = TableProblem(t);
  if (!problem.empty())
    throw EDbFException(nullptr, RecordValueError(record, key, collection, id, problem));
  return t && t->is_array() ? *t : NoRows();
}

const TJson& RecordTable(TSuperReference& supRef, const TJson& record, const std::string& key) {
  const TJson* t = JsonPath(record, key);
  std::string problem = TableProblem(t);
  if (!problem.empty()) {
    if (supRef.Count() == 0) throw EDbFException(nullptr, RecordValueError(record, key, "", "", problem));
    supRef.ShowErrorMsg("\"" + key + "\" " + problem, true);  // raises unless silent
    return NoRows();
  }
  return t && t->is_array() ? *t : NoRows();
}

void RequireLoadableRecord(const TJson& record) {
  if (JsonDeeperThan(record, MaxJsonDepth))
    throw std::runtime_error(fmt::format(
        "the record is nested deeper than {} levels, so the database could not be read back",
        MaxJsonDepth));
}

void TDbCollectionItem::SetRecordNo1(const std::string& aID, const TJson& aRecord) {
  TJson& doc = FDbFile->FJSON;
  if (!doc.is_object()) {
    doc = TJson::object();
    FDbFile->ResetRecordIndex();
    FDbFile->FTextCache.Reset();
  }
  TJson& member = doc[FName];
  if (!member.is_object()) member = TJson::object();
  FDbFile->FTextCache.Invalidate(FName, aID);
  FDbFile->PutInMember(member, FName, aID, aRecord);
}

void TDbCollectionItem::StageRecord(const std::string& aID, const TJson* aRecord) {
  const std::string key = FName + aID;
  if (FDbFile->FStaging) {
    TDbFile::TStagedUndo u{this, aID, std::nullopt, std::nullopt};
    if (TJson* member = FDbFile->FJSON.is_object() && FDbFile->FJSON.contains(FName)
                            ? &FDbFile->FJSON[FName]
                            : nullptr;
        member && member->is_object())
      if (TJson* rec = FDbFile->FindInMember(*member, FName, aID)) u.Old = *rec;
    if (auto c = FDbFile->FCNTR.find(key); c != FDbFile->FCNTR.end()) u.OldCntr = c->second;
    FDbFile->FStaging->push_back(std::move(u));
  }
  if (aRecord) {
    SetRecordNo1(aID, *aRecord);
    ++FDbFile->FCNTR[key];
  } else {
    DelRecordNo1(aID);
    FDbFile->FCNTR.erase(key);
  }
}

void TDbCollectionItem::DelRecordNo1(const std::string& aID) {
  TJson& doc = FDbFile->FJSON;
  if (!doc.is_object()) return;
  auto member = doc.find(FName);
  if (member == doc.end() || !member->is_object()) return;
  FDbFile->FTextCache.Invalidate(FName, aID);
  member->erase(aID);
}

TJson* TDbCollectionItem::AsJson() {
  TJson& doc = FDbFile->FJSON;
  if (!doc.is_object()) return nullptr;
  auto it = doc.find(FName);
  if (it == doc.end()) return nullptr;
  FDbFile->FTextCache.Expose(FName);
  FDbFile->FRecordIndex[FName].Exposed = true;
  return &*it;
}

bool TDbCollectionItem::IsMongoDb() const { return FDbFile->UseMongoDb(); }

void TDbCollectionItem::Query(const TJson& qwery, const TJson* fieldSelector) {
  GuardedRead(FDbFile->FLastError,
              [&] { FDbFile->Storage().Query(*this, qwery, fieldSelector); });
}

bool TDbCollectionItem::Next(TJson& doc) {
  return GuardedRead(FDbFile->FLastError,
                     [&] { return FDbFile->Storage().Next(*this, doc); });
}

std::optional<TJson> TDbCollectionItem::GetRecord(const TJson& qwery, const TJson* fieldSelector,
                                                  int64_t& cntr, bool UseCntr) {
  return GuardedRead(FDbFile->FLastError, [&] {
    return FDbFile->Storage().GetRecordByQuery(*this, qwery, fieldSelector, &cntr, UseCntr);
  });
}

TDbCollectionItem& TDbCollections::Add() {
  FItems.push_back(std::make_unique<TDbCollectionItem>(*FDbFile, "Name"));
  return *FItems.back();
}

TDbCollectionItem& TDbCollections::Add(const std::string& name, const std::string& caption) {
  FItems.push_back(std::make_unique<TDbCollectionItem>(*FDbFile, name));
  if (!caption.empty()) FItems.back()->SetCaption(caption);
  return *FItems.back();
}

// ---------------------------------------------------------------------------------------------
// TSuperReference

TSuperReference::TSuperReference(IOperator* op) : FOperator(op) {}

TSuperReference::~TSuperReference() noexcept(false) {
  if (FCount > 0 && !Silent && std::uncaught_exceptions() == 0) {
    std::string name = FStack[0].Item ? FStack[0].Item->Name() : std::string();
    throw std::runtime_error("Error super reference, stack in not empty: " + name);
  }
}

IOperator& TSuperReference::Op() const { return FOperator ? *FOperator : AppOperator(); }

void TSuperReference::SetCount(int count) {
  if (count < 0) {
    std::string name = !FStack.empty() && FStack[0].Item ? FStack[0].Item->Name() : std::string();
    throw std::runtime_error("Error super reference stack is already empty: " + name);
  }
  FCount = count;
  if (static_cast<int>(FStack.size()) < FCount) FStack.resize(static_cast<size_t>(FCount));
}

const TSuperReference::TSupRefData& TSuperReference::Top() const {
  if (FCount == 0) throw std::runtime_error("Error super reference, Collection not defined");
  return FStack[static_cast<size_t>(FCount - 1)];
}

std::optional<TJson> TSuperReference::Push(TDbCollectionItem& aCol, const std::string& aID,
                                           bool Load) {
  std::optional<TJson> rec;
  if (Load) rec = Get(aCol, aID);
  SetCount(FCount + 1);
  FStack[static_cast<size_t>(FCount - 1)] = {&aCol, aID};
  return rec;
}

std::optional<TJson> TSuperReference::Push(const std::string& aID) {
  std::optional<TJson> rec = Get(aID);
  TDbCollectionItem* col = Top().Item;
  SetCount(FCount + 1);
  FStack[static_cast<size_t>(FCount - 1)] = {col, aID};
  return rec;
}

std::optional<TJson> TSuperReference::Push(TDbCollectionItem& aCol, const TJson& Tbl, int Col,
                                           int Row, const std::string& TableName, bool AskOpen) {
  std::optional<std::string> id = CellID(Tbl, Col, Row, TableName, AskOpen);
  if (!id) {
    // Silent and the cell could not be read: keep push and pop balanced all the same.
    SetCount(FCount + 1);
    FStack[static_cast<size_t>(FCount - 1)] = {&aCol, std::string()};
    return std::nullopt;
  }
  return Push(aCol, *id, true);
}

void TSuperReference::Pop() { SetCount(FCount - 1); }

void TSuperReference::ClrErrors() { SetCount(0); }

std::optional<TJson> TSuperReference::Get(TDbCollectionItem& aCol, const std::string& aID) {
  std::optional<TJson> rec = aCol.GetRecord(aID);
  if (!rec) ShowErrorMsg("Invalid reference.", true);
  return rec;
}

std::optional<TJson> TSuperReference::Get(const std::string& aID) {
  if (FCount == 0) throw std::runtime_error("Error super reference, Collection not defined");
  return Get(*Top().Item, aID);
}

std::optional<std::string> TSuperReference::CellID(const TJson& Tbl, int Col, int Row,
                                                   const std::string& TableName, bool AskOpen) {
  size_t rows = Tbl.is_array() ? Tbl.size() : 0;
  if (Row < 0 || static_cast<size_t>(Row) >= rows) {
    ShowErrorMsg("Reference to a nonexistent row", Row + 1, TableName, AskOpen);
    return std::nullopt;
  }
  const TJson& row = Tbl[static_cast<size_t>(Row)];
  size_t cells = row.is_array() ? row.size() : 0;
  if (Col < 0 || static_cast<size_t>(Col) >= cells) {
    ShowErrorMsg("Reference to a nonexistent column", Row + 1, TableName, AskOpen);
    return std::nullopt;
  }
  std::string id = JsonStr(row[static_cast<size_t>(Col)], "_ID");
  if (id.empty()) {
    ShowErrorMsg("", Row + 1, TableName, AskOpen);
    return std::nullopt;
  }
  return id;
}

std::optional<TJson> TSuperReference::Get(TDbCollectionItem& aCol, const TJson& Tbl, int Col,
                                          int Row, const std::string& TableName, bool AskOpen) {
  std::optional<std::string> id = CellID(Tbl, Col, Row, TableName, AskOpen);
  if (!id) return std::nullopt;
  return Get(aCol, *id);
}

void TSuperReference::ShowErrorMsg(const std::string& aMsg, bool AskOpen) {
  if (Silent) return;
  if (FCount == 0) {
    ClrErrors();
    throw std::runtime_error("Error, invalid record!");
  }
  TSupRefData top = Top();
  std::string name;
  if (top.Item) {
    if (auto rec = top.Item->GetRecord(top.ID); rec && rec->is_object()) name = JsonStr(*rec, "Name");
  }
  std::string text =
      "Error in record: " + (top.Item ? top.Item->Name() : std::string()) + " " + name + ". " + aMsg;
  if (AskOpen) {
    TMsgAnswer a = Op().Ask(text, text + " Open record to fix?", TMsgIcon::Error,
                            TMsgButtons::OkCancel, TMsgAnswer::Cancel);
    if (a == TMsgAnswer::Ok && top.Item) Op().OpenRecord(*top.Item, top.ID);
  } else {
    Op().MessageBox(text, text, TMsgIcon::Error);
  }
  ClrErrors();
  throw EDbFException(nullptr, text);
}

void TSuperReference::ShowErrorMsg(const std::string& aMsg, const std::string& Col, int Row,
                                   const std::string& aTable, bool AskOpen) {
  std::string text = aTable.empty()
                         ? fmt::format("Column \"{}\", row \"{}\". {}", Col, Row, aMsg)
                         : fmt::format("Table \"{}\", column \"{}\", row \"{}\". {}", aTable, Col,
                                       Row, aMsg);
  ShowErrorMsg(text, AskOpen);
}

void TSuperReference::ShowErrorMsg(const std::string& aMsg, int Row, const std::string& aTable,
                                   bool AskOpen) {
  std::string text = aTable.empty()
                         ? fmt::format("Row \"{}\". {}", Row, aMsg)
                         : fmt::format("Table \"{}\", row \"{}\". {}", aTable, Row, aMsg);
  ShowErrorMsg(text, AskOpen);
}

void TSuperReference::ForceException(const std::string& aMsg) {
  ClrErrors();
  throw EDbFException(nullptr, aMsg);
}
