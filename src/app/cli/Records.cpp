// Record commands: new, info, list, get, put, del.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "app/cli/CliCommon.h"
#include "recstore/JsonText.h"
#include "recstore/mongoID.h"
#include "shell/Databases.h"
#include "shell/ProjectArguments.h"
#include "shell/ProjectHistory.h"

namespace fs = std::filesystem;

void TCliContext::Prepare() {
  if (Op) return;
  auto mode = Yes ? TConsoleOperator::TAnswerMode::Yes
                  : (No ? TConsoleOperator::TAnswerMode::No : TConsoleOperator::TAnswerMode::Safe);
  Op = std::make_unique<TConsoleOperator>(mode);
  SetAppOperator(Op.get());
}

namespace {
// A database opened for reading that a later step of the same command wants to change is
// loaded again, so the change starts from the file and not from a conversion kept in memory.
void DropIfReadOnly(std::unique_ptr<TDbFile>& slot, TCliContext::TOpenFor openFor) {
  if (slot && openFor == TCliContext::TOpenFor::Change && slot->ReadOnly()) slot.reset();
}
}  // namespace

TDbFile& TCliContext::OpenMain(bool mustBeOpen, TOpenFor openFor) {
  Prepare();
  DropIfReadOnly(Main, openFor);
  const bool readOnly = openFor == TOpenFor::Reading;
  if (!Main && !MongoAddress.empty()) {
    TProjectArguments where = ParseMongoAddress(MongoAddress);
    if (where.Kind != TProjectArguments::TKind::Mongo)
      throw ECliError(ExitUsage, "--mongo: " + where.Error);
    Main = CreateMainDatabase(Op.get());
    Main->SetReadOnly(readOnly);
    OpenProjectArguments(*Main, where);  // a failed connection is reported by the operator
    SetDbF1(Main.get());
  }
  if (!Main) {
    if (ProjectFile.empty())
      throw ECliError(ExitUsage, "no project given: use --project FILE or --mongo HOST[:PORT]/DB");
    Main = CreateMainDatabase(Op.get());
    Main->SetReadOnly(readOnly);
    Main->SetFileName(ProjectFile);
    Main->SetReportHeldLock(false);  // a read needs no lock; a change waits in RequireWritable
    std::error_code ec;
    if (!fs::exists(ProjectFile, ec)) {
      if (mustBeOpen)
        throw ECliError(ExitFailed, "project file " + ProjectFile +
                                        " does not exist (create it with: pelmora-cli new FILE)");
      return *Main;
    }
    Main->Load();
    SetDbF1(Main.get());
  }
  if (mustBeOpen && !Main->DbIsOpen()) {
    std::string why = Main->LastError().empty() ? "" : ": " + Main->LastError();
    throw ECliError(ExitFailed, "cannot open " +
                                    (Main->UseMongoDb() ? "MongoDB database " + MongoAddress
                                                        : "project " + ProjectFile) +
                                    why);
  }
  return *Main;
}

TDbFile& TCliContext::OpenWork(bool contracts, TOpenFor openFor, bool mustBeOpen) {
  Prepare();
  std::unique_ptr<TDbFile>& slot = contracts ? Contracts : TimeLine;
  DropIfReadOnly(slot, openFor);
  if (!slot) {
    slot = contracts ? CreateContractsDatabase(WorkDir, Op.get())
                     : CreateTimeLineDatabase(WorkDir, Op.get());
    slot->SetReadOnly(openFor == TOpenFor::Reading);
    slot->SetReportHeldLock(false);
    std::error_code ec;
    bool exists = fs::exists(slot->FileName(), ec);
    slot->Load();
    // A missing contracts or time-line file is an empty database: the first change creates it.
    if (!exists) slot->New();
  }
  if (mustBeOpen && !slot->DbIsOpen()) {
    std::string why = slot->LastError().empty() ? "" : ": " + slot->LastError();
    throw ECliError(ExitFailed, "cannot open " + slot->FileName() + why);
  }
  return *slot;
}

TDbFile& TCliContext::OpenSelected(bool mustBeOpen, TOpenFor openFor) {
  if (DbName == "main") return OpenMain(mustBeOpen, openFor);
  return OpenWork(DbName == "contracts", openFor, mustBeOpen);
}

