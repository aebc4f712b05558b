#include "advert/Contracts.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <fmt/format.h>

namespace {

// A JSON number rounded to an integer; anything else is Def.
int64_t RoundedInt(const TJson& v, int64_t def = 0) {
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_number_unsigned()) return static_cast<int64_t>(std::min<uint64_t>(v.get<uint64_t>(), INT64_MAX));
  if (v.is_number_float()) {
    double d = v.get<double>();
    if (!std::isfinite(d) || std::fabs(d) > 9.0e15) return def;
    return static_cast<int64_t>(std::llround(d));
  }
  return def;
}

int RoundDialogValue(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::lround(std::clamp(v, -1.0e6, 1.0e6)));
}

const TJson* MemberOf(const TJson& obj, const char* key) {
  if (!obj.is_object()) return nullptr;
  auto it = obj.find(key);
  return it == obj.end() ? nullptr : &*it;
}

// Longest period one row may book; a longer one is a typing error, not a contract.
constexpr int64_t MaxRowDays = 100 * 366;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Day mask

std::string DayMaskText(int mask) {
  if ((mask & dmAllDays) == dmAllDays) return "All";
  std::string text;
  auto add = [&](const std::string& name) {
    if (!text.empty()) text += ", ";
    text += name;
  };
  for (int d = 0; d < 7; ++d)
    if (mask & (1 << d)) add(ShortDayName(d));
  if (mask & dmWeekend) add("Weekend");
  if (mask & dmHolidays) add("Holidays");
  if (mask & dmWorkdays) add("Workdays");
  return text;
}

int CustomDayBoxBit(int box) {
  if (box >= 0 && box < 7) return 1 << box;
  if (box == 7) return dmWeekend;
  if (box == 8) return dmHolidays;
  return 0;
}

std::string CustomDayBoxCaption(int box) {
  if (box >= 0 && box < 7) return LongDayName(box);
  if (box == 7) return "Weekend";
  if (box == 8) return "Holidays";
  return {};
}

TDaysOfWeekView ShowDayMask(int mask) {
  TDaysOfWeekView view;
  switch (mask) {
    case dmAllDays: view.Choice = dwAllDays; break;
    case dmWeekendsAndHolidays: view.Choice = dwWeekendsAndHolidays; break;
    case dmWorkdays: view.Choice = dwWorkdays; break;
    default:
      view.Choice = dwCustom;
      for (int b = 0; b < CustomDayBoxCount; ++b) view.Boxes[b] = (mask & CustomDayBoxBit(b)) != 0;
  }
  return view;
}

int ReadDayMaskChoice(const TDaysOfWeekView& view) {
  int mask = 0;
  switch (view.Choice) {
    case dwAllDays: mask = dmAllDays; break;
    case dwWeekendsAndHolidays: mask = dmWeekendsAndHolidays; break;
    case dwWorkdays: mask = dmWorkdays; break;
    case dwCustom:
      for (int b = 0; b < CustomDayBoxCount; ++b)
        if (view.Boxes[b]) mask |= CustomDayBoxBit(b);
      break;
  }
  const int specials = dmWeekend | dmHolidays | dmWorkdays;
  if ((mask & dmAllDays) == dmAllDays || (mask & specials) == specials) mask = dmAllDays;
  return mask;
}

int DayMaskOfCell(const TJson& cell, bool* writeBack) {
  bool isInt = cell.is_number_integer() || cell.is_number_unsigned() ||
               (cell.is_number_float() && std::isfinite(cell.get<double>()) &&
                std::floor(cell.get<double>()) == cell.get<double>());
  if (writeBack) *writeBack = !isInt;
  if (!isInt) return dmAllDays;
  return static_cast<int>(RoundedInt(cell) & 0xFFFF);
}

// ---------------------------------------------------------------------------------------------
// Times array

std::vector<TContractTimes> ReadTimesArray(const TJson& cell) {
  std::vector<TContractTimes> out;
  if (!cell.is_array()) return out;
  for (const auto& e : cell) {
    if (!e.is_object()) continue;
    TContractTimes t;
    if (const TJson* v = MemberOf(e, "Start")) t.Start = static_cast<int>(std::clamp<int64_t>(RoundedInt(*v), -1000000, 1000000));
    if (const TJson* v = MemberOf(e, "Stop")) t.Stop = static_cast<int>(std::clamp<int64_t>(RoundedInt(*v), -1000000, 1000000));
    if (const TJson* v = MemberOf(e, "Times")) t.Times = static_cast<int>(std::clamp<int64_t>(RoundedInt(*v), -1000000, 1000000));
    out.push_back(t);
  }
  return out;
}

