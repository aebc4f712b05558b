// The demo command: the demo head-end in a new folder of the user's, with generated clips.
#include <iostream>

#include "app/cli/CliCommon.h"
#include "catalogue/DemoProject.h"

namespace {

void CmdDemo(TCliContext& ctx, const std::string& dir) {
  ctx.Prepare();
  const std::string target = dir.empty() ? DefaultDemoDir() : dir;
  TDemoResult r;
  try {
    r = MakeDemoProject(target, ctx.Op.get(), [](const std::string& text, int step, int steps) {
      if (step < steps) std::cerr << "demo: " << text << std::endl;
    });
  } catch (const EDemoRefused& e) {
    throw ECliError(ExitFailed, e.what());
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, std::string("the demo was not made: ") + e.what());
  }
  for (const std::string& line : DemoSummary(r)) std::cout << line << '\n';
  std::cout.flush();
}

void RegisterDemoCommands(CLI::App& app, TCliContext& ctx) {
  static std::string dir;
  auto* cDemo = app.add_subcommand(
      "demo", "Make the demo head-end in DIR (default ~/pelmora-demo), a new or empty folder: "
              "the project, the portal's templates and, with ffmpeg, a clip for every film");
  cDemo->add_option("DIR", dir, "Folder of the demo; it must not exist or be empty");
  cDemo->callback([&ctx] { CmdDemo(ctx, dir); });
}

}  // namespace

static TCliRegistration registration(RegisterDemoCommands);
