#include "catalogue/PlayLists.h"

#include <algorithm>

namespace {

TDateTime Duration(TDbFile& db, const TJson& ref, std::vector<std::string>& path) {
  try {
    if (!ref.is_object()) return 0;
    std::string cl = JsonStr(ref, "_CL");
    std::string id = JsonStr(ref, "_ID");
    if (cl == "Films") {
      std::optional<TJson> rec = db.CollectionByName("Films").GetRecord(id);
      if (!rec) return 0;
      std::string text = JsonStr(*rec, "Duration");
      if (text.find_first_not_of(' ') == std::string::npos) return 0;
      return StrToDeltaTime(text);
    }
    if (cl != "PlayLists") return 0;
    if (std::find(path.begin(), path.end(), id) != path.end()) return 0;
    std::optional<TJson> rec = db.CollectionByName("PlayLists").GetRecord(id);
    if (!rec) return 0;
    path.push_back(id);
    TDateTime sum = 0;
    const TJson* tbl = JsonPath(*rec, "Table");
    if (tbl && tbl->is_array()) {
      for (const TJson& row : *tbl) {
        TDateTime d = row.is_array() && !row.empty() ? Duration(db, row[0], path) : 0;
        if (d == 0) {
          sum = 0;
          break;
        }
        sum += d;
      }
    }
    path.pop_back();
    return static_cast<double>(JsonInt(*rec, "Repeat")) * sum;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

TDateTime ReferenceDuration(TDbFile& db, const TJson& ref) {
  std::vector<std::string> path;
  return Duration(db, ref, path);
}

std::string PlayListDurationText(TDateTime value) {
  if (value == 0) return "-";
  return DurationToDisplayStr(value);
}

TPlayListFigures PlayListFigures(TDbFile& db, const TJson& table, int64_t repeat) {
  TPlayListFigures f;
  TDateTime total = 0;
  bool unknown = false;
  if (table.is_array()) {
    for (const TJson& row : table) {
      TDateTime d = row.is_array() && !row.empty() ? ReferenceDuration(db, row[0]) : 0;
      if (d != 0) {
        f.Durations.push_back(PlayListDurationText(d));
        total += d;
      } else {
        f.Durations.push_back("-");
        unknown = true;
      }
      f.Summaries.push_back(PlayListDurationText(static_cast<double>(repeat) * d));
    }
  }
  f.Total = unknown ? 0 : total * static_cast<double>(repeat);
  f.Label = PlayListDurationText(f.Total) + " - playlist duration";
  return f;
}
