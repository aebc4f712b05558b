#include "servers/ServerCheck.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <map>
#include <regex>
#include <set>

#include "catalogue/Channels.h"
#include "package/UsedFilms.h"
#include "portal/DoWeb.h"
#include "schedule/ChSchedCheck.h"
#include "schedule/DoSchedule.h"
#include "servers/ServerEpg.h"
#include "servers/ServerPlan.h"
#include "shell/Options.h"
#include "shell/TreeDocument.h"

namespace {

// Takes what the builder tells the operator without showing it: every message and question is
// kept, every question is answered so that the check goes on, and the record a message offers to
// open is remembered instead of opened.
class TCollectingOperator : public IOperator {
public:
  struct TSaid {
    std::string Text;
    bool Question = false;
  };
  std::vector<TSaid> Said;
  std::string OpenCollection, OpenID;

  void MessageBox(const std::string&, const std::string& text, TMsgIcon) override {
    Said.push_back({text, false});
  }
  TMsgAnswer Ask(const std::string&, const std::string& text, TMsgIcon, TMsgButtons buttons,
                 TMsgAnswer) override {
    static const std::string openToFix = " Open record to fix?";
    if (text.size() > openToFix.size() &&
        text.compare(text.size() - openToFix.size(), openToFix.size(), openToFix) == 0)
      return buttons == TMsgButtons::YesNo || buttons == TMsgButtons::YesNoCancel ? TMsgAnswer::Yes
                                                                                 : TMsgAnswer::Ok;
    Said.push_back({text, true});
    return TMsgAnswer::Yes;
  }
  void StatusText(const std::string&) override {}
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override {
    OpenCollection = coll.Name();
    OpenID = id;
  }
  void RunOnUiThread(std::function<void()> fn) override { fn(); }
  void Clear() {
    Said.clear();
    OpenCollection.clear();
    OpenID.clear();
  }
};

// The row a tracker's message names ('row "3"'), 0 when none.
int MessageRow(const std::string& text) {
  static const std::regex re("[Rr]ow \"([0-9]+)\"");
  std::smatch m;
  if (std::regex_search(text, m, re)) return std::stoi(m[1].str());
  return 0;
}

// A question of the builder as a finding: without its " Continue?".
std::string QuestionFinding(std::string text) {
  static const std::string cont = "Continue?";
  if (text.size() >= cont.size() && text.compare(text.size() - cont.size(), cont.size(), cont) == 0)
    text.erase(text.size() - cont.size());
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  return text;
}

constexpr const char* ZeroIntervalText = "Error! Interval with zero duration";

class TServerChecker {
public:
  TServerChecker(TDbFile& db, const std::string& serverID, const TCheckOptions& o,
                 std::vector<TCheckFinding>& out)
      : FDb(db), FServerID(serverID), FOpt(o), FOut(out) {}

  void Run() {
    TDbCollectionItem& servers = FDb.CollectionByName("Servers");
    std::optional<TJson> server = servers.GetRecord(FServerID);
    if (!server) return;
    FServerName = JsonStr(*server, "Name");
    TServerPlan plan;
    TSuperReference supRef(&FOp);
    try {
      supRef.Push(servers, FServerID, false);
      plan = BuildServerPlan(supRef, FDb, FServerID, *server, FOp);
      supRef.Pop();
    } catch (const std::exception& e) {
      supRef.ClrErrors();
      std::string coll = FOp.OpenCollection.empty() ? "Servers" : FOp.OpenCollection;
      std::string id = FOp.OpenID.empty() ? FServerID : FOp.OpenID;
      TakeQuestions("Servers", FServerID);
      Add(TFindingLevel::Error, "build", "", "", e.what(), coll, id, MessageRow(e.what()));
      return;
    }
    TakeQuestions("Servers", FServerID);
    CheckExport(plan);
    CheckChannelSchedules(plan);
    std::vector<TEpgRow> rows = plan.EpgRows();
    TDateTime from = FOpt.From >= 0 ? FOpt.From : static_cast<TDateTime>(DayCount(Now()));
    FFrom = LocalToEpoch(from);
    FTo = LocalToEpoch(from + std::max(FOpt.Days, 1));
    TEpgGuide guide = BuildGuide(FDb, rows, FFrom, FTo);
    CheckGaps(rows, guide);
    if (JsonBool(*server, "MakeEpg")) CheckGuideLists(*server, guide);
    CheckPortals(plan);
  }

private:
  void Add(TFindingLevel level, const std::string& kind, const std::string& channelID,
           const std::string& day, const std::string& msg, const std::string& coll,
           const std::string& id, int row) {
    TCheckFinding f;
    f.Level = level;
    f.Kind = kind;
    f.ServerID = FServerID;
    f.Server = FServerName;
    f.ChannelID = channelID;
    f.Channel = ChannelName(channelID);
    f.Day = day;
    f.Message = msg;
    f.Collection = coll;
    f.RecordID = id;
    f.Row = row;
    FOut.push_back(std::move(f));
  }

