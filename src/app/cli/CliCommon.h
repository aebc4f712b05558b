#pragma once
// What every pelmora-cli command shares: the global options, the databases and exit codes.
#include <CLI/CLI.hpp>

#include <memory>
#include <stdexcept>
#include <string>

#include "recstore/JrecClasses.h"
#include "base/Operator.h"

enum TCliExit { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitNotFound = 3 };

class ECliError : public std::runtime_error {
public:
  ECliError(int code, const std::string& msg) : std::runtime_error(msg), Code(code) {}
  int Code;
};

struct TCliContext {
  std::string ProjectFile;
  std::string MongoAddress;  // --mongo HOST[:PORT]/DB: the main database on a MongoDB server
  std::string WorkDir;
  std::string DbName = "main";
  bool Yes = false;
  bool No = false;
  bool Json = false;

  std::unique_ptr<TConsoleOperator> Op;
  std::unique_ptr<TDbFile> Main;
  std::unique_ptr<TDbFile> Contracts;
  std::unique_ptr<TDbFile> TimeLine;

  // Creates the operator from --yes/--no and installs it for the process.
  void Prepare();
  // The main database loaded from --project; raises ECliError when there is none.
  TDbFile& OpenMain(bool mustBeOpen = true);
  // The database chosen with --db (main, contracts or timeline), loaded.
  TDbFile& OpenSelected(bool mustBeOpen = true);
  // Collection of the selected database; unknown names are a usage error (the time line
  // adds its collections on demand).
  TDbCollectionItem& Collection(TDbFile& db, const std::string& name);
  // Refuses a change on a database that is not open.
  void RequireWritable(TDbFile& db);
};

// An existing record identifier, or the identifier of the first record in tree order whose
// "Name" is Arg; "" when neither.
std::string ResolveRecordArg(TDbFile& db, TDbCollectionItem& coll, const std::string& arg);
// Stores a record with counter checking: replaces it when it exists (false when another client
// changed it in between), otherwise creates it. Behaves alike on files and on MongoDB.
bool StoreRecordCounted(TDbCollectionItem& coll, const std::string& id, const TJson& rec);
// Identifiers in tree order: records named by the tree document first (depth first), then the
// records no tree entry names. Folders are reported through OnFolder when given.
struct TListedEntry {
  std::string ID;
  std::string Name;
  bool IsFolder = false;
  int Depth = 0;
};
std::vector<TListedEntry> ListInTreeOrder(TDbFile& db, TDbCollectionItem& coll);

// Command groups: each file of src/app/cli adds its subcommands by defining a registration,
//   static TCliRegistration registration(RegisterXxxCommands);
// with void RegisterXxxCommands(CLI::App&, TCliContext&). A command reports failure by
// raising ECliError with its exit code.
using TCliRegister = void (*)(CLI::App& app, TCliContext& ctx);
struct TCliRegistration {
  explicit TCliRegistration(TCliRegister fn);
};
const std::vector<TCliRegister>& CliRegistrations();
