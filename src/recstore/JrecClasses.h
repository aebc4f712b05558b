#pragma once
// The record databases: a database (TDbFile) of named collections (TDbCollectionItem), each a
// set of JSON records kept under identifiers, with change counters for optimistic concurrency.
// A database lives either in a project file, held whole in memory and rewritten on every change,
// or in a MongoDB database where every operation goes to the server. The storage behind a
// database is a TDbStorage; TDbFile itself holds what both modes share.
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "recstore/FileLock.h"
#include "recstore/Json.h"
#include "recstore/JsonText.h"
#include "base/Operator.h"

class TDbFile;
class TDbCollectionItem;

// Kinds of change of one record.
enum TChangeRecordTtp { NewRec = 0, UpdateRec = 1, NewOrUpdateRec = 2, DelRec = 3 };

// A reference to a record of some collection; stored as {"_ID": ..., "_CL": ...}.
struct TrefID {
  std::string _ID;
  std::string Collection;
};
TJson TrefIDToJson(const TrefID& ref);
// Absent object (nullptr) or a non-object gives a reference with both fields empty.
TrefID JsonToTrefID(const TJson* obj);

// A broken reference or a record that is not there. With a collection the message names the
// record and the collection; without one the identifier text is the message itself.
class EDbFException : public std::runtime_error {
public:
  EDbFException(TDbCollectionItem* coll, const std::string& id);
  TDbCollectionItem* Coll;
  std::string ID;
};

// A write of a database file that did not reach the disk (full disk, no permission, ...).
// Reason is the cause alone ("the disk is full"), for messages that name the file themselves.
class EDbWriteError : public std::runtime_error {
public:
  explicit EDbWriteError(const std::string& msg) : std::runtime_error(msg), Reason(msg) {}
  EDbWriteError(const std::string& msg, std::string reason)
      : std::runtime_error(msg), Reason(std::move(reason)) {}
  std::string Reason;
};
// The cause of a failed write for a message that names the file itself.
inline std::string WriteFailureReason(const std::exception& e) {
  if (auto* w = dynamic_cast<const EDbWriteError*>(&e)) return w->Reason;
  return e.what();
}

// A save refused because the file on disk is no longer the one this program read or wrote
// (another program replaced or changed it); the file is left as it is.
class EDbFileChanged : public EDbWriteError {
public:
  using EDbWriteError::EDbWriteError;
};

// A read the storage could not do: no server, a time-out, an error reply, a stored document
// that cannot be read, or two documents under one identifier. It never means "the record is not
// there"; a caller that meant to create a missing record must not do so after it.
class EDbReadError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Where the records of a database are kept. The file storage works on the database's in-memory
// document; the MongoDB storage talks to the server.
class TDbStorage {
public:
  virtual ~TDbStorage() = default;
  virtual bool IsMongoDb() const = 0;
  // Opens the database; returns the success flag (messages go through the operator).
  virtual bool Load() = 0;
  // Reads give no record only when it is not there; a read that fails raises EDbReadError.
  virtual std::optional<TJson> GetRecord(TDbCollectionItem& coll, const std::string& aID,
                                         int64_t* cntr, bool UseCntr) = 0;
  virtual bool ChangeRecord(TDbCollectionItem& coll, const std::string& aID, const TJson* aRecord,
                            TChangeRecordTtp chtyp, bool UseCntr, int64_t cntr) = 0;
  // Whether the record is there, and its change counter, without a copy of the record where
  // the storage can tell so.
  virtual bool RecordCounter(TDbCollectionItem& coll, const std::string& aID, int64_t& cntr) {
    return GetRecord(coll, aID, &cntr, true).has_value();
  }
  // Query access; the file storage has none.
  virtual void Query(TDbCollectionItem& coll, const TJson& qwery, const TJson* fieldSelector) {}
  virtual bool Next(TDbCollectionItem& coll, TJson& doc) { return false; }
  virtual std::optional<TJson> GetRecordByQuery(TDbCollectionItem& coll, const TJson& qwery,
                                                const TJson* fieldSelector, int64_t* cntr,
                                                bool UseCntr) {
    return std::nullopt;
  }
};