  // Questions "Create files" asks stop it unless the operator says yes: errors here.
  void TakeQuestions(const std::string& coll, const std::string& id) {
    for (const auto& s : FOp.Said)
      if (s.Question) Add(TFindingLevel::Error, "build", "", "", QuestionFinding(s.Text), coll, id, 1);
    FOp.Clear();
  }

  const TJson& Channel(const std::string& id) {
    auto it = FChannels.find(id);
    if (it == FChannels.end()) {
      std::optional<TJson> rec = id.empty() ? std::nullopt : FDb.CollectionByName("Channels").GetRecord(id);
      it = FChannels.emplace(id, rec && rec->is_object() ? *rec : TJson::object()).first;
    }
    return it->second;
  }
  std::string ChannelName(const std::string& id) { return id.empty() ? "" : JsonStr(Channel(id), "Name"); }

  // What the export of the schedule files refuses or asks, found without writing them.
  void CheckExport(const TServerPlan& plan) {
    std::string videoRoot = GetOptionDir(FDb, odVideo);
    TUsedFilms used;
    std::set<std::string> filmsSeen;
    for (const TServerRow& row : plan.Rows) {
      for (const auto& ivp : row.Schedule->Intervals) {
        const TScheduleInterval& in = *ivp;
        for (const TScheduleNote& note : in.ScheduleNotes) {
          const TFilm& film = *note.Film;
          if (!filmsSeen.insert(film._ID).second) continue;
          FOp.Clear();
          MapFilmName(film._ID, film.Name, film.FileName, videoRoot, used, FOp);
          for (const auto& s : FOp.Said)
            Add(TFindingLevel::Error, "film", in.ChannelId, "",
                s.Question ? QuestionFinding(s.Text) : s.Text, "Films", film._ID, 0);
          FOp.Clear();
          CheckFilmDuration(film, in.ChannelId);
        }
        if (!in.ScheduleNotes.empty()) {
          TJson d = DeltaObject(in.TempEndTime - in.StartTime);
          if (d["days"] == 0 && d["hours"] == 0 && d["minutes"] == 0 && d["seconds"] == 0)
            Add(TFindingLevel::Error, "build", in.ChannelId, "", ZeroIntervalText, "ChSched",
                in.SourceID, static_cast<int>(in.SourceRow) + 1);
        }
        // Commands: before the interval, after its end, or two at one moment on one target.
        TDateTime end = in.EndTime > in.StartTime ? std::max(in.EndTime, in.TempEndTime) : in.TempEndTime;
        for (size_t a = 0; a < in.ScheduleCmd.size(); ++a) {
          const TScheduleCmd& c = in.ScheduleCmd[a];
          if (TimeGreater(in.StartTime, c.DateTime))
            Add(TFindingLevel::Error, "command", in.ChannelId, "", CommandBeforeStartMessage,
                "ChSched", in.SourceID, static_cast<int>(c.Row) + 1);
          else if (TimeGreater(c.DateTime, end + TimeEpsilon))
            Add(TFindingLevel::Error, "command", in.ChannelId, "",
                fmt::format("The command \"{}\" fires at {}, after the end of its interval at {}",
                            c.text, DurationToDisplayStr(c.DateTime), DurationToDisplayStr(end)),
                "ChSched", in.SourceID, static_cast<int>(c.Row) + 1);
          for (size_t b = a + 1; b < in.ScheduleCmd.size(); ++b) {
            const TScheduleCmd& d = in.ScheduleCmd[b];
            if (std::fabs(d.DateTime - c.DateTime) >= OneMSec || !SameTarget(c.Command, d.Command))
              continue;
            Add(TFindingLevel::Warning, "command", in.ChannelId, "",
                fmt::format("Two commands fire at {} on the same target: \"{}\" (row {}) and "
                            "\"{}\" (row {})",
                            DurationToDisplayStr(c.DateTime), c.text, c.Row + 1, d.text, d.Row + 1),
                "ChSched", in.SourceID, static_cast<int>(d.Row) + 1);
          }
        }
      }
    }
  }

