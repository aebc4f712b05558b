#include "schedule/ScheduleClasses.h"

namespace {

constexpr uint16_t StbCommand = opt_Delay | opt_ToStb | opt_StbValue;
constexpr TElementTypes ChanAndButton{elmt_cmdChan, elmt_Button};

}  // namespace

const std::array<TcmdTableRow, cmdTableSize> cmdTable = {{
    {"STBs", "", "", "", 0, ChanAndButton},
    {"STB power on", "command", "stbpower", "1", StbCommand, ChanAndButton},
    {"STB power off", "command", "stbpower", "0", StbCommand, ChanAndButton},
    {"STB mute", "command", "stbmute", "1", StbCommand, ChanAndButton},
    {"STB unmute", "command", "stbmute", "0", StbCommand, ChanAndButton},
    {"STB reboot", "command", "reboot", "", StbCommand, ChanAndButton},
    {"STB locate", "command", "locate", "", StbCommand, {elmt_Button}},
    {"STB commit parametrs", "command", "commitparams", "", StbCommand, ChanAndButton},
    {"TVs", "", "", "", 0, ChanAndButton},
    {"TV power on", "command", "tvpower", "1", StbCommand, ChanAndButton},
    {"TV power off", "command", "tvpower", "0", StbCommand, ChanAndButton},
    {"TV mute", "command", "tvmute", "1", StbCommand, ChanAndButton},
    {"TV unmute", "command", "tvmute", "0", StbCommand, ChanAndButton},
    {"Channels", "", "", "", 0, ChanAndButton},
    {"Set channel", "command", "channel", "", StbCommand | opt_Channel, ChanAndButton},
    {"Stop channel", "stop_channel", "none", "", opt_Delay | opt_Channel | opt_ServerValue,
     ChanAndButton},
    {"Start channel", "start_channel", "none", "",
     opt_Delay | opt_Channel | opt_StartTime | opt_ServerValue, ChanAndButton},
    {"System", "", "", "", 0, ChanAndButton},
    {"Restart Pelmora", "restart_pelmora", "none", "", opt_Delay, ChanAndButton},
    {"Reboot server", "reboot_system", "none", "", opt_Delay, ChanAndButton},
    {"Shutdown server", "halt_system", "none", "", opt_Delay, ChanAndButton},
    {"Save statistics", "save_stats", "none", "", opt_Delay, ChanAndButton},
    {"Second layer", "", "", "", 0, {elmt_cmdChan, elmt_Button, elmt_Text, elmt_HTMLedit}},
    {"Show Web-page", "command", "showpage", "",
     opt_Delay | opt_ToStb | opt_HtmlElement | opt_WebPage | opt_Timeout, ChanAndButton},
    {"Show text", "command", "showtext", "",
     opt_Delay | opt_ToStb | opt_HtmlElement | opt_Timeout | opt_Text,
     {elmt_cmdChan, elmt_Button, elmt_Text, elmt_HTMLedit}},
    {"Set variable", "setvariable", "none", "",
     opt_Delay | opt_StbValue | opt_VarName | opt_Value2, {elmt_cmdChan}},
}};

int FindCmdTableRowIndex(const TJson& command) {
  if (!command.is_object()) return -1;
  for (size_t i = 0; i < cmdTable.size(); ++i) {
    const TcmdTableRow& row = cmdTable[i];
    auto member = command.find(std::string(row.Cmd));
    if (member == command.end()) continue;
    if (!member->is_object()) return -1;  // an unreadable command ends the scan
    if (JsonStr(*member, "Method") != row.meth) continue;
    if (row.val.empty() || JsonStr(*member, "Value") == row.val) return static_cast<int>(i);
  }
  return -1;
}

const TcmdTableRow& FindCmdTableRow(const TJson& command) {
  int i = FindCmdTableRowIndex(command);
  return i < 0 ? emptyCmdTableRow : cmdTable[static_cast<size_t>(i)];
}

#include "recstore/JrecClasses.h"

TJson DefaultCmdObject(const TcmdTableRow& row) {
  if (row.meth.empty()) return nullptr;
  TJson inner = TJson::object();
  inner["Method"] = std::string(row.meth);
  inner["Value"] = std::string(row.val);
  inner["Delay"] = 0;
  TJson cmd = TJson::object();
  cmd[std::string(row.Cmd)] = std::move(inner);
  return cmd;
}

