#include "schedule/DoSchedule.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <unistd.h>

#include "base/InstallPaths.h"
#include "catalogue/Channels.h"

namespace fs = std::filesystem;

namespace {

constexpr TDateTime OneMinute = 60 * OneSecond;
constexpr TDateTime HalfSecond = 500 * OneMSec;

using TFilmAction = std::function<bool(const std::string&)>;

std::string StripBlanks(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != ' ' && c != '\t') out += c;
  return out;
}

const TJson* Cell(const TJson& row, size_t i) {
  if (!row.is_array() || i >= row.size()) return nullptr;
  return &row[i];
}

std::string CellText(const TJson& row, size_t i) {
  const TJson* c = Cell(row, i);
  return c && c->is_string() ? c->get<std::string>() : std::string();
}

// Walks a film or playlist reference and runs Action for every film in playing order. The
// stack holds the playlists being expanded, so a playlist that contains itself is refused.
bool WalkContent(TSuperReference& supRef, TSchedule& sh, const TJson& ref, TOneFilmInfo* info,
                 bool report, const TFilmAction& action, std::vector<std::string>& stack) {
  static const std::string empty;
  auto member = [&ref](const char* key) -> const std::string& {
    if (!ref.is_object()) return empty;
    auto it = ref.find(key);
    return it != ref.end() && it->is_string() ? it->get_ref<const std::string&>() : empty;
  };
  const std::string& cl = member("_CL");
  const std::string& id = member("_ID");
  if (cl == "Films") {
    bool ok = action(id);
    if (!ok && report && info) {
      info->Err[FilmDeleted] = "No place for the movie. The Movie will not be broadcast!";
      info->HasError = true;
    }
    return ok;
  }
  if (cl != "PlayLists") {
    supRef.ShowErrorMsg("Invalid reference.", true);
    return false;
  }
  if (std::find(stack.begin(), stack.end(), id) != stack.end()) {
    supRef.ShowErrorMsg("Circular reference.", true);
    return false;
  }
  TDbCollectionItem& lists = sh.FilmsDBF->CollectionByName("PlayLists");
  // The in-memory record when there is one (no copy); otherwise a read through the tracker,
  // which reports a missing playlist.
  std::optional<const TJson*> found = sh.FindRecord("PlayLists", id);
  std::optional<TJson> copy;
  const TJson* rec = nullptr;
  if (found && *found) {
    supRef.Push(lists, id, false);
    rec = *found;
  } else {
    copy = supRef.Push(lists, id, true);
    if (!copy) {  // only when the tracker is silent
      supRef.Pop();
      return false;
    }
    rec = &*copy;
  }
  stack.push_back(id);
  int64_t repeat = JsonInt(*rec, "Repeat");
  const TJson* tbl = &RecordTable(supRef, *rec, "Table");
  static const TJson none = TJson::object();
  for (int64_t r = 0; r < repeat; ++r) {
    for (const TJson& row : *tbl) {
      const TJson* c = Cell(row, 0);
      if (!WalkContent(supRef, sh, c ? *c : none, info, report, action, stack)) {
        stack.pop_back();
        supRef.Pop();
        if (report && info) {
          info->Err[FilmDeleted].clear();
          info->Err[PlayListRedused] = "Reduced";
          info->HasError = true;
        }
        return false;
      }
    }
  }
  stack.pop_back();
  supRef.Pop();
  return true;
}

void FinishInterval(TScheduleInterval* in) {
  if (!in) return;
  if (in->Typ == RepeatLastMovie) in->TempEndTime = in->EndTime;
  in->CmdSort();
}

TDateTime ParseDelta(const std::string& text) { return StrToDeltaTime(text); }

}  // namespace

