// Portal commands: check-portal (the check run of the portals window) and survey-template
// (which tags a template file holds).
#include <filesystem>
#include <iostream>

#include "app/cli/CliCommon.h"
#include "portal/DoWeb.h"
#include "shell/Databases.h"
#include "shell/Options.h"

namespace fs = std::filesystem;

namespace {

// Status texts go to stdout, one a line; everything else to the console operator.
class TStatusPrinter : public IOperator {
public:
  explicit TStatusPrinter(IOperator& inner) : FInner(inner) {}
  std::string Last;
  void MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) override {
    FInner.MessageBox(caption, text, icon);
  }
  TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                 TMsgButtons buttons, TMsgAnswer safeAnswer) override {
    return FInner.Ask(caption, text, icon, buttons, safeAnswer);
  }
  void StatusText(const std::string& text) override {
    Last = text;
    std::cout << text << std::endl;
  }
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override {
    FInner.OpenRecord(coll, id);
  }
  void RunOnUiThread(std::function<void()> fn) override { FInner.RunOnUiThread(std::move(fn)); }

private:
  IOperator& FInner;
};

void CmdCheckPortal(TCliContext& ctx, const std::string& arg) {
  TDbFile& db = ctx.OpenMain();
  TDbCollectionItem& portals = db.CollectionByName("Portals");
  std::string id = RequireRecord(db, portals, arg, "no record \"" + arg + "\" in Portals");
  TStatusPrinter status(*ctx.Op);
  TDataModuleDoWeb gen(db);
  try {
    gen.MakeWebPortal(&status, id, nullptr, nullptr, "", "");
  } catch (const EDbFException& e) {
    // The reference tracker has already told the operator.
    throw ECliError(ExitFailed, "the portal check failed");
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, e.what());
  }
  if (status.Last != "Web portal was successfully created!")
    throw ECliError(ExitFailed, "the portal check failed");
}

void CmdSurveyTemplate(TCliContext& ctx, const std::string& file) {
  std::unique_ptr<TDbFile> scratch;
  TDbFile* db = nullptr;
  if (!ctx.ProjectFile.empty()) {
    db = &ctx.OpenMain();
  } else {
    ctx.Prepare();
    scratch = CreateMainDatabase(ctx.Op.get());
    db = scratch.get();
  }
  std::string path = file;
  std::error_code ec;
  // A name relative to the templates folder of the project, as web page records store it.
  if (!fs::exists(path, ec) && !ctx.ProjectFile.empty() && fs::path(file).is_relative())
    path = JoinRootPath(GetOptionDir(*db, odHTML), file);
  TDataModuleDoWeb gen(*db);
  std::optional<TJson> fields = gen.CollectFields(gen.Producer(), path);
  if (!fields) throw ECliError(ExitFailed, "the template could not be surveyed");
  PrintJson(*fields);
}

void RegisterPortalCommands(CLI::App& app, TCliContext& ctx) {
  static std::string portal, file;
  auto* cCheck = app.add_subcommand(
      "check-portal", "Render every page of a portal without writing anything");
  cCheck->add_option("PORTAL", portal, "Identifier or Name of a Portals record")->required();
  cCheck->callback([&ctx] { CmdCheckPortal(ctx, portal); });

  auto* cSurvey = app.add_subcommand("survey-template",
                                     "The tags of an HTML template file, as JSON");
  cSurvey->add_option("FILE", file,
                      "Template file (a name relative to the project's templates folder also "
                      "works with --project)")
      ->required();
  cSurvey->callback([&ctx] { CmdSurveyTemplate(ctx, file); });
}

TCliRegistration registration(RegisterPortalCommands);

}  // namespace