std::string CmdNodeText(TDbFile& db, const TJson& command) {
  const TcmdTableRow& row = FindCmdTableRow(command);
  if (row.IsEmpty()) return "???";
  std::string text(row.text);
  if (row.Has(opt_Channel) && command.is_object() && command.size() == 1) {
    std::string id = JsonStr(command.begin().value(), "Value");
    if (!id.empty()) {
      if (std::optional<TJson> ch = db.CollectionByName("Channels").GetRecord(id))
        text += " " + JsonStr(*ch, "Name");
    }
  }
  return text;
}

std::string CmdListText(TDbFile& db, const TJson& list) {
  if (!list.is_array()) return "";
  std::string text;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) text += "; ";
    text += CmdNodeText(db, list[i]);
  }
  return text;
}

TCmdOptionView CmdOptionView(const TcmdTableRow& row) {
  TCmdOptionView v;
  v.Delay = row.Has(opt_Delay);
  v.Channel = row.Has(opt_Channel);
  v.Time = row.Has(opt_StartTime) || row.Has(opt_Timeout);
  v.TimeCaption = row.Has(opt_StartTime) ? "Start time" : "Timeout";
  v.Cust1 = row.Has(opt_WebPage) || row.Has(opt_VarName);
  v.Cust1Caption = row.Has(opt_WebPage) ? "Web page" : "Variable name";
  v.Cust1Key = row.Has(opt_WebPage) ? "WPage" : "Value";
  v.Cust2 = row.Has(opt_HtmlElement) || row.Has(opt_Value2);
  v.Cust2Caption = row.Has(opt_HtmlElement) ? "HTML-element" : "Variable value";
  v.Cust2Key = row.Has(opt_Value2) ? "Val2" : "Value";
  v.Text = row.Has(opt_Text);
  return v;
}

std::string CmdWebPageText(const TJson& params) {
  auto it = params.find("WPage");
  if (it == params.end() || it->is_null()) return "";
  if (it->is_string()) {
    const std::string& s = it->get_ref<const std::string&>();
    // A path that went through a JSON serialiser once: "\"pages\\\\a.html\"".
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
      try {
        TJson inner = TJson::parse(s);
        if (inner.is_string()) return inner.get<std::string>();
      } catch (const std::exception&) {
      }
    }
    return s;
  }
  return it->dump(-1, ' ', true, TJson::error_handler_t::replace);
}

void CompleteCmdParams(TJson& command) {
  if (!command.is_object() || command.size() != 1 || !command.begin().value().is_object()) return;
  const TcmdTableRow& row = FindCmdTableRow(command);
  if (!CmdOptionView(row).Time) return;
  TJson& p = command.begin().value();
  auto it = p.find("Time");
  if (it == p.end() || !it->is_string() || it->get_ref<const std::string&>().find_first_not_of(' ') == std::string::npos)
    p["Time"] = DefaultCmdTimeText;
}

// ---------------------------------------------------------------------------------------------
// Schedule model

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "recstore/JrecClasses.h"

namespace fs = std::filesystem;

TFilm::TFilm(TSuperReference* aSupRef, TDbFile& Dbf, const std::string& ID, bool DoException)
    : _ID(ID) {
  TDbCollectionItem& films = Dbf.CollectionByName("Films");
  std::optional<TJson> rec;
  if (DoException && aSupRef)
    rec = aSupRef->Get(films, ID);
  else
    rec = films.GetRecord(ID);
  if (!rec || !rec->is_object()) {
    Duration = InvalidFilmDuration;
    Name = "Invalid reference.";
    return;
  }
  *this = TFilm(ID, *rec);
}

TFilm::TFilm(const std::string& ID, const TJson& record) : _ID(ID) {
  const TJson* d = JsonPath(record, "Duration");
  if (d && !d->is_null() && !d->is_string()) {
    DurationError = "must be a duration text (hh:mm:ss,zzz), not " + d->dump();
  } else if (std::string text = JsonStr(record, "Duration"); !text.empty()) {
    try {
      Duration = StrToTime(text);
    } catch (const EConvertError&) {
      DurationError = "\"" + text + "\" is not a duration (hh:mm:ss,zzz)";
    }
  }
  FileName = JsonStr(record, "FileName");
  Name = JsonStr(record, "Name");
  ShowInSchedule = JsonBool(record, "ShowInSchedule");
  KeepWithNext = JsonBool(record, "KeepWithNext");
}