void CheckRefCellNotEmpty(TSuperReference& supRef, const TJson& table, size_t row, size_t cell,
                          const std::string& tableName, const std::string& column,
                          const std::string& what) {
  if (!table.is_array() || row >= table.size()) return;
  const TJson* c = Cell(table[row], cell);
  if (c && c->is_object() && !JsonStr(*c, "_ID").empty()) return;
  supRef.ShowErrorMsg("The cell is empty: choose " + what + ".", column, static_cast<int>(row) + 1,
                      tableName, true);
}

std::string OverlapMessage(TDateTime previousEnd, TDateTime start) {
  return fmt::format("Error in column \"Start time\". The rows above play until {}, past this start time {}",
                     DurationToDisplayStr(previousEnd), DurationToDisplayStr(start));
}

void CheckNoOverlap(TSuperReference& supRef, const TSchedule& sh, size_t first) {
  std::vector<const TScheduleInterval*> added;
  for (size_t k = first; k < sh.Intervals.size(); ++k) added.push_back(sh.Intervals[k].get());
  std::stable_sort(added.begin(), added.end(), [](const TScheduleInterval* a, const TScheduleInterval* b) {
    return a->StartTime < b->StartTime;
  });
  for (size_t k = 1; k < added.size(); ++k) {
    const TScheduleInterval& a = *added[k - 1];
    const TScheduleInterval& b = *added[k];
    if (a.ChannelId != b.ChannelId || !TimeGreater(a.TempEndTime, b.StartTime)) continue;
    supRef.ShowErrorMsg(fmt::format("Two intervals of one channel overlap: {} - {} and {} - {}",
                                    DurationToDisplayStr(a.StartTime), DurationToDisplayStr(a.TempEndTime),
                                    DurationToDisplayStr(b.StartTime), DurationToDisplayStr(b.TempEndTime)),
                        static_cast<int>(b.SourceRow) + 1, "", true);
  }
}

