#pragma once
// What every pelmora-cli command shares: the global options, the databases and exit codes.
#include <CLI/CLI.hpp>

#include <memory>
#include <stdexcept>
#include <string>

#include "recstore/JrecClasses.h"
#include "base/Operator.h"
#include "shell/TreeDocument.h"

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
  double Wait = 10;  // --wait: seconds a change waits for another holder of a database file

  std::unique_ptr<TConsoleOperator> Op;
  std::unique_ptr<TDbFile> Main;
  std::unique_ptr<TDbFile> Contracts;
  std::unique_ptr<TDbFile> TimeLine;

  // Creates the operator from --yes/--no and installs it for the process.
  void Prepare();
  // What a command does with a database. One opened for reading refuses every change, so a
  // command that lists, shows, checks or builds from the project never alters it (not even by
  // storing a default setting or converting an older file).
  enum class TOpenFor { Reading, Change };
  // The main database loaded from --project; raises ECliError when there is none.
  TDbFile& OpenMain(bool mustBeOpen = true, TOpenFor openFor = TOpenFor::Reading);
  // The database chosen with --db (main, contracts or timeline), loaded.
  TDbFile& OpenSelected(bool mustBeOpen = true, TOpenFor openFor = TOpenFor::Reading);
  // "contracts.json" or "timeline.json" of the working directory, loaded; a missing file is an
  // empty database that the first change creates.
  TDbFile& OpenWork(bool contracts, TOpenFor openFor = TOpenFor::Reading, bool mustBeOpen = true);
  // Collection of the selected database; unknown names are a usage error (the time line
  // adds its collections on demand).
  TDbCollectionItem& Collection(TDbFile& db, const std::string& name);
  // Refuses a change on a database that is not open. A file another program held when it was
  // read is waited for (--wait) and read again under its lock; still held, the change is
  // refused with the holder's name.
  void RequireWritable(TDbFile& db);
};

// The record an argument names: an existing identifier, or the first record in tree order with
// that "Name". Raises ECliError with ExitNotFound and NotFound as its text when there is none.
std::string RequireRecord(TDbFile& db, TDbCollectionItem& coll, const std::string& arg,
                          const std::string& NotFound);

// Every JSON a command prints: indented by two, invalid UTF-8 replaced, then a line break.
// Indent -1 prints it on one line.
void PrintJson(const TJson& value, int indent = 2);

// Command groups: each file of src/app/cli adds its subcommands by defining a registration,
//   static TCliRegistration registration(RegisterXxxCommands);
// with void RegisterXxxCommands(CLI::App&, TCliContext&). A command reports failure by
// raising ECliError with its exit code.
using TCliRegister = void (*)(CLI::App& app, TCliContext& ctx);
struct TCliRegistration {
  explicit TCliRegistration(TCliRegister fn);
};
const std::vector<TCliRegister>& CliRegistrations();
