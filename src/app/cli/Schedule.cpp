// Schedule and package commands: check-schedule, show-schedule, build-package.
#include <iostream>

#include "app/cli/CliCommon.h"
#include "app/cli/FleetCli.h"
#include "portal/PortalMakerDoWeb.h"
#include "schedule/ChSchedCheck.h"
#include "schedule/DoSchedule.h"
#include "servers/CreateFiles.h"
#include "servers/Fleet.h"

namespace {

// Status texts go to stdout, one a line; everything else as the console operator does it.
class TStdoutStatusOperator : public IOperator {
public:
  explicit TStdoutStatusOperator(IOperator& inner) : FInner(inner) {}
  void MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) override {
    FInner.MessageBox(caption, text, icon);
  }
  TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                 TMsgButtons buttons, TMsgAnswer safeAnswer) override {
    return FInner.Ask(caption, text, icon, buttons, safeAnswer);
  }
  void StatusText(const std::string& text) override { std::cout << text << std::endl; }
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override {
    FInner.OpenRecord(coll, id);
  }
  void RunOnUiThread(std::function<void()> fn) override { FInner.RunOnUiThread(std::move(fn)); }

private:
  IOperator& FInner;
};

std::string Resolve(TCliContext& ctx, TDbFile& db, const std::string& collection,
                    const std::string& arg) {
  return RequireRecord(db, ctx.Collection(db, collection), arg,
                       "no " + collection + " record \"" + arg + "\"");
}

// "Create files" for every server in tree order, going on past a failed one; a summary line
// each (or one JSON document), exit 1 when any failed.
void CmdBuildAllPackages(TCliContext& ctx) {
  TDbFile& db = ctx.OpenMain();
  TFleetOptions options;
  options.Action = TFleetAction::Build;
  TStdoutStatusOperator stdoutOp(*ctx.Op);
  IOperator& op = ctx.Json ? static_cast<IOperator&>(*ctx.Op) : stdoutOp;
  RunForAllServers(ctx, db, op, options, "a server's package could not be built");
}

void CmdBuildPackage(TCliContext& ctx, const std::string& arg, bool all) {
  if (all == !arg.empty()) throw ECliError(ExitUsage, "name one SERVER or give --all");
  if (all) return CmdBuildAllPackages(ctx);
  TDbFile& db = ctx.OpenMain();
  std::string id = Resolve(ctx, db, "Servers", arg);
  TStdoutStatusOperator op(*ctx.Op);
  TPortalMakerDoWeb portal(db, &op);
  TCreateFilesResult r = CreateServerFiles(db, id, op, &portal);
  if (!r.Ok) throw ECliError(ExitFailed, r.Status);
}

void CmdCheckSchedule(TCliContext& ctx, const std::string& arg, bool json) {
  TDbFile& db = ctx.OpenMain();
  std::string id = Resolve(ctx, db, "ChSched", arg);
  std::optional<TJson> rec = db.CollectionByName("ChSched").GetRecord(id);
  TChSchedRecompute r;
  try {
    r = RecomputeChSched(db, id, *rec, ctx.Op.get());
  } catch (const EDbFException& e) {
    throw ECliError(ExitFailed, e.what());
  }
  if (json) {
    TJson out = TJson::array();
    for (size_t i = 0; i < r.Rows.size(); ++i) {
      const TChSchedRowView& v = r.Rows[i];
      TJson err = TJson::object();
      static const char* const slots[OneFilmErrorCount] = {
          "FilmRedused", "PlayListRedused", "FilmDeleted", "ZeroDuration", "Pause",
          "TimeErr",     "Period",          "CalcStopped", "InvalidReference"};
      for (int k = 0; k < OneFilmErrorCount; ++k)
        if (!v.Err[static_cast<size_t>(k)].empty()) err[slots[k]] = v.Err[static_cast<size_t>(k)];
      out.push_back({{"Row", i + 1}, {"Times", v.Range}, {"Duration", v.Duration}, {"Err", err},
                     {"HasError", v.HasError}});
    }
    if (r.Period) out.push_back({{"Period", DeltaTimeToStr(*r.Period)}});
    PrintJson(out);
    return;
  }
  for (size_t i = 0; i < r.Rows.size(); ++i) {
    const TChSchedRowView& v = r.Rows[i];
    std::string msgs;
    for (const std::string& e : v.Err) {
      if (e.empty()) continue;
      if (!msgs.empty()) msgs += " | ";
      msgs += e;
    }
    std::cout << (i + 1) << '\t' << v.Range << '\t' << v.Duration << '\t' << msgs << '\n';
  }
  if (r.Period) std::cout << "Period\t" << DeltaTimeToStr(*r.Period) << '\n';
}