void ChannelBuild(TSuperReference& supRef, TDbFile& db, const std::string& chSchedID,
                  const TJson& chSched, TSchedule& Schedule, std::vector<TOneFilmInfo>& rows,
                  bool CheckMode, const std::string* PeriodText) {
  supRef.Push(db.CollectionByName("ChSched"), chSchedID, false);
  bool autoPeriod = JsonBool(chSched, "AutoPeriod");
  const TJson* chRef = JsonPath(chSched, "Channel");
  std::string chId = chRef && chRef->is_object() ? JsonStr(*chRef, "_ID") : std::string();
  std::optional<TJson> ch = supRef.Get(db.CollectionByName("Channels"), chId);
  int64_t t = ch ? JsonInt(*ch, "Type") : 0;
  if (t == ChTypeHeadend) supRef.ShowErrorMsg("It is impossible to create a schedule for headend channel!", true);

  const TJson& tbl = RecordTable(supRef, chSched, "Table");
  size_t n = tbl.size();
  rows.assign(n, TOneFilmInfo{});

  auto report = [&](size_t i, TOneFilmError k, const std::string& msg) {
    if (CheckMode) {
      rows[i].Err[k] += msg;
      rows[i].HasError = true;
    } else {
      supRef.ShowErrorMsg(msg, static_cast<int>(i) + 1, "", true);
    }
  };

  TDateTime period = 0;
  std::string periodText = PeriodText ? *PeriodText : JsonStr(chSched, "Period");
  if (!StripBlanks(periodText).empty()) {
    try {
      period = ParseDelta(periodText);
    } catch (const EConvertError& e) {
      supRef.ShowErrorMsg("Error in \"Period\": " + std::string(e.what()), true);
    }
  }

  // Start cell of row j: nothing when it is empty.
  auto startOf = [&](size_t j, bool& bad) -> std::optional<TDateTime> {
    bad = false;
    std::string s = CellText(tbl[j], ChSchedStartCell);
    if (StripBlanks(s).empty()) return std::nullopt;
    try {
      return ParseDelta(s);
    } catch (const EConvertError& e) {
      bad = true;
      return std::nullopt;
    }
  };

  size_t firstInterval = Schedule.Intervals.size();
  std::vector<size_t> openingRows;  // the row that opened each interval added here
  bool goOn = true;
  TDateTime firstStart = 0;
  TDateTime rowStart = 0;
  TScheduleInterval* cur = nullptr;
  size_t curFirstRow = 0;  // the row that opened the current interval
  size_t overflowRow = 0;  // the row whose content did not fit (check mode)
  std::vector<std::string> stack;
  static const TJson noContent = TJson::object();

  for (size_t i = 0; i < n; ++i) {
    const TJson& row = tbl[i];
    bool bad = false;
    std::optional<TDateTime> st = startOf(i, bad);
    if (bad) report(i, TimeErr, "Error in column \"Start time\". \"" + CellText(row, ChSchedStartCell) +
                                    "\" is not valid duration");
    bool hasStart = st.has_value();
    if (hasStart) {
      rowStart = *st;
      goOn = true;
    }
    // The first row always begins a block; without a start time it starts at 0.
    if (i == 0 && !hasStart) {
      rowStart = 0;
      hasStart = true;
    }
    if (!goOn) {
      // Check mode says why the row plays nothing, and where its block ends.
      if (CheckMode && cur) {
        TOneFilmInfo& info = rows[i];
        info.Start = info.EndT = cur->TempEndTime;
        info.IntervalTyp = cur->Typ;
        info.Dropped = true;
        info.HasError = true;
        info.Err[FilmDeleted] = fmt::format(
            "The row is dropped: the content of row {} does not fit before {}, so nothing after it up to the next start time is broadcast.",
            overflowRow + 1, DurationToDisplayStr(cur->EndTime));
      }
      continue;
    }
    if (i == 0) firstStart = rowStart;

    if (hasStart) {
      if (i == 0 && Schedule.CheckZeroTime && DayCount(rowStart) != 0)
        report(i, TimeErr, "In the first row day of the beginning of broadcasting must be zero!");
      TIntervalType typ = Cut;
      if (const TJson* c = Cell(row, ChSchedIntervalCell); c && c->is_number_integer()) {
        int64_t v = c->get<int64_t>();
        if (v == 1) typ = Del;
        if (v == 2) typ = RepeatLastMovie;
      }
      TDateTime rowEnd = 0;
      // A next row that starts at 0 00:00:00 is a limit like any other: 0 is not "no next row".
      bool hasNextRow = false;
      bool periodReported = false;  // a command channel checks its period twice; one message
      auto periodCheck = [&]() {
        if (period < OneMinute - TimeEpsilon && !periodReported) {
          periodReported = true;
          report(i, Period, "Period must be greater than " + DurationToDisplayStr(OneMinute));
        }
      };
      if (t == ChTypeCommand) {
        rowEnd = period + firstStart;
        periodCheck();
      } else {
        for (size_t j = i + 1; j < n; ++j) {
          bool b = false;
          if (auto s = startOf(j, b)) {
            rowEnd = *s;
            hasNextRow = true;
            break;
          }
        }
      }
      // A command channel's rows share one interval that the period limits.
      bool limitKnown = hasNextRow || (t == ChTypeCommand && rowEnd != 0);
      if (!limitKnown) {
        rowEnd = period + firstStart;
        periodCheck();
        if (rowEnd < rowStart - TimeEpsilon)
          report(i, Period, "Period must be greater than " + DurationToDisplayStr(rowStart));
        if (autoPeriod) typ = Cut;
      } else if (rowEnd < rowStart - TimeEpsilon) {
        report(i, TimeErr, "Error in column \"Start time\". Time must be less than " +
                               DurationToDisplayStr(rowEnd));
      }
      if (!(t == ChTypeCommand && i > 0)) {
        FinishInterval(cur);
        if (t == ChTypeCommand && i == 0) rowEnd = std::max(rowEnd, rowStart + 40 * OneSecond);
        cur = Schedule.AddInterval(chId, rowStart, rowEnd, period, typ, !CheckMode);
        cur->EndTimeIsLimit = hasNextRow;
        cur->SourceID = chSchedID;
        cur->SourceRow = i;
        openingRows.push_back(i);
        const size_t prevFirstRow = curFirstRow;
        curFirstRow = i;
        if (CheckMode && i > 0) {
          TDateTime prevEnd = rows[i - 1].EndT;
          TDateTime gap = rowStart - prevEnd;
          // A gap after dropped rows belongs to the last row that plays.
          size_t last = i - 1;
          while (last > prevFirstRow && rows[last].Dropped) --last;
          if (gap > HalfSecond + TimeEpsilon)
            rows[last].Err[Pause] = fmt::format("Interruption in the broadcast of {} from {} to {}",
                                                 DurationToDisplayStr(gap),
                                                 DurationToDisplayStr(prevEnd),
                                                 DurationToDisplayStr(rowStart));
        }
      }
    }
    if (t == ChTypeCommand) cur->TempEndTime = rowStart;

    TOneFilmInfo& info = rows[i];
    static const TJson noCommands = TJson::array();
    const TJson* cmds = Cell(row, ChSchedCommandsCell);
    // No cell, null and the empty object that older editors stored in new rows hold no command.
    if (!cmds || cmds->is_null() || (cmds->is_object() && cmds->empty())) cmds = &noCommands;
    const size_t cmdsBefore = cur->ScheduleCmd.size();
    bool cmdsPlaced = cmds->is_array() && cur->AddScheduleCmd(cmds, info);
    for (size_t k = cmdsBefore; k < cur->ScheduleCmd.size(); ++k) cur->ScheduleCmd[k].Row = i;
    if (!cmds->is_array()) {
      report(i, TimeErr, InvalidCommandListMessage);
    } else if (!cmdsPlaced && !CheckMode) {
      // A malformed command is named as such; a delay that cannot be placed keeps its message.
      const std::string& why = info.Err[TimeErr];
      supRef.ShowErrorMsg(why.rfind("Invalid command", 0) == 0 ? why
                                                                : "Invalid delay value of the first command!",
                          static_cast<int>(i) + 1, "", true);
    }
    if (t == ChTypeCommand) continue;

    const TJson* content = Cell(row, ChSchedContentCell);
    const TJson& ref = content ? *content : noContent;
    TScheduleInterval* in = cur;
    // A row without a film or playlist yet (a row just added) is that row's error: shown in its
    // slot while editing, the rows around it keep their figures; the build refuses it.
    if (!ref.is_object() || JsonStr(ref, "_ID").empty()) {
      if (!CheckMode) supRef.ShowErrorMsg(EmptyContentMessage, static_cast<int>(i) + 1, "", true);
      info.Start = info.EndT = in->TempEndTime;
      info.IntervalTyp = in->Typ;
      info.Duration = 0;
      info.Err[InvalidReference] = EmptyContentMessage;
      info.HasError = true;
      continue;
    }
    TFilmAction place = [&supRef, in](const std::string& id) {
      return in->EndTime != 0 || in->EndTimeIsLimit ? in->AddScheduleNote(&supRef, id, in->EndTime)
                              : in->AddScheduleNote(&supRef, id);
    };
    const size_t notesBefore = in->ScheduleNotes.size();
    auto markNotes = [&]() {
      for (size_t k = notesBefore; k < in->ScheduleNotes.size(); ++k) in->ScheduleNotes[k].Row = i;
    };
    if (!CheckMode) {
      goOn = WalkContent(supRef, Schedule, ref, &info, false, place, stack);
      markNotes();
      continue;
    }
    info.Start = in->TempEndTime;
    info.IntervalTyp = in->Typ;
    goOn = WalkContent(supRef, Schedule, ref, &info, true, place, stack);
    markNotes();
    if (!goOn) overflowRow = i;
    info.EndT = in->TempEndTime;
    if (TimeGreater(info.Start, info.EndT)) {
      // A keep-with-next group that began in earlier rows was removed. The chain belongs to
      // this interval, so the marks go back to the row whose content holds the new end (where
      // the group began), and never past the row that opened the interval. That row keeps
      // what it plays before the group; the rows after it play nothing any more.
      TDateTime newEnd = info.EndT;
      for (size_t j = i + 1; j-- > curFirstRow;) {
        bool holds = !TimeGreater(rows[j].Start, newEnd);
        rows[j].Err[FilmDeleted] = "No place for the movies group. Failed condition \"Keep With Next\"";
        rows[j].HasError = true;
        if (!holds) rows[j].Start = newEnd;
        rows[j].EndT = newEnd;
        if (holds) break;
      }
    }
    auto ownDuration = [&]() {
      in->LastMediaDuration = 0;
      TFilmAction calc = [&supRef, in](const std::string& id) { return in->CalcDuration(&supRef, id); };
      if (WalkContent(supRef, Schedule, ref, nullptr, false, calc, stack))
        info.Duration = in->LastMediaDuration;
      else
        info.Err[InvalidReference] = "Invalid reference.";
      if (in->RedusedFilm) {
        info.Err[FilmRedused] = fmt::format("Film {} is redused! Only first {} will be broadcast!",
                                            in->RedusedFilm->FileName,
                                            DurationToDisplayStr(in->RedusedFilmDuration));
        info.HasError = true;
        in->RedusedFilm = nullptr;
      }
    };
    if (info.HasError) {
      info.Duration = 0;
      if (info.Err[InvalidReference].empty()) ownDuration();
    } else if (in->RedusedFilm) {
      ownDuration();
    } else {
      info.Duration = info.EndT - info.Start;
    }
  }
  FinishInterval(cur);
  if (t == ChTypeCommand && cur) cur->TempEndTime = std::max(cur->TempEndTime, cur->StartTime + 40 * OneSecond);
  if (!CheckMode) {
    CheckNoOverlap(supRef, Schedule, firstInterval);
  } else {
    // What the build refuses shows in the start-time slot of the row it runs into (a keep-with-
    // next group still open at the end of an interval may run past the next start).
    for (size_t k = 1; k < openingRows.size() && firstInterval + k < Schedule.Intervals.size(); ++k) {
      const TScheduleInterval& a = *Schedule.Intervals[firstInterval + k - 1];
      const TScheduleInterval& b = *Schedule.Intervals[firstInterval + k];
      if (!TimeGreater(a.TempEndTime, b.StartTime) || TimeGreater(a.StartTime, b.StartTime)) continue;
      TOneFilmInfo& info = rows[openingRows[k]];
      if (!info.Err[TimeErr].empty()) continue;
      info.Err[TimeErr] = OverlapMessage(a.TempEndTime, b.StartTime);
      info.HasError = true;
    }
  }
  supRef.Pop();
}