TScheduleInterval::TScheduleInterval(TSchedule* aSchedule, const std::string& aChannelID,
                                     TDateTime StrtTime, TDateTime aEndTime,
                                     TDateTime aPeriodicity, TIntervalType aTyp,
                                     bool aDoException)
    : ChannelId(aChannelID),
      StartTime(StrtTime),
      TempEndTime(StrtTime),
      EndTime(aEndTime),
      Periodicity(aPeriodicity),
      Typ(aTyp),
      Schedule(aSchedule),
      DoException(aDoException) {}

TFilm* TScheduleInterval::FindOrCreateFilm(TSuperReference* aSupRef, const std::string& FilmID) {
  // A film of the project's records is one object for the whole build; one read through the
  // store (MongoDB, or a missing record with its report) is the interval's own.
  TFilm* film = Schedule->BuildFilm(FilmID);
  if (!film) {
    auto it = FFilmIndex.find(FilmID);
    if (it != FFilmIndex.end()) {
      film = it->second;
    } else {
      std::shared_ptr<TFilm> kept = Schedule->StoreFilm(FilmID);
      Films.push_back(kept ? kept : std::make_shared<TFilm>(aSupRef, *Schedule->FilmsDBF, FilmID, DoException));
      film = Films.back().get();
      FFilmIndex.emplace(film->_ID, film);
      if (!kept) Schedule->KeepStoreFilm(Films.back());
    }
  }
  // A duration that does not read is the film record's error, never a film of no length.
  if (!film->DurationError.empty() && aSupRef) {
    aSupRef->Push(Schedule->FilmsDBF->CollectionByName("Films"), FilmID, false);
    aSupRef->ShowErrorMsg("\"Duration\" " + film->DurationError, true);  // raises unless silent
    aSupRef->Pop();
  }
  return film;
}

void TScheduleInterval::PlaceFilm(TSuperReference* aSupRef, const std::string& FilmID,
                                  TFilm*& film) {
  film = FindOrCreateFilm(aSupRef, FilmID);
  ScheduleNotes.push_back({TempEndTime, film});
  TempEndTime += film->Duration;
}

bool TScheduleInterval::AddScheduleNote(TSuperReference* aSupRef, const std::string& FilmID) {
  TFilm* film = nullptr;
  PlaceFilm(aSupRef, FilmID, film);
  return true;
}

bool TScheduleInterval::AddScheduleNote(TSuperReference* aSupRef, const std::string& FilmID,
                                        TDateTime aEnd) {
  if (Typ == Del) {
    TDateTime s = TempEndTime;
    TFilm* film = nullptr;
    PlaceFilm(aSupRef, FilmID, film);
    bool k = film->KeepWithNext;
    if (k) {
      if (KeepWithNextCount == 0) KeepWithNextSTime = s;
      ++KeepWithNextCount;
    }
    if (KeepWithNextCount > 0) {
      bool result = true;
      if (TimeGreater(TempEndTime, aEnd) && !k) {
        ++KeepWithNextCount;
        TempEndTime = KeepWithNextSTime;
        size_t remove = std::min<size_t>(static_cast<size_t>(KeepWithNextCount), ScheduleNotes.size());
        ScheduleNotes.resize(ScheduleNotes.size() - remove);
        result = false;
      }
      if (!k) KeepWithNextCount = 0;
      return result;
    }
    if (TimeGreater(TempEndTime, aEnd)) {
      TempEndTime = s;
      ScheduleNotes.pop_back();
      return false;
    }
    return true;
  }
  // Cut or RepeatLastMovie
  if (!TimeGreater(aEnd, TempEndTime)) return false;
  TFilm* film = nullptr;
  PlaceFilm(aSupRef, FilmID, film);
  if (TimeGreater(TempEndTime, aEnd)) {
    RedusedFilm = film;
    RedusedFilmDuration = film->Duration - (TempEndTime - aEnd);
    TempEndTime = aEnd;
  }
  return true;
}

bool TScheduleInterval::CalcDuration(TSuperReference* aSupRef, const std::string& FilmID) {
  TFilm* film = FindOrCreateFilm(aSupRef, FilmID);
  if (film->IsInvalid()) return false;
  LastMediaDuration += film->Duration;
  return true;
}

int64_t DurationSeconds(TDateTime value) {
  TTimeParts t = DecodeTime(value);
  return DayCount(value) * 86400 + t.Hour * 3600 + t.Min * 60 + t.Sec;
}