TDbCollectionItem& TCliContext::Collection(TDbFile& db, const std::string& name) {
  if (auto* c = db.FindCollection(name)) return *c;
  if (DbName == "timeline" && !name.empty()) return db.Collections().Add(name);
  std::string known;
  for (size_t i = 0; i < db.Collections().Count(); ++i)
    known += (known.empty() ? "" : ", ") + db.Collections()[i].Name();
  throw ECliError(ExitUsage, "unknown collection \"" + name + "\" (known: " + known + ")");
}

void TCliContext::RequireWritable(TDbFile& db) {
  if (!db.DbIsOpen()) throw ECliError(ExitFailed, "the database is not open; nothing was changed");
  if (db.LockedBy()) {
    // Another program held the file when it was read: wait for it to let go, then read the
    // file again under the lock, so the change is made to what that program left.
    db.SetLockWait(Wait);
    db.Load();
    if (!db.DbIsOpen()) throw ECliError(ExitFailed, "the database is not open; nothing was changed");
    if (db.LockedBy())
      throw ECliError(ExitFailed, "the database " + db.FileName() + " is in use by " +
                                      db.LockedBy()->Describe() + "; nothing was changed");
  }
  if (db.SaveDisabled())
    throw ECliError(ExitFailed, "the database " + db.FileName() + " is write-protected (" +
                                    (db.LastError().empty() ? "newer or unreadable file"
                                                            : db.LastError()) +
                                    "); nothing was changed");
}

namespace {

const TJson& MongoIdField() {
  static const TJson fields = {{"_ID", 1}};
  return fields;
}

}  // namespace

std::string RequireRecord(TDbFile& db, TDbCollectionItem& coll, const std::string& arg,
                          const std::string& NotFound) {
  std::string id = FindRecordByIdOrName(db, coll, arg);
  if (id.empty()) throw ECliError(ExitNotFound, NotFound);
  return id;
}

void PrintJson(const TJson& value, int indent) {
  std::cout << value.dump(indent, ' ', false, TJson::error_handler_t::replace) << std::endl;
}

