// Time-line commands: book a contract of contracts.json into timeline.json, delete it, and show
// what a place has booked.
//   pelmora-cli [--workdir DIR] [--project FILE] timeline add CONTRACT
//   pelmora-cli [--workdir DIR] timeline delete CONTRACT
//   pelmora-cli [--workdir DIR] [--json] timeline show PLACE [--from yyyymmdd] [--to yyyymmdd]
#include <filesystem>
#include <iostream>

#include <fmt/format.h>

#include "advert/TimeLine.h"
#include "app/cli/CliCommon.h"
#include "shell/Databases.h"

namespace fs = std::filesystem;

namespace {

std::string NameOf(TDbCollectionItem* coll, const std::string& id) {
  if (!coll) return {};
  auto rec = coll->GetRecord(id);
  return rec && rec->is_object() ? JsonStr(*rec, "Name") : std::string();
}

void PrintStats(TCliContext& ctx, const char* what, const std::string& id, const std::string& name,
                const TTimeLineStats& s) {
  if (ctx.Json) {
    TJson o = {{"Contract", id},           {"Name", name},
               {"Rows", s.Rows},           {"CellsBooked", s.CellsBooked},
               {"CellsCleared", s.CellsCleared}, {"DaysWritten", s.DaysWritten},
               {"DaysDeleted", s.DaysDeleted},   {"FileWrites", s.FileWrites}};
    if (s.DanglingCells) o["DanglingCellsRepaired"] = s.DanglingCells;
    PrintJson(o);
    return;
  }
  std::cout << fmt::format("{} {} ({}): {} rows, {} cells booked, {} cells cleared, {} day records "
                           "written, {} deleted, {} file write{}",
                           what, id, name, s.Rows, s.CellsBooked, s.CellsCleared, s.DaysWritten,
                           s.DaysDeleted, s.FileWrites, s.FileWrites == 1 ? "" : "s")
            << std::endl;
  if (s.DanglingCells)
    std::cout << s.DanglingCells << " cells pointed outside their hour-mix table and were cleared"
              << std::endl;
}

TDbFile* OptionalMain(TCliContext& ctx) {
  if (ctx.ProjectFile.empty()) return nullptr;
  return &ctx.OpenMain();
}

void CmdAdd(TCliContext& ctx, const std::string& arg) {
  TDbFile& contracts = ctx.OpenWork(true);
  TDbFile& line = ctx.OpenWork(false, TCliContext::TOpenFor::Change);
  ctx.RequireWritable(line);
  TDbFile* main = OptionalMain(ctx);
  TDbCollectionItem& coll = contracts.CollectionByName("Contracts");
  std::string id = FindRecordByIdOrName(contracts, coll, arg);
  if (id.empty())
    throw ECliError(ExitNotFound, "no contract \"" + arg + "\" in " + contracts.FileName());
  TTimeLine tl(line, contracts, main, ctx.Op.get());
  if (!tl.AddContract(id))
    throw ECliError(ExitFailed, "the contract was not added; the time line is unchanged" +
                                    (tl.LastError().empty() ? "" : ": " + tl.LastError()));
  PrintStats(ctx, "added", id, NameOf(&coll, id), tl.Stats());
}

void CmdDelete(TCliContext& ctx, const std::string& arg) {
  TDbFile& contracts = ctx.OpenWork(true);
  TDbFile& line = ctx.OpenWork(false, TCliContext::TOpenFor::Change);
  ctx.RequireWritable(line);
  TTimeLine tl(line, contracts, nullptr, ctx.Op.get());
  TDbCollectionItem& coll = contracts.CollectionByName("Contracts");
  TDbCollectionItem& booked = tl.ContractsCollection();
  // A contract removed from contracts.json can still be deleted by its booked copy.
  std::string id = FindRecordByIdOrName(contracts, coll, arg);
  if (id.empty() || !booked.GetRecord(id)) {
    std::string bookedID = FindRecordByIdOrName(line, booked, arg);
    if (!bookedID.empty()) id = bookedID;
  }
  if (id.empty())
    throw ECliError(ExitNotFound, "no contract \"" + arg + "\" in " + contracts.FileName() +
                                      " or " + line.FileName());
  std::string name = NameOf(&booked, id);
  if (name.empty()) name = NameOf(&coll, id);
  bool wasBooked = booked.GetRecord(id).has_value();
  if (!tl.DeleteContract(id))
    throw ECliError(ExitFailed, "the contract was not deleted; the time line is unchanged" +
                                    (tl.LastError().empty() ? "" : ": " + tl.LastError()));
  if (!wasBooked && !ctx.Json) {
    std::cout << "contract " << id << " (" << name << ") was not on the time line" << std::endl;
    return;
  }
  PrintStats(ctx, "deleted", id, name, tl.Stats());
}

bool ValidDayID(const std::string& s) {
  if (s.size() != 8 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  return TryEncodeDate(std::stoi(s.substr(0, 4)), static_cast<unsigned>(std::stoi(s.substr(4, 2))),
                       static_cast<unsigned>(std::stoi(s.substr(6, 2))))
      .has_value();
}

std::string BookingText(const TJson& b, TDbCollectionItem& booked) {
  std::string contr = JsonStr(b, "Contr");
  std::string name = NameOf(&booked, contr);
  return fmt::format("{}{} film {} x{}", contr, name.empty() ? "" : " (" + name + ")",
                     JsonStr(b, "Film"), JsonInt(b, "Count"));
}

void CmdShow(TCliContext& ctx, const std::string& arg, const std::string& from,
             const std::string& to) {
  if (!from.empty() && !ValidDayID(from))
    throw ECliError(ExitUsage, "--from must be a date yyyymmdd, not \"" + from + "\"");
  if (!to.empty() && !ValidDayID(to))
    throw ECliError(ExitUsage, "--to must be a date yyyymmdd, not \"" + to + "\"");
  TDbFile& contracts = ctx.OpenWork(true);
  TDbFile& line = ctx.OpenWork(false);
  TDbCollectionItem& places = contracts.CollectionByName("Places");
  std::string place = FindRecordByIdOrName(contracts, places, arg);
  if (place.empty()) place = arg;  // a place removed from contracts.json may still have bookings
  auto member = line.JSON().find(place);
  if (member == line.JSON().end() || !member->is_object()) {
    if (!places.GetRecord(place))
      throw ECliError(ExitNotFound, "no place \"" + arg + "\" in " + contracts.FileName() +
                                        " or " + line.FileName());
  }
  TTimeLine tl(line, contracts, nullptr, ctx.Op.get());
  TDbCollectionItem& coll = tl.PlaceCollection(place);
  TDbCollectionItem& booked = tl.ContractsCollection();
  TJson table = coll.GetRecord(OneHourRecordID).value_or(TJson::array());
  if (!table.is_array()) table = TJson::array();
  std::vector<std::string> days;
  if (TJson* all = coll.AsJson(); all && all->is_object())
    for (auto it = all->begin(); it != all->end(); ++it)
      if (it.key() != OneHourRecordID && (from.empty() || it.key() >= from) &&
          (to.empty() || it.key() <= to))
        days.push_back(it.key());
  std::sort(days.begin(), days.end());

  if (ctx.Json) {
    TJson out = {{"Place", place}, {"Name", NameOf(&places, place)}};
    TJson jd = TJson::object();
    for (const auto& d : days) jd[d] = coll.GetRecord(d).value_or(TJson());
    out["Days"] = jd;
    out["OneHour"] = table;
    PrintJson(out);
    return;
  }
  std::string name = NameOf(&places, place);
  std::cout << "Place " << place << (name.empty() ? "" : " (" + name + ")") << "\n";
  for (const auto& d : days) {
    TJson day = coll.GetRecord(d).value_or(TJson::array());
    std::cout << d.substr(6, 2) << "." << d.substr(4, 2) << "." << d.substr(0, 4) << "\n";
    for (size_t h = 0; h < 24; ++h) {
      int k = DayElement(day, h);
      if (k < 0) continue;
      std::cout << fmt::format("  {:02}:00  mix {}", h, k);
      if (static_cast<size_t>(k) >= table.size()) {
        std::cout << "  (not in the hour-mix table)\n";
        continue;
      }
      const TJson& entry = table[static_cast<size_t>(k)];
      std::string list;
      if (entry.is_object() && entry.contains("Tbl") && entry["Tbl"].is_array())
        for (const auto& b : entry["Tbl"]) list += (list.empty() ? "" : "; ") + BookingText(b, booked);
      std::cout << "  " << list << "\n";
    }
  }
  std::cout << "Hour mixes (" << table.size() << "):\n";
  for (size_t k = 0; k < table.size(); ++k) {
    const TJson& entry = table[k];
    int64_t cntr = entry.is_object() ? JsonInt(entry, "Cntr") : 0;
    std::string list;
    if (entry.is_object() && entry.contains("Tbl") && entry["Tbl"].is_array())
      for (const auto& b : entry["Tbl"]) list += (list.empty() ? "" : "; ") + BookingText(b, booked);
    std::cout << fmt::format("  {}  Cntr {}{}  {}\n", k, cntr, cntr == 0 ? " (free)" : "", list);
  }
  std::cout.flush();
}

void RegisterTimeLineCommands(CLI::App& app, TCliContext& ctx) {
  auto* tl = app.add_subcommand("timeline", "Advertising time line (timeline.json of --workdir)");
  tl->require_subcommand(1);

  auto contract = std::make_shared<std::string>();
  auto* add = tl->add_subcommand(
      "add", "Book a contract of contracts.json (deleting its earlier booking first); with "
             "--project the films and playlists of its rows are checked");
  add->add_option("CONTRACT", *contract, "Contract id or Name")->required();
  add->callback([&ctx, contract] { CmdAdd(ctx, *contract); });

  auto* del = tl->add_subcommand("delete", "Delete a contract from the time line as it was booked");
  del->add_option("CONTRACT", *contract, "Contract id or Name")->required();
  del->callback([&ctx, contract] { CmdDelete(ctx, *contract); });

  auto place = std::make_shared<std::string>();
  auto from = std::make_shared<std::string>();
  auto to = std::make_shared<std::string>();
  auto* show = tl->add_subcommand("show", "Show a place's bookings per day and hour and its hour mixes");
  show->add_option("PLACE", *place, "Place id or Name")->required();
  show->add_option("--from", *from, "First day, yyyymmdd");
  show->add_option("--to", *to, "Last day, yyyymmdd");
  show->callback([&ctx, place, from, to] { CmdShow(ctx, *place, *from, *to); });
}

static TCliRegistration registration(RegisterTimeLineCommands);

}  // namespace
