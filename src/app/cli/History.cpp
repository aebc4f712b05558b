// History commands: backups, diff, restore, journal, export.
#include <filesystem>
#include <iostream>

#include <fmt/format.h>

#include "app/cli/CliCommon.h"
#include "recstore/Backups.h"
#include "shell/ProjectHistory.h"

namespace fs = std::filesystem;

namespace {

std::string DayText(const std::string& day) {  // "20261210" -> "2026-12-10"
  return day.size() == 8 ? day.substr(0, 4) + "-" + day.substr(4, 2) + "-" + day.substr(6, 2) : day;
}

// The project file the history commands work on; MongoDB has no backups folder.
std::string RequireProjectFile(TCliContext& ctx, const char* command) {
  if (ctx.ProjectFile.empty())
    throw ECliError(ExitUsage, std::string(command) +
                                   ": give the project with --project FILE (a MongoDB database "
                                   "keeps no backups: use export)");
  return ctx.ProjectFile;
}

// A backup named by its day ("2026-12-10", "20261210") or its path.
std::string BackupPath(const std::string& project, const std::string& arg) {
  std::string day;
  for (char c : arg)
    if (c >= '0' && c <= '9') day += c;
  if (day.size() == 8 && arg.find('/') == std::string::npos && !fs::exists(arg)) {
    for (const auto& b : ListBackups(project))
      if (b.Day == day) return b.Path;
    throw ECliError(ExitNotFound, "there is no backup of " + DayText(day) + " of " + project);
  }
  if (!fs::exists(arg)) throw ECliError(ExitNotFound, "there is no file " + arg);
  return arg;
}

TJson ReadDocument(const std::string& path) {
  try {
    return ReadProjectDocument(path);
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, e.what());
  }
}

void CmdBackups(TCliContext& ctx) {
  const std::string project = RequireProjectFile(ctx, "backups");
  TJson list = TJson::array();
  for (const auto& b : ListBackups(project)) {
    TJson item = {{"Date", DayText(b.Day)}, {"File", b.Path}, {"Size", b.Size}};
    try {
      item["Collections"] = DocumentCounts(ReadProjectDocument(b.Path));
    } catch (const std::exception& e) {
      item["Error"] = e.what();
    }
    list.push_back(item);
  }
  if (ctx.Json) {
    PrintJson(list);
    return;
  }
  if (list.empty()) std::cout << "no backups of " << project << " in " << BackupFolderOf(project) << "\n";
  for (const auto& item : list) {
    std::cout << item["Date"].get<std::string>() << "\t" << item["Size"].get<uintmax_t>()
              << " bytes\t" << item["File"].get<std::string>() << "\n";
    if (item.contains("Error")) {
      std::cout << "  cannot be read: " << item["Error"].get<std::string>() << "\n";
      continue;
    }
    std::string counts;
    for (auto it = item["Collections"].begin(); it != item["Collections"].end(); ++it)
      if (it.key() != "Tree") counts += fmt::format("{}{} {}", counts.empty() ? "  " : ", ", it.key(), it.value().get<size_t>());
    if (!counts.empty()) std::cout << counts << "\n";
  }
  std::cout.flush();
}

void PrintDifferences(TCliContext& ctx, const std::vector<TRecordDifference>& diffs) {
  if (ctx.Json) {
    TJson arr = TJson::array();
    for (const auto& d : diffs)
      arr.push_back({{"Collection", d.Collection}, {"_ID", d.ID}, {"Name", d.Name}, {"Change", d.Kind}});
    PrintJson(arr);
    return;
  }
  if (diffs.empty()) {
    std::cout << "no differences" << std::endl;
    return;
  }
  std::string coll;
  for (const auto& d : diffs) {
    if (d.Collection != coll) {
      coll = d.Collection;
      int a = 0, c = 0, x = 0;
      for (const auto& e : diffs)
        if (e.Collection == coll) (e.Kind == "added" ? a : e.Kind == "changed" ? c : x)++;
      std::cout << fmt::format("{}: {} added, {} changed, {} deleted\n", coll, a, c, x);
    }
    char mark = d.Kind == "added" ? '+' : d.Kind == "changed" ? '~' : '-';
    std::cout << "  " << mark << " " << d.ID << "\t" << d.Name << "\n";
  }
  std::cout.flush();
}