namespace {


std::string ReadInput(const std::string& source) {
  if (source.empty() || source == "-") {
    std::string s((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    return s;
  }
  std::ifstream f(source, std::ios::binary);
  if (!f) throw ECliError(ExitFailed, "cannot read " + source);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}


void CmdNew(TCliContext& ctx, const std::string& file) {
  ctx.Prepare();
  std::error_code ec;
  if (fs::exists(file, ec)) {
    TMsgAnswer a = ctx.Op->Ask("New project", "File " + file + " exists. Replace it?",
                               TMsgIcon::Question, TMsgButtons::YesNo, TMsgAnswer::No);
    if (a != TMsgAnswer::Yes) throw ECliError(ExitFailed, "file " + file + " exists; not replaced");
  }
  auto db = CreateMainDatabase(ctx.Op.get());
  db->SetLockWait(ctx.Wait);
  db->New();
  db->SetFileName(file);
  db->Save();
  std::cout << "created " << file << " (DBVersion " << db->LoadedDBVersion() << ")" << std::endl;
}

// Prints what is known of the selected database: exit 1 when it is not open, except for a
// file written by a newer program, which is there and only write-protected. Nothing that was
// not read (a version, a count) is printed.
void CmdInfo(TCliContext& ctx) {
  TDbFile& db = ctx.OpenSelected(false);
  const bool mongo = db.UseMongoDb();
  if (!mongo && ctx.DbName == "main") {
    std::error_code ec;
    if (!fs::exists(db.FileName(), ec))
      throw ECliError(ExitFailed, "project file " + db.FileName() + " does not exist");
  }
  const bool open = db.DbIsOpen();
  // A refused newer file was read far enough to know its version.
  const bool newer = !open && !mongo && db.SaveDisabled() && !db.FileDBVersion().empty();
  TJson info = TJson::object();
  info["File"] = mongo ? "mongodb://" + db.host() + ":" + std::to_string(db.port()) + "/" +
                             db.MongoDbName()
                       : db.FileName();
  if (!mongo && (open || newer))
    info["DBVersion"] = open ? db.LoadedDBVersion() : db.FileDBVersion();
  info["Open"] = open;
  if (db.SaveDisabled()) info["WriteProtected"] = true;
  if (!db.LastError().empty()) info["Error"] = db.LastError();
  TJson counts = TJson::object();
  std::string countError;
  if (open) {
    for (size_t i = 0; i < db.Collections().Count() && countError.empty(); ++i) {
      TDbCollectionItem& c = db.Collections()[i];
      if (mongo) {
        try {
          size_t n = 0;
          c.Query(TJson::object(), &MongoIdField());
          TJson doc;
          while (c.Next(doc)) ++n;
          counts[c.Name()] = n;
        } catch (const std::exception& e) {
          countError = e.what();
        }
        continue;
      }
      TJson* all = c.AsJson();
      counts[c.Name()] = all && all->is_object() ? all->size() : 0;
    }
    // Collections the file holds that this program does not define (kept as they are).
    for (auto it = db.JSON().begin(); !mongo && it != db.JSON().end(); ++it)
      if (it.value().is_object() && !counts.contains(it.key()))
        counts[it.key()] = it.value().size();
    if (countError.empty()) info["Collections"] = counts;
    else info["Error"] = "the records could not be counted: " + countError;
  }
  if (ctx.Json) {
    PrintJson(info);
  } else {
    std::cout << "File: " << info["File"].get<std::string>() << "\n";
    if (info.contains("DBVersion"))
      std::cout << "DBVersion: " << info["DBVersion"].get<std::string>() << "\n";
    std::cout << "Open: " << (open ? "yes" : "no") << "\n";
    if (db.SaveDisabled()) std::cout << "Write-protected: yes\n";
    if (info.contains("Error")) std::cout << "Error: " << info["Error"].get<std::string>() << "\n";
    if (info.contains("Collections")) {
      std::cout << "Collections:\n";
      for (auto it = counts.begin(); it != counts.end(); ++it)
        std::cout << "  " << it.key() << "\t" << it.value().get<size_t>() << "\n";
    }
    std::cout.flush();
  }
  if (!(open || newer) || !countError.empty())
    throw ECliError(ExitFailed, "the database " + info["File"].get<std::string>() + " is not open");
}

void CmdList(TCliContext& ctx, const std::string& collection) {
  TDbFile& db = ctx.OpenSelected();
  TDbCollectionItem& coll = ctx.Collection(db, collection);
  auto entries = ListInTreeOrder(db, coll);
  if (ctx.Json) {
    TJson arr = TJson::array();
    for (const auto& e : entries) {
      TJson o = {{"_ID", e.ID}, {"Name", e.Name}, {"Depth", e.Depth}};
      if (e.IsFolder) o["IsFolder"] = true;
      arr.push_back(o);
    }
    PrintJson(arr);
    return;
  }
  for (const auto& e : entries) {
    if (e.IsFolder)
      std::cout << e.ID << "\t[folder] " << e.Name << "\n";
    else
      std::cout << e.ID << "\t" << e.Name << "\n";
  }
  std::cout.flush();
}

void CmdGet(TCliContext& ctx, const std::string& collection, const std::string& arg) {
  TDbFile& db = ctx.OpenSelected();
  TDbCollectionItem& coll = ctx.Collection(db, collection);
  std::string id = RequireRecord(db, coll, arg, "no record \"" + arg + "\" in " + collection);
  PrintJson(*coll.GetRecord(id));
}

void CmdPut(TCliContext& ctx, const std::string& collection, const std::string& arg,
            const std::string& source, bool newId) {
  TDbFile& db = ctx.OpenSelected(true, TCliContext::TOpenFor::Change);
  TDbCollectionItem& coll = ctx.Collection(db, collection);
  ctx.RequireWritable(db);
  TJson rec;
  try {
    rec = ParseProjectBytes(ReadInput(source));
  } catch (const EJsonParse& e) {
    throw ECliError(ExitFailed, std::string("the record is not valid JSON: ") + e.what());
  }
  bool isTree = collection == "Tree";
  if (!rec.is_object() && !(isTree && rec.is_array()))
    throw ECliError(ExitFailed, "a record must be a JSON object" +
                                    std::string(isTree ? " or, in Tree, an array" : ""));
  std::string id;
  if (newId) {
    id = NewObjectID();
  } else {
    if (arg.empty()) throw ECliError(ExitUsage, "give a record identifier or name, or --new");
    id = FindRecordByIdOrName(db, coll, arg);
    if (id.empty()) id = arg;  // a new record under the identifier given
  }
  if (rec.is_object()) rec.erase("_ID");  // the identifier is the key, never a member
  try {
    StoreRecordWithTreeEntry(db, coll, id, rec);
  } catch (const ETreeEntryNotStored& e) {
    std::cout << id << std::endl;  // stored: a retry must name this record, not make another
    throw ECliError(ExitFailed, e.what());
  } catch (const EDbReadError&) {
    throw;
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, e.what());
  }
  std::cout << id << std::endl;
}

void CmdDel(TCliContext& ctx, const std::string& collection, const std::string& arg) {
  TDbFile& db = ctx.OpenSelected(true, TCliContext::TOpenFor::Change);
  TDbCollectionItem& coll = ctx.Collection(db, collection);
  ctx.RequireWritable(db);
  std::string id = RequireRecord(db, coll, arg, "no record \"" + arg + "\" in " + collection);
  try {
    DeleteRecordWithTreeEntry(db, coll, id);
  } catch (const EDbReadError&) {
    throw;
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, e.what());
  }
  std::cout << "deleted " << id << std::endl;
}

// Stores every record of a {"Collection": {"id": record, ...}, ...} document in one write: new
// records get tree entries, existing ones are replaced.
void CmdImport(TCliContext& ctx, const std::string& source) {
  TDbFile& db = ctx.OpenSelected(true, TCliContext::TOpenFor::Change);
  ctx.RequireWritable(db);
  TJson doc;
  try {
    // Laid out like a database file: records as deep as a record given alone are read.
    doc = ParseProjectBytes(ReadInput(source), MaxDatabaseFileDepth);
  } catch (const EJsonParse& e) {
    throw ECliError(ExitFailed, std::string("the import file is not valid JSON: ") + e.what());
  }
  if (IsProjectDocument(doc)) {
    // A whole project file (an export or a backup): its records and trees as the file has them.
    try {
      TRestoreResult r = ImportProjectDocument(db, doc);
      std::cout << "imported " << r.Added + r.Changed + r.TreeEntries << " records" << std::endl;
    } catch (const std::exception& e) {
      throw ECliError(ExitFailed, e.what());
    }
    return;
  }
  size_t count = 0;
  try {
    count = ImportRecords(db, doc, [&](const std::string& name) -> TDbCollectionItem& {
      return ctx.Collection(db, name);
    });
  } catch (const ECliError&) {
    throw;
  } catch (const EDbReadError&) {
    throw;
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, e.what());
  }
  std::cout << "imported " << count << " records" << std::endl;
}

}  // namespace