namespace {
int64_t SecondsOfTimeText(const TJson& p) {
  std::string text = JsonStr(p, "Time");
  if (text.empty()) return 0;
  try {
    return DurationSeconds(StrToDeltaTime(text));
  } catch (const EConvertError&) {
    return 0;
  }
}

// A JSON value as command text: strings as they are, numbers and others in their JSON form.
std::string ValueText(const TJson& p, const char* key) {
  auto it = p.find(key);
  if (it == p.end() || it->is_null()) return "";
  if (it->is_string()) return it->get<std::string>();
  return it->dump();
}
}  // namespace

std::string ScheduleCmdText(const std::string& key, const TJson& p, const TcmdTableRow& row) {
  std::string text;
  if (key != "none") {
    text = key + " ";
    if (row.Has(opt_Text)) text += "\"";
    text += ValueText(p, "Value");
    if (row.Has(opt_Text)) text += "\" \"" + ValueText(p, "Text") + "\"";
    if (row.Has(opt_Timeout)) text += " " + std::to_string(SecondsOfTimeText(p) * 1000);
  } else {
    text = std::string(row.meth) + " " + ValueText(p, "Value");
    if (row.Has(opt_StartTime)) text += ", \"" + std::to_string(SecondsOfTimeText(p)) + "\"";
    if (row.Has(opt_Value2)) text += " \"" + ValueText(p, "Val2") + "\"";
  }
  return text;
}

bool TScheduleInterval::AddScheduleCmd(const TJson* cmds, TOneFilmInfo& AInfo) {
  if (!cmds || !cmds->is_array()) return false;
  if (cmds->empty()) {
    AInfo.Duration = AInfo.EndT - AInfo.Start;
    return true;
  }
  auto fail = [&AInfo](const std::string& msg) {
    AInfo.Err[TimeErr] = msg;
    AInfo.HasError = true;
    return false;
  };
  for (size_t i = 0; i < cmds->size(); ++i) {
    const TJson& cmd = (*cmds)[i];
    if (!cmd.is_object() || cmd.size() != 1 || !cmd.begin().value().is_object())
      return fail(InvalidCommandMessage(i));
    std::string key = cmd.begin().key();
    const TJson& p = cmd.begin().value();
    const TcmdTableRow& row = FindCmdTableRow(cmd);
    std::string text = ScheduleCmdText(key, p, row);

    double d = 0;
    if (auto it = p.find("Delay"); it != p.end() && it->is_number()) d = it->get<double>();
    double a = std::fabs(d);
    // The offset is minutes and seconds of one hour: a longer delay cannot be written.
    if (!(a < 3600)) return fail(DelayTooLongMessage);
    int64_t whole = static_cast<int64_t>(std::trunc(a));
    int64_t ms = static_cast<int64_t>(std::trunc((a - std::trunc(a)) * 1000));
    TDateTime t = EncodeTime(0, static_cast<unsigned>(whole / 60), static_cast<unsigned>(whole % 60),
                             static_cast<unsigned>(ms));
    TDateTime when;
    if (d >= 0) {
      when = TempEndTime + t;
    } else {
      // The server plays an interval's commands as offsets from the interval's start, so a
      // command may not fire before it (for the first interval: before the schedule starts).
      when = TempEndTime - t;
      if (TimeGreater(StartTime, when)) return fail(CommandBeforeStartMessage);
      if (when < StartTime) when = StartTime;
    }
    if (i == 0) {
      AInfo.Start = AInfo.EndT = when;
    } else {
      AInfo.Start = std::min(AInfo.Start, when);
      AInfo.EndT = std::max(AInfo.EndT, when);
    }
    LastCmdTime = std::max(LastCmdTime, when);
    ScheduleCmd.push_back({when, text, 0, cmd});
  }
  AInfo.Duration = AInfo.EndT - AInfo.Start;
  return true;
}

std::string InvalidCommandMessage(size_t index) {
  return "Invalid command " + std::to_string(index + 1) +
         ": a command is an object with one key whose value is an object!";
}

void TScheduleInterval::CmdSort() {
  std::stable_sort(ScheduleCmd.begin(), ScheduleCmd.end(),
                   [](const TScheduleCmd& a, const TScheduleCmd& b) { return a.DateTime < b.DateTime; });
}

TScheduleInterval* TSchedule::AddInterval(const std::string& aChannelID, TDateTime StrtTime,
                                          TDateTime EndTime, TDateTime Periodicity,
                                          TIntervalType Typ, bool DoException) {
  Intervals.push_back(std::make_unique<TScheduleInterval>(this, aChannelID, StrtTime, EndTime,
                                                          Periodicity, Typ, DoException));
  AddChannel(aChannelID);
  return Intervals.back().get();
}

