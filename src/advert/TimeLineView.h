#pragma once
// Reading the time line without changing it: what a place has booked in the hours of a day
// (the calendar), what one contract has booked per place and day (the as-booked report and its
// CSV), and how much of a contract's time is already taken by other contracts ("Check free
// time").
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "advert/Contracts.h"
#include "recstore/JrecClasses.h"

struct TTimeLineBooking {
  std::string Contr;
  std::string Film;
  int64_t Count = 0;
};

// One hour of a day at a place: the hour mix it points at (-1 for none) and its bookings.
struct TBookedHour {
  int Mix = -1;
  std::vector<TTimeLineBooking> Bookings;
  int64_t Spots = 0;  // the sum of the bookings' counts
};
using TBookedDay = std::array<TBookedHour, 24>;

// The bookings of one place, its hour-mix table read once.
class TPlaceBookings {
public:
  // A place the time line does not know has no bookings; nothing is added to the database.
  TPlaceBookings(TDbFile& timeLine, const std::string& placeID);
  // Reads the database's document in place: use it before the time line changes again.
  bool Known() const { return FDoc != nullptr; }
  TBookedDay Day(int64_t day) const;
  // The ids of the day records ("yyyymmdd"), in date order.
  std::vector<std::string> DayIDs() const;
  const TJson& HourMixes() const { return FTable; }
  std::vector<TTimeLineBooking> MixBookings(int mix) const;

private:
  const TJson* FDoc = nullptr;
  TJson FTable = TJson::array();
};

// The day number (TDateTime) of a day record id "yyyymmdd"; false when it is none.
bool DayOfRecordID(const std::string& id, int64_t& day);

// ---------------------------------------------------------------------------------------------
// As-booked report of one contract: the hours and spots booked per place and day, read from the
// day records themselves (not from the contract), so it shows what the time line really holds.

struct TAsBookedDay {
  int64_t Day = 0;
  int Hours = 0;       // hours of the day holding a booking of the contract
  int64_t Spots = 0;   // the spots of those bookings
};

struct TAsBookedPlace {
  std::string Place;
  std::string PlaceName;
  std::vector<TAsBookedDay> Days;  // in date order, only days with a booking
  int Hours = 0;
  int64_t Spots = 0;
};

struct TAsBookedReport {
  std::string Contract;
  std::string ContractName;
  std::vector<TAsBookedPlace> Places;  // in the order of the time line's collections
  int Hours = 0;
  int64_t Spots = 0;
};

// Contracts (may be nullptr) gives the names of the contract and its places.
TAsBookedReport AsBookedReport(TDbFile& timeLine, TDbFile* contracts, const std::string& contractID);

// The report as CSV (RFC 4180, comma separated, CRLF line ends):
//   Contract,Place,Date,Hours,Spots
//   Shop,Mall,01.02.2024,4,7              one line per place and day
//   Shop,Mall,Total,20,35                 after the days of each place
//   Shop,,Total,40,70                     the last line
std::string AsBookedCsv(const TAsBookedReport& report);

// ---------------------------------------------------------------------------------------------
// "Check free time": for each row of a contract, the cells it would book and how many of them
// already hold bookings of other contracts.

struct TFreeTimeRow {
  std::string Place;
  int64_t Cells = 0;          // day-and-hour cells the row books
  int64_t TakenCells = 0;     // of them, cells already holding another contract's booking
  int64_t MaxOtherSpots = 0;  // the most spots of other contracts in one of those cells
};

std::vector<TFreeTimeRow> CheckFreeTime(TDbFile& timeLine, const std::vector<TContractRow>& rows,
                                        const std::string& contractID);