namespace {

void RegisterRecordCommands(CLI::App& app, TCliContext& ctx) {
  static std::string file, collection, arg, source;
  static bool newId = false;

  auto* cNew = app.add_subcommand("new", "Create an empty project at the program's version");
  cNew->add_option("FILE", file, "Project file to create")->required();
  cNew->callback([&ctx] { CmdNew(ctx, file); });

  auto* cInfo = app.add_subcommand("info", "File, version, open state and record counts");
  cInfo->callback([&ctx] { CmdInfo(ctx); });

  auto* cList = app.add_subcommand("list", "Records of a collection in tree order");
  cList->add_option("COLLECTION", collection)->required();
  cList->callback([&ctx] { CmdList(ctx, collection); });

  auto* cGet = app.add_subcommand("get", "A record as indented JSON");
  cGet->add_option("COLLECTION", collection)->required();
  cGet->add_option("ID", arg, "Identifier or Name")->required();
  cGet->callback([&ctx] { CmdGet(ctx, collection, arg); });

  auto* cPut = app.add_subcommand("put", "Store a record (JSON from FILE or stdin)");
  cPut->add_option("COLLECTION", collection)->required();
  cPut->add_option("ID", arg, "Identifier or Name; a new record when neither exists");
  cPut->add_option("FILE", source, "JSON file, or - for stdin (default)");
  cPut->add_flag("--new", newId, "Store under a newly generated identifier");
  cPut->callback([&ctx] {
    // With --new the first positional is the input file.
    if (newId && source.empty() && !arg.empty()) std::swap(arg, source);
    CmdPut(ctx, collection, arg, source, newId);
  });

  auto* cDel = app.add_subcommand("del", "Delete a record");
  cDel->add_option("COLLECTION", collection)->required();
  cDel->add_option("ID", arg, "Identifier or Name")->required();
  cDel->callback([&ctx] { CmdDel(ctx, collection, arg); });
  auto* cImport = app.add_subcommand(
      "import", "Store many records from {\"Collection\": {\"id\": record}} in one write");
  cImport->add_option("FILE", source, "JSON file, or - for stdin")->required();
  cImport->callback([&ctx] { CmdImport(ctx, source); });
}

TCliRegistration registration(RegisterRecordCommands);

}  // namespace