TScheduleRecordIndex::TCollIndex* TScheduleRecordIndex::Index(TDbFile& db,
                                                              const std::string& collection) {
  if (db.UseMongoDb()) return nullptr;
  if (FDb != &db) {
    FIndex.clear();
    FDb = &db;
  }
  const TJson& doc = db.JSON();
  const TJson::object_t* docMembers = doc.is_object() ? &doc.get_ref<const TJson::object_t&>() : nullptr;
  const void* docData = docMembers ? static_cast<const void*>(docMembers->data()) : nullptr;
  const size_t docSize = docMembers ? docMembers->size() : 0;
  TCollIndex& known = FIndex[collection];
  // While the document's members have not moved, the collection's member found before is
  // still its member when it still has the collection's name.
  if (known.Coll && known.DocData == docData && known.DocSize == docSize &&
      known.Coll->first == collection && known.Coll->second.is_object()) {
    const auto& records = known.Coll->second.get_ref<const TJson::object_t&>();
    if (known.Data == static_cast<const void*>(records.data()) && known.Size == records.size())
      return &known;
  }
  const TMember* coll = nullptr;
  if (doc.is_object()) {
    const auto& members = doc.get_ref<const TJson::object_t&>();
    for (const TMember& m : members)
      if (m.first == collection) {
        coll = &m;
        break;
      }
  }
  TCollIndex& ix = known;
  ix.DocData = docData;
  ix.DocSize = docSize;
  const TJson::object_t* records =
      coll && coll->second.is_object() ? &coll->second.get_ref<const TJson::object_t&>() : nullptr;
  const void* data = records ? static_cast<const void*>(records->data()) : nullptr;
  const size_t size = records ? records->size() : 0;
  // The entries point into the collection's storage; while it has not moved or changed its
  // size they stay readable, and each lookup checks that its entry still holds its id.
  if (ix.Coll == coll && ix.Data == data && ix.Size == size && (coll || ix.Entries.empty()))
    return &ix;
  ++FRebuilds;
  ix.Coll = coll;
  ix.Data = data;
  ix.Size = size;
  // Films read before keep their objects (checked against their records when used). The old
  // keys may point into storage that is gone, so the films are found by their own ids.
  std::unordered_map<std::string_view, TEntry*> films;
  for (auto& [key, e] : ix.Entries)
    if (e.Film) films.emplace(e.Film->_ID, &e);
  std::unordered_map<std::string_view, TEntry> fresh;
  if (records) {
    fresh.reserve(records->size());
    for (const TMember& r : *records) {
      TEntry e{&r, nullptr, {}};
      if (auto o = films.find(r.first); o != films.end()) {
        e.Film = std::move(o->second->Film);
        e.DurationText = std::move(o->second->DurationText);
      }
      fresh.emplace(r.first, std::move(e));
    }
  }
  ix.Entries.swap(fresh);
  return &ix;
}

std::optional<const TJson*> TScheduleRecordIndex::FindRecord(TDbFile& db, const std::string& collection,
                                                             const std::string& id) {
  TCollIndex* ix = Index(db, collection);
  if (!ix) return std::nullopt;
  auto r = ix->Entries.find(id);
  if (r == ix->Entries.end()) return nullptr;
  if (r->second.Member->first != id) {  // records moved within their storage
    ix->Coll = nullptr;
    ix->Data = nullptr;
    return FindRecord(db, collection, id);
  }
  return &r->second.Member->second;
}

namespace {
bool MemberIs(const TJson& record, const char* key, const std::string& value) {
  auto it = record.find(key);
  if (it == record.end() || !it->is_string()) return value.empty();
  return it->get_ref<const std::string&>() == value;
}
}  // namespace

std::shared_ptr<TFilm> TScheduleRecordIndex::CachedFilm(TDbFile& db, const std::string& id) {
  TCollIndex* ix = Index(db, "Films");
  if (!ix) return nullptr;
  auto r = ix->Entries.find(id);
  if (r == ix->Entries.end()) return nullptr;
  if (r->second.Member->first != id) {  // records moved within their storage
    ix->Coll = nullptr;
    ix->Data = nullptr;
    return CachedFilm(db, id);
  }
  const TJson& record = r->second.Member->second;
  if (!record.is_object()) return nullptr;
  TEntry& e = r->second;
  if (e.Film && e.CheckedPass == FPass) return e.Film;
  e.CheckedPass = FPass;
  // A film read by an earlier build is used again while its record says the same.
  if (!e.Film || !MemberIs(record, "Duration", e.DurationText) ||
      !MemberIs(record, "FileName", e.Film->FileName) || !MemberIs(record, "Name", e.Film->Name) ||
      JsonBool(record, "ShowInSchedule") != e.Film->ShowInSchedule ||
      JsonBool(record, "KeepWithNext") != e.Film->KeepWithNext) {
    e.Film = std::make_shared<TFilm>(id, record);
    e.DurationText = JsonStr(record, "Duration");
  }
  return e.Film;
}

