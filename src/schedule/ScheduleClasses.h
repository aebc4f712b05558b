#pragma once
// The schedule model and the fixed table of the commands that channel schedules and control
// panels send.
#include <array>
#include <string>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "recstore/Json.h"

// Where a command may be used: in a channel schedule, or on a control panel element of that
// kind.
enum TElementType { elmt_cmdChan, elmt_Button, elmt_TrackBar, elmt_Text, elmt_Player, elmt_HTMLedit };

// A set of element types.
class TElementTypes {
public:
  constexpr TElementTypes() = default;
  constexpr TElementTypes(std::initializer_list<TElementType> types) {
    for (TElementType t : types) FBits = static_cast<uint8_t>(FBits | Bit(t));
  }
  constexpr bool Contains(TElementType t) const { return (FBits & Bit(t)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool operator==(const TElementTypes&) const = default;

private:
  static constexpr uint8_t Bit(TElementType t) { return static_cast<uint8_t>(1u << t); }
  uint8_t FBits = 0;
};

// Option bits of a command (opt).
inline constexpr uint16_t opt_Delay = 1 << 0;        // has a "Delay"
inline constexpr uint16_t opt_Channel = 1 << 1;      // "Value" is a channel id
inline constexpr uint16_t opt_ToStb = 1 << 2;        // sent to the set-top boxes of a group
inline constexpr uint16_t opt_StbValue = 1 << 3;     // a set-top box command passes "Value"
inline constexpr uint16_t opt_StartTime = 1 << 4;    // has "Time", labelled "Start time"
inline constexpr uint16_t opt_ServerValue = 1 << 5;  // a server command passes "Value"
inline constexpr uint16_t opt_HtmlElement = 1 << 6;  // "Value" is an HTML element
inline constexpr uint16_t opt_WebPage = 1 << 7;      // has a web page "WPage"
inline constexpr uint16_t opt_Timeout = 1 << 8;      // has "Time", labelled "Timeout"
inline constexpr uint16_t opt_Text = 1 << 9;         // has "Text"; "Value" is quoted
inline constexpr uint16_t opt_VarName = 1 << 10;     // "Value" is a variable name
inline constexpr uint16_t opt_Value2 = 1 << 11;      // has a second value "Val2"

// One command: menu caption, method, key of the command object, fixed value (empty: any),
// option bits and the elements that offer it. Rows without a method are group headings.
struct TcmdTableRow {
  std::string_view text;
  std::string_view meth;
  std::string_view Cmd;
  std::string_view val;
  uint16_t opt = 0;
  TElementTypes elem;
  constexpr bool Has(uint16_t option) const { return (opt & option) != 0; }
  constexpr bool IsEmpty() const { return text.empty() && meth.empty() && Cmd.empty(); }
};

inline constexpr size_t cmdTableSize = 26;
extern const std::array<TcmdTableRow, cmdTableSize> cmdTable;
// What a command object that matches no row gets.
inline constexpr TcmdTableRow emptyCmdTableRow{};

// The row of a command object {Cmd: {"Method": ..., "Value": ...}}: the first row whose Cmd is
// a key of the object, whose meth equals that member's "Method" and whose val is empty or
// equals its "Value". -1 when none matches or the object cannot be read.
int FindCmdTableRowIndex(const TJson& command);
// The same as a row; emptyCmdTableRow when none matches.
const TcmdTableRow& FindCmdTableRow(const TJson& command);

class TDbFile;

// The command object a table row gives when the operator picks it:
// {Cmd: {"Method": meth, "Value": val, "Delay": 0}}; null for a heading row.
TJson DefaultCmdObject(const TcmdTableRow& row);
// The text of one command: its row's text ("???" when no row matches), and for a command that
// takes a channel a space and the channel record's Name when that record exists.
std::string CmdNodeText(TDbFile& db, const TJson& command);
// The texts of a command list joined by "; "; "" for a value that is not an array.
std::string CmdListText(TDbFile& db, const TJson& list);

// Which option editors of the command dialog a row shows, with their captions and the key each
// one writes.
struct TCmdOptionView {
  bool Delay = false;    // "Delay, sec" -> "Delay" (a number)
  bool Channel = false;  // "Channel" -> "Value" (a channel id)
  bool Time = false;     // "Start time" / "Timeout" -> "Time" (a duration text)
  bool Cust1 = false;    // "Web page" -> "WPage" / "Variable name" -> "Value"
  bool Cust2 = false;    // "HTML-element" -> "Value" / "Variable value" -> "Val2"
  bool Text = false;     // "Text" -> "Text"
  std::string TimeCaption, Cust1Caption, Cust1Key, Cust2Caption, Cust2Key;
};
TCmdOptionView CmdOptionView(const TcmdTableRow& row);

// The web page of a command's parameters as the set-top boxes take it: the path the command
// dialog stores (relative to the HTML root) exactly as it is; a page stored as a JSON object
// as its compact text with non-ASCII characters escaped; a path that was stored as quoted JSON
// text is unquoted. "" when there is none.
std::string CmdWebPageText(const TJson& params);

// The default the command dialog shows for "Time" ("0 00:00:00"), and the parameters of a
// command completed with it when its row has a time and the command holds none, so that what
// the dialog shows is what is stored and sent.
inline const std::string DefaultCmdTimeText = "0 00:00:00";
void CompleteCmdParams(TJson& command);

// ---------------------------------------------------------------------------------------------
// The schedule model: channel schedules expanded into timed intervals of films and commands.
// All times are offsets in days from the start of the schedule period.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/CommonProcedures.h"

class TDbFile;
class TSuperReference;
class TSchedule;

// What happens when a row's content does not fit before the next row starts.
enum TIntervalType { Cut = 0, Del = 1, RepeatLastMovie = 2 };

// The cells of a stored channel schedule row (the "Table" of a ChSched record).
enum TChSchedCell : size_t {
  ChSchedStartCell = 0,     // "Start time": offset from the period start, may be empty
  ChSchedIntervalCell = 1,  // "Interval": TIntervalType (Cut or Del)
  ChSchedContentCell = 2,   // "Film or playlist": reference into Films or PlayLists
  ChSchedCommandsCell = 3,  // "Commands": array of command objects
};

// Slots of the per-row messages.
enum TOneFilmError {
  FilmRedused = 0,
  PlayListRedused,
  FilmDeleted,
  ZeroDuration,
  Pause,
  TimeErr,
  Period,
  CalcStopped,
  InvalidReference
};
inline constexpr int OneFilmErrorCount = 9;

// Duration of the placeholder film of an id that does not resolve: exactly 2^-24 day.
inline constexpr TDateTime InvalidFilmDuration = 1.0 / 16777216.0;
inline constexpr TDateTime OneSecond = 1.0 / 86400.0;
inline constexpr TDateTime OneMSec = 1.0 / 86400000.0;

// Sums of film durations in days carry rounding noise far below a millisecond; the schedule
// compares times with this tolerance so that an exactly filled interval counts as filled.
inline constexpr TDateTime TimeEpsilon = 1e-10;
inline bool TimeGreater(TDateTime a, TDateTime b) { return a - b > TimeEpsilon; }
inline bool TimeEqual(TDateTime a, TDateTime b) { return a - b <= TimeEpsilon && b - a <= TimeEpsilon; }

// The result of one schedule row (check mode).
struct TOneFilmInfo {
  std::array<std::string, OneFilmErrorCount> Err;
  TDateTime Duration = 0;
  TDateTime EndT = 0;
  TDateTime Start = 0;
  bool HasError = false;
  TIntervalType IntervalTyp = Cut;
  // The row plays nothing: the content of an earlier row of its block did not fit.
  bool Dropped = false;
};

// One film as the schedule sees it.
class TFilm {
public:
  // Loads Films record ID. With DoException a dangling id is reported through the tracker
  // (which aborts); without, it gives the placeholder film.
  TFilm(TSuperReference* aSupRef, TDbFile& Dbf, const std::string& ID, bool DoException);
  TFilm() = default;
  // A film from its record.
  TFilm(const std::string& ID, const TJson& record);
  std::string _ID;
  TDateTime Duration = 0;
  std::string FileName;
  std::string Name;
  bool ShowInSchedule = false;
  bool KeepWithNext = false;
  // Why the record's "Duration" could not be read ("" when it could); Duration is then 0.
  std::string DurationError;
  bool IsInvalid() const { return Duration == InvalidFilmDuration; }
};

struct TScheduleNote {
  TScheduleNote(TDateTime when = 0, TFilm* film = nullptr, size_t row = 0)
      : DateTime(when), Film(film), Row(row) {}
  TDateTime DateTime = 0;
  TFilm* Film = nullptr;  // owned by the interval
  size_t Row = 0;         // the channel schedule row (from 0) whose content placed it
};

struct TScheduleCmd {
  TScheduleCmd(TDateTime when = 0, std::string text_ = {}, size_t row = 0, TJson command = {})
      : DateTime(when), text(std::move(text_)), Row(row), Command(std::move(command)) {}
  TDateTime DateTime = 0;
  std::string text;
  size_t Row = 0;   // the channel schedule row (from 0) that holds it
  TJson Command;    // the command object as the row stores it
};

class TScheduleInterval {
public:
  TScheduleInterval(TSchedule* aSchedule, const std::string& aChannelID, TDateTime StrtTime,
                    TDateTime aEndTime, TDateTime aPeriodicity, TIntervalType aTyp,
                    bool aDoException);

  // The distinct films of this interval; shared with the schedule's film cache, never changed.
  std::vector<std::shared_ptr<TFilm>> Films;
  std::string ChannelId;
  // The ChSched record that made the interval and its row (from 0) that opened it.
  std::string SourceID;
  size_t SourceRow = 0;
  std::string PlayList;
  TDateTime StartTime = 0;
  TDateTime TempEndTime = 0;
  TDateTime EndTime = 0;
  // True when EndTime is a limit even though it is 0 (a next row that starts at 0 00:00:00);
  // otherwise an EndTime of 0 means that the interval has no limit.
  bool EndTimeIsLimit = false;
  TDateTime Periodicity = 0;
  std::vector<TScheduleNote> ScheduleNotes;
  std::vector<TScheduleCmd> ScheduleCmd;
  TDateTime LastCmdTime = 0;
  bool ShowInPaperSchedule = true;
  TIntervalType Typ = Cut;
  TSchedule* Schedule = nullptr;
  bool DoException = false;
  int KeepWithNextCount = 0;
  TDateTime KeepWithNextSTime = 0;
  TDateTime LastMediaDuration = 0;
  TFilm* RedusedFilm = nullptr;
  TDateTime RedusedFilmDuration = 0;

  // Places the film at the running end (no limit); always true.
  bool AddScheduleNote(TSuperReference* aSupRef, const std::string& FilmID);
  // Places the film with the limit aEnd by the rules of the interval type; false when the film
  // (or its keep-with-next group) was not placed.
  bool AddScheduleNote(TSuperReference* aSupRef, const std::string& FilmID, TDateTime aEnd);
  // Adds the film's duration to LastMediaDuration; false for the placeholder film.
  bool CalcDuration(TSuperReference* aSupRef, const std::string& FilmID);
  // Adds the commands of a row (a JSON array of command objects) at the running end.
  bool AddScheduleCmd(const TJson* cmds, TOneFilmInfo& AInfo);
  size_t NotesCount() const { return ScheduleNotes.size(); }
  size_t CmdCount() const { return ScheduleCmd.size(); }
  TDateTime GetLastCmd() const { return ScheduleCmd.empty() ? 0 : ScheduleCmd.back().DateTime; }
  void CmdSort();
  // The film of the interval with that id, loaded on first use.
  TFilm* FindOrCreateFilm(TSuperReference* aSupRef, const std::string& FilmID);

private:
  std::unordered_map<std::string_view, TFilm*> FFilmIndex;  // Films by id (keys are their _ID)
  void PlaceFilm(TSuperReference* aSupRef, const std::string& FilmID, TFilm*& film);
};

// Records of the in-memory project (file mode) found by id without copying them, and the films
// read from them. One index may serve many builds of the same project (the channel schedule
// editor recomputes on every change): before each build it checks that the project's
// collections still sit where it found them, and a film whose record changed is read again.
class TScheduleRecordIndex {
public:
  // A record of the collection; nullptr when there is none. Nothing (nullopt) when the
  // records live in MongoDB and must be read from the store.
  std::optional<const TJson*> FindRecord(TDbFile& db, const std::string& collection,
                                         const std::string& id);
  // The film as read from its record; nullptr when the record must be read from the store or
  // does not exist.
  std::shared_ptr<TFilm> CachedFilm(TDbFile& db, const std::string& id);
  // How many times a collection was indexed (for the tests).
  int Rebuilds() const { return FRebuilds; }
  // A new build starts: a film is checked against its record once per build (a build reads the
  // project and never writes it).
  void BeginPass() { ++FPass; }
  // Films read from the store (MongoDB) by an earlier build of the same run; nullptr when the
  // index keeps none (only an index of one run does: the store may change between runs).
  std::shared_ptr<TFilm> StoreFilm(const std::string& id) const;
  void KeepStoreFilm(const std::shared_ptr<TFilm>& film);
  bool KeepsStoreFilms = false;

private:
  using TMember = std::pair<const std::string, TJson>;
  struct TEntry {
    const TMember* Member = nullptr;
    std::shared_ptr<TFilm> Film;  // films only, read on first use
    std::string DurationText;     // the record's "Duration" the film was read from
    uint64_t CheckedPass = 0;     // the build that last found the film equal to its record
  };
  struct TCollIndex {
    const TMember* Coll = nullptr;  // the collection's member of the project document
    const void* DocData = nullptr;  // where the document's members were stored then
    size_t DocSize = 0;
    const void* Data = nullptr;     // where the collection's records are stored
    size_t Size = 0;
    std::unordered_map<std::string_view, TEntry> Entries;  // keys are the members' names
  };
  TCollIndex* Index(TDbFile& db, const std::string& collection);
  const TDbFile* FDb = nullptr;
  std::unordered_map<std::string, TCollIndex> FIndex;
  int FRebuilds = 0;
  uint64_t FPass = 1;
  std::unordered_map<std::string, std::shared_ptr<TFilm>> FStoreFilms;
};

// While one lives, every build made on this thread without an index of its own shares one:
// a run over every server reads each film once, from the project or from the store, however
// many servers and schedules play it.
class TSharedBuildRun {
public:
  TSharedBuildRun();
  ~TSharedBuildRun();
  TSharedBuildRun(const TSharedBuildRun&) = delete;
  TSharedBuildRun& operator=(const TSharedBuildRun&) = delete;
  // The run's index on this thread; nullptr outside a run.
  static std::shared_ptr<TScheduleRecordIndex> Current();
  const TScheduleRecordIndex& Index() const { return *FIndex; }

private:
  std::shared_ptr<TScheduleRecordIndex> FIndex;
  std::shared_ptr<TScheduleRecordIndex> FOuter;
};

class TSchedule {
public:
  // Index: a record index shared with other builds of the same project; a new one when none.
  explicit TSchedule(TDbFile* aFilmsDBF, std::shared_ptr<TScheduleRecordIndex> aIndex = nullptr)
      : FilmsDBF(aFilmsDBF),
        FRecordIndex(aIndex                             ? std::move(aIndex)
                     : TSharedBuildRun::Current()       ? TSharedBuildRun::Current()
                                                        : std::make_shared<TScheduleRecordIndex>()) {
    FRecordIndex->BeginPass();
  }
  std::vector<std::unique_ptr<TScheduleInterval>> Intervals;
  std::vector<std::string> PlayLists;
  std::vector<std::string> ChannelsId;
  std::vector<int> CurrentFilmIndexInChannel;
  std::string Name;
  TDbFile* FilmsDBF = nullptr;
  bool CheckZeroTime = true;

  TScheduleInterval* AddInterval(const std::string& aChannelID, TDateTime StrtTime,
                                 TDateTime EndTime, TDateTime Periodicity, TIntervalType Typ,
                                 bool DoException);
  void AddChannel(const std::string& ChannelID);
  size_t ChannelsCount() const { return ChannelsId.size(); }
  size_t IntervalsCount() const { return Intervals.size(); }

  // A record of the in-memory project (file mode), found through an index built on first use,
  // so that a build reads each record without copying it; nullptr when there is no such
  // record. Nothing (nullopt) when the records live in MongoDB and must be read from the store.
  std::optional<const TJson*> FindRecord(const std::string& collection, const std::string& id);
  // The film with that id as read once for this build; nullptr when its record must be read
  // from the store or does not exist.
  std::shared_ptr<TFilm> CachedFilm(const std::string& id);
  // CachedFilm, one object per film for every interval of this build, owned by the build.
  TFilm* BuildFilm(const std::string& id);
  // A film an earlier build of this run read from the store; nullptr when there is none.
  std::shared_ptr<TFilm> StoreFilm(const std::string& id) const { return FRecordIndex->StoreFilm(id); }
  void KeepStoreFilm(const std::shared_ptr<TFilm>& film) { FRecordIndex->KeepStoreFilm(film); }

private:
  std::shared_ptr<TScheduleRecordIndex> FRecordIndex;
  std::unordered_map<std::string_view, std::shared_ptr<TFilm>> FBuildFilms;  // keys: the films' ids
};

// Messages of a row's commands (slot TimeErr).
inline constexpr const char* CommandBeforeStartMessage =
    "It is impossible to execute command before the start of its interval! Delay must be positive!";
inline constexpr const char* DelayTooLongMessage =
    "Invalid delay value! A delay must be shorter than 3600 seconds.";
inline constexpr const char* InvalidCommandListMessage =
    "Invalid list of commands! The commands must be an array.";
// Command Index (counted from 0) of a list is not a one-key object holding an object.
std::string InvalidCommandMessage(size_t index);

// The text line of one command for command playlists; "" when the command object cannot be
// read.
std::string ScheduleCmdText(const std::string& key, const TJson& p, const TcmdTableRow& row);
// Seconds of a duration text parsed with the duration parser (milliseconds dropped).
int64_t DurationSeconds(TDateTime value);

class TFilmListArray;

// The lines of one playlist file.
class TFilmList {
public:
  explicit TFilmList(TFilmListArray* aFilmListArray) : FilmListArray(aFilmListArray) {}
  std::vector<std::string> Items;
  TFilmListArray* FilmListArray = nullptr;
  bool used = false;
  void Add(const std::string& line) { Items.push_back(line); }
  void Clear() { Items.clear(); }
  bool Compare(const TFilmList& other) const { return Items == other.Items; }
  // Writes FilePath + aIndex + extension, UTF-8 lines each ended by LF; false for an empty
  // list (nothing written). Raises std::runtime_error when the file cannot be written.
  bool SaveToFile(int aIndex) const;
  void LoadFromFile(const std::string& aFileName);
};

// A numbered family of playlist files in one folder ("0.pls", "1.pls", ...).
class TFilmListArray {
public:
  // Loads the existing files 0, 1, ... up to the first missing number.
  TFilmListArray(const std::string& aFilePath, const std::string& aFileExtention);
  std::vector<std::unique_ptr<TFilmList>> Items;
  std::string FileExtention;
  std::string FilePath;  // with a trailing separator
  TFilmList& Add();
  void Delete() { Items.pop_back(); }
  int Count() const { return static_cast<int>(Items.size()); }
  TFilmList& Last() { return *Items.back(); }
  // Files the last list: the number of an equal earlier list (the last one is dropped), or
  // the last list is written under its own number.
  int SaveFile();
};
