// Deployment commands: deploy (one server or all, its dry run and check), rollback, restart,
// send, share-url.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <mutex>

#include "app/cli/CliCommon.h"
#include "app/cli/FleetCli.h"
#include "servers/Fleet.h"
#include "servers/Servers.h"

namespace {

struct TDeployArgs {
  std::string Server;
  bool All = false;
  bool DryRun = false;
  bool Verify = false;
  std::string Group;
  std::string Command;
  double Timeout = 15;
};

std::string ServerId(TCliContext& ctx, TDbFile& db, const std::string& arg) {
  TDbCollectionItem* coll = db.FindCollection("Servers");
  if (!coll) throw ECliError(ExitFailed, "the project has no collection \"Servers\"");
  return RequireRecord(db, *coll, arg, "no server \"" + arg + "\" in Servers");
}

// The longest --timeout: an hour is far beyond any answer or copy step worth waiting for.
constexpr double MaxTimeoutSeconds = 3600;

// --timeout as a duration; anything but a number of seconds above 0 and up to the maximum
// (0, negative, nan, inf, huge) is a usage error, so no request or copy ever waits unbounded.
std::chrono::milliseconds TimeoutOption(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0 || seconds > MaxTimeoutSeconds)
    throw ECliError(ExitUsage, "--timeout must be a number of seconds above 0 and at most " +
                                   std::to_string(static_cast<int>(MaxTimeoutSeconds)));
  return std::max(std::chrono::milliseconds(1),
                  std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000)));
}

TPostOptions PostOptions(double seconds) {
  TPostOptions o;
  o.TotalTimeout = TimeoutOption(seconds);
  o.ConnectTimeout = std::min(o.ConnectTimeout, o.TotalTimeout);
  return o;
}

std::string MegaBytes(uint64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return buf;
}

// The progress of a copy on stderr: one line redrawn on a terminal, otherwise a line a file.
class TCopyProgressPrinter {
public:
  TCopyProgressSink Sink() {
    return [this](const TCopyProgress& p) {
      std::string line = "Copying " + std::to_string(p.FilesDone) + " of " +
                         std::to_string(p.FilesTotal) + " files, " + MegaBytes(p.BytesDone) +
                         " of " + MegaBytes(p.BytesTotal) + " MB";
      if (FTty) {
        std::cerr << "\r" << line << "\x1b[K" << std::flush;
        FShown = true;
      } else if (p.FilesDone == p.FilesTotal || p.BytesDone == 0) {
        std::cerr << line << "\n";  // one line per file when nobody watches a terminal
      }
      return true;
    };
  }
  void End() {
    if (FShown) std::cerr << "\n";
    FShown = false;
  }

private:
  bool FTty = isatty(STDERR_FILENO) != 0;
  bool FShown = false;
};

TFleetAction DeployAction(const TDeployArgs& a) {
  if (a.DryRun && a.Verify) throw ECliError(ExitUsage, "--dry-run and --verify exclude each other");
  return a.DryRun ? TFleetAction::DryRun : a.Verify ? TFleetAction::Verify : TFleetAction::Deploy;
}

void PrintOutcome(const TFleetOutcome& o, TFleetAction action) {
  std::cout << FleetReportText(o, action) << std::flush;
}

TJson OutcomeJson(const TFleetOutcome& o) {
  TJson j = o.Detail;
  j["server"] = o.Server.Name;
  j["id"] = o.Server.Id;
  j["state"] = FleetStateText(o.State);
  if (o.State == TFleetState::Failed || o.State == TFleetState::Skipped) j["reason"] = o.Reason;
  return j;
}

}  // namespace