  void CheckFilmDuration(const TFilm& film, const std::string& channelID) {
    if (!FDurationsSeen.insert(film._ID).second) return;
    if (film.DurationError.empty() && film.Duration > 0) return;
    Add(TFindingLevel::Error, "film", channelID, "",
        fmt::format("The duration of the film \"{}\" is {}", film.Name,
                    film.DurationError.empty() ? "zero" : "unknown: " + film.DurationError),
        "Films", film._ID, 0);
  }

  // The films a channel schedule row names, directly or through a playlist (the builder leaves
  // a film without a duration out of the plan, so it is looked for in the rows).
  void CheckRowFilms(const TJson& content, const std::string& channelID, int depth = 0) {
    if (!content.is_object() || depth > 8) return;
    std::string id = JsonStr(content, "_ID");
    std::string cl = JsonStr(content, "_CL");
    if (id.empty()) return;
    if (cl == "Films") {
      std::optional<TJson> rec = FDb.CollectionByName("Films").GetRecord(id);
      if (rec) CheckFilmDuration(TFilm(id, *rec), channelID);
    } else if (cl == "PlayLists") {
      std::optional<TJson> rec = FDb.CollectionByName("PlayLists").GetRecord(id);
      const TJson* tbl = rec ? JsonPath(*rec, "Table") : nullptr;
      if (!tbl || !tbl->is_array()) return;
      for (const TJson& r : *tbl)
        if (r.is_array() && !r.empty()) CheckRowFilms(r[0], channelID, depth + 1);
    }
  }

  // The command object's key and method, and the channel or value it is sent for.
  static bool SameTarget(const TJson& a, const TJson& b) {
    if (!a.is_object() || !b.is_object() || a.size() != 1 || b.size() != 1) return false;
    if (a.begin().key() != b.begin().key()) return false;
    const TJson& pa = a.begin().value();
    const TJson& pb = b.begin().value();
    if (JsonStr(pa, "Method") != JsonStr(pb, "Method")) return false;
    const TcmdTableRow& row = FindCmdTableRow(a);
    if (row.Has(opt_ToStb) || row.Has(opt_Channel)) {
      const TJson* va = JsonPath(pa, "Value");
      const TJson* vb = JsonPath(pb, "Value");
      return (va ? *va : TJson()) == (vb ? *vb : TJson());
    }
    return true;
  }

