#pragma once
// Every server of the project from one plan: "Create files" or "Copy files to server" (or its
// comparison, or the check of the share) for each Servers record in tree order, going on past
// a server that fails, with one outcome a server.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recstore/Json.h"
#include "servers/ShareVerify.h"

class TDbFile;
class IOperator;

struct TFleetServer {
  std::string Id;
  std::string Name;
};
// The Servers records in tree order (folders left out).
std::vector<TFleetServer> FleetServers(TDbFile& db);

enum class TFleetState { Built, Copied, Unchanged, Compared, Verified, Failed, Skipped, Cancelled };
// "built", "copied", "unchanged", "compared", "verified", "failed", "skipped", "cancelled".
std::string FleetStateText(TFleetState state);

struct TFleetOutcome {
  TFleetServer Server;
  TFleetState State = TFleetState::Failed;
  std::string Reason;   // why it failed or was skipped; the status text otherwise
  size_t Files = 0;     // files copied (or, of a comparison, to send)
  uint64_t Bytes = 0;
  std::string KeptFolder;
  TJson Detail;         // what the command prints for this server with --json
};
// One summary line: "Main: copied 6 files, 1800000 bytes", "Main: unchanged",
// "Main: failed: reason".
std::string FleetSummaryLine(const TFleetOutcome& outcome);
bool FleetFailed(const std::vector<TFleetOutcome>& outcomes);

// What is done to each server. A deployment action on a satellite server (EServerAction) is
// skipped, any other exception is that server's failure.
enum class TFleetAction { Build, Deploy, DryRun, Verify };
struct TFleetOptions {
  TFleetAction Action = TFleetAction::Deploy;
  std::chrono::milliseconds Timeout{20000};
  TCopyProgressSink Progress;     // the copy's progress, per server
  std::function<bool()> Cancelled;  // asked between servers: true ends the run
  // Settles how each server's share is reached (credentials, timeouts) before it is used.
  std::function<void(TDeployRequest&)> AdjustRequest;
  // Called before each server starts (index, count, server), and with its outcome when it ends.
  std::function<void(size_t, size_t, const TFleetServer&)> Starting;
  std::function<void(const TFleetOutcome&)> Finished;
};
// What a person reads of an outcome: a comparison's files ("action<TAB>why<TAB>size<TAB>file"),
// a check's differing files ("why<TAB>file"), then the status text; a line each.
std::string FleetReportText(const TFleetOutcome& outcome, TFleetAction action);

// Runs the action for one server (identifier or Name).
TFleetOutcome RunFleetAction(TDbFile& db, const TFleetServer& server, IOperator& op,
                             const TFleetOptions& options);
// Runs the action for every server in tree order; servers after a cancel are "cancelled".
std::vector<TFleetOutcome> RunFleet(TDbFile& db, IOperator& op, const TFleetOptions& options);

// The JSON forms of the results, for scripts.
TJson DeployResultJson(const TDeployResult& r);
TJson VerifyResultJson(const TVerifyResult& r);
TJson RollbackResultJson(const TRollbackResult& r);
