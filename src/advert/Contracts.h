#pragma once
// Contracts and places of the advertising module, without windows: the cells of a contract row,
// their display texts, the value rules of the "Select times per hour" and "Select days of week"
// dialogs, and a contract's rows in the form the time line books them.
//
// A contract record (collection "Contracts" of contracts.json) has a "Table" of rows:
//   [place ref, film-or-playlist ref, "dd.mm.yyyy", "dd.mm.yyyy", times array, day mask]
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"
#include "base/CommonProcedures.h"

// Column numbers of a contract row (a place row has server and group references).
enum TContractColumn {
  ccPlace = 0,
  ccFilm = 1,
  ccStartDate = 2,
  ccStopDate = 3,
  ccTimes = 4,
  ccDaysOfWeek = 5,
  ccContractColumns = 6
};

// Column captions of the contracts grid and the places grid.
inline constexpr const char* ContractColumnCaptions[ccContractColumns] = {
    "Place", "Film", "Start date", "Stop date", "Times per hour", "Days of week"};
inline constexpr const char* PlaceColumnCaptions[2] = {"Server", "Group of STB"};

// ---------------------------------------------------------------------------------------------
// Day mask: bit 0 Monday ... bit 6 Sunday, bit 8 weekend, bit 9 holidays, bit 10 workdays.

enum TDayMaskBits : int {
  dmMonday = 1,
  dmSunday = 64,
  dmAllDays = 127,
  dmWeekend = 256,
  dmHolidays = 512,
  dmWorkdays = 1024,
  dmWeekendsAndHolidays = dmWeekend | dmHolidays,  // 768
};

// The cell text: "All" when bits 0-6 are all set; otherwise the names of the set bits joined by
// ", " in the order Mon ... Sun, "Weekend", "Holidays", "Workdays".
std::string DayMaskText(int mask);

// The radio items of "Days of the week".
enum TDaysOfWeekChoice { dwAllDays = 0, dwWeekendsAndHolidays = 1, dwWorkdays = 2, dwCustom = 3 };
inline constexpr const char* DaysOfWeekChoiceCaptions[4] = {"All days", "Weekends and holidays",
                                                            "Workdays", "Custom"};
// The "Custom days" check boxes in their order: Monday ... Sunday, "Weekend", "Holidays".
inline constexpr int CustomDayBoxCount = 9;
int CustomDayBoxBit(int box);  // 1, 2, 4, ... 64, 256, 512
std::string CustomDayBoxCaption(int box);

// What the dialog shows for a mask: 127, 768 and 1024 select their item; any other value
// selects "Custom" and ticks the boxes of its bits.
struct TDaysOfWeekView {
  TDaysOfWeekChoice Choice = dwAllDays;
  std::array<bool, CustomDayBoxCount> Boxes{};
  bool CustomVisible() const { return Choice == dwCustom; }
};
TDaysOfWeekView ShowDayMask(int mask);
// The mask the dialog saves: 127, 768, 1024, or for "Custom" the ticked boxes' bits; a result
// with all of bits 0-6 set, or all of bits 8-10 set, becomes 127.
int ReadDayMaskChoice(const TDaysOfWeekView& view);
// The mask of a cell when the dialog opens: its integer, or 127 (written back at once) when the
// cell holds none. WriteBack tells whether the cell must be replaced.
int DayMaskOfCell(const TJson& cell, bool* writeBack = nullptr);

// ---------------------------------------------------------------------------------------------
// Times array: up to three {"Start", "Stop", "Times"} objects, hours 0-23, spots 1-99.

struct TContractTimes {
  int Start = 0;
  int Stop = 0;
  int Times = 0;
  bool operator==(const TContractTimes&) const = default;
};

// The entries of a times array cell; entries that are not objects are skipped, numbers are
// rounded to integers. A cell that is not an array has no entries.
std::vector<TContractTimes> ReadTimesArray(const TJson& cell);
TJson TimesArrayToJson(const std::vector<TContractTimes>& times);
// The cell text: the ranges joined by "; ", each Start-Stop*Times ("0-23*1; 10-12*2").
std::string TimesArrayText(const TJson& cell);

// The three rows of "Select times per hour" (values as the number editors hold them).
struct TTimesDialogRow {
  double Begin = 0;
  double End = 0;
  double Times = 0;
};
inline constexpr int TimesDialogRows = 3;
using TTimesDialogRows = std::array<TTimesDialogRow, TimesDialogRows>;
// Editor limits: Begin and End 0-23, Times 0-99, the first row's Times at least 1.
double TimesDialogMinTimes(int row);
// The rows shown on opening: row k shows element k of the cell's array, the other rows the
// editors' defaults. A cell without an array starts from an empty array, which is written back
// at once (WriteBack set).
TTimesDialogRows OpenTimesDialog(const TJson& cell, bool* writeBack = nullptr);
// A Begin above its End raises the End; an End below its Begin lowers the Begin.
void TimesDialogBeginChanged(TTimesDialogRow& row);
void TimesDialogEndChanged(TTimesDialogRow& row);
// "Save": the rows whose Times is not 0, in row order, values rounded to integers.
TJson SaveTimesDialog(const TTimesDialogRows& rows);

// ---------------------------------------------------------------------------------------------
// Rows

// A new contract row: no place, no film, today, today + 7 days, [{0, 23, 1}], 127.
TJson NewContractRow(TDateTime today);
// A new place row: no server, no group.
TJson NewPlaceRow();

// One row of a contract as the time line books it.
struct TContractRow {
  std::string Place;   // place record id: the time line collection of the bookings
  std::string Film;    // film or playlist record id
  TDateTime Durations = 0;  // the film's duration, or the sum of the playlist's films
  uint16_t DayOfWeek = 0;
  TDateTime StartDate = 0;
  TDateTime StopDate = 0;
  std::array<int, 24> TimesPerHour{};  // spots per hour of the day
};

// Spots per hour: for each times entry and each hour from Start to Stop (clamped to 0-23),
// the entry's Times is added.
std::array<int, 24> TimesPerHourOf(const std::vector<TContractTimes>& times);

// Where the rows of a contract are checked and their durations found.
struct TContractRowsSource {
  TDbCollectionItem* ContractsColl = nullptr;  // the collection the contract record is in
  std::string ContractID;
  // The main database with Films and PlayLists; nullptr: durations are not resolved.
  TDbFile* MainDb = nullptr;
};

// Builds the rows of a contract record in table order. A row without a place or with a date
// that is not a date is reported through the tracker against the contract record; with a main
// database, a film or playlist that does not resolve is reported as an invalid reference. Every
// report raises EDbFException (the tracker has shown it).
std::vector<TContractRow> ContractRows(const TJson& contract, const TContractRowsSource& source,
                                       TSuperReference& tracker);

// Duration of a film or playlist reference of the main database: a film's "Duration" read as a
// time of day (an unreadable text counts 0); a playlist's items summed, nested playlists
// included (a playlist met again inside itself counts 0). A missing record is reported through
// the tracker.
TDateTime ReferenceDuration(TDbFile& mainDb, const TrefID& ref, TSuperReference& tracker);

// The days a row books: from StartDate to StopDate inclusive, those whose weekday bit
// (Monday bit 0 ... Sunday bit 6) is set in DayOfWeek. Day numbers as in TDateTime.
std::vector<int64_t> QualifyingDays(const TContractRow& row);
bool DayQualifies(int64_t day, uint16_t dayOfWeek);
// The time line's record id of a day: "yyyymmdd".
std::string DayRecordID(int64_t day);