// Raises std::runtime_error when a record is nested too deeply for a database file holding it
// to be read again. Every change checks it; a caller of SetRecordNo1 checks it first.
void RequireLoadableRecord(const TJson& record);

class TSuperReference;
// Member Key of a record read as a table (its rows in an array): an empty table when the
// member is absent or null. Any other value raises EDbFException naming the collection, the
// record and the key, so that no reader takes a wrong type for an empty table. The overload
// with a tracker reports it against the tracker's innermost record, which must be the record
// read (an empty table when the tracker is silent).
const TJson& RecordTable(const TJson& record, const std::string& key,
                         const std::string& collection, const std::string& id);
const TJson& RecordTable(TSuperReference& supRef, const TJson& record, const std::string& key);
// The message for member Key of a record that holds a value it cannot use: 'Error in record:
// Films "Name" (id). "Key" Problem'.
std::string RecordValueError(const TJson& record, const std::string& key,
                             const std::string& collection, const std::string& id,
                             const std::string& problem);

// Made by the MongoDB room.
std::unique_ptr<TDbStorage> CreateMongoStorage(TDbFile& db);

class TDbCollectionItem {
public:
  TDbCollectionItem(TDbFile& owner, std::string name);

  TDbFile& DbFile() const { return *FDbFile; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& v);
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& v);
  // Whether the records are kept in a folder tree: the tree document of the same name in the
  // collection "Tree". Set by the collection table of the database.
  bool HasTree() const { return FHasTree; }
  void SetHasTree(bool v) { FHasTree = v; }

  // Title: the caption, else the name.
  std::string GetName() const;

  // Reads: nothing when the record is not there; EDbReadError (its text also in the database's
  // LastError) when the read failed, so that a failure is never taken for a missing record.
  std::optional<TJson> GetRecord(const std::string& aID);
  std::optional<TJson> GetRecord(const std::string& aID, int64_t& cntr, bool UseCntr);
  // The change counter of a record without reading the record; false (and 0) when it is not
  // there; EDbReadError when the read failed.
  bool GetRecordCntr(const std::string& aID, int64_t& cntr);
  bool NewRecord(const std::string& aID, const TJson& aRecord);
  bool NewRecord(const std::string& aID, const TJson& aRecord, int64_t& cntr);
  bool UpdateRecord(const std::string& aID, const TJson& aRecord);
  bool UpdateRecord(const std::string& aID, const TJson& aRecord, int64_t& cntr);
  bool NewOrUpdateRecord(const std::string& aID, const TJson& aRecord);
  // With a counter: updates the record when Cntr is still its counter, creates it when it is not
  // there. False, with nothing created, when it is there with another counter or when the read
  // that tells so failed (LastError says why).
  bool NewOrUpdateRecord(const std::string& aID, const TJson& aRecord, int64_t& cntr);
  bool DelRecord(const std::string& aID);
  bool DelRecord(const std::string& aID, int64_t cntr);
  // False when the change was refused or failed. A failure leaves its reason in the database's
  // LastError (empty after a refusal because of another counter); a file write that failed
  // leaves the file and the memory as they were.
  bool ChangeRecord(const std::string& aID, const TJson* aRecord, TChangeRecordTtp chtyp,
                    bool UseCntr, int64_t cntr);
  // Puts a record into the in-memory document without saving and without touching counters;
  // the next saving change writes it (file mode).
  void SetRecordNo1(const std::string& aID, const TJson& aRecord);
  // File mode: puts a record into the in-memory document (removes it when ARecord is nullptr)
  // as a counted change without saving: its change counter advances, so an editor that holds
  // the old counter sees the change. Used inside TDbFile::ChangeAtomically.
  void StageRecord(const std::string& aID, const TJson* aRecord);
  // Removes a record from the in-memory document without saving (file mode); the next saving
  // change writes the document without it. Nothing happens when the record is not there.
  void DelRecordNo1(const std::string& aID);
  // The live in-memory object of this collection, nullptr when it was never written. The
  // caller may change it; the next saving change writes it.
  TJson* AsJson();
  bool IsMongoDb() const;
  // MongoDB cursor over this collection. Next is false at the end; a failed read raises
  // EDbReadError (in Query or in Next).
  void Query(const TJson& qwery, const TJson* fieldSelector = nullptr);
  bool Next(TJson& doc);
  std::optional<TJson> GetRecord(const TJson& qwery, const TJson* fieldSelector, int64_t& cntr,
                                 bool UseCntr);