void RunForAllServers(TCliContext& ctx, TDbFile& db, IOperator& op, TFleetOptions options,
                      const std::string& failText) {
  const bool json = ctx.Json;
  TCopyProgressPrinter printer;
  if (options.Action == TFleetAction::Deploy) options.Progress = printer.Sink();
  options.Starting = [json](size_t i, size_t n, const TFleetServer& server) {
    if (!json) std::cout << "== " << server.Name << " (" << (i + 1) << " of " << n << ")" << std::endl;
  };
  const TFleetAction action = options.Action;
  options.Finished = [json, action, &printer](const TFleetOutcome& o) {
    printer.End();
    // A build has told its steps as they came; the other actions tell their outcome here.
    if (!json && action != TFleetAction::Build) PrintOutcome(o, action);
  };
  const std::vector<TFleetOutcome> outcomes = RunFleet(db, op, options);
  const bool failed = FleetFailed(outcomes);
  if (json) {
    TJson servers = TJson::array();
    for (const auto& o : outcomes) servers.push_back(OutcomeJson(o));
    PrintJson({{"ok", !failed}, {"servers", servers}});
  } else {
    std::cout << "Summary" << std::endl;
    for (const auto& o : outcomes) std::cout << FleetSummaryLine(o) << std::endl;
  }
  if (outcomes.empty()) throw ECliError(ExitFailed, "the project has no servers");
  if (failed) throw ECliError(ExitFailed, failText);
}

namespace {

void CmdDeploy(TCliContext& ctx, const TDeployArgs& a) {
  TFleetOptions options;
  options.Timeout = TimeoutOption(a.Timeout);
  options.Action = DeployAction(a);
  if (a.All == !a.Server.empty())
    throw ECliError(ExitUsage, "name one SERVER or give --all");
  TDbFile& db = ctx.OpenMain();
  if (a.All) return RunForAllServers(ctx, db, *ctx.Op, options, "a server failed");

  std::string id = ServerId(ctx, db, a.Server);
  TCopyProgressPrinter printer;
  if (options.Action == TFleetAction::Deploy) options.Progress = printer.Sink();
  TFleetOutcome o;
  try {
    // A record that cannot be used (a satellite server, no usable name) is an error here.
    ServerDeployRequest(db, id, options.Timeout);
  } catch (const EServerAction& e) {
    throw ECliError(ExitFailed, e.what());
  }
  o = RunFleetAction(db, {id, JsonStr(LoadServerRecord(db, id), "Name")}, *ctx.Op, options);
  printer.End();
  if (ctx.Json) PrintJson(OutcomeJson(o));
  else PrintOutcome(o, options.Action);
  if (o.State == TFleetState::Failed) {
    if (options.Action == TFleetAction::Verify)
      throw ECliError(ExitFailed, "the share differs from the package");
    throw ECliError(ExitFailed, options.Action == TFleetAction::DryRun
                                    ? "the share could not be compared"
                                    : "copying to the server failed");
  }
}

void CmdRollback(TCliContext& ctx, const TDeployArgs& a) {
  const std::chrono::milliseconds timeout = TimeoutOption(a.Timeout);
  TDbFile& db = ctx.OpenMain();
  std::string id = ServerId(ctx, db, a.Server);
  TRollbackResult r;
  try {
    r = RollbackShare(ServerDeployRequest(db, id, timeout), *ctx.Op);
  } catch (const EServerAction& e) {
    throw ECliError(ExitFailed, e.what());
  }
  if (ctx.Json) {
    TJson j = RollbackResultJson(r);
    j["server"] = JsonStr(LoadServerRecord(db, id), "Name");
    PrintJson(j);
  } else {
    for (const std::string& f : r.Restored) std::cout << "restored\t" << f << '\n';
    std::cout << r.Status << std::endl;
  }
  if (!r.Ok) throw ECliError(ExitFailed, "the rollback failed");
}

// Waits for the outcome of the requests started through Sender and prints it.
class TCollectingSink {
public:
  TStatusSink Sink() {
    return [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(FMutex);
      FLast = text;
    };
  }
  std::string Last() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FLast;
  }

private:
  std::mutex FMutex;
  std::string FLast;
};

// Starts one request through a sender of its own, prints its description, waits for the
// outcome and prints it; anything but success is exit code 1.
void RunRequest(TCliContext& ctx, double timeout,
                const std::function<std::string(TRpcSender&, TStatusSink)>& start) {
  TRpcSender sender(*ctx.Op, PostOptions(timeout));
  TCollectingSink sink;
  std::string description;
  try {
    description = start(sender, sink.Sink());
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, e.what());
  }
  std::cout << description << std::endl;
  sender.WaitAll();
  std::string outcome = sink.Last();
  std::cout << outcome << std::endl;
  if (outcome != description + "  is executed successfully")
    throw ECliError(ExitFailed, "the command was not executed");
}