std::unique_ptr<TSchedule> BuildSchedule(const std::string& ScheduleID, TDbFile& db,
                                         IOperator* op, std::string* error) {
  IOperator& o = op ? *op : AppOperator();
  TDbCollectionItem& schedules = db.CollectionByName("Schedules");
  std::optional<TJson> rec = schedules.GetRecord(ScheduleID);
  if (!rec) {
    o.MessageBox("Error", "Invalid reference.", TMsgIcon::Error);
    if (error) *error = "Invalid reference.";
    return nullptr;
  }
  auto sh = std::make_unique<TSchedule>(&db);
  TSuperReference supRef(op);
  try {
    supRef.Push(schedules, ScheduleID, false);
    sh->Name = JsonStr(*rec, "Name");
    const TJson* tbl = &RecordTable(supRef, *rec, "Table");
    size_t n = tbl->size();
    TDbCollectionItem& chs = db.CollectionByName("ChSched");
    for (size_t i = 0; i < n; ++i) {
      CheckRefCellNotEmpty(supRef, *tbl, i, 0, "", "Channel schedule", "a channel schedule");
      std::optional<TJson> ch = supRef.Get(chs, *tbl, 0, static_cast<int>(i), "", true);
      std::string chID = JsonStr((*tbl)[i][0], "_ID");
      std::vector<TOneFilmInfo> rows;
      ChannelBuild(supRef, db, chID, *ch, *sh, rows, false);
    }
    supRef.Pop();
  } catch (const EDbFException& e) {
    if (error) *error = e.what();
    return nullptr;
  }
  return sh;
}