private:
  TDbFile* FDbFile;
  std::string FName;
  std::string FCaption;
  bool FHasTree = false;
};

class TDbCollections {
public:
  explicit TDbCollections(TDbFile& owner) : FDbFile(&owner) {}
  TDbCollectionItem& Add();
  TDbCollectionItem& Add(const std::string& name, const std::string& caption = "");
  size_t Count() const { return FItems.size(); }
  TDbCollectionItem& operator[](size_t i) { return *FItems[i]; }
  const TDbCollectionItem& operator[](size_t i) const { return *FItems[i]; }
  TDbFile& Owner() const { return *FDbFile; }

private:
  TDbFile* FDbFile;
  std::vector<std::unique_ptr<TDbCollectionItem>> FItems;
};

struct TCollectionData {
  TDbCollectionItem* Tree = nullptr;
  TDbCollectionItem* Records = nullptr;
  std::string TreeID;
};
using TColCollData = std::vector<TCollectionData>;

// Compares two versions of four dot-separated numbers part by part as numbers: -1, 0 or 1.
// Raises std::invalid_argument when a part of the first four is empty or not a number.
int CompareVersions(const std::string& a, const std::string& b);

class TDbFile {
public:
  using TNotifyDataBaseUpdate = std::function<void(TDbFile& sender, bool& success)>;

  // Op is where messages go; nullptr means the process operator.
  explicit TDbFile(IOperator* op = nullptr);
  ~TDbFile();
  TDbFile(const TDbFile&) = delete;
  TDbFile& operator=(const TDbFile&) = delete;

