#pragma once
// The schedule builder: expands the channel schedules of a Schedules record into a TSchedule,
// in build mode (errors reported through the reference tracker, which aborts) or in check mode
// (per-row results for the channel schedule editor). Also the texts of a built schedule.
#include <memory>
#include <string>
#include <vector>

#include "package/UsedFilms.h"
#include "recstore/JrecClasses.h"
#include "schedule/ScheduleClasses.h"

// The error of a channel schedule row that has no film or playlist.
inline constexpr const char* EmptyContentMessage = "No film or playlist is chosen in this row.";

// Reports a reference cell of a table that is empty (row Row, cell Cell, both from 0) through
// the tracker, naming the table, the column's caption and what belongs there:
// Table "Schedule", column "Options", row "1". The cell is empty: choose the server's options.
void CheckRefCellNotEmpty(TSuperReference& supRef, const TJson& table, size_t Row, size_t Cell,
                          const std::string& TableName, const std::string& Column,
                          const std::string& What);

// Builds Schedules record ScheduleID. Nothing when the build was aborted (the error has been
// shown through the operator; Error, when given, receives its text).
std::unique_ptr<TSchedule> BuildSchedule(const std::string& ScheduleID, TDbFile& db,
                                         IOperator* op = nullptr, std::string* error = nullptr);

// Adds the intervals of one ChSched record (its id names it in error reports; it may be a
// record that is not saved) to Schedule; fills one TOneFilmInfo per table row. Raises
// EDbFException when an error aborts.
// PeriodText, when given, stands for the record's "Period".
void ChannelBuild(TSuperReference& supRef, TDbFile& db, const std::string& chSchedID,
                  const TJson& chSched, TSchedule& Schedule, std::vector<TOneFilmInfo>& rows,
                  bool CheckMode, const std::string* PeriodText = nullptr);

// The last safeguard before files are written: the intervals of Schedule from index First on
// (those one channel schedule added) must not overlap, whatever the rows said. Reports through
// the tracker, which names the record and aborts.
void CheckNoOverlap(TSuperReference& supRef, const TSchedule& Schedule, size_t First);
// Check mode's message for a row whose start time the rows above play past.
std::string OverlapMessage(TDateTime PreviousEnd, TDateTime Start);

// Options of the texts of a built schedule.
struct TShowScheduleOptions {
  bool TimeLine = false;
  bool ShowSeconds = true;
  bool ShowDays = false;
  bool ShowAllFilms = true;
  bool ShowRowsFilms = true;
  bool SaveCsv = false;
  bool ShowFilmStartTime = true;
};

// The summary of the chosen intervals (all when Indexes is empty): appended to Memo when given,
// and the JSON object channel id -> [[start times "hh:nn ...", film id], ...].
TJson ScheduleSummary(TDbFile& db, const TSchedule& sh, std::vector<std::string>* Memo,
                      bool ShowFilmStartTime, bool ShowAllFilms, bool ShowSeconds, bool ShowDays,
                      const std::vector<size_t>& Indexes = {});

// The time line lines (when TimeLine) and the CSV file (when SaveCsv). Returns the CSV file's
// path ("" when none was written).
std::string PrintScheduleDebug(const TSchedule& sh, std::vector<std::string>& Memo,
                               const TShowScheduleOptions& o, const std::string& csvDir = "");
// The folder for schedule CSV files: "csv" beside the program when it can be written there,
// otherwise under the user's data directory.
std::string ScheduleCsvDir();

// The whole "Show schedule" text.
std::vector<std::string> ShowSchedule(TDbFile& db, const TSchedule& sh,
                                      const TShowScheduleOptions& o, std::string* csvPath = nullptr);

// Time text of the texts above: "hh:nn:ss", with ShowDays a day count in front from one day on,
// without ShowSeconds the seconds cut.
std::string ScheduleTimeText(TDateTime t, bool ShowSeconds, bool ShowDays);

// ---------------------------------------------------------------------------------------------
// Package export: the schedule files of one schedule row, the groups file, the used-films file
// and the digests.

// Writes json/<stamp>/<name>.json with its playlists under package folder F (with a trailing
// separator). Value gets the schedule file's array. Returns "" or the error text. The
// families and the used-films list are created when not given.
std::string MakeScheduleFiles(const TSchedule& sh, TDbFile& db, const std::string& F,
                              const std::string& videoRoot, const std::string& stamp,
                              std::unique_ptr<TFilmListArray>& pls,
                              std::unique_ptr<TFilmListArray>& cmdp, TUsedFilms& used,
                              TJson& Value, IOperator& op);

// A time in a ".pls" or ".cmdp" line: whole seconds (of the time of day, or with the days
// counted when WithDays), a point and the milliseconds in three digits ("5.011", "5400.000").
std::string PlaylistSecondsField(TDateTime d, bool WithDays);

// The transliterated, lower-cased schedule name used for its file.
std::string ScheduleFileName(const std::string& scheduleName);

// "groups.json" (row 0) or "groups_<stamp>.json" from a SrvOptions record. Gives "" when it is
// written, otherwise why not: a record that could not be read, or the file that could not be
// written and the reason. A broken reference is reported through the tracker (which raises).
std::string MakeGroupsFile(TSuperReference& supRef, TDbFile& db, const TJson& srvOptions,
                           const std::string& stamp, int row, const std::string& F, IOperator& op);

void WriteUsedFilmsFile(const TUsedFilms& used, const std::string& F);

// The concatenated lines of the used lists of each family (film lists, command lists).
std::pair<std::string, std::string> PlaylistDigests(const TFilmListArray* pls,
                                                    const TFilmListArray* cmdp);
// The digest of a schedule row: MD5 of the schedule file's array together with both list
// texts; 32 upper-case hexadecimal digits.
std::string ScheduleRowDigest(const TJson& scheduleValue, const std::string& filmList,
                              const std::string& cmdList);
std::string Md5Hex(const std::string& bytes);
// Indented JSON text with every non-ASCII character escaped, as package files are written.
std::string PackageJsonText(const TJson& value);
// Compact JSON text with every non-ASCII character escaped.
std::string CompactJsonText(const TJson& value);
// Deletes everything inside Dir (clearing attributes first); Dir itself stays.
void EmptyFolder(const std::string& dir);
// The recurrence rule of a period, the {"days","hours","minutes","seconds"} form of an offset.
std::string PeriodRule(TDateTime period);
TJson DeltaObject(TDateTime value);
