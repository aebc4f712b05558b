// pelmora-cli: the console's engine without windows, for scripts, cron jobs, tests and benches.
#include <iostream>

#include "app/cli/CliCommon.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "shell/Options.h"

int main(int argc, char** argv) {
  TCliContext ctx;
  CLI::App app{"Pelmora console, command-line edition", "pelmora-cli"};
  app.require_subcommand(1);
  // Global options may also follow the command ("check-schedule X --json"); set before the
  // command groups are added, whose subcommands take it over.
  app.fallthrough();
  auto* project =
      app.add_option("--project", ctx.ProjectFile, "Project file (.pq2pr) of the main database");
  app.add_option("--mongo", ctx.MongoAddress,
                 "Main database on a MongoDB server, as HOST[:PORT]/DB")
      ->excludes(project);
  app.add_option("--workdir", ctx.WorkDir,
                 "Working directory holding contracts.json and timeline.json");
  std::string base;
  app.add_option("--base", base, "Folder that stored \"..\\\" paths mean when the main database has no "
                           "project file (MongoDB); default: the working directory")
      ->check(CLI::ExistingDirectory)
      ->each([](const std::string& dir) { SetPathBase(dir); });
  app.add_option("--db", ctx.DbName, "Database the record commands work on")
      ->check(CLI::IsMember({"main", "contracts", "timeline"}));
  auto* yes = app.add_flag("--yes", ctx.Yes, "Answer yes to every question");
  app.add_flag("--no", ctx.No, "Answer no to every question")->excludes(yes);
  app.add_flag("--json", ctx.Json, "Machine-readable JSON output");
  app.add_option("--wait", ctx.Wait,
                 "Seconds to wait for a database file another program holds (default 10)")
      ->check(CLI::NonNegativeNumber);
  app.set_version_flag("--version", std::string(PELMORA_VERSION));

  for (TCliRegister reg : CliRegistrations()) reg(app, ctx);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return ExitUsage;
  } catch (const ECliError& e) {
    std::cerr << "pelmora-cli: " << e.what() << std::endl;
    return e.Code;
  } catch (const std::exception& e) {
    std::cerr << "pelmora-cli: " << e.what() << std::endl;
    return ExitFailed;
  }
  return ExitOk;
}

namespace {
std::vector<TCliRegister>& Registry() {
  static std::vector<TCliRegister> registry;
  return registry;
}
}  // namespace

TCliRegistration::TCliRegistration(TCliRegister fn) { Registry().push_back(fn); }
const std::vector<TCliRegister>& CliRegistrations() { return Registry(); }
