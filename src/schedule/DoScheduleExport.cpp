// The files of a server package that come from schedules: schedule files with recurrence
// rules, numbered playlists and command playlists, the groups file, the used-films file and
// the digests that tell the server what changed.
#include <fmt/format.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "base/StrUtils.h"
#include "catalogue/Channels.h"
#include "package/Cir2Lat.h"
#include "schedule/DoSchedule.h"
#include "shell/Options.h"

namespace fs = std::filesystem;

std::string Md5Hex(const std::string& bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_md5(), nullptr);
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += hex[md[i] >> 4];
    out += hex[md[i] & 15];
  }
  return out;
}

std::string PackageJsonText(const TJson& value) { return value.dump(2, ' ', true); }
std::string CompactJsonText(const TJson& value) { return value.dump(-1, ' ', true); }

void EmptyFolder(const std::string& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    // Read-only entries would refuse deletion: give the owner write permission first.
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(entry.path(), ec);
  }
}

namespace {

std::string DurationField(TDateTime d) { return PlaylistSecondsField(d, false); }

std::string OffsetField(TDateTime d) { return PlaylistSecondsField(d, true); }

TJson IntervalObject(const std::string& playlist, const TScheduleInterval& in, bool& zero) {
  TJson dur = DeltaObject(in.TempEndTime - in.StartTime);
  zero = dur["days"] == 0 && dur["hours"] == 0 && dur["minutes"] == 0 && dur["seconds"] == 0;
  return {{"playlist", playlist},
          {"rule", PeriodRule(in.Periodicity)},
          {"delta", DeltaObject(in.StartTime)},
          {"duration", dur}};
}

struct TChannelMap {
  std::vector<std::pair<std::string, TJson>> Items;
  TJson& Of(const std::string& id) {
    for (auto& [k, v] : Items)
      if (k == id) return v;
    Items.emplace_back(id, TJson::array());
    return Items.back().second;
  }
};

const char* ZeroDurationText = "Error! Interval with zero duration";

}  // namespace

std::string PlaylistSecondsField(TDateTime d, bool withDays) {
  TTimeParts t = DecodeTime(d);
  int64_t secs = (withDays ? DayCount(d) * 24 : 0) * 3600 + t.Hour * 3600 + t.Min * 60 + t.Sec;
  // Three digits after the point: the field reads the same as a decimal number of seconds and
  // as seconds and milliseconds ("5.011", never "5.11").
  return fmt::format("{}.{:03}", secs, t.MSec);
}

std::string PeriodRule(TDateTime period) {
  int64_t d = DayCount(period);
  TTimeParts t = DecodeTime(period);
  int64_t h = t.Hour, m = t.Min, s = t.Sec;
  if (h == 0 && m == 0 && s == 0) return "RRULE:FREQ=DAILY;INTERVAL=" + std::to_string(d);
  if (m == 0 && s == 0) return "RRULE:FREQ=HOURLY;INTERVAL=" + std::to_string(d * 24 + h);
  if (s != 0)
    return "RRULE:FREQ=SECONDLY;INTERVAL=" + std::to_string(((d * 24 + h) * 60 + m) * 60 + s);
  return "RRULE:FREQ=MINUTELY;INTERVAL=" + std::to_string((d * 24 + h) * 60 + m);
}

TJson DeltaObject(TDateTime value) {
  TTimeParts t = DecodeTime(value);
  return {{"days", DayCount(value)}, {"hours", t.Hour}, {"minutes", t.Min}, {"seconds", t.Sec}};
}

std::string ScheduleFileName(const std::string& scheduleName) {
  return LowerCase(Cir2Lat(scheduleName));
}

