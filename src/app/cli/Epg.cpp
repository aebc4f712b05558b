// Programme guide and channel list commands: epg, m3u.
#include <iostream>

#include "app/cli/CliCommon.h"
#include "servers/ServerEpg.h"

namespace {

std::string ResolveServer(TCliContext& ctx, TDbFile& db, const std::string& arg) {
  return RequireRecord(db, ctx.Collection(db, "Servers"), arg,
                       "no Servers record \"" + arg + "\"");
}

// Writes the whole text, or nothing: "-" is standard output.
void Output(const std::string& target, const std::string& text) {
  if (target == "-") {
    std::cout << text << std::flush;
    return;
  }
  try {
    WriteFileAtomically(target, text);
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, "Can't to write to file " + target + ": " + WriteFailureReason(e));
  }
}

// Local midnight of a "YYYYMMDD" text.
TDateTime ParseDay(const std::string& text) {
  std::optional<TDateTime> d;
  if (text.size() == 8 && text.find_first_not_of("0123456789") == std::string::npos)
    d = TryEncodeDate(std::stoi(text.substr(0, 4)), static_cast<unsigned>(std::stoi(text.substr(4, 2))),
                      static_cast<unsigned>(std::stoi(text.substr(6, 2))));
  if (!d) throw ECliError(ExitUsage, "--from: \"" + text + "\" is not a date YYYYMMDD");
  return *d;
}

struct TEpgArgs {
  std::string Server;
  int Days = EpgDefaultDays;
  std::string From;
  std::string Out = "-";
  std::string Group;
  std::string UrlTvg = "epg.xml";
};

void CmdEpg(TCliContext& ctx, const TEpgArgs& a) {
  if (a.Days < 1) throw ECliError(ExitUsage, "--days must be 1 or more");
  TDbFile& db = ctx.OpenMain();
  std::string id = ResolveServer(ctx, db, a.Server);
  TDateTime from = a.From.empty() ? static_cast<TDateTime>(DayCount(Now())) : ParseDay(a.From);
  std::vector<TEpgRow> rows;
  try {
    rows = BuildServerEpgRows(db, id, *ctx.Op);
  } catch (const EDbFException& e) {
    throw ECliError(ExitFailed, e.what());
  }
  TEpgGuide guide = BuildGuide(db, rows, LocalToEpoch(from), LocalToEpoch(from + a.Days));
  Output(a.Out, GuideXmltv(guide));
}

void CmdM3u(TCliContext& ctx, const TEpgArgs& a) {
  TDbFile& db = ctx.OpenMain();
  std::string id = ResolveServer(ctx, db, a.Server);
  std::optional<TJson> server = db.CollectionByName("Servers").GetRecord(id);
  if (!server) throw ECliError(ExitNotFound, "no Servers record \"" + a.Server + "\"");
  std::vector<std::string> groups = ServerGroups(db, *server);
  if (!a.Group.empty()) {
    TDbCollectionItem& coll = db.CollectionByName("Groups");
    std::vector<std::string> chosen;
    for (const std::string& g : groups) {
      std::optional<TJson> rec = coll.GetRecord(g);
      if (g == a.Group || (rec && JsonStr(*rec, "Name") == a.Group)) chosen.push_back(g);
    }
    if (chosen.empty())
      throw ECliError(ExitNotFound, "the server has no STB group \"" + a.Group + "\"");
    groups = chosen;
  }
  std::vector<TM3uEntry> entries;
  TSuperReference supRef(ctx.Op.get());
  try {
    for (const std::string& g : groups) {
      std::vector<TM3uEntry> e = GroupM3uEntries(supRef, db, g);
      entries.insert(entries.end(), e.begin(), e.end());
    }
  } catch (const EDbFException& e) {
    supRef.ClrErrors();
    throw ECliError(ExitFailed, e.what());
  }
  Output(a.Out, M3uText(entries, a.UrlTvg));
}

void RegisterEpgCommands(CLI::App& app, TCliContext& ctx) {
  static TEpgArgs a;
  auto* cEpg = app.add_subcommand("epg", "XMLTV programme guide of a server's schedules");
  cEpg->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cEpg->add_option("--days", a.Days, "Days of the guide (default 7)");
  cEpg->add_option("--from", a.From, "First day YYYYMMDD (default today)");
  cEpg->add_option("-o,--output", a.Out, "Output file; - for standard output (default)");
  cEpg->callback([&ctx] { CmdEpg(ctx, a); });

  auto* cM3u = app.add_subcommand("m3u", "M3U channel list of a server's STB groups");
  cM3u->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cM3u->add_option("--group", a.Group, "Only this STB group: identifier or Name");
  cM3u->add_option("--url-tvg", a.UrlTvg, "Guide address written as url-tvg (default epg.xml)");
  cM3u->add_option("-o,--output", a.Out, "Output file; - for standard output (default)");
  cM3u->callback([&ctx] { CmdM3u(ctx, a); });
}

}  // namespace

static TCliRegistration registration(RegisterEpgCommands);