  // The rows of the channel schedules the plan plays, as the channel schedule window shows
  // them: a film cut short or dropped, a row that runs past the next start, a broken
  // keep-with-next chain.
  void CheckChannelSchedules(const TServerPlan& plan) {
    std::vector<std::string> ids;
    for (const TServerRow& row : plan.Rows)
      for (const auto& ivp : row.Schedule->Intervals)
        if (!ivp->SourceID.empty() && std::find(ids.begin(), ids.end(), ivp->SourceID) == ids.end())
          ids.push_back(ivp->SourceID);
    auto index = std::make_shared<TScheduleRecordIndex>();
    TDbCollectionItem& chs = FDb.CollectionByName("ChSched");
    for (const std::string& id : ids) {
      std::optional<TJson> rec = chs.GetRecord(id);
      if (!rec) continue;
      const TJson* chRef = JsonPath(*rec, "Channel");
      std::string chId = chRef && chRef->is_object() ? JsonStr(*chRef, "_ID") : "";
      TChSchedRecompute r;
      FOp.Clear();
      try {
        r = RecomputeChSched(FDb, id, *rec, &FOp, index);
      } catch (const std::exception& e) {
        Add(TFindingLevel::Error, "build", chId, "", e.what(), "ChSched", id, MessageRow(e.what()));
        continue;
      }
      FOp.Clear();
      if (const TJson* tbl = JsonPath(*rec, "Table"); tbl && tbl->is_array())
        for (const TJson& row : *tbl)
          if (row.is_array() && row.size() > ChSchedContentCell) CheckRowFilms(row[ChSchedContentCell], chId);
      for (size_t i = 0; i < r.Rows.size(); ++i) {
        const auto& err = r.Rows[i].Err;
        for (int k = 0; k < OneFilmErrorCount; ++k) {
          const std::string& msg = err[static_cast<size_t>(k)];
          if (msg.empty() || k == Pause) continue;  // gaps are told per day below
          std::string kind = "overrun";
          if (k == FilmDeleted && msg.find("Keep With Next") != std::string::npos) kind = "keep-with-next";
          if (k == ZeroDuration) kind = "film";
          Add(TFindingLevel::Warning, kind, chId, "", msg, "ChSched", id, static_cast<int>(i) + 1);
        }
      }
    }
  }

  // Off-air gaps of every channel that plays films, per day, while a row that plays it is on.
  void CheckGaps(const std::vector<TEpgRow>& rows, const TEpgGuide& guide) {
    // Where each channel should be on the air.
    std::map<std::string, std::vector<std::pair<int64_t, int64_t>>> active;
    for (size_t r = 0; r < rows.size(); ++r) {
      if (!rows[r].Schedule) continue;
      int64_t a = rows[r].HasStart ? LocalToEpoch(rows[r].Start) : FFrom;
      int64_t b = r + 1 < rows.size() && rows[r + 1].HasStart ? LocalToEpoch(rows[r + 1].Start) : FTo;
      a = std::max(a, FFrom);
      b = std::min(b, FTo);
      if (a >= b) continue;
      std::set<std::string> chans;
      for (const auto& ivp : rows[r].Schedule->Intervals)
        if (!ivp->ScheduleNotes.empty() && JsonInt(Channel(ivp->ChannelId), "Type") == ChTypeBySchedule)
          chans.insert(ivp->ChannelId);
      for (const std::string& c : chans) active[c].push_back({a, b});
    }
    std::map<std::string, std::vector<const TEpgProgramme*>> progs;
    for (const TEpgProgramme& p : guide.Programmes) progs[guide.Channels[p.Channel].RecordID].push_back(&p);

    struct TGapKey {
      std::string Day, Source;
      size_t Row;
      int64_t Len;  // milliseconds
      bool operator<(const TGapKey& o) const {
        return std::tie(Day, Source, Row, Len) < std::tie(o.Day, o.Source, o.Row, o.Len);
      }
    };
    for (const auto& [chId, ranges] : active) {
      std::map<TGapKey, std::pair<int64_t, int>> gaps;  // first start (whole seconds), count
      std::vector<TGapKey> order;
      const auto& ps = progs[chId];
      // Times before their rounding to the second: a gap of up to half a second is no gap
      // (the channel schedule window does not mark one either), one of 0.88 s is.
      auto gap = [&](double s, double e, const TEpgProgramme* before, const TEpgProgramme* after) {
        if (e - s <= OffAirToleranceSeconds + 1e-6) return;
        const TEpgProgramme* src = before ? before : after;
        int64_t whole = static_cast<int64_t>(std::floor(s));
        TGapKey k{DateToStr(EpochToLocal(whole)), src ? src->SourceID : "", src ? src->SourceRow : 0,
                  std::llround((e - s) * 1000)};
        auto [it, fresh] = gaps.emplace(k, std::make_pair(whole, 0));
        if (fresh) order.push_back(k);
        ++it->second.second;
      };
      for (auto [a, b] : ranges) {
        double cursor = static_cast<double>(a);
        const TEpgProgramme* prev = nullptr;
        for (const TEpgProgramme* p : ps) {
          if (p->Stop <= a || p->Start >= b) continue;
          if (p->ExactStart > cursor) gap(cursor, p->ExactStart, prev, p);
          cursor = std::max(cursor, p->ExactStop);
          prev = p;
        }
        if (cursor < static_cast<double>(b)) gap(cursor, static_cast<double>(b), prev, nullptr);
      }
      for (const TGapKey& k : order) {
        auto [first, count] = gaps[k];
        TDateTime start = EpochToLocal(first);
        TDateTime len = static_cast<double>(k.Len) / 86400000.0;
        std::string lenText = k.Len % 1000 == 0 ? DurationToDisplayStr(len) : FormatDateTime("hh:nn:ss,zzz", len);
        std::string msg = fmt::format("Off the air for {} from {}", lenText, FormatDateTime("hh:nn:ss", start));
        if (count > 1) msg += fmt::format(", {} times this day", count);
        Add(TFindingLevel::Warning, "gap", chId, k.Day, msg, k.Source.empty() ? "Channels" : "ChSched",
            k.Source.empty() ? chId : k.Source, k.Source.empty() ? 0 : static_cast<int>(k.Row) + 1);
      }
    }
  }