// ---------------------------------------------------------------------------------------------
// Texts of a built schedule

std::string ScheduleTimeText(TDateTime t, bool ShowSeconds, bool ShowDays) {
  std::string s = ShowDays && DayCount(t) >= 1 ? FormatDateTime("q hh:nn:ss", t)
                                               : FormatDateTime("hh:nn:ss", t);
  if (!ShowSeconds && s.size() >= 3) s.resize(s.size() - 3);
  return s;
}

TJson ScheduleSummary(TDbFile& db, const TSchedule& sh, std::vector<std::string>* Memo,
                      bool ShowFilmStartTime, bool ShowAllFilms, bool ShowSeconds, bool ShowDays,
                      const std::vector<size_t>& Indexes) {
  TJson result = TJson::object();
  std::vector<size_t> chosen = Indexes;
  if (chosen.empty())
    for (size_t i = 0; i < sh.Intervals.size(); ++i) chosen.push_back(i);
  TDbCollectionItem& channels = db.CollectionByName("Channels");
  for (const std::string& chId : sh.ChannelsId) {
    struct TFilmUse {
      const TFilm* Film;
      std::vector<TDateTime> Starts;
    };
    std::vector<TFilmUse> films;
    std::vector<const TScheduleInterval*> intervals;
    for (size_t idx : chosen) {
      if (idx >= sh.Intervals.size()) continue;
      const TScheduleInterval& in = *sh.Intervals[idx];
      if (in.ChannelId != chId) continue;
      intervals.push_back(&in);
      for (const TScheduleNote& note : in.ScheduleNotes) {
        auto it = std::find_if(films.begin(), films.end(),
                               [&](const TFilmUse& u) { return u.Film->_ID == note.Film->_ID; });
        if (it == films.end()) {
          films.push_back({note.Film, {}});
          it = films.end() - 1;
        }
        it->Starts.push_back(note.DateTime);
      }
    }
    if (Memo) {
      std::optional<TJson> ch = channels.GetRecord(chId);
      Memo->push_back("");
      Memo->push_back("Channel: " + (ch ? JsonStr(*ch, "Name") : std::string()));
      std::string line = "Intervals:";
      int onLine = 0;
      for (const TScheduleInterval* in : intervals) {
        if (!in->ShowInPaperSchedule) continue;
        if (onLine == 4) {
          Memo->push_back(line);
          line.clear();
          onLine = 0;
        }
        line += " (" + ScheduleTimeText(in->StartTime, ShowSeconds, ShowDays) + "-" +
                ScheduleTimeText(in->TempEndTime, ShowSeconds, ShowDays) + ")";
        ++onLine;
      }
      Memo->push_back(line);
      Memo->push_back("Movies:");
      for (const TFilmUse& u : films) {
        if (!u.Film->ShowInSchedule && !ShowAllFilms) continue;
        std::string count = " number of playbacks " + std::to_string(u.Starts.size());
        if (!ShowFilmStartTime) {
          Memo->push_back(u.Film->Name + count);
          continue;
        }
        std::string l;
        bool wrapped = false;
        for (TDateTime s : u.Starts) {
          if (l.size() > 40) {
            Memo->push_back(l);
            l.clear();
            wrapped = true;
          }
          l += "  " + ScheduleTimeText(s, ShowSeconds, ShowDays);
        }
        l += "  \"" + u.Film->Name + "\"  " + count;
        Memo->push_back(l);
        if (wrapped) Memo->push_back("");
      }
    }
    TJson pairs = TJson::array();
    for (const TFilmUse& u : films) {
      if (!u.Film->ShowInSchedule) continue;
      std::string times;
      for (TDateTime s : u.Starts) {
        if (!times.empty()) times += " ";
        times += FormatDateTime("hh:nn", s);
      }
      pairs.push_back(TJson::array({times, u.Film->_ID}));
    }
    if (!pairs.empty()) result[chId] = pairs;
  }
  return result;
}

