#pragma once
// A server's plan: everything "Create files" decides before it writes a file. Its rows read and
// checked, each row's schedule built with the head-end channels of its STB groups, the names of
// the schedule files and the order of the start times. The package, the pre-flight check and the
// guide grid are all made from this one build, so none of them can disagree with another.
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"
#include "schedule/Epg.h"
#include "servers/ServerRows.h"

struct TServerPlan {
  std::string ServerID;
  TJson Server;
  std::vector<TServerRow> Rows;
  // The rows as the guide reads them.
  std::vector<TEpgRow> EpgRows() const;
};

// Builds the plan of the server record on top of SupRef (Server is that record). An error is
// reported through SupRef (which raises EDbFException); a first row that starts in the future is
// a question to the operator, whose "No" aborts in the same way.
TServerPlan BuildServerPlan(TSuperReference& supRef, TDbFile& db, const std::string& serverID,
                            const TJson& server, IOperator& Op);

// One command of the plan at its moment.
struct TPlanCommand {
  std::string ChannelID;  // the Channels record
  int64_t Time = 0;       // seconds since the epoch
  std::string Text;       // the command as the command playlist carries it
  std::string SourceID;   // the ChSched record and its row (from 0)
  size_t SourceRow = 0;
};

// The commands of the plan's rows that fire in [From, To) (seconds since the epoch), each
// repetition of an interval at its own moment, a row only while it is the server's current one;
// by channel, then by time.
std::vector<TPlanCommand> PlanCommands(const std::vector<TEpgRow>& rows, int64_t From, int64_t To);

// What the guide grid draws: one row per channel of the plan (head-end channels left out), the
// programmes of a film channel as blocks and the commands of every channel as marks.
// A pause between two programmes of a channel up to this long (seconds) is no break of the
// broadcast: the pre-flight check does not tell it, the guide grid does not draw it.
inline constexpr double OffAirToleranceSeconds = 0.5;

struct TPlanGridChannel {
  std::string RecordID;
  std::string Name;
  bool CommandsOnly = false;  // a command channel: marks, no blocks, never off the air
};
struct TPlanGrid {
  int64_t From = 0, To = 0;  // seconds since the epoch
  std::vector<TPlanGridChannel> Channels;
  std::vector<std::vector<TEpgProgramme>> Blocks;  // per channel, by start (BuildGuide's)
  std::vector<std::vector<TPlanCommand>> Marks;    // per channel, by time
};
TPlanGrid PlanGrid(TDbFile& db, const std::vector<TEpgRow>& rows, int64_t From, int64_t To);
// The grid of a server's plan; an error of the build is reported through Op and raises
// EDbFException.
TPlanGrid ServerPlanGrid(TDbFile& db, const std::string& ServerID, int64_t From, int64_t To,
                         IOperator& Op);
// The grid of a Schedules record as if a server played it from local date-time Calc; an error
// of the build raises EDbFException with its text.
TPlanGrid SchedulePlanGrid(TDbFile& db, const std::string& ScheduleID, TDateTime Calc,
                           int64_t From, int64_t To, IOperator& Op);