std::string MakeScheduleFiles(const TSchedule& sh, TDbFile& db, const std::string& F,
                              const std::string& videoRoot, const std::string& stamp,
                              std::unique_ptr<TFilmListArray>& pls,
                              std::unique_ptr<TFilmListArray>& cmdp, TUsedFilms& used,
                              TJson& Value, IOperator& op) {
  std::string dir = F + "json/" + stamp + "/";
  std::string name = sh.Name.empty() ? std::string("headend") : ScheduleFileName(sh.Name);
  std::string path = dir + name + ".json";
  try {
    if (!pls) pls = std::make_unique<TFilmListArray>(dir, ".pls");
    if (!cmdp) cmdp = std::make_unique<TFilmListArray>(dir, ".cmdp");
    for (auto& l : pls->Items) l->used = false;
    for (auto& l : cmdp->Items) l->used = false;

    TDbCollectionItem& channels = db.CollectionByName("Channels");
    std::map<std::string, TJson> chRecords;
    auto channel = [&](const std::string& id) -> const TJson& {
      auto it = chRecords.find(id);
      if (it == chRecords.end()) {
        std::optional<TJson> rec = channels.GetRecord(id);
        it = chRecords.emplace(id, rec && rec->is_object() ? *rec : TJson::object()).first;
      }
      return it->second;
    };
    auto zeroError = [&]() {
      op.MessageBox("Error of creation of the schedule!", ZeroDurationText, TMsgIcon::Error);
      EmptyFolder(dir);
      return std::string(ZeroDurationText);
    };

    // Film pass.
    TChannelMap films;
    for (const auto& inp : sh.Intervals) {
      const TScheduleInterval& in = *inp;
      TFilmList& list = pls->Add();
      for (const TScheduleNote& note : in.ScheduleNotes) {
        const TFilm& film = *note.Film;
        TMapFilmResult m = MapFilmName(film._ID, film.Name, film.FileName, videoRoot, used, op);
        if (!m.Error.empty()) {
          EmptyFolder(dir);
          return "Error in the file name \"" + note.Film->FileName + "\"";
        }
        list.Add(m.ServerPath + "\t" + DurationField(note.Film->Duration));
      }
      if (list.Items.empty()) {
        pls->Delete();
        continue;
      }
      int n = pls->SaveFile();
      bool zero = false;
      TJson obj = IntervalObject(std::to_string(n) + ".pls", in, zero);
      if (zero) return zeroError();
      films.Of(in.ChannelId).push_back(obj);
    }

    TJson result = TJson::array();
    for (auto& [id, intervals] : films.Items) {
      const TJson& ch = channel(id);
      int64_t type = JsonInt(ch, "Type");
      if (type == ChTypeCommand) continue;
      TJson e = {{"type", "stream"},
                 {"channel", {{"url", JsonStr(ch, "URL")}, {"name", JsonStr(ch, "Name")}, {"uuid", id}}}};
      if (type == ChTypeBySchedule || type == ChTypeCommand) e["intervals"] = intervals;
      result.push_back(e);
    }
    for (const std::string& id : sh.ChannelsId) {
      const TJson& ch = channel(id);
      if (JsonInt(ch, "Type") != ChTypeHeadend) continue;
      result.push_back({{"type", "stream"},
                        {"channel", {{"url", JsonStr(ch, "URL")}, {"name", JsonStr(ch, "Name")}, {"uuid", id}}}});
    }

    // Command pass.
    TChannelMap commands;
    for (const auto& inp : sh.Intervals) {
      const TScheduleInterval& in = *inp;
      TFilmList& list = cmdp->Add();
      for (const TScheduleCmd& cmd : in.ScheduleCmd) {
        // The builder never places a command before its interval; an offset the file cannot
        // carry (it has no sign) is refused rather than written as a later time.
        if (TimeGreater(in.StartTime, cmd.DateTime)) {
          op.MessageBox("Error of creation of the schedule!", CommandBeforeStartMessage, TMsgIcon::Error);
          EmptyFolder(dir);
          return std::string(CommandBeforeStartMessage);
        }
        std::string when = TimeEqual(cmd.DateTime, in.StartTime)     ? "onstart"
                           : TimeEqual(cmd.DateTime, in.TempEndTime) ? "onstop"
                                                                      : OffsetField(cmd.DateTime - in.StartTime);
        list.Add(when + ": " + cmd.text);
      }
      if (list.Items.empty()) {
        cmdp->Delete();
        continue;
      }
      int n = cmdp->SaveFile();
      bool zero = false;
      TJson obj = IntervalObject(std::to_string(n) + ".cmdp", in, zero);
      if (zero) return zeroError();
      commands.Of(in.ChannelId).push_back(obj);
    }
    for (auto& [id, intervals] : commands.Items) {
      if (intervals.empty()) continue;
      const TJson& ch = channel(id);
      int64_t type = JsonInt(ch, "Type");
      std::string suffix = type == ChTypeCommand ? "" : "-cmd";
      TJson e = {{"type", "command"},
                 {"channel", {{"name", JsonStr(ch, "Name") + suffix}, {"uuid", id + suffix}}}};
      if (type == ChTypeBySchedule || type == ChTypeCommand) e["intervals"] = intervals;
      result.push_back(e);
    }

    // An unchanged schedule file keeps its bytes and its time stamp.
    fs::create_directories(dir);
    bool same = false;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
      std::ifstream in(path, std::ios::binary);
      std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      try {
        same = JsonEqual(TJson::parse(old), result);
      } catch (const std::exception&) {
        same = false;
      }
    }
    if (!same) WriteFileAtomically(path, PackageJsonText(result));
    Value = result;
    return "";
  } catch (const EDbFException&) {
    throw;
  } catch (const std::exception& e) {
    std::string text = "Error, schedule files are not created!";
    op.MessageBox(e.what(), text, TMsgIcon::Error);
    return text;
  }
}

