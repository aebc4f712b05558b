#include "schedule/ChSchedCheck.h"

#include <fmt/format.h>

#include <cmath>
#include <random>

#include "catalogue/Channels.h"
#include "schedule/DoSchedule.h"

namespace {

constexpr TDateTime HalfSecond = 500 * OneMSec;

std::string StartCell(const TJson& row) {
  if (!row.is_array() || row.size() <= ChSchedStartCell || !row[ChSchedStartCell].is_string()) return "";
  std::string s;
  for (char c : row[ChSchedStartCell].get<std::string>())
    if (c != ' ') s += c;
  return s;
}

bool IsPlaylistRow(const TJson& row) {
  return row.is_array() && row.size() > ChSchedContentCell && row[ChSchedContentCell].is_object() &&
         JsonStr(row[ChSchedContentCell], "_CL") == "PlayLists";
}

}  // namespace

std::string TChSchedRowView::Times() const {
  bool any = false;
  for (const std::string& e : Err) any = any || !e.empty();
  if (!any) return Range;
  std::string s = Range + "|";
  for (const std::string& e : Err) s += e + "|";
  return s;
}

TChSchedRecompute RecomputeChSched(TDbFile& db, const std::string& Id, const TJson& record,
                                   IOperator* Op, std::shared_ptr<TScheduleRecordIndex> Index) {
  TChSchedRecompute res;
  bool autoPeriod = JsonBool(record, "AutoPeriod");
  res.PeriodEnabled = !autoPeriod;
  const TJson* tbl = JsonPath(record, "Table");
  size_t n = tbl && tbl->is_array() ? tbl->size() : 0;
  res.Rows.resize(n);

  const TJson* chRef = JsonPath(record, "Channel");
  std::string chId = chRef && chRef->is_object() ? JsonStr(*chRef, "_ID") : "";
  std::optional<TJson> ch = chId.empty() ? std::nullopt : db.CollectionByName("Channels").GetRecord(chId);
  if (!ch || JsonInt(*ch, "Type") == ChTypeHeadend) {
    std::string msg = !ch ? "The channel isn't set!"
                          : "It is impossible to set the schedule for the HeadEnd channel!";
    for (TChSchedRowView& r : res.Rows) {
      r.Err[CalcStopped] = msg;
      r.HasError = true;
      r.Duration = "-";
      r.Range = "-";
    }
    return res;
  }
  bool cmdChannel = JsonInt(*ch, "Type") == ChTypeCommand;

  // With "Period - Auto" the last row is never limited.
  static const std::string unlimited = "99999 00:00:00";
  TSchedule sh(&db, std::move(Index));
  std::vector<TOneFilmInfo> rows;
  TSuperReference supRef(Op);
  ChannelBuild(supRef, db, Id, record, sh, rows, true, autoPeriod ? &unlimited : nullptr);

  if (n > 0) {
    TOneFilmInfo& last = rows[n - 1];
    // Whether the first row has a start time is decided on the text without blanks; its value
    // is read from the cell as typed, as the build reads it ("1 06:00:00" starts on day 1).
    const TJson& firstRow = (*tbl)[0];
    std::string firstStartText = StartCell(firstRow);
    TDateTime firstStart = 0;
    if (!firstStartText.empty()) {
      try {
        firstStart = StrToDeltaTime(firstRow[0].get<std::string>());
      } catch (const EConvertError&) {
      }
    }
    TDateTime period = 0;
    try {
      period = StrToDeltaTime(JsonStr(record, "Period"));
    } catch (const EConvertError&) {
    }
    if (autoPeriod) {
      TScheduleInterval* first = sh.Intervals.empty() ? nullptr : sh.Intervals[0].get();
      TDateTime p;
      if (!firstStartText.empty()) {
        TDateTime e = (cmdChannel ? (first ? first->GetLastCmd() : 0) : last.EndT) + OneSecond;
        p = std::ceil(e - firstStart - TimeEpsilon);
      } else if (!cmdChannel) {
        p = last.EndT;
      } else {
        p = first ? first->GetLastCmd() : 1;
      }
      if (cmdChannel && p < 60 * OneSecond) p = 60 * OneSecond;
      res.Period = p;
      period = p;
    }
    if (!cmdChannel) {
      TDateTime periodEnd = period + firstStart;
      // Told on the last row that plays (rows dropped at the end play nothing).
      size_t playing = n - 1;
      while (playing > 0 && rows[playing].Dropped) --playing;
      if (periodEnd - last.EndT > HalfSecond + TimeEpsilon)
        rows[playing].Err[Pause] = fmt::format("Interruption in the broadcast of {} from {} to {}",
                                      DurationToDisplayStr(periodEnd - last.EndT),
                                      DurationToDisplayStr(last.EndT), DurationToDisplayStr(periodEnd));
    }
  }

  for (size_t i = 0; i < n; ++i) {
    const TOneFilmInfo& info = rows[i];
    TChSchedRowView& v = res.Rows[i];
    v.Err = info.Err;
    auto range = [&]() -> std::string {
      if (!TimeEqual(info.Start, info.EndT))
        return DurationToDisplayStr(info.Start) + " - " +
               (info.EndT == 0 ? std::string("-") : DurationToDisplayStr(info.EndT));
      if (cmdChannel) return DurationToDisplayStr(info.Start);
      return "-";
    };
    auto keepOnly = [&](TOneFilmError k) {
      for (int s = 0; s < OneFilmErrorCount; ++s)
        if (s != k) v.Err[static_cast<size_t>(s)].clear();
    };
    if (cmdChannel) {
      v.Duration = "-";
      v.Range = range();
    } else {
      if (info.Duration == InvalidFilmDuration) v.Err[InvalidReference] = "Invalid reference.";
      if (info.Dropped) {
        // Plays nothing: its slot says why, and no figure is made up for it.
        keepOnly(FilmDeleted);
        v.Duration = "-";
        v.Range = "-";
      } else if (!v.Err[InvalidReference].empty() || !v.Err[CalcStopped].empty()) {
        keepOnly(!v.Err[InvalidReference].empty() ? InvalidReference : CalcStopped);
        v.Duration = "-";
        v.Range = "-";
      } else if (!v.Err[TimeErr].empty()) {
        keepOnly(TimeErr);
        v.Duration = DurationToDisplayStr(info.Duration);
        v.Range = range();
      } else if (!v.Err[Period].empty()) {
        keepOnly(Period);
        v.Duration = DurationToDisplayStr(info.Duration);
        v.Range = range();
      } else {
        v.Range = range();
        v.Duration = info.Duration == 0 ? "-" : DurationToDisplayStr(info.Duration);
        if (!v.Err[PlayListRedused].empty()) {
          TDateTime played = info.EndT - info.Start;
          if (played >= 10 * OneMSec - TimeEpsilon) {
            v.Err[PlayListRedused] = fmt::format(
                "Movies were removed from a playlist! Only first {} will be broadcast!",
                DurationToDisplayStr(played));
          } else {
            v.Err[PlayListRedused].clear();
            v.Err[FilmDeleted] = "No place for the playlist. The playlist will not be broadcast!";
          }
        }
        if (info.Duration < 3 * OneSecond - TimeEpsilon) v.Err[ZeroDuration] = "Too short movie!";
      }
    }
    v.HasError = false;
    for (const std::string& e : v.Err) v.HasError = v.HasError || !e.empty();
  }
  return res;
}

