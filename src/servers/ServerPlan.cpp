#include "servers/ServerPlan.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "catalogue/Channels.h"

namespace {

// The checks of the rows' start times that "config.json" needs, made before anything is
// written: a first row that starts in the future is confirmed by the operator, a start before
// the row's base time and rows out of order are errors on the server's grid.
void CheckRowStarts(TSuperReference& supRef, const std::vector<TServerRow>& rows, IOperator& Op) {
  TDateTime prevStart = 0;
  for (const TServerRow& row : rows) {
    size_t i = row.Index;
    int rowNo = static_cast<int>(i) + 1;
    TDateTime start = 0;
    if (!row.ScheduleID.empty() && row.Times.HasStart) {
      start = row.Times.Start;
      if (i == 0 && start > Now()) {
        std::string text = fmt::format("No broadcasting until {}", DateTimeToStr(start));
        if (Op.Ask("Warning", text + " " + ". Continue?", TMsgIcon::Warning, TMsgButtons::YesNo,
                   TMsgAnswer::No) != TMsgAnswer::Yes)
          supRef.ForceException(text);
      }
      if (start < row.Times.Calc)
        supRef.ShowErrorMsg("Time of start must be greater or equal Base time!", "Start at",
                            rowNo, "Schedule", true);
    }
    if (i > 0 && start <= prevStart)
      supRef.ShowErrorMsg("Time of start must be less than next row Start time!", "Start at",
                          rowNo - 1, "Schedule", true);
    prevStart = start;
  }
}

int64_t Seconds(TDateTime days) { return std::llround(days * 86400.0); }

}  // namespace

std::vector<TEpgRow> TServerPlan::EpgRows() const {
  std::vector<TEpgRow> out;
  for (const TServerRow& row : Rows)
    out.push_back({row.Schedule, row.Times.Calc, row.Times.Start, row.Times.HasStart});
  return out;
}

TServerPlan BuildServerPlan(TSuperReference& supRef, TDbFile& db, const std::string& serverID,
                            const TJson& server, IOperator& Op) {
  TServerPlan plan;
  plan.ServerID = serverID;
  plan.Server = server;
  plan.Rows = ReadServerRows(supRef, db, server, Op);
  if (plan.Rows.empty()) supRef.ForceException("Broadcast schedule is not set!");
  for (TServerRow& row : plan.Rows) row.FileName = PackageScheduleName(supRef, db, row);
  CheckRowStarts(supRef, plan.Rows, Op);
  return plan;
}

std::vector<TPlanCommand> PlanCommands(const std::vector<TEpgRow>& rows, int64_t From, int64_t To) {
  std::vector<TPlanCommand> out;
  TDateTime fromWall = EpochToLocal(From) - 2;
  TDateTime toWall = EpochToLocal(To) + 2;
  for (size_t r = 0; r < rows.size(); ++r) {
    const TEpgRow& row = rows[r];
    if (!row.Schedule) continue;
    int64_t rowFrom = row.HasStart ? LocalToEpoch(row.Start) : std::numeric_limits<int64_t>::min();
    int64_t rowTo = std::numeric_limits<int64_t>::max();
    if (r + 1 < rows.size() && rows[r + 1].HasStart) rowTo = LocalToEpoch(rows[r + 1].Start);
    for (const auto& ivp : row.Schedule->Intervals) {
      const TScheduleInterval& iv = *ivp;
      if (iv.ScheduleCmd.empty()) continue;
      TDateTime P = iv.Periodicity;
      TDateTime first = row.Calc + iv.StartTime;
      TDateTime len = std::max(iv.TempEndTime, iv.GetLastCmd()) - iv.StartTime;
      int64_t k = 0;
      if (P > 0 && fromWall - len > first)
        k = static_cast<int64_t>(std::floor((fromWall - len - first) / P));
      for (; k >= 0; ++k) {
        TDateTime wall = first + static_cast<TDateTime>(k) * P;
        if (wall >= toWall) break;
        int64_t anchor = LocalToEpoch(wall);
        for (const TScheduleCmd& c : iv.ScheduleCmd) {
          int64_t t = anchor + Seconds(c.DateTime - iv.StartTime);
          if (t < From || t >= To || t < rowFrom || t >= rowTo) continue;
          out.push_back({iv.ChannelId, t, c.text, iv.SourceID, c.Row});
        }
        if (P <= 0) break;
      }
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const TPlanCommand& a, const TPlanCommand& b) {
    return a.ChannelID != b.ChannelID ? a.ChannelID < b.ChannelID : a.Time < b.Time;
  });
  return out;
}

TPlanGrid PlanGrid(TDbFile& db, const std::vector<TEpgRow>& rows, int64_t From, int64_t To) {
  TPlanGrid g;
  g.From = From;
  g.To = To;
  TDbCollectionItem& channels = db.CollectionByName("Channels");
  std::map<std::string, size_t> index;
  for (const TEpgRow& row : rows) {
    if (!row.Schedule) continue;
    for (const std::string& id : row.Schedule->ChannelsId) {
      if (index.count(id)) continue;
      std::optional<TJson> rec = channels.GetRecord(id);
      int64_t type = rec ? JsonInt(*rec, "Type") : 0;
      if (type == ChTypeHeadend) continue;
      index[id] = g.Channels.size();
      g.Channels.push_back({id, rec ? JsonStr(*rec, "Name") : id, type == ChTypeCommand});
    }
  }
  g.Blocks.resize(g.Channels.size());
  g.Marks.resize(g.Channels.size());
  TEpgGuide guide = BuildGuide(db, rows, From, To);
  for (TEpgProgramme& p : guide.Programmes) {
    auto it = index.find(guide.Channels[p.Channel].RecordID);
    if (it != index.end()) g.Blocks[it->second].push_back(std::move(p));
  }
  for (TPlanCommand& c : PlanCommands(rows, From, To)) {
    auto it = index.find(c.ChannelID);
    if (it != index.end()) g.Marks[it->second].push_back(std::move(c));
  }
  return g;
}

TPlanGrid ServerPlanGrid(TDbFile& db, const std::string& ServerID, int64_t From, int64_t To,
                         IOperator& Op) {
  TDbCollectionItem& servers = db.CollectionByName("Servers");
  TSuperReference supRef(&Op);
  TServerPlan plan;
  try {
    std::optional<TJson> server = supRef.Push(servers, ServerID, true);
    plan = BuildServerPlan(supRef, db, ServerID, *server, Op);
    supRef.Pop();
  } catch (...) {
    supRef.ClrErrors();
    throw;
  }
  return PlanGrid(db, plan.EpgRows(), From, To);
}

TPlanGrid SchedulePlanGrid(TDbFile& db, const std::string& ScheduleID, TDateTime Calc,
                           int64_t From, int64_t To, IOperator& Op) {
  std::string why;
  std::shared_ptr<TSchedule> sh = BuildSchedule(ScheduleID, db, &Op, &why);
  if (!sh) throw EDbFException(nullptr, why.empty() ? "Error of creation of the schedule!" : why);
  return PlanGrid(db, {{sh, Calc, 0, false}}, From, To);
}
