#pragma once
// What the channel schedule editor computes after every change, without a window: per row the
// "Duration" and "Times" texts with the error slots, the new period with "Period - Auto", and
// the shuffle of rows.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"
#include "schedule/ScheduleClasses.h"

struct TChSchedRowView {
  std::string Duration;  // the "Duration" cell
  std::string Range;     // the time range, the text of "Times" before its first "|"
  std::array<std::string, OneFilmErrorCount> Err;
  bool HasError = false;
  // The "Times" cell: the range followed, when any slot has a message, by "|" + each slot + "|".
  std::string Times() const;
};

struct TChSchedRecompute {
  std::vector<TChSchedRowView> Rows;
  std::optional<TDateTime> Period;  // the computed period (AutoPeriod on, a schedule built)
  bool PeriodEnabled = true;        // the period editor is enabled (AutoPeriod off)
};

// Recomputes a ChSched record as the form shows it (Id names it in error reports). Errors that
// abort even in check mode (a head-end channel, an invalid or circular reference) raise
// EDbFException after being shown through Op.
// Index: the record index kept between recomputes of one editor (a new one when not given).
TChSchedRecompute RecomputeChSched(TDbFile& db, const std::string& Id, const TJson& record,
                                   IOperator* Op = nullptr,
                                   std::shared_ptr<TScheduleRecordIndex> Index = nullptr);

// Shuffle of the content of rows First..Last (texts as typed, counted from 1) of a table, block
// by block; start times and interval types stay. Playlists: playlist rows take part. Commands:
// commands move with the content.
struct TShuffleResult {
  TJson Table;
  std::string Error;  // "Error" when a row number is not an integer
  bool Changed = false;
};
TShuffleResult ShuffleRows(const TJson& table, const std::string& First, const std::string& Last,
                           bool Playlists, bool Commands, uint32_t Seed);
// Whether rows First..Last (zero-based, inclusive) hold a playlist / a non-empty command list;
// the shuffle asks its two questions only then.
bool RowsHoldPlaylist(const TJson& table, int lo, int hi);
bool RowsHoldCommands(const TJson& table, int lo, int hi);