TJson TimesArrayToJson(const std::vector<TContractTimes>& times) {
  TJson arr = TJson::array();
  for (const auto& t : times) {
    TJson o = TJson::object();
    o["Start"] = t.Start;
    o["Stop"] = t.Stop;
    o["Times"] = t.Times;
    arr.push_back(std::move(o));
  }
  return arr;
}

std::string TimesArrayText(const TJson& cell) {
  std::string text;
  for (const auto& t : ReadTimesArray(cell)) {
    if (!text.empty()) text += "; ";
    text += fmt::format("{}-{}*{}", t.Start, t.Stop, t.Times);
  }
  return text;
}

double TimesDialogMinTimes(int row) { return row == 0 ? 1 : 0; }

TTimesDialogRows OpenTimesDialog(const TJson& cell, bool* writeBack) {
  TTimesDialogRows rows{};
  for (int r = 0; r < TimesDialogRows; ++r) rows[r].Times = TimesDialogMinTimes(r);
  if (writeBack) *writeBack = !cell.is_array();
  if (!cell.is_array()) return rows;
  auto times = ReadTimesArray(cell);
  for (size_t k = 0; k < times.size() && k < rows.size(); ++k) {
    rows[k].Begin = std::clamp(times[k].Start, 0, 23);
    rows[k].End = std::clamp(times[k].Stop, 0, 23);
    rows[k].Times = std::clamp<double>(times[k].Times, TimesDialogMinTimes(static_cast<int>(k)), 99);
  }
  return rows;
}

void TimesDialogBeginChanged(TTimesDialogRow& row) {
  if (row.Begin > row.End) row.End = row.Begin;
}

void TimesDialogEndChanged(TTimesDialogRow& row) {
  if (row.End < row.Begin) row.Begin = row.End;
}

TJson SaveTimesDialog(const TTimesDialogRows& rows) {
  std::vector<TContractTimes> times;
  for (const auto& r : rows) {
    int t = RoundDialogValue(r.Times);
    if (t == 0) continue;
    times.push_back({RoundDialogValue(r.Begin), RoundDialogValue(r.End), t});
  }
  return TimesArrayToJson(times);
}

// ---------------------------------------------------------------------------------------------
// Rows

TJson NewContractRow(TDateTime today) {
  TJson row = TJson::array();
  row.push_back(TrefIDToJson({}));
  row.push_back(TrefIDToJson({}));
  row.push_back(DateToStr(std::floor(today)));
  row.push_back(DateToStr(std::floor(today) + 7));
  row.push_back(TimesArrayToJson({{0, 23, 1}}));
  row.push_back(static_cast<int>(dmAllDays));
  return row;
}

TJson NewPlaceRow() {
  TJson row = TJson::array();
  row.push_back(TrefIDToJson({}));
  row.push_back(TrefIDToJson({}));
  return row;
}

std::array<int, 24> TimesPerHourOf(const std::vector<TContractTimes>& times) {
  std::array<int, 24> tph{};
  for (const auto& t : times) {
    int from = std::max(t.Start, 0), to = std::min(t.Stop, 23);
    for (int h = from; h <= to; ++h) tph[static_cast<size_t>(h)] += t.Times;
  }
  return tph;
}

bool DayQualifies(int64_t day, uint16_t dayOfWeek) {
  return (dayOfWeek & (1u << DayOfWeekMon0(day))) != 0;
}

std::vector<int64_t> QualifyingDays(const TContractRow& row) {
  std::vector<int64_t> days;
  if ((row.DayOfWeek & dmAllDays) == 0) return days;
  int64_t first = DayCount(row.StartDate), last = DayCount(row.StopDate);
  for (int64_t d = first; d <= last; ++d)
    if (DayQualifies(d, row.DayOfWeek)) days.push_back(d);
  return days;
}

std::string DayRecordID(int64_t day) {
  return FormatDateTime("yyyymmdd", static_cast<TDateTime>(day));
}