void CmdRestart(TCliContext& ctx, const TDeployArgs& a) {
  TimeoutOption(a.Timeout);
  TDbFile& db = ctx.OpenMain();
  std::string id = ServerId(ctx, db, a.Server);
  RunRequest(ctx, a.Timeout, [&](TRpcSender& sender, TStatusSink sink) {
    return RestartServer(db, id, sender, std::move(sink));
  });
}

void CmdSend(TCliContext& ctx, const TDeployArgs& a) {
  TimeoutOption(a.Timeout);
  TDbFile& db = ctx.OpenMain();
  std::string id = ServerId(ctx, db, a.Server);
  TJson command;
  try {
    command = TJson::parse(a.Command);
  } catch (const std::exception& e) {
    throw ECliError(ExitUsage, std::string("--command is not valid JSON: ") + e.what());
  }
  if (!command.is_object() || command.size() != 1 || !command.begin().value().is_object())
    throw ECliError(ExitUsage,
                    "--command must be one command object: {\"KEY\": {\"Method\": ..., ...}}");
  if (FindCmdTableRowIndex(command) < 0)
    throw ECliError(ExitUsage, "--command matches no known command (key, \"Method\" and "
                               "\"Value\" must be those of a command of the table)");
  if (FindCmdTableRow(command).Has(opt_ToStb) && a.Group.empty())
    throw ECliError(ExitUsage, "--group is needed: the command goes to the set-top boxes of a group");
  TJson server = LoadServerRecord(db, id);
  RunRequest(ctx, a.Timeout, [&](TRpcSender& sender, TStatusSink sink) {
    return sender.SendCommand(command, a.Group, JsonStr(server, "URL"), std::move(sink),
                              "Server: " + JsonStr(server, "Name"));
  });
}

void CmdShareUrl(TCliContext& ctx, const TDeployArgs& a) {
  TDbFile& db = ctx.OpenMain();
  std::string id = ServerId(ctx, db, a.Server);
  TJson server = LoadServerRecord(db, id);
  std::cout << ServerFilesAddress(JsonStr(server, "URL")) << std::endl;
}

void RegisterDeployCommands(CLI::App& app, TCliContext& ctx) {
  static TDeployArgs a;

  auto* cDeploy = app.add_subcommand(
      "deploy", "Copy the server's package and changed films to its inbox share");
  cDeploy->add_option("SERVER", a.Server, "Servers record: identifier or Name");
  cDeploy->add_flag("--all", a.All, "Every server in tree order, with a summary");
  cDeploy->add_flag("--dry-run", a.DryRun,
                    "List what would be copied, replaced and left; write nothing");
  cDeploy->add_flag("--verify", a.Verify,
                    "Check the share against the package (MD5, films by size); copy nothing");
  cDeploy->add_option("--timeout", a.Timeout, "Seconds an SMB operation may take (default 20)")
      ->default_val(20);
  cDeploy->callback([&ctx] { CmdDeploy(ctx, a); });

  auto* cRollback = app.add_subcommand(
      "rollback", "Put back the package the last copy replaced on the server's share");
  cRollback->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cRollback->add_option("--timeout", a.Timeout, "Seconds an SMB operation may take (default 20)")
      ->default_val(20);
  cRollback->callback([&ctx] { CmdRollback(ctx, a); });

  auto* cRestart = app.add_subcommand("restart", "Restart the server software (JSON-RPC)");
  cRestart->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cRestart->add_option("--timeout", a.Timeout, "Seconds to wait for the answer (default 15)")
      ->default_val(15);
  cRestart->callback([&ctx] { CmdRestart(ctx, a); });

  auto* cSend = app.add_subcommand("send", "Send one command object to a server (JSON-RPC)");
  cSend->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cSend->add_option("--group", a.Group, "STB group name the command addresses");
  cSend->add_option("--command", a.Command,
                    "Command object, e.g. {\"stbpower\":{\"Method\":\"command\",\"Value\":\"1\"}}")
      ->required();
  cSend->add_option("--timeout", a.Timeout, "Seconds to wait for the answer (default 15)")
      ->default_val(15);
  cSend->callback([&ctx] { CmdSend(ctx, a); });

  auto* cShare = app.add_subcommand("share-url", "The address of the server's inbox share");
  cShare->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cShare->callback([&ctx] { CmdShareUrl(ctx, a); });
}

TCliRegistration registration(RegisterDeployCommands);

}  // namespace