  // The portals of the rows' STB groups, rendered as the portals window checks them (nothing
  // written): a page that links to a record that is not there, a missing template, a menu
  // without its pages. The generator tells the database's operator; while it runs that is this
  // check's, so no message box opens.
  void CheckPortals(const TServerPlan& plan) {
    std::vector<std::string> portals;
    for (const TServerRow& row : plan.Rows) {
      const TJson* tbl = JsonPath(row.Options, "Table");
      if (!tbl || !tbl->is_array()) continue;
      for (const TJson& cells : *tbl) {
        std::string id = cells.is_array() && cells.size() > 1 ? JsonStr(cells[1], "_ID") : "";
        if (!id.empty() && std::find(portals.begin(), portals.end(), id) == portals.end())
          portals.push_back(id);
      }
    }
    if (portals.empty()) return;
    struct TOperatorSwap {
      TDbFile& Db;
      IOperator* Saved;
      ~TOperatorSwap() { Db.SetOperator(Saved); }
    } swap{FDb, FDb.OperatorOverride()};
    FDb.SetOperator(&FOp);
    TDataModuleDoWeb gen(FDb);
    for (const std::string& id : portals) {
      FOp.Clear();
      std::string failure;
      try {
        failure = gen.MakeWebPortal(&FOp, id, nullptr, nullptr, "", "");
      } catch (const std::exception& e) {
        failure = e.what();
      }
      if (!failure.empty()) {
        std::string coll = FOp.OpenCollection.empty() ? "Portals" : FOp.OpenCollection;
        std::string rec = FOp.OpenID.empty() ? id : FOp.OpenID;
        Add(TFindingLevel::Error, "portal", "", "", failure, coll, rec, MessageRow(failure));
      }
      FOp.Clear();
    }
  }

