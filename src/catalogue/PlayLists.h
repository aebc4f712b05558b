#pragma once
// Durations of films and playlists as the playlists window shows them: no time limit, 0 means
// "unknown".
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"
#include "base/CommonProcedures.h"

// Duration of a reference {"_ID", "_CL"}: a film's Duration text; a playlist's Repeat times the
// sum of its items (0 when any item is 0, or when the playlist is already being expanded on
// the current path); 0 for anything else or a failure while reading.
TDateTime ReferenceDuration(TDbFile& db, const TJson& ref);

// "-" for 0; "hh:nn:ss" below one day; from one day on the days, a blank and "hh:nn:ss".
std::string PlayListDurationText(TDateTime value);

// The figures of the playlists window for a table as shown and a repetition count.
struct TPlayListFigures {
  std::vector<std::string> Durations;  // column "Durations" per row
  std::vector<std::string> Summaries;  // column "Summary" per row
  TDateTime Total = 0;                 // 0 when unknown
  std::string Label;                   // total + " - playlist duration"
};
TPlayListFigures PlayListFigures(TDbFile& db, const TJson& table, int64_t repeat);
