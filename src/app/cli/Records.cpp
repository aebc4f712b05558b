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

TDbFile& TCliContext::OpenWork(bool contracts, TOpenFor openFor) {
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
  return *slot;
}

TDbFile& TCliContext::OpenSelected(bool mustBeOpen, TOpenFor openFor) {
  if (DbName == "main") return OpenMain(mustBeOpen, openFor);
  TDbFile& db = OpenWork(DbName == "contracts", openFor);
  if (mustBeOpen && !db.DbIsOpen()) {
    std::string why = db.LastError().empty() ? "" : ": " + db.LastError();
    throw ECliError(ExitFailed, "cannot open " + db.FileName() + why);
  }
  return db;
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
    throw ECliError(ExitFailed, "the database " + db.FileName() +
                                    " is write-protected (newer or unreadable file); nothing "
                                    "was changed");
}

namespace {

void WalkTree(const TJson& entries, int depth, std::vector<TListedEntry>& out,
              std::vector<std::string>& seen, TDbCollectionItem& coll) {
  if (!entries.is_array()) return;
  for (const auto& e : entries) {
    if (!e.is_object()) continue;
    if (e.contains("text") && e["text"].is_string()) {
      out.push_back({JsonStr(e, "_ID"), e["text"].get<std::string>(), true, depth});
      WalkTree(e.contains("child") ? e["child"] : TJson::array(), depth + 1, out, seen, coll);
      continue;
    }
    std::string id = JsonStr(e, "_ID");
    if (id.empty()) continue;
    auto rec = coll.GetRecord(id);
    if (!rec) continue;  // a tree entry whose record is gone
    seen.push_back(id);
    out.push_back({id, rec->is_object() ? JsonStr(*rec, "Name") : "", false, depth});
  }
}

const TJson& MongoIdField() {
  static const TJson fields = {{"_ID", 1}};
  return fields;
}

const TJson& MongoListFields() {
  static const TJson fields = {{"_ID", 1}, {"Value.Name", 1}};
  return fields;
}

}  // namespace

// On MongoDB a plain upsert would not tell a new record from a stored one.
bool StoreRecordCounted(TDbCollectionItem& coll, const std::string& id, const TJson& rec) {
  int64_t cntr = 0;
  bool existed = coll.GetRecord(id, cntr, true).has_value();
  return existed ? coll.UpdateRecord(id, rec, cntr) : coll.NewRecord(id, rec, cntr);
}

std::vector<TListedEntry> ListInTreeOrder(TDbFile& db, TDbCollectionItem& coll) {
  std::vector<TListedEntry> out;
  std::vector<std::string> seen;
  if (TDbCollectionItem* tree = db.FindCollection("Tree"); tree && tree != &coll) {
    if (auto doc = tree->GetRecord(coll.Name())) WalkTree(*doc, 0, out, seen, coll);
  }
  std::sort(seen.begin(), seen.end());
  if (coll.IsMongoDb()) {
    // Documents in server order; only identifier and name are fetched.
    coll.Query(TJson::object(), &MongoListFields());
    TJson doc;
    while (coll.Next(doc)) {
      std::string id = JsonStr(doc, "_ID");
      if (id.empty() || std::binary_search(seen.begin(), seen.end(), id)) continue;
      const TJson* value = JsonPath(doc, "Value");
      out.push_back({id, value && value->is_object() ? JsonStr(*value, "Name") : "", false, 0});
    }
    return out;
  }
  if (TJson* all = coll.AsJson(); all && all->is_object()) {
    for (auto it = all->begin(); it != all->end(); ++it) {
      if (std::binary_search(seen.begin(), seen.end(), it.key())) continue;
      out.push_back(
          {it.key(), it.value().is_object() ? JsonStr(it.value(), "Name") : "", false, 0});
    }
  }
  return out;
}

std::string ResolveRecordArg(TDbFile& db, TDbCollectionItem& coll, const std::string& arg) {
  if (coll.GetRecord(arg)) return arg;
  for (const auto& e : ListInTreeOrder(db, coll))
    if (!e.IsFolder && e.Name == arg) return e.ID;
  return {};
}