  // Channels in a channel list of the package that the guide knows nothing of, and channels of
  // the guide that no channel list holds (no set-top box finds them).
  void CheckGuideLists(const TJson& server, const TEpgGuide& guide) {
    std::set<std::string> ids, listed;
    for (const TEpgChannel& c : guide.Channels) ids.insert(c.Id);
    TDbCollectionItem& groups = FDb.CollectionByName("Groups");
    for (const std::string& gid : ServerGroups(FDb, server)) {
      std::optional<TJson> g = groups.GetRecord(gid);
      if (!g) continue;
      const TJson* tbl = JsonPath(*g, "Table");
      if (!tbl || !tbl->is_array()) continue;
      for (size_t k = 0; k < tbl->size(); ++k) {
        const TJson& cells = (*tbl)[k];
        std::string chId = cells.is_array() && !cells.empty() ? JsonStr(cells[0], "_ID") : "";
        const TJson& ch = Channel(chId);
        if (chId.empty() || JsonInt(ch, "Type") != ChTypeBySchedule) continue;
        listed.insert(chId);
        std::string epgId = EpgChannelId(chId, ch);
        if (ids.count(epgId)) continue;
        Add(TFindingLevel::Warning, "guide", chId, "",
            fmt::format("The channel list of STB group \"{}\" holds channel \"{}\", but the guide "
                        "has no programme under its id \"{}\"",
                        JsonStr(*g, "Name"), JsonStr(ch, "Name"), epgId),
            "Groups", gid, static_cast<int>(k) + 1);
      }
    }
    for (const TEpgChannel& c : guide.Channels)
      if (!listed.count(c.RecordID))
        Add(TFindingLevel::Warning, "guide", c.RecordID, "",
            fmt::format("The guide has programmes of channel \"{}\", but no channel list of the "
                        "server's STB groups holds it",
                        c.Name),
            "Channels", c.RecordID, 0);
  }

  TDbFile& FDb;
  std::string FServerID, FServerName;
  TCheckOptions FOpt;
  std::vector<TCheckFinding>& FOut;
  TCollectingOperator FOp;
  std::map<std::string, TJson> FChannels;
  std::set<std::string> FDurationsSeen;
  int64_t FFrom = 0, FTo = 0;
};

}  // namespace

std::vector<TCheckFinding> CheckServer(TDbFile& db, const std::string& ServerID,
                                       const TCheckOptions& o) {
  std::vector<TCheckFinding> out;
  TServerChecker(db, ServerID, o, out).Run();
  return out;
}

std::vector<TCheckFinding> CheckAllServers(TDbFile& db, const TCheckOptions& o) {
  std::vector<TCheckFinding> out;
  TDbCollectionItem& servers = db.CollectionByName("Servers");
  TSharedBuildRun run;  // each film read once for all the servers' plans
  for (const TTreeListEntry& e : ListInTreeOrder(db, servers)) {
    if (e.IsFolder) continue;
    TServerChecker(db, e.ID, o, out).Run();
  }
  return out;
}

bool HasErrors(const std::vector<TCheckFinding>& findings) {
  return std::any_of(findings.begin(), findings.end(),
                     [](const TCheckFinding& f) { return f.Level == TFindingLevel::Error; });
}

std::string FindingLevelText(TFindingLevel level) {
  return level == TFindingLevel::Error ? "error" : "warning";
}

TJson FindingsJson(const std::vector<TCheckFinding>& findings) {
  TJson out = TJson::array();
  for (const TCheckFinding& f : findings) {
    TJson j = {{"Level", FindingLevelText(f.Level)}, {"Kind", f.Kind},       {"Server", f.Server},
               {"ServerID", f.ServerID},             {"Channel", f.Channel}, {"ChannelID", f.ChannelID},
               {"Day", f.Day},                       {"Message", f.Message}};
    j["Record"] = {{"_CL", f.Collection}, {"_ID", f.RecordID}, {"Row", f.Row}};
    out.push_back(std::move(j));
  }
  return out;
}

std::string FindingText(const TCheckFinding& f) {
  std::string where = f.Server;
  if (!f.Channel.empty()) where += " / " + f.Channel;
  if (!f.Day.empty()) where += " / " + f.Day;
  std::string rec = f.Collection + " " + f.RecordID;
  if (f.Row > 0) rec += fmt::format(" row {}", f.Row);
  return fmt::format("{}\t{}\t{}\t[{}]", FindingLevelText(f.Level), where, f.Message, rec);
}