bool RowsHoldPlaylist(const TJson& table, int lo, int hi) {
  for (int i = std::max(lo, 0); table.is_array() && i <= hi && i < static_cast<int>(table.size()); ++i)
    if (IsPlaylistRow(table[static_cast<size_t>(i)])) return true;
  return false;
}

bool RowsHoldCommands(const TJson& table, int lo, int hi) {
  for (int i = std::max(lo, 0); table.is_array() && i <= hi && i < static_cast<int>(table.size()); ++i) {
    const TJson& row = table[static_cast<size_t>(i)];
    if (row.is_array() && row.size() > ChSchedCommandsCell && row[ChSchedCommandsCell].is_array() &&
        !row[ChSchedCommandsCell].empty()) return true;
  }
  return false;
}

TShuffleResult ShuffleRows(const TJson& table, const std::string& First, const std::string& Last,
                           bool Playlists, bool Commands, uint32_t Seed) {
  TShuffleResult res;
  res.Table = table;
  int count = table.is_array() ? static_cast<int>(table.size()) : 0;
  if (count < 2) return res;
  auto toInt = [](const std::string& s, int& v) {
    try {
      size_t pos = 0;
      v = std::stoi(s, &pos);
      return s.find_first_not_of(" ", pos) == std::string::npos;
    } catch (const std::exception&) {
      return false;
    }
  };
  int first = 0, last = 0;
  if (!toInt(First, first) || !toInt(Last, last)) {
    res.Error = "Error";
    return res;
  }
  int lo = first - 1, hi = std::min(last, count) - 1;
  if (!(lo < hi && lo < count - 1 && hi >= 0)) return res;
  if (lo < 0) lo = 0;
  TJson& t = res.Table;
  std::mt19937 gen(Seed);
  int b = lo;
  while (b <= hi) {
    int e = b + 1;
    while (e <= hi && StartCell(t[static_cast<size_t>(e)]).empty()) ++e;
    int size = e - b;
    int eligible = 0;
    for (int r = b; r < e; ++r)
      if (Playlists || !IsPlaylistRow(t[static_cast<size_t>(r)])) ++eligible;
    if (eligible > 1) {
      std::uniform_int_distribution<int> dist(0, size - 1);
      for (int r = b; r < e; ++r) {
        if (!Playlists && IsPlaylistRow(t[static_cast<size_t>(r)])) continue;
        int k = dist(gen);
        if (!Playlists)
          while (IsPlaylistRow(t[static_cast<size_t>(b + k)])) k = dist(gen);
        TJson& x = t[static_cast<size_t>(r)];
        TJson& y = t[static_cast<size_t>(b + k)];
        if (x.is_array() && y.is_array() && x.size() > 2 && y.size() > 2) {
          std::swap(x[2], y[2]);
          if (Commands && x.size() > 3 && y.size() > 3) std::swap(x[3], y[3]);
          res.Changed = true;
        }
      }
    }
    b = e;
  }
  return res;
}