std::optional<const TJson*> TSchedule::FindRecord(const std::string& collection,
                                                  const std::string& id) {
  if (!FilmsDBF) return std::nullopt;
  return FRecordIndex->FindRecord(*FilmsDBF, collection, id);
}

std::shared_ptr<TFilm> TSchedule::CachedFilm(const std::string& id) {
  if (!FilmsDBF) return nullptr;
  return FRecordIndex->CachedFilm(*FilmsDBF, id);
}

std::shared_ptr<TFilm> TScheduleRecordIndex::StoreFilm(const std::string& id) const {
  auto it = FStoreFilms.find(id);
  return it == FStoreFilms.end() ? nullptr : it->second;
}

void TScheduleRecordIndex::KeepStoreFilm(const std::shared_ptr<TFilm>& film) {
  // A film that did not read (no record, a duration that does not parse) is read and reported
  // again by every build that uses it.
  if (KeepsStoreFilms && film && !film->IsInvalid() && film->DurationError.empty())
    FStoreFilms.emplace(film->_ID, film);
}

namespace {
thread_local std::shared_ptr<TScheduleRecordIndex> SharedRunIndex;
}

TSharedBuildRun::TSharedBuildRun() : FIndex(std::make_shared<TScheduleRecordIndex>()), FOuter(SharedRunIndex) {
  FIndex->KeepsStoreFilms = true;
  SharedRunIndex = FIndex;
}

TSharedBuildRun::~TSharedBuildRun() { SharedRunIndex = FOuter; }

std::shared_ptr<TScheduleRecordIndex> TSharedBuildRun::Current() { return SharedRunIndex; }

TFilm* TSchedule::BuildFilm(const std::string& id) {
  auto it = FBuildFilms.find(id);
  if (it != FBuildFilms.end()) return it->second.get();
  std::shared_ptr<TFilm> film = CachedFilm(id);
  if (!film) return nullptr;
  TFilm* f = film.get();
  FBuildFilms.emplace(f->_ID, std::move(film));
  return f;
}

void TSchedule::AddChannel(const std::string& ChannelID) {
  if (std::find(ChannelsId.begin(), ChannelsId.end(), ChannelID) != ChannelsId.end()) return;
  ChannelsId.push_back(ChannelID);
  CurrentFilmIndexInChannel.push_back(0);
}

bool TFilmList::SaveToFile(int aIndex) const {
  if (Items.empty()) return false;
  std::string name = FilmListArray->FilePath + std::to_string(aIndex) + FilmListArray->FileExtention;
  std::error_code ec;
  fs::create_directories(fs::path(FilmListArray->FilePath), ec);
  std::string bytes;
  for (const std::string& line : Items) {
    bytes += line;
    bytes += '\n';
  }
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("Can't to write to file " + name);
  return true;
}

void TFilmList::LoadFromFile(const std::string& aFileName) {
  std::ifstream in(aFileName, std::ios::binary);
  if (!in) return;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Items.push_back(line);
  }
}

TFilmListArray::TFilmListArray(const std::string& aFilePath, const std::string& aFileExtention)
    : FileExtention(aFileExtention), FilePath(aFilePath) {
  for (int n = 0;; ++n) {
    std::string name = FilePath + std::to_string(n) + FileExtention;
    std::error_code ec;
    if (!fs::is_regular_file(name, ec)) break;
    TFilmList& l = Add();
    l.LoadFromFile(name);
  }
}

TFilmList& TFilmListArray::Add() {
  Items.push_back(std::make_unique<TFilmList>(this));
  return *Items.back();
}

int TFilmListArray::SaveFile() {
  int n = Count() - 1;
  for (int i = 0; i < n; ++i) {
    if (Items[static_cast<size_t>(i)]->Compare(*Items[static_cast<size_t>(n)])) {
      Items[static_cast<size_t>(i)]->used = true;
      Delete();
      return i;
    }
  }
  Items[static_cast<size_t>(n)]->SaveToFile(n);
  Items[static_cast<size_t>(n)]->used = true;
  return n;
}