  // Properties.
  bool UseMongoDb() const { return FUseMongoDb; }
  void SetUseMongoDb(bool v);
  bool AutoLoad() const { return FAutoLoad; }
  void SetAutoLoad(bool v) { FAutoLoad = v; }
  const std::string& host() const { return FHost; }
  void Sethost(const std::string& v) { FHost = v; }
  int port() const { return FPort; }
  void Setport(int v) { FPort = v; }
  const std::string& MongoDbName() const { return FMongoDbName; }
  void SetMongoDbName(const std::string& v) { FMongoDbName = v; }
  const std::string& FileName() const { return FFileName; }
  // Setting the file name also lifts a save block.
  void SetFileName(const std::string& v);
  std::string DBVersion() const;
  void SetDBVersion(const std::string& v) { FDBVersion = v; }
  std::string LoadedDBVersion() const;
  void SetLoadedDBVersion(const std::string& v);
  // A connection that only reads: every change is refused before it reaches the storage, so
  // commands that list, show or check can never alter the database, whatever they call.
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool v) { FReadOnly = v; }
  bool ShowOnlyOneForm() const { return FShowOnlyOneForm; }
  void SetShowOnlyOneForm(bool v) { FShowOnlyOneForm = v; }
  TNotifyDataBaseUpdate onDataBaseUpdate;
  // A change was not saved because the file on disk is no longer the one this program read
  // (called with the reason). Without it the reason is shown as an "IO Error" message.
  std::function<void(TDbFile& sender, const std::string& why)> onFileChangedOnDisk;
  TDbCollections& Collections() { return FDbCollections; }

  // Runs Load when AutoLoad is set (called once the properties are in place).
  void Loaded();
  // Opens the database named by the properties; afterwards DbIsOpen tells whether it worked.
  bool Load();
  // Writes the in-memory document to FileName (file mode). Raises EDbWriteError when the file
  // cannot be written; shows the "Save as" message and writes nothing while saving is blocked.
  void Save();
  // File mode: an empty database at the program's version, open, kept in memory.
  void New();
  bool DbIsOpen() const { return FOpened; }
  // Saving is blocked: the loaded file was newer, could not be converted or could not be read,
  // or another program held it when it was loaded.
  bool SaveDisabled() const { return FDisableSaveDB || FLockedBy.has_value(); }
  // File mode: the program that held the file when it was loaded; the database is then
  // write-protected until it is loaded again.
  const std::optional<TLockHolder>& LockedBy() const { return FLockedBy; }
  // File mode: this object holds the file's lock (from a load or save until the database is
  // closed: another file name, MongoDB mode, or the object's end).
  bool HoldsLock() const { return FLock.Held(); }
  void ReleaseLock() { FLock.Release(); }
  // How long a load or save waits for another holder of the file to let go (seconds, 0: not).
  double LockWait() const { return FLockWait; }
  void SetLockWait(double seconds) { FLockWait = seconds; }
  // The lock and the check that the file on disk is still the one read or written (on by
  // default). Off only for files nothing else can reach, and for measurements.
  bool GuardFile() const { return FGuardFile; }
  void SetGuardFile(bool v) { FGuardFile = v; }
  // A load that finds the file held by another program says so through the operator (on by
  // default); a caller that reports it itself turns this off.
  bool ReportHeldLock() const { return FReportHeldLock; }
  void SetReportHeldLock(bool v) { FReportHeldLock = v; }
  // The version the project file carried at the last load ("" when no file was read), also
  // when the load was refused because the file is newer than the program.
  const std::string& FileDBVersion() const { return FFileDBVersion; }
  // Why the last load or save failed ("" when it did not).
  const std::string& LastError() const { return FLastError; }
  // MongoDB: when the first failed read since the last successful one happened (0: none).
  double ReopenTimeOut() const { return FReopenTimeOut; }

  std::optional<TJson> get(const TrefID& RefID);
  TDbCollectionItem& CollectionByName(const std::string& name);
  TDbCollectionItem* FindCollection(const std::string& name);
  void SC(const std::string& RecordsName, const std::string& TreeName, TCollectionData& out,
          const std::string& TreeID = "");

  // The in-memory document (file mode). Changing it through MutableJSON is allowed; the
  // writes that follow then format the whole document every time until the next load.
  // The history of the database: in file mode a copy of the file before the first change of
  // each day in "<file>.backups/" and the journal "<file>.journal"; on MongoDB the journal is
  // the collection "Journal". BackupDays gives how many daily backups to keep (0: no backups and
  // no journal); it is asked once a day. Unset, the database keeps no history.
  std::function<int(TDbFile&)> BackupDays;
  // The clock of backups and journal lines (tests set their own).
  std::function<std::time_t()> HistoryClock;
  std::time_t HistoryNow() const { return HistoryClock ? HistoryClock() : std::time(nullptr); }
  // File mode: runs Stage, which changes records with StageRecord, then writes the file once.
  // When the write fails, the document and the change counters are as they were before and
  // the error (EDbWriteError) is raised: one change, all or nothing.
  void ChangeAtomically(const std::function<void()>& stage);
  // Whether changes are written to the journal.
  bool JournalOn();
  // Adds journal lines for changes made; a failure is told once and never fails the change.
  void JournalChanges(const std::vector<TJson>& lines);

  const TJson& JSON() const { return FJSON; }
  TJson& MutableJSON();
  TDbStorage& Storage();
  IOperator& Operator() const;
  void SetOperator(IOperator* op) { FOperator = op; }
  // The operator given to this database (nullptr: the process operator).
  IOperator* OperatorOverride() const { return FOperator; }