std::string ScheduleCsvDir() {
  // Beside the program when it runs from a folder it may write to; an installed program writes
  // to the user's data folder.
  if (InstalledDataDir().empty()) {
    std::error_code ec;
    fs::path dir = fs::path(ProgramDir()) / "csv";
    fs::create_directories(dir, ec);
    if (!ec && access(dir.c_str(), W_OK) == 0) return dir.string();
  }
  return UserDataDir("csv");
}

std::string PrintScheduleDebug(const TSchedule& sh, std::vector<std::string>& Memo,
                               const TShowScheduleOptions& o, const std::string& csvDir) {
  std::string csv;
  if (o.SaveCsv) csv = "day;time;film;duration\r\n";
  const TScheduleInterval* prev = nullptr;
  for (const auto& inp : sh.Intervals) {
    const TScheduleInterval& in = *inp;
    if (o.TimeLine)
      Memo.push_back("day" + std::to_string(DayCount(in.StartTime)) + " " + TimeToStr(in.StartTime) +
                     " - day" + std::to_string(DayCount(in.TempEndTime)) + " " +
                     TimeToStr(in.TempEndTime) + " == Interval == ");
    if (o.SaveCsv && prev && in.StartTime - prev->TempEndTime >= OneSecond - TimeEpsilon)
      csv += std::to_string(DayCount(prev->TempEndTime)) + ";" + TimeToStr(prev->TempEndTime) +
             ";<<Empty space>>;" + TimeToStr(in.StartTime - prev->TempEndTime) + "\r\n";
    for (const TScheduleNote& note : in.ScheduleNotes) {
      if (o.TimeLine)
        Memo.push_back("day" + std::to_string(DayCount(note.DateTime)) + " " +
                       TimeToStr(note.DateTime) + "  " + note.Film->Name);
      if (o.SaveCsv)
        csv += std::to_string(DayCount(note.DateTime)) + ";" + TimeToStr(note.DateTime) + ";" +
               note.Film->Name + ";" + TimeToStr(note.Film->Duration) + "\r\n";
    }
    prev = &in;
  }
  if (!o.SaveCsv) return "";
  std::string dir = csvDir.empty() ? ScheduleCsvDir() : csvDir;
  std::error_code ec;
  fs::create_directories(dir, ec);
  // The schedule's name is the operator's text: a separator in it must not lead the file out
  // of the folder.
  std::string name = sh.Name;
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), '\\', '_');
  std::string path = (fs::path(dir) / (name + ".csv")).string();
  WriteFileAtomically(path, csv);
  return path;
}

std::vector<std::string> ShowSchedule(TDbFile& db, const TSchedule& sh,
                                      const TShowScheduleOptions& o, std::string* csvPath) {
  std::vector<std::string> memo;
  if (o.TimeLine || o.SaveCsv) {
    std::string p = PrintScheduleDebug(sh, memo, o);
    if (csvPath) *csvPath = p;
    memo.push_back("");
    memo.push_back("");
  }
  if (o.ShowRowsFilms)
    ScheduleSummary(db, sh, &memo, o.ShowFilmStartTime, o.ShowAllFilms, o.ShowSeconds, o.ShowDays);
  return memo;
}
