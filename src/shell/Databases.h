#pragma once
// The three record databases of the console: the main database (a project file or MongoDB),
// the contracts database ("contracts.json") and the time-line database ("timeline.json"),
// both in the working directory.
#include <memory>
#include <string>

#include "recstore/JrecClasses.h"

// Layout version of the main database this program reads and writes.
inline constexpr const char* MainDbVersion = "2.0.8.4";
inline constexpr const char* MainMongoDbName = "pelmora";
inline constexpr const char* ContractsFileName = "contracts.json";
inline constexpr const char* TimeLineFileName = "timeline.json";

// The main database with its collections (not loaded: no file name yet).
std::unique_ptr<TDbFile> CreateMainDatabase(IOperator* op = nullptr);
// How many daily backups of the project file to keep: "BackupDays" of the options record,
// DefaultBackupDays when it is not set or cannot be read, 0 turning backups and the change
// journal off.
inline constexpr int DefaultBackupDays = 14;
int ProjectBackupDays(TDbFile& db);
// The contracts database, not loaded; FileName is WorkDir/contracts.json.
std::unique_ptr<TDbFile> CreateContractsDatabase(const std::string& workDir, IOperator* op = nullptr);
// The time-line database, not loaded; its collections are added as the time line needs them.
std::unique_ptr<TDbFile> CreateTimeLineDatabase(const std::string& workDir, IOperator* op = nullptr);

// Collections edited as a folder tree: their tree document in `Tree` is named after them.
bool CollectionHasTree(const TDbCollectionItem& coll);

// The main database of this process, set once the main window or the CLI has made it.
TDbFile* DbF1();
void SetDbF1(TDbFile* db);
// The contracts and time-line databases of this process (the main window sets them).
TDbFile* ContractsDb();
void SetContractsDb(TDbFile* db);
TDbFile* TimeLineDb();
void SetTimeLineDb(TDbFile* db);