std::string MakeGroupsFile(TSuperReference& supRef, TDbFile& db, const TJson& srvOptions,
                           const std::string& stamp, int row, const std::string& F,
                           IOperator& op) {
  std::string path = row == 0 ? F + "groups.json" : F + "groups_" + stamp + ".json";
  TJson groups = TJson::object();
  try {
    const TJson* tbl = &RecordTable(supRef, srvOptions, "Table");
    TDbCollectionItem& groupsCol = db.CollectionByName("Groups");
    TDbCollectionItem& channels = db.CollectionByName("Channels");
    size_t n = tbl->size();
    for (size_t i = 0; i < n; ++i) {
      CheckRefCellNotEmpty(supRef, *tbl, i, 0, "Groups", "STB group", "an STB group");
      std::optional<TJson> g = supRef.Push(groupsCol, *tbl, 0, static_cast<int>(i), "Groups", true);
      if (!g) {  // only when the tracker is silent
        supRef.Pop();
        return "Invalid reference.";
      }
      TJson ids = TJson::array();
      const TJson* gt = &RecordTable(supRef, *g, "Table");
      size_t gn = gt->size();
      for (size_t k = 0; k < gn; ++k) {
        std::optional<TJson> ch = supRef.Get(channels, *gt, 0, static_cast<int>(k), "", true);
        if (!ch) continue;
        std::string id = JsonStr((*gt)[k][0], "_ID");
        ids.push_back(id);
        if (JsonInt(*ch, "Type") == ChTypeBySchedule) ids.push_back(id + "-cmd");
      }
      groups[JsonStr(*g, "Name")] = {{"channels", ids}};
      supRef.Pop();
    }
  } catch (const EDbFException&) {
    throw;
  } catch (const std::exception& e) {
    // A read of the STB groups or their channels that failed (a lost database connection).
    return std::string("The STB groups could not be read: ") + e.what();
  }
  try {
    WriteFileAtomically(path, PackageJsonText(groups));
  } catch (const std::exception& e) {
    std::string text = "Can't to write to file " + path + ": " + WriteFailureReason(e);
    op.MessageBox("IO Error", text, TMsgIcon::Error);
    return text;
  }
  return "";
}

void WriteUsedFilmsFile(const TUsedFilms& used, const std::string& F) {
  TJson arr = TJson::array();
  for (const TWinLinuxNames& n : used.InUse) arr.push_back({{"win", n.Win}, {"srv", n.Linux}});
  WriteFileAtomically(F + "UsedFilms.json", PackageJsonText(arr));
}

std::pair<std::string, std::string> PlaylistDigests(const TFilmListArray* pls,
                                                    const TFilmListArray* cmdp) {
  auto text = [](const TFilmListArray* a) {
    std::string s;
    if (!a) return s;
    for (const auto& l : a->Items)
      if (l->used)
        for (const std::string& line : l->Items) s += line;
    return s;
  };
  return {text(pls), text(cmdp)};
}

std::string ScheduleRowDigest(const TJson& scheduleValue, const std::string& filmList,
                              const std::string& cmdList) {
  TJson v = {{"schedule", scheduleValue}, {"md5FilmList", filmList}, {"md5CmdList", cmdList}};
  return Md5Hex(CompactJsonText(v));
}
