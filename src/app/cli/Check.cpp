// The pre-flight check of the servers' plans: check-servers.
#include <iostream>

#include "app/cli/CliCommon.h"
#include "servers/Fleet.h"
#include "servers/ServerCheck.h"

namespace {

struct TCheckArgs {
  std::string Server;
  bool All = false;
  int Days = 7;
};

// Days a check may cover: each day of every channel is built in memory, so a typing slip of
// 100000 must not take the machine's memory (the console's window offers the same range).
constexpr int MaxCheckDays = 62;

void CmdCheckServers(TCliContext& ctx, const TCheckArgs& a) {
  if (a.Days < 1 || a.Days > MaxCheckDays)
    throw ECliError(ExitUsage, "--days must be from 1 to " + std::to_string(MaxCheckDays));
  if (a.Server.empty() == !a.All)
    throw ECliError(ExitUsage, "name one SERVER or give --all");
  TDbFile& db = ctx.OpenMain();
  TCheckOptions o;
  o.Days = a.Days;
  std::vector<TCheckFinding> findings;
  if (a.All) {
    // Nothing to check is not a plan that passed.
    if (FleetServers(db).empty()) throw ECliError(ExitFailed, "the project has no servers");
    findings = CheckAllServers(db, o);
  } else {
    std::string id = RequireRecord(db, ctx.Collection(db, "Servers"), a.Server,
                                   "no Servers record \"" + a.Server + "\"");
    findings = CheckServer(db, id, o);
  }
  if (ctx.Json) {
    PrintJson(FindingsJson(findings));
  } else {
    for (const TCheckFinding& f : findings) std::cout << FindingText(f) << '\n';
    size_t errors = 0;
    for (const TCheckFinding& f : findings) errors += f.Level == TFindingLevel::Error;
    std::cout << errors << " error(s), " << findings.size() - errors << " warning(s)" << std::endl;
  }
  if (HasErrors(findings)) throw ECliError(ExitFailed, "the check found errors");
}

void RegisterCheckCommands(CLI::App& app, TCliContext& ctx) {
  static TCheckArgs a;
  auto* c = app.add_subcommand(
      "check-servers",
      "Pre-flight check: build every server's plan in memory and report what would go wrong");
  c->add_option("SERVER", a.Server, "Servers record: identifier or Name");
  c->add_flag("--all", a.All, "Check every server");
  c->add_option("--days", a.Days, "Days to check from today, 1 to 62 (default 7)");
  // --json is the global flag; it may also follow the command.
  c->callback([&ctx] { CmdCheckServers(ctx, a); });
}

}  // namespace

static TCliRegistration registration(RegisterCheckCommands);