private:
  friend class TFileStorage;
  friend class TMongoStorage;
  friend class TDbCollectionItem;

  double FReopenTimeOut = 0;
  bool FReadOnly = false;
  std::string FFileDBVersion;
  bool FAutoLoad = true;
  std::string FFileName;
  std::string FDBVersion;
  TJson FJSON = TJson::object();
  TProjectTextCache FTextCache;
  std::unordered_map<std::string, int64_t> FCNTR;
  TDbCollections FDbCollections;
  bool FDisableSaveDB = false;
  bool FUseMongoDb = false;
  std::unique_ptr<TDbStorage> FFileStorage;
  std::unique_ptr<TDbStorage> FMongoStorage;
  bool FOpened = false;
  std::string FHost = "127.0.0.1";
  int FPort = 27017;
  std::string FMongoDbName = "dbf1";
  bool FShowOnlyOneForm = false;
  IOperator* FOperator = nullptr;
  std::string FLastError;
  std::string FTextBuffer;  // the file text of the last save, its memory reused by the next
  TFileLock FLock;
  TFileIdentity FDiskIdentity;  // the file as last read or written
  std::optional<TLockHolder> FLockedBy;
  double FLockWait = 0;
  bool FGuardFile = true;
  bool FReportHeldLock = true;

  // Where each record of a collection sits in the in-memory document (file mode), so that a
  // record is found without walking its collection. A hit is checked against the document; a
  // collection whose live object was handed out is searched again on a miss.
  struct TMemberIndex {
    std::unordered_map<std::string, size_t> Pos;
    const void* Base = nullptr;
    size_t Size = static_cast<size_t>(-1);
    bool Exposed = false;
  };
  std::unordered_map<std::string, TMemberIndex> FRecordIndex;
  bool FIndexAllExposed = false;
  TJson* FindInMember(TJson& member, const std::string& coll, const std::string& id);
  // Stores Record under ID in Member (appended when it is new).
  void PutInMember(TJson& member, const std::string& coll, const std::string& id,
                   const TJson& record);
  void ResetRecordIndex();
  // Records staged by a ChangeAtomically, as they were before it.
  struct TStagedUndo {
    TDbCollectionItem* Coll;
    std::string ID;
    std::optional<TJson> Old;
    std::optional<int64_t> OldCntr;
  };
  std::vector<TStagedUndo>* FStaging = nullptr;
  // History: the day it was last looked at and what BackupDays said then.
  std::string FHistoryDay;
  int FHistoryKeep = 0;
  bool FHistoryWarned = false;
  int HistoryKeep();
  void KeepDailyBackupBeforeSave();
  void HistoryWarning(const std::string& what);
};

// Writes Bytes to Path so that a crash or a full disk never leaves a half-written file: a
// temporary file beside it (named with this host and process) is written, flushed to disk and
// renamed over the target. Raises EDbWriteError with the reason.
void WriteFileAtomically(const std::string& path, const std::string& bytes);
// The same for a locked database file: the new file is locked before it replaces the old one
// and becomes Lock; Written describes it afterwards.
void WriteFileAtomically(const std::string& path, const std::string& bytes, TFileLock& lock,
                         TFileIdentity& written);

// The reference tracker: a stack of the records a generator is inside, so that a broken
// reference is reported against the innermost record, with an offer to open it for fixing.
// A report ends the run with EDbFException (nothing is raised when Silent).
class TSuperReference {
public:
  struct TSupRefData {
    TDbCollectionItem* Item = nullptr;
    std::string ID;
  };

  explicit TSuperReference(IOperator* op = nullptr);
  // Raises when entries are left and Silent is false (and no other exception is on its way).
  ~TSuperReference() noexcept(false);

  bool Silent = false;

  std::optional<TJson> Push(TDbCollectionItem& aCol, const std::string& aID, bool Load);
  std::optional<TJson> Push(const std::string& aID);
  std::optional<TJson> Push(TDbCollectionItem& aCol, const TJson& Tbl, int Col, int Row,
                            const std::string& TableName, bool AskOpen);
  void Pop();
  void ClrErrors();
  std::optional<TJson> Get(TDbCollectionItem& aCol, const std::string& aID);
  std::optional<TJson> Get(const std::string& aID);
  std::optional<TJson> Get(TDbCollectionItem& aCol, const TJson& Tbl, int Col, int Row,
                           const std::string& TableName, bool AskOpen);
  void ShowErrorMsg(const std::string& aMsg, bool AskOpen);
  void ShowErrorMsg(const std::string& aMsg, const std::string& Col, int Row,
                    const std::string& aTable, bool AskOpen);
  void ShowErrorMsg(const std::string& aMsg, int Row, const std::string& aTable, bool AskOpen);
  [[noreturn]] void ForceException(const std::string& aMsg);

  int Count() const { return FCount; }
  const TSupRefData& Top() const;

private:
  void SetCount(int count);
  // Identifier in cell (Row, Col) of Tbl, or nullopt after a (silent) report.
  std::optional<std::string> CellID(const TJson& Tbl, int Col, int Row,
                                    const std::string& TableName, bool AskOpen);
  IOperator& Op() const;

  std::vector<TSupRefData> FStack;
  int FCount = 0;
  IOperator* FOperator;
};
