#include "advert/TimeLine.h"

#include <cmath>
#include <map>
#include <set>

#include <fmt/format.h>

// ---------------------------------------------------------------------------------------------
// Reading the stored form

int DayElement(const TJson& day, size_t h) {
  if (!day.is_array() || h >= day.size()) return -1;
  const TJson& v = day[h];
  if (v.is_number_integer()) {
    int64_t i = v.get<int64_t>();
    return i < 0 || i > INT32_MAX ? -1 : static_cast<int>(i);
  }
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    return u > INT32_MAX ? -1 : static_cast<int>(u);
  }
  if (v.is_number_float()) {
    double d = v.get<double>();
    if (std::isfinite(d) && d >= 0 && d <= INT32_MAX && std::floor(d) == d)
      return static_cast<int>(d);
  }
  return -1;
}

std::vector<int64_t> HourMixCounters(const TJson& table) {
  std::vector<int64_t> cntr;
  if (!table.is_array()) return cntr;
  cntr.reserve(table.size());
  for (const auto& e : table) cntr.push_back(e.is_object() ? std::max<int64_t>(JsonInt(e, "Cntr"), 0) : 0);
  return cntr;
}

// ---------------------------------------------------------------------------------------------
// The changes of one operation: made in memory (or, the unbatched way, written at once), with
// the earlier value of every touched record kept so that a failure puts memory back.

class TTimeLine::TBatch {
public:
  TBatch(TTimeLine& owner) : FOwner(owner) {}

  std::optional<TJson> Get(TDbCollectionItem& coll, const std::string& id) {
    return coll.GetRecord(id);
  }

  void Put(TDbCollectionItem& coll, const std::string& id, const TJson& rec) {
    Remember(coll, id);
    if (FOwner.SaveEveryRecord) {
      if (!coll.NewOrUpdateRecord(id, rec)) ThrowWriteError(coll);
      ++FOwner.FStats.FileWrites;
    } else {
      coll.SetRecordNo1(id, rec);
    }
  }

  void Remove(TDbCollectionItem& coll, const std::string& id) {
    Remember(coll, id);
    if (FOwner.SaveEveryRecord) {
      if (!coll.DelRecord(id)) ThrowWriteError(coll);
      ++FOwner.FStats.FileWrites;
    } else {
      coll.DelRecordNo1(id);
    }
  }

  // The one ordinary change that ends an operation and writes the file with everything before it.
  void CommitPut(TDbCollectionItem& coll, const std::string& id, const TJson& rec) {
    Remember(coll, id);
    if (!coll.NewOrUpdateRecord(id, rec)) ThrowWriteError(coll);
    ++FOwner.FStats.FileWrites;
  }
  void CommitRemove(TDbCollectionItem& coll, const std::string& id) {
    Remember(coll, id);
    if (!coll.DelRecord(id)) ThrowWriteError(coll);
    ++FOwner.FStats.FileWrites;
  }

  // Puts every touched record back as it was, newest change first.
  void Rollback() {
    for (auto it = FUndo.rbegin(); it != FUndo.rend(); ++it) {
      if (it->Before)
        it->Coll->SetRecordNo1(it->ID, *it->Before);
      else
        it->Coll->DelRecordNo1(it->ID);
    }
    bool wrote = FOwner.SaveEveryRecord && FOwner.FStats.FileWrites > 0;
    FUndo.clear();
    FSeen.clear();
    if (wrote) {
      // The unbatched way has written parts already: write the file back as it was.
      try {
        FOwner.FTimeLine.Save();
      } catch (const std::exception&) {
      }
    }
  }

private:
  struct TUndo {
    TDbCollectionItem* Coll;
    std::string ID;
    std::optional<TJson> Before;
  };

  void Remember(TDbCollectionItem& coll, const std::string& id) {
    if (!FSeen.insert({&coll, id}).second) return;
    FUndo.push_back({&coll, id, coll.GetRecord(id)});
  }

  [[noreturn]] void ThrowWriteError(TDbCollectionItem& coll) {
    std::string why = coll.DbFile().LastError();
    throw EDbWriteError(why.empty() ? "the time line could not be written" : why);
  }

  TTimeLine& FOwner;
  std::vector<TUndo> FUndo;
  std::set<std::pair<TDbCollectionItem*, std::string>> FSeen;
};

