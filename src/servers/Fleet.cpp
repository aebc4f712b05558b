#include "servers/Fleet.h"

#include "portal/PortalMakerDoWeb.h"
#include "servers/CreateFiles.h"
#include "servers/Servers.h"
#include "shell/TreeDocument.h"

std::vector<TFleetServer> FleetServers(TDbFile& db) {
  std::vector<TFleetServer> out;
  TDbCollectionItem* coll = db.FindCollection("Servers");
  if (!coll) return out;
  for (const TTreeListEntry& e : ListInTreeOrder(db, *coll))
    if (!e.IsFolder) out.push_back({e.ID, e.Name});
  return out;
}

std::string FleetStateText(TFleetState state) {
  switch (state) {
    case TFleetState::Built: return "built";
    case TFleetState::Copied: return "copied";
    case TFleetState::Unchanged: return "unchanged";
    case TFleetState::Compared: return "compared";
    case TFleetState::Verified: return "verified";
    case TFleetState::Failed: return "failed";
    case TFleetState::Skipped: return "skipped";
    case TFleetState::Cancelled: return "cancelled";
  }
  return "failed";
}

std::string FleetSummaryLine(const TFleetOutcome& o) {
  std::string line = o.Server.Name + ": " + FleetStateText(o.State);
  switch (o.State) {
    case TFleetState::Copied:
      line += " " + std::to_string(o.Files) + " files, " + std::to_string(o.Bytes) + " bytes";
      break;
    case TFleetState::Failed:
    case TFleetState::Skipped:
    case TFleetState::Compared:
    case TFleetState::Verified:
      line += ": " + o.Reason;
      break;
    default:
      break;
  }
  return line;
}

std::string FleetReportText(const TFleetOutcome& o, TFleetAction action) {
  std::string text;
  const TJson* plan = JsonPath(o.Detail, "plan");
  if (action == TFleetAction::DryRun && plan && plan->is_array())
    for (const TJson& e : *plan)
      text += JsonStr(e, "action") + '\t' +
              (JsonStr(e, "why").empty() ? std::string("unchanged") : JsonStr(e, "why")) + '\t' +
              std::to_string(e.value("size", uint64_t{0})) + '\t' + JsonStr(e, "file") + '\n';
  const TJson* drift = JsonPath(o.Detail, "drift");
  if (action == TFleetAction::Verify && drift && drift->is_array())
    for (const TJson& e : *drift) text += JsonStr(e, "why") + '\t' + JsonStr(e, "file") + '\n';
  std::string status = JsonStr(o.Detail, "status");
  if (status.empty()) status = o.Reason;
  if (!status.empty()) text += status + '\n';
  return text;
}

bool FleetFailed(const std::vector<TFleetOutcome>& outcomes) {
  for (const auto& o : outcomes)
    if (o.State == TFleetState::Failed || o.State == TFleetState::Cancelled) return true;
  return false;
}

TJson DeployResultJson(const TDeployResult& r) {
  TJson j = {{"ok", r.Ok}, {"status", r.Status}, {"files", r.FilesCopied},
             {"bytes", r.BytesCopied}, {"copied", r.Copied}, {"kept", r.KeptFolder},
             {"missingHere", r.Warnings}};
  TJson plan = TJson::array();
  size_t copy = 0, replace = 0, leave = 0;
  uint64_t bytes = 0;
  for (const TPlanEntry& e : r.Plan) {
    plan.push_back({{"file", e.RelPath}, {"size", e.Size}, {"action", PlanActionText(e.Action)},
                    {"why", e.Why}, {"film", e.Film}});
    if (e.Action == TPlanAction::Copy) ++copy;
    if (e.Action == TPlanAction::Replace) ++replace;
    if (e.Action == TPlanAction::Leave) ++leave;
    if (e.Action != TPlanAction::Leave) bytes += e.Size;
  }
  j["plan"] = plan;
  j["totals"] = {{"copy", copy}, {"replace", replace}, {"leave", leave}, {"bytes", bytes}};
  return j;
}