namespace {

std::string DumpReadable(const TJson& v) {
  return v.dump(2, ' ', false, TJson::error_handler_t::replace);
}

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
    std::cout << DumpReadable(info) << std::endl;
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
    std::cout << DumpReadable(arr) << std::endl;
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
  std::string id = ResolveRecordArg(db, coll, arg);
  if (id.empty()) throw ECliError(ExitNotFound, "no record \"" + arg + "\" in " + collection);
  std::cout << DumpReadable(*coll.GetRecord(id)) << std::endl;
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
    id = ResolveRecordArg(db, coll, arg);
    if (id.empty()) id = arg;  // a new record under the identifier given
  }
  if (rec.is_object()) rec.erase("_ID");  // the identifier is the key, never a member
  bool existed = coll.GetRecord(id).has_value();
  if (!StoreRecordCounted(coll, id, rec))
    throw ECliError(ExitFailed, "the record was not stored" +
                                    (db.LastError().empty() ? "" : ": " + db.LastError()));
  // A new record gets an entry at the end of its collection's tree so the editors show it.
  if (!existed && CollectionHasTree(coll)) {
    if (TDbCollectionItem* tree = db.FindCollection("Tree")) {
      TJson doc = tree->GetRecord(coll.Name()).value_or(TJson::array());
      if (!doc.is_array()) doc = TJson::array();
      doc.push_back({{"_ID", id}});
      if (!StoreRecordCounted(*tree, coll.Name(), doc))
        throw ECliError(ExitFailed, "the record was stored but its tree entry was not");
    }
  }
  std::cout << id << std::endl;
}

void CmdDel(TCliContext& ctx, const std::string& collection, const std::string& arg) {
  TDbFile& db = ctx.OpenSelected(true, TCliContext::TOpenFor::Change);
  TDbCollectionItem& coll = ctx.Collection(db, collection);
  ctx.RequireWritable(db);
  std::string id = ResolveRecordArg(db, coll, arg);
  if (id.empty()) throw ECliError(ExitNotFound, "no record \"" + arg + "\" in " + collection);
  if (!coll.DelRecord(id))
    throw ECliError(ExitFailed, "the record was not deleted" +
                                    (db.LastError().empty() ? "" : ": " + db.LastError()));
  if (CollectionHasTree(coll)) {
    if (TDbCollectionItem* tree = db.FindCollection("Tree")) {
      int64_t cntr = 0;
      if (auto doc = tree->GetRecord(coll.Name(), cntr, true); doc && RemoveTreeEntry(*doc, id))
        if (!tree->UpdateRecord(coll.Name(), *doc, cntr))
          throw ECliError(ExitFailed, "the record was deleted but its tree entry was not");
    }
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
    doc = ParseProjectBytes(ReadInput(source));
  } catch (const EJsonParse& e) {
    throw ECliError(ExitFailed, std::string("the import file is not valid JSON: ") + e.what());
  }
  if (!doc.is_object()) throw ECliError(ExitFailed, "the import file must hold a JSON object");
  for (auto c = doc.begin(); c != doc.end(); ++c) {
    ctx.Collection(db, c.key());
    if (!c.value().is_object())
      throw ECliError(ExitFailed, "collection " + c.key() + " must map identifiers to records");
  }
  TDbCollectionItem* tree = db.FindCollection("Tree");
  size_t count = 0;
  for (auto c = doc.begin(); c != doc.end(); ++c) {
    TDbCollectionItem& coll = ctx.Collection(db, c.key());
    TJson treeDoc;
    bool withTree = tree && CollectionHasTree(coll);
    if (withTree) {
      treeDoc = tree->GetRecord(coll.Name()).value_or(TJson::array());
      if (!treeDoc.is_array()) treeDoc = TJson::array();
    }
    for (auto r = c.value().begin(); r != c.value().end(); ++r) {
      bool existed = coll.GetRecord(r.key()).has_value();
      TJson rec = r.value();
      if (rec.is_object()) rec.erase("_ID");
      if (db.UseMongoDb()) {
        // Every change goes to the server at once; there is no write of the whole database.
        if (!StoreRecordCounted(coll, r.key(), rec))
          throw ECliError(ExitFailed, "record " + r.key() + " of " + coll.Name() +
                                          " was not stored after " + std::to_string(count) +
                                          " others" +
                                          (db.LastError().empty() ? "" : ": " + db.LastError()));
      } else {
        coll.SetRecordNo1(r.key(), rec);
      }
      if (withTree && !existed) treeDoc.push_back({{"_ID", r.key()}});
      ++count;
    }
    if (withTree && db.UseMongoDb()) {
      if (!StoreRecordCounted(*tree, coll.Name(), treeDoc))
        throw ECliError(ExitFailed, "the records of " + coll.Name() +
                                        " were stored but their tree entries were not");
    } else if (withTree) {
      tree->SetRecordNo1(coll.Name(), treeDoc);
    }
  }
  try {
    db.Save();  // one write for everything put in memory above
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, std::string("the import was not written: ") + e.what());
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
