#pragma once
// The advertising time line (timeline.json): for every place and day, which contracts play
// their films in which hour and how many times.
//
// Layout of the time-line database:
//   collection <place id>:  "OneHour": [{"Tbl": [{"Contr", "Film", "Count"}, ...], "Cntr": n}, ...]
//                           "yyyymmdd": [mix index or null for hours 0..23]
//   collection "Contracts": <contract id>: the contract record as it was booked.
// Every distinct mix of one hour is kept once per place; "Cntr" counts the day-and-hour cells
// pointing at it, and an entry with "Cntr" 0 is free for reuse.
//
// A contract operation changes the day records and the hour-mix tables in memory and writes
// the file once, with its last change (the booked copy stored or removed), so booking a year
// costs one file write. When anything fails, memory is put back as it was before the operation
// and the file is untouched: a contract is either booked whole, with its copy, or not at all.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "advert/Contracts.h"
#include "recstore/JrecClasses.h"

inline constexpr const char* TimeLineErrorCaption = "Error in TimeLine database!";
inline constexpr const char* ContractsDeletionErrorText = "Contracts deletion error!";
inline constexpr const char* ContractsAdditionErrorText = "Contracts addition error!";
inline constexpr const char* TimeLineContractsName = "Contracts";
inline constexpr const char* OneHourRecordID = "OneHour";

// One change made to the cells of one row: cells that had mix ID (-1 for none) and receive
// TimesPerHour spots get mix NewID. Ordered by TimesPerHour, then ID.
struct TOneHourSchedule {
  int ID = -1;
  int NewID = -1;
  int TimesPerHour = 0;
  bool operator<(const TOneHourSchedule& o) const {
    return TimesPerHour != o.TimesPerHour ? TimesPerHour < o.TimesPerHour : ID < o.ID;
  }
};

// What the last operation did.
struct TTimeLineStats {
  int Rows = 0;
  int64_t CellsBooked = 0;   // cells given a booking
  int64_t CellsCleared = 0;  // cells whose booking was removed (null afterwards or merged)
  int DaysWritten = 0;       // day records changed
  int DaysDeleted = 0;       // day records removed
  int FileWrites = 0;        // writes of timeline.json
  int DanglingCells = 0;     // cells that pointed outside their hour-mix table (repaired)
};

class TTimeLine {
public:
  // MainDb (Films, PlayLists) resolves the films of a contract being added; without it the
  // durations are not computed. Op: where messages go (nullptr: the process operator).
  TTimeLine(TDbFile& timeLine, TDbFile& contracts, TDbFile* mainDb = nullptr,
            IOperator* op = nullptr);

  // Deletes the contract from the time line, then books every row of its record in the
  // contracts database and stores the booked copy. False after an error, which has been shown.
  bool AddContract(const std::string& contractID);
  // Removes the contract as it was booked (its stored copy). True also when it was not booked.
  bool DeleteContract(const std::string& contractID);

  // The unbatched way, kept to measure the batched one against: every day record and hour-mix
  // table is written to the file as soon as it is made.
  bool SaveEveryRecord = false;

  const TTimeLineStats& Stats() const { return FStats; }
  // Why the last operation failed ("" when it did not).
  const std::string& LastError() const { return FLastError; }

  // The collection of a place (added to the database on first use).
  TDbCollectionItem& PlaceCollection(const std::string& placeID);
  TDbCollectionItem& ContractsCollection();

private:
  class TBatch;
  IOperator& Op() const;
  void RequireWritable();
  // Deletes the bookings of the contract's stored copy (in memory); false when it has none.
  bool DeleteBookings(TBatch& batch, const std::string& contractID);
  void BookRow(TBatch& batch, const TContractRow& row, const std::string& contractID);
  void DeletePlaceRows(TBatch& batch, const std::string& place,
                       const std::vector<const TContractRow*>& rows,
                       const std::string& contractID);

  TDbFile& FTimeLine;
  TDbFile& FContracts;
  TDbFile* FMainDb;
  IOperator* FOperator;
  TTimeLineStats FStats;
  std::string FLastError;
};

// Reading the stored form.
// The hour-mix index held by element h of a day record: -1 when missing, null or not an
// integer.
int DayElement(const TJson& day, size_t h);
// The "Cntr" of every entry of an hour-mix table (0 for entries that are not objects).
std::vector<int64_t> HourMixCounters(const TJson& table);