TJson VerifyResultJson(const TVerifyResult& r) {
  TJson drift = TJson::array();
  for (const auto& d : r.Drift) drift.push_back({{"file", d.RelPath}, {"why", d.Why}, {"film", d.Film}});
  return {{"ok", r.Ok}, {"status", r.Status}, {"checked", r.Checked}, {"drift", drift},
          {"missingHere", r.NotHere}};
}

TJson RollbackResultJson(const TRollbackResult& r) {
  return {{"ok", r.Ok}, {"status", r.Status}, {"kept", r.KeptFolder}, {"restored", r.Restored}};
}

TFleetOutcome RunFleetAction(TDbFile& db, const TFleetServer& server, IOperator& op,
                             const TFleetOptions& options) {
  TFleetOutcome o;
  o.Server = server;
  try {
    if (options.Action == TFleetAction::Build) {
      TPortalMakerDoWeb portal(db, &op);
      TCreateFilesResult r = CreateServerFiles(db, server.Id, op, &portal);
      o.State = r.Ok ? TFleetState::Built : TFleetState::Failed;
      o.Reason = r.Status;
      o.Detail = {{"ok", r.Ok}, {"status", r.Status}, {"folder", r.Folder}};
      return o;
    }
    if (JsonBool(LoadServerRecord(db, server.Id), "SatelliteSys")) {
      // A satellite server's packages reach it by other means: not a failure of the run.
      o.State = TFleetState::Skipped;
      o.Reason = "uses a satellite delivery system: its packages are not copied";
      o.Detail = {{"ok", true}, {"status", o.Reason}};
      return o;
    }
    TDeployRequest request = ServerDeployRequest(db, server.Id, options.Timeout);
    if (options.AdjustRequest) options.AdjustRequest(request);
    if (options.Action == TFleetAction::Verify) {
      TVerifyResult r = VerifyShare(request, op);
      o.State = r.Ok ? TFleetState::Verified : TFleetState::Failed;
      o.Reason = r.Status;
      o.Detail = VerifyResultJson(r);
      return o;
    }
    request.DryRun = options.Action == TFleetAction::DryRun;
    TDeployResult r = CopyFilesToShare(request, op, options.Progress);
    o.Detail = DeployResultJson(r);
    o.Reason = r.Status;
    o.KeptFolder = r.KeptFolder;
    if (!r.Ok) {
      o.State = TFleetState::Failed;
    } else if (request.DryRun) {
      o.State = TFleetState::Compared;
      o.Files = r.FilesQueued;
      for (const auto& e : r.Plan)
        if (e.Action != TPlanAction::Leave) o.Bytes += e.Size;
    } else if (r.FilesCopied == 0) {
      o.State = TFleetState::Unchanged;
    } else {
      o.State = TFleetState::Copied;
      o.Files = r.FilesCopied;
      o.Bytes = r.BytesCopied;
    }
  } catch (const std::exception& e) {
    o.State = TFleetState::Failed;
    o.Reason = e.what();
  }
  if (o.Detail.is_null()) o.Detail = {{"ok", false}, {"status", o.Reason}};
  return o;
}

std::vector<TFleetOutcome> RunFleet(TDbFile& db, IOperator& op, const TFleetOptions& options) {
  std::vector<TFleetOutcome> out;
  const std::vector<TFleetServer> servers = FleetServers(db);
  TSharedBuildRun run;  // each film read once for all the servers' builds
  bool cancelled = false;
  for (size_t i = 0; i < servers.size(); ++i) {
    cancelled = cancelled || (options.Cancelled && options.Cancelled());
    if (cancelled) {
      TFleetOutcome o;
      o.Server = servers[i];
      o.State = TFleetState::Cancelled;
      o.Reason = "cancelled";
      o.Detail = {{"ok", false}, {"status", "cancelled"}};
      out.push_back(std::move(o));
      continue;
    }
    if (options.Starting) options.Starting(i, servers.size(), servers[i]);
    out.push_back(RunFleetAction(db, servers[i], op, options));
    if (options.Finished) options.Finished(out.back());
  }
  return out;
}
