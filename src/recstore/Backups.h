#pragma once
// The history of a project file: a copy of the file as it was before the first change of each
// day, kept in a folder beside it ("<project>.backups/"), and a journal of every change (one
// JSON line per change: when, who, where, which record, what kind of change).
//
// The live journal is "<project>.journal". When a day's backup is made the journal is moved
// into the backups folder beside it, and both are dropped together once the backup is older
// than the number of backups kept. Nothing here ever stops a change: the callers report a
// failure and carry on.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "recstore/Json.h"

// "<project>.backups"
std::string BackupFolderOf(const std::string& projectFile);
// "<project>.journal"
std::string JournalFileOf(const std::string& projectFile);
// The local calendar day of T as "yyyymmdd".
std::string LocalDayStamp(std::time_t t);
// T as a local time with its offset from UTC: "2026-12-10T14:05:09+01:00".
std::string LocalTimeText(std::time_t t);

struct TBackupFile {
  std::string Path;
  std::string Day;  // "yyyymmdd"
  uintmax_t Size = 0;
};
// The backups of a project file, oldest first.
std::vector<TBackupFile> ListBackups(const std::string& projectFile);

struct TBackupResult {
  bool Made = false;   // a backup was made now (false: today's was there, or none was needed)
  int Dropped = 0;     // backups dropped beyond Keep
  std::string Error;   // why the backup could not be made ("" when it could)
};
// Keeps the project file as it is now as the backup of the day of Now, unless that day has one,
// then drops the oldest backups (and their journals) beyond Keep. The copy is a hard link to
// the file (every save replaces the file by a new one, so the linked file never changes again),
// or a byte copy where links cannot be made; either appears under its final name at once.
TBackupResult KeepDailyBackup(const std::string& projectFile, int keep, std::time_t now);

// Appends Lines (one JSON object each, written on one line) to the live journal in one write.
// Returns "" or why it failed.
std::string AppendJournalLines(const std::string& projectFile, const std::vector<TJson>& lines);
// Every journal line of a project: the journals kept beside its backups, then the live one, in
// the order they were written. Lines that cannot be read are counted in Unreadable.
std::vector<TJson> ReadJournal(const std::string& projectFile, size_t* unreadable = nullptr);

// One journal line. Kind is "new", "changed", "deleted" or "restored".
TJson JournalLine(std::time_t when, const std::string& collection, const std::string& id,
                  const std::string& name, int64_t oldCntr, int64_t newCntr,
                  const std::string& kind);