// FILE1 FILE2: from FILE1 to FILE2. One file (or a backup day): from it to the project now.
void CmdDiff(TCliContext& ctx, const std::string& first, const std::string& second) {
  TJson before, after;
  if (!second.empty()) {
    before = ReadDocument(ctx.ProjectFile.empty() ? first : BackupPath(ctx.ProjectFile, first));
    after = ReadDocument(ctx.ProjectFile.empty() ? second : BackupPath(ctx.ProjectFile, second));
  } else {
    TDbFile& db = ctx.OpenMain();
    before = ReadDocument(ctx.ProjectFile.empty() ? first : BackupPath(ctx.ProjectFile, first));
    after = DatabaseDocument(db);
  }
  PrintDifferences(ctx, DiffDocuments(before, after));
}

void CmdRestore(TCliContext& ctx, const std::string& source, const std::string& collection,
                const std::string& arg) {
  TDbFile& db = ctx.OpenMain(true, TCliContext::TOpenFor::Change);
  ctx.RequireWritable(db);
  const std::string path = ctx.ProjectFile.empty() ? source : BackupPath(ctx.ProjectFile, source);
  if (!ctx.ProjectFile.empty() && fs::equivalent(path, ctx.ProjectFile))
    throw ECliError(ExitUsage, "restore: the backup is the project itself");
  TJson backup = ReadDocument(path);
  std::string id = arg;
  if (!collection.empty() && !arg.empty()) {
    // A record may be named by its Name as the backup has it.
    const TJson* recs = backup.contains(collection) ? &backup[collection] : nullptr;
    if (recs && recs->is_object() && !recs->contains(arg)) {
      for (auto it = recs->begin(); it != recs->end(); ++it)
        if (it.value().is_object() && JsonStr(it.value(), "Name") == arg) {
          id = it.key();
          break;
        }
    }
  }
  TRestoreResult r;
  try {
    r = RestoreFromDocument(db, backup, collection, id);
  } catch (const ECliError&) {
    throw;
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, e.what());
  }
  TJson out = {{"Added", r.Added}, {"Changed", r.Changed}, {"Deleted", r.Deleted},
               {"TreeEntries", r.TreeEntries}, {"From", path}};
  if (ctx.Json) {
    PrintJson(out);
    return;
  }
  std::cout << fmt::format("restored from {}: {} added, {} changed, {} deleted", path, r.Added,
                           r.Changed, r.Deleted);
  if (r.TreeEntries) std::cout << fmt::format(", {} tree entries", r.TreeEntries);
  std::cout << std::endl;
}

// "2026-12-10", "10.12.2026" or a time "2026-12-10T08:00" as the start of the time text order.
std::string SinceKey(const std::string& since) {
  if (since.size() == 10 && since[2] == '.' && since[5] == '.')
    return since.substr(6, 4) + "-" + since.substr(3, 2) + "-" + since.substr(0, 2);
  if (since.size() >= 10 && since[4] == '-' && since[7] == '-') return since;
  throw ECliError(ExitUsage, "--since: give a date as yyyy-mm-dd or dd.mm.yyyy");
}