namespace {

TDateTime SumPlayList(TDbFile& mainDb, const std::string& id, TSuperReference& tracker,
                      std::set<std::string>& path);

TDateTime FilmDuration(const TJson& film) {
  std::string text = JsonStr(film, "Duration");
  if (text.empty()) return 0;
  try {
    return StrToTime(text);
  } catch (const std::exception&) {
    return 0;  // an unreadable duration counts as unknown
  }
}

TDateTime Resolve(TDbFile& mainDb, const TrefID& ref, TSuperReference& tracker,
                  std::set<std::string>& path) {
  TDbCollectionItem* films = mainDb.FindCollection("Films");
  TDbCollectionItem* lists = mainDb.FindCollection("PlayLists");
  if (!films || !lists) throw std::runtime_error("the main database has no Films or PlayLists");
  if (ref.Collection == "PlayLists" || (ref.Collection.empty() && !films->GetRecord(ref._ID) &&
                                        lists->GetRecord(ref._ID))) {
    return SumPlayList(mainDb, ref._ID, tracker, path);
  }
  auto film = tracker.Get(*films, ref._ID);
  return film ? FilmDuration(*film) : 0;
}

TDateTime SumPlayList(TDbFile& mainDb, const std::string& id, TSuperReference& tracker,
                      std::set<std::string>& path) {
  TDbCollectionItem& lists = mainDb.CollectionByName("PlayLists");
  auto list = tracker.Get(lists, id);
  if (!list) return 0;
  if (!path.insert(id).second) return 0;  // the playlist contains itself
  tracker.Push(lists, id, false);
  TDateTime sum = 0;
  const TJson* table = MemberOf(*list, "Table");
  if (table && table->is_array()) {
    for (size_t r = 0; r < table->size(); ++r) {
      const TJson& row = (*table)[r];
      if (!row.is_array() || row.empty()) continue;
      TrefID ref = JsonToTrefID(&row[0]);
      if (ref._ID.empty()) continue;
      sum += Resolve(mainDb, ref, tracker, path);
    }
  }
  tracker.Pop();
  path.erase(id);
  return sum;
}

TDateTime ReadRowDate(const TJson& cell) {
  if (cell.is_number()) return std::floor(cell.get<double>());
  if (!cell.is_string()) throw EConvertError("the date is missing");
  return StrToDate(cell.get<std::string>());
}

}  // namespace

TDateTime ReferenceDuration(TDbFile& mainDb, const TrefID& ref, TSuperReference& tracker) {
  std::set<std::string> path;
  return Resolve(mainDb, ref, tracker, path);
}

std::vector<TContractRow> ContractRows(const TJson& contract, const TContractRowsSource& source,
                                       TSuperReference& tracker) {
  std::vector<TContractRow> rows;
  const TJson* table = MemberOf(contract, "Table");
  if (!table || !table->is_array()) return rows;
  bool pushed = false;
  if (source.ContractsColl) {
    tracker.Push(*source.ContractsColl, source.ContractID, false);
    pushed = true;
  }
  auto rowError = [&](const std::string& msg, size_t r) {
    if (!pushed) throw EDbFException(nullptr, fmt::format("Table \"Table\", row \"{}\". {}", r + 1, msg));
    tracker.ShowErrorMsg(msg, static_cast<int>(r + 1), "Table", true);
  };
  for (size_t r = 0; r < table->size(); ++r) {
    const TJson& cells = (*table)[r];
    static const TJson none;
    auto cell = [&](size_t c) -> const TJson& {
      return cells.is_array() && c < cells.size() ? cells[c] : none;
    };
    TContractRow row;
    row.Place = JsonStr(cell(ccPlace), "_ID");
    if (row.Place.empty()) rowError("The row has no place.", r);
    TrefID film = JsonToTrefID(&cell(ccFilm));
    row.Film = film._ID;
    try {
      row.StartDate = ReadRowDate(cell(ccStartDate));
      row.StopDate = ReadRowDate(cell(ccStopDate));
    } catch (const EConvertError& e) {
      rowError(fmt::format("Invalid start or stop date: {}.", e.what()), r);
    }
    if (row.StopDate - row.StartDate > MaxRowDays)
      rowError("The period from the start date to the stop date is longer than 100 years.", r);
    // A mask that is a number but not a whole one (3.5) is no set of days: reading it as "all
    // days" would book every day of the period.
    const TJson& mask = cell(ccDaysOfWeek);
    bool writeBack = false;
    int maskValue = DayMaskOfCell(mask, &writeBack);
    if (mask.is_number() && writeBack)
      rowError(fmt::format("The days of week value {} is not a whole number.", mask.dump()), r);
    row.DayOfWeek = mask.is_number() ? static_cast<uint16_t>(maskValue) : 0;  // no mask: no days
    row.TimesPerHour = TimesPerHourOf(ReadTimesArray(cell(ccTimes)));
    if (source.MainDb) {
      if (row.Film.empty()) rowError("", r);
      row.Durations = ReferenceDuration(*source.MainDb, film, tracker);
    }
    rows.push_back(std::move(row));
  }
  if (pushed) tracker.Pop();
  return rows;
}