// ---------------------------------------------------------------------------------------------
// The hour-mix table of a place while a row is processed

namespace {

struct THourMixes {
  TJson Table = TJson::array();
  std::vector<int64_t> Cntr;
  std::set<int> Free;  // indexes whose Cntr is 0, for "the lowest free entry"

  void Load(const std::optional<TJson>& rec) {
    Table = rec && rec->is_array() ? *rec : TJson::array();
    Cntr = HourMixCounters(Table);
    Free.clear();
    for (size_t k = 0; k < Cntr.size(); ++k)
      if (Cntr[k] == 0) Free.insert(static_cast<int>(k));
  }
  int Size() const { return static_cast<int>(Cntr.size()); }
  void Inc(int k, int64_t by = 1) {
    if (by == 0) return;
    Cntr[k] += by;
    Free.erase(k);
  }
  void Dec(int k) {
    if (Cntr[k] > 0 && --Cntr[k] == 0) Free.insert(k);
  }
  void Zero(int k) {
    Cntr[k] = 0;
    Free.insert(k);
  }
  // The lowest free entry, or a new empty one at the end.
  int TakeFree() {
    if (!Free.empty()) {
      int k = *Free.begin();
      Free.erase(Free.begin());
      return k;
    }
    TJson entry = TJson::object();
    entry["Tbl"] = TJson::array();
    entry["Cntr"] = 0;
    Table.push_back(std::move(entry));
    Cntr.push_back(0);
    return Size() - 1;
  }
  TJson TblOf(int k) const {
    const TJson& e = Table[static_cast<size_t>(k)];
    if (e.is_object()) {
      auto it = e.find("Tbl");
      if (it != e.end() && it->is_array()) return *it;
    }
    return TJson::array();
  }
  void SetTbl(int k, TJson tbl) {
    TJson& e = Table[static_cast<size_t>(k)];
    if (!e.is_object()) e = TJson::object();
    e["Tbl"] = std::move(tbl);
  }
  // Trailing free entries go; every other entry gets its counter.
  TJson Finish() {
    while (!Cntr.empty() && Cntr.back() == 0) {
      Cntr.pop_back();
      Table.erase(Table.size() - 1);
    }
    for (size_t k = 0; k < Cntr.size(); ++k) {
      if (!Table[k].is_object()) Table[k] = TJson{{"Tbl", TJson::array()}};
      Table[k]["Cntr"] = Cntr[k];
    }
    return Table;
  }
};

TJson Booking(const std::string& contractID, const std::string& film, int count) {
  TJson b = TJson::object();
  b["Contr"] = contractID;
  b["Film"] = film;
  b["Count"] = count;
  return b;
}

bool PointsToMix(const TJson& day) {
  if (!day.is_array()) return false;
  for (size_t h = 0; h < day.size(); ++h)
    if (DayElement(day, h) >= 0) return true;
  return false;
}

void PadDay(TJson& day) {
  while (day.size() < 24) day.push_back(nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TTimeLine

TTimeLine::TTimeLine(TDbFile& timeLine, TDbFile& contracts, TDbFile* mainDb, IOperator* op)
    : FTimeLine(timeLine), FContracts(contracts), FMainDb(mainDb), FOperator(op) {}

IOperator& TTimeLine::Op() const { return FOperator ? *FOperator : FTimeLine.Operator(); }

TDbCollectionItem& TTimeLine::PlaceCollection(const std::string& placeID) {
  if (auto* c = FTimeLine.FindCollection(placeID)) return *c;
  return FTimeLine.Collections().Add(placeID);
}

TDbCollectionItem& TTimeLine::ContractsCollection() { return PlaceCollection(TimeLineContractsName); }

void TTimeLine::BookRow(TBatch& batch, const TContractRow& row, const std::string& contractID) {
  TDbCollectionItem& coll = PlaceCollection(row.Place);
  THourMixes mixes;
  mixes.Load(batch.Get(coll, OneHourRecordID));
  std::set<TOneHourSchedule> done;  // the changes made so far in this row
  for (int64_t dayNo : QualifyingDays(row)) {
    const std::string id = DayRecordID(dayNo);
    std::optional<TJson> rec = batch.Get(coll, id);
    TJson day = rec && rec->is_array() ? std::move(*rec) : TJson::array();
    bool changed = false;
    for (int h = 0; h < 24; ++h) {
      const int tph = row.TimesPerHour[static_cast<size_t>(h)];
      if (tph == 0) continue;
      int old = DayElement(day, static_cast<size_t>(h));
      if (old >= mixes.Size()) {
        ++FStats.DanglingCells;  // pointed past the table: nothing booked there
        old = -1;
      }
      PadDay(day);
      auto same = done.find(TOneHourSchedule{old, -1, tph});
      if (same != done.end()) {
        day[static_cast<size_t>(h)] = same->NewID;
        mixes.Inc(same->NewID);
        if (old >= 0) mixes.Dec(old);
      } else {
        int k = mixes.TakeFree();
        mixes.Inc(k);
        TJson tbl = old < 0 ? TJson::array() : mixes.TblOf(old);
        TJson entry = old < 0 ? TJson::object() : mixes.Table[static_cast<size_t>(old)];
        if (!entry.is_object()) entry = TJson::object();
        if (old >= 0 && old != k) mixes.Dec(old);
        tbl.push_back(Booking(contractID, row.Film, tph));
        entry["Tbl"] = std::move(tbl);
        mixes.Table[static_cast<size_t>(k)] = std::move(entry);
        day[static_cast<size_t>(h)] = k;
        done.insert(TOneHourSchedule{old, k, tph});
      }
      ++FStats.CellsBooked;
      changed = true;
    }
    if (changed) {
      batch.Put(coll, id, day);
      ++FStats.DaysWritten;
    }
  }
  batch.Put(coll, OneHourRecordID, mixes.Finish());
}

void TTimeLine::DeletePlaceRows(TBatch& batch, const std::string& place,
                                const std::vector<const TContractRow*>& rows,
                                const std::string& contractID) {
  TDbCollectionItem& coll = PlaceCollection(place);
  THourMixes mixes;
  mixes.Load(batch.Get(coll, OneHourRecordID));
  // Where each entry's cells go: -2 not handled yet, -1 nowhere (no booking left), else the
  // entry that now holds their mix. Kept across all rows of the place, so that cells of a later
  // row that share a mix with an earlier row follow it wherever it went.
  std::vector<int> map(static_cast<size_t>(mixes.Size()), -2);
  for (const TContractRow* row : rows) {
    for (int64_t dayNo : QualifyingDays(*row)) {
      const std::string id = DayRecordID(dayNo);
      std::optional<TJson> rec = batch.Get(coll, id);
      if (!rec || !rec->is_array()) continue;
      TJson day = std::move(*rec);
      bool changed = false;
      for (int h = 0; h < 24; ++h) {
        if (row->TimesPerHour[static_cast<size_t>(h)] == 0) continue;
        if (static_cast<size_t>(h) >= day.size() || day[static_cast<size_t>(h)].is_null()) continue;
        int r = DayElement(day, static_cast<size_t>(h));
        if (r < 0 || r >= mixes.Size()) {
          // Points at no entry of the table: nothing can be booked there.
          day[static_cast<size_t>(h)] = nullptr;
          ++FStats.DanglingCells;
          changed = true;
          continue;
        }
        int& m = map[static_cast<size_t>(r)];
        if (m == -2) {
          TJson kept = TJson::array();
          for (const auto& b : mixes.TblOf(r))
            if (!(b.is_object() && JsonStr(b, "Contr") == contractID)) kept.push_back(b);
          mixes.SetTbl(r, kept);
          if (!kept.empty()) {
            m = r;
            for (int j = 0; j < mixes.Size(); ++j) {
              if (j == r) continue;
              int mj = map[static_cast<size_t>(j)];
              if ((mj == -2 || mj == j) && JsonEqual(mixes.TblOf(j), kept)) {
                m = j;
                map[static_cast<size_t>(j)] = j;
                mixes.Inc(j, mixes.Cntr[static_cast<size_t>(r)]);
                mixes.Zero(r);
                break;
              }
            }
          } else {
            m = -1;
            mixes.Zero(r);
          }
        }
        const int target = map[static_cast<size_t>(r)];
        if (target != r) ++FStats.CellsCleared;
        if (target == -1)
          day[static_cast<size_t>(h)] = nullptr;
        else
          day[static_cast<size_t>(h)] = target;
        changed = changed || target != r;
      }
      if (!PointsToMix(day)) {
        batch.Remove(coll, id);
        ++FStats.DaysDeleted;
      } else if (changed) {
        batch.Put(coll, id, day);
        ++FStats.DaysWritten;
      }
    }
  }
  batch.Put(coll, OneHourRecordID, mixes.Finish());
}

bool TTimeLine::DeleteBookings(TBatch& batch, const std::string& contractID) {
  TDbCollectionItem& booked = ContractsCollection();
  std::optional<TJson> copy = batch.Get(booked, contractID);
  if (!copy) return false;
  TSuperReference tracker(&Op());
  TContractRowsSource source;
  source.ContractsColl = &booked;
  source.ContractID = contractID;
  std::vector<TContractRow> rows = ContractRows(*copy, source, tracker);
  FStats.Rows = static_cast<int>(rows.size());
  // The rows of one place are handled together, places in the order they first appear.
  std::vector<std::string> places;
  std::map<std::string, std::vector<const TContractRow*>> byPlace;
  for (const auto& row : rows) {
    auto& list = byPlace[row.Place];
    if (list.empty()) places.push_back(row.Place);
    list.push_back(&row);
  }
  for (const auto& place : places) DeletePlaceRows(batch, place, byPlace[place], contractID);
  return true;
}

namespace {

// Runs one step of an operation. A broken record has been shown by the reference tracker; any
// other failure is shown as ErrorText. Either way memory goes back to where it was.
template <class TBody, class TRollback>
bool Guarded(TBody&& body, TRollback&& rollback, std::string& lastError, IOperator& op,
             const char* errorText) {
  try {
    body();
    return true;
  } catch (const EDbFException& e) {
    lastError = e.what();
    rollback();
  } catch (const std::exception& e) {
    lastError = e.what();
    rollback();
    op.MessageBox(TimeLineErrorCaption, errorText, TMsgIcon::Error);
  }
  return false;
}

}  // namespace

void TTimeLine::RequireWritable() {
  // The store keeps changes of a write-protected file in memory only; reporting success then
  // would lose the booking at the next start.
  if (FTimeLine.SaveDisabled())
    throw EDbWriteError("the time line " + FTimeLine.FileName() +
                        " is write-protected (newer or unreadable file)");
}

bool TTimeLine::DeleteContract(const std::string& contractID) {
  FStats = {};
  FLastError.clear();
  TBatch batch(*this);
  return Guarded(
      [&] {
        RequireWritable();
        if (DeleteBookings(batch, contractID)) batch.CommitRemove(ContractsCollection(), contractID);
      },
      [&] { batch.Rollback(); }, FLastError, Op(), ContractsDeletionErrorText);
}

bool TTimeLine::AddContract(const std::string& contractID) {
  FStats = {};
  FLastError.clear();
  TBatch batch(*this);
  auto rollback = [&] { batch.Rollback(); };
  if (!Guarded([&] { RequireWritable(); }, rollback, FLastError, Op(), ContractsAdditionErrorText))
    return false;
  if (!Guarded([&] { DeleteBookings(batch, contractID); }, rollback, FLastError, Op(),
               ContractsDeletionErrorText))
    return false;  // adding stops when the deletion failed
  return Guarded(
      [&] {
        TDbCollectionItem& contracts = FContracts.CollectionByName("Contracts");
        TSuperReference tracker(&Op());
        std::optional<TJson> contract = contracts.GetRecord(contractID);
        if (!contract) {
          tracker.Push(contracts, contractID, false);
          tracker.Get(contracts, contractID);  // reports the missing record and raises
          tracker.Pop();
          throw EDbFException(&contracts, contractID);
        }
        TContractRowsSource source;
        source.ContractsColl = &contracts;
        source.ContractID = contractID;
        source.MainDb = FMainDb;
        std::vector<TContractRow> rows = ContractRows(*contract, source, tracker);
        FStats.Rows = static_cast<int>(rows.size());
        for (const auto& row : rows) BookRow(batch, row, contractID);
        batch.CommitPut(ContractsCollection(), contractID, *contract);
      },
      rollback, FLastError, Op(), ContractsAdditionErrorText);
}