struct TShowFlags {
  bool TimeLine = false, Csv = false, NoSeconds = false, Days = false, OnlyShown = false,
       NoRows = false, NoStartTimes = false;
};

void CmdShowSchedule(TCliContext& ctx, const std::string& arg, const TShowFlags& f) {
  TDbFile& db = ctx.OpenMain();
  std::string id = Resolve(ctx, db, "Schedules", arg);
  std::unique_ptr<TSchedule> sh = BuildSchedule(id, db, ctx.Op.get());
  if (!sh) throw ECliError(ExitFailed, "the schedule could not be built");
  TShowScheduleOptions o;
  o.TimeLine = f.TimeLine;
  o.SaveCsv = f.Csv;
  o.ShowSeconds = !f.NoSeconds;
  o.ShowDays = f.Days;
  o.ShowAllFilms = !f.OnlyShown;
  o.ShowRowsFilms = !f.NoRows;
  o.ShowFilmStartTime = !f.NoStartTimes;
  std::string csv;
  for (const std::string& line : ShowSchedule(db, *sh, o, &csv)) std::cout << line << '\n';
  if (!csv.empty()) ctx.Op->StatusText("Schedule saved in " + csv);
}

void RegisterScheduleCommands(CLI::App& app, TCliContext& ctx) {
  static std::string arg;
  static TShowFlags flags;

  auto* cBuild = app.add_subcommand("build-package", "\"Create files\": build a server's package");
  static bool all = false;
  cBuild->add_option("SERVER", arg, "Servers record: identifier or Name");
  cBuild->add_flag("--all", all, "Every server in tree order, with a summary");
  cBuild->callback([&ctx] { CmdBuildPackage(ctx, arg, all); });

  auto* cCheck = app.add_subcommand("check-schedule", "Durations, times and errors of a channel schedule's rows");
  cCheck->add_option("CHSCHED", arg, "ChSched record: identifier or Name")->required();
  // --json is the global flag; it may also follow the command.
  cCheck->callback([&ctx] { CmdCheckSchedule(ctx, arg, ctx.Json); });

  auto* cShow = app.add_subcommand("show-schedule", "The \"Show schedule\" text of a Schedules record");
  cShow->add_option("SCHEDULES", arg, "Schedules record: identifier or Name")->required();
  cShow->add_flag("--timeline", flags.TimeLine, "Show as timeline");
  cShow->add_flag("--csv", flags.Csv, "Save in CSV-file");
  cShow->add_flag("--no-seconds", flags.NoSeconds, "Times without seconds");
  cShow->add_flag("--days", flags.Days, "Show days");
  cShow->add_flag("--only-shown", flags.OnlyShown, "Only films with \"Show in schedule\"");
  cShow->add_flag("--no-rows", flags.NoRows, "Without the rows of films");
  cShow->add_flag("--no-start-times", flags.NoStartTimes, "Without the films' start times");
  cShow->callback([&ctx] { CmdShowSchedule(ctx, arg, flags); });
}

}  // namespace

static TCliRegistration registration(RegisterScheduleCommands);