void CmdJournal(TCliContext& ctx, const std::string& since, const std::string& collection) {
  const std::string from = since.empty() ? "" : SinceKey(since);
  std::vector<TJson> lines;
  size_t unreadable = 0;
  if (!ctx.MongoAddress.empty()) {
    TDbFile& db = ctx.OpenMain();
    TDbCollectionItem* journal = db.FindCollection("Journal");
    if (!journal) journal = &db.Collections().Add("Journal");
    journal->Query(TJson::object());
    TJson doc;
    while (journal->Next(doc))
      if (const TJson* v = JsonPath(doc, "Value"); v && v->is_object()) lines.push_back(*v);
    std::stable_sort(lines.begin(), lines.end(), [](const TJson& a, const TJson& b) {
      return JsonStr(a, "time") < JsonStr(b, "time");
    });
  } else {
    lines = ReadJournal(RequireProjectFile(ctx, "journal"), &unreadable);
  }
  TJson arr = TJson::array();
  for (auto& l : lines) {
    if (!from.empty() && JsonStr(l, "time").substr(0, from.size()) < from) continue;
    if (!collection.empty() && JsonStr(l, "collection") != collection) continue;
    arr.push_back(std::move(l));
  }
  if (ctx.Json) {
    PrintJson(arr);
  } else {
    for (const auto& l : arr)
      std::cout << fmt::format("{}\t{}@{} ({})\t{}\t{} {}\t{}\t{} -> {}\n", JsonStr(l, "time"),
                               JsonStr(l, "user"), JsonStr(l, "host"), JsonStr(l, "program"),
                               JsonStr(l, "change"), JsonStr(l, "collection"), JsonStr(l, "id"),
                               JsonStr(l, "Name"), JsonInt(l, "old"), JsonInt(l, "new"));
    std::cout.flush();
  }
  if (unreadable) std::cerr << unreadable << " journal lines could not be read" << std::endl;
}

void CmdExport(TCliContext& ctx, const std::string& file) {
  TDbFile& db = ctx.OpenMain();
  std::error_code ec;
  if (fs::exists(file, ec)) {
    TMsgAnswer a = ctx.Op->Ask("Export", "File " + file + " exists. Replace it?",
                               TMsgIcon::Question, TMsgButtons::YesNo, TMsgAnswer::No);
    if (a != TMsgAnswer::Yes) throw ECliError(ExitFailed, "file " + file + " exists; not replaced");
  }
  size_t n = 0;
  try {
    n = ExportDatabase(db, file);
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, std::string("the database was not exported: ") + e.what());
  }
  std::cout << "exported " << n << " records to " << file << std::endl;
}

void RegisterHistoryCommands(CLI::App& app, TCliContext& ctx) {
  static std::string a1, a2, a3, since, collection;

  auto* cBackups = app.add_subcommand("backups", "The daily backups of the project file");
  cBackups->callback([&ctx] { CmdBackups(ctx); });

  auto* cDiff = app.add_subcommand(
      "diff", "Records added, changed and deleted from FILE1 to FILE2 (or to the project now)");
  cDiff->add_option("FILE1", a1, "Project file, export or backup (its date with --project)")->required();
  cDiff->add_option("FILE2", a2, "Second file; without it the project as it is now");
  cDiff->callback([&ctx] { CmdDiff(ctx, a1, a2); });

  auto* cRestore = app.add_subcommand(
      "restore", "Bring back the whole project, a collection or one record from a backup");
  cRestore->add_option("BACKUP", a1, "Backup file or its date (yyyy-mm-dd)")->required();
  cRestore->add_option("COLLECTION", a2, "Only this collection");
  cRestore->add_option("ID", a3, "Only this record (identifier or Name)");
  cRestore->callback([&ctx] { CmdRestore(ctx, a1, a2, a3); });

  auto* cJournal = app.add_subcommand("journal", "The journal of changes");
  cJournal->add_option("--since", since, "From this date (yyyy-mm-dd or dd.mm.yyyy)");
  cJournal->add_option("--collection", collection, "Only changes of this collection");
  cJournal->callback([&ctx] { CmdJournal(ctx, since, collection); });

  auto* cExport = app.add_subcommand("export", "Write the whole database as a project file");
  cExport->add_option("FILE", a1, "Project file to write")->required();
  cExport->callback([&ctx] { CmdExport(ctx, a1); });
}

TCliRegistration registration(RegisterHistoryCommands);

}  // namespace
