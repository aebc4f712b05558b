#include "advert/TimeLineView.h"

#include <algorithm>
#include <map>

#include <fmt/format.h>

#include "advert/TimeLine.h"

namespace {

// The time line lives in its file's document; reading it from there adds no collection.
const TJson* PlaceDocument(TDbFile& timeLine, const std::string& place) {
  const TJson& doc = timeLine.JSON();
  if (!doc.is_object() || place == TimeLineContractsName) return nullptr;
  auto it = doc.find(place);
  return it != doc.end() && it->is_object() ? &*it : nullptr;
}

std::string NameIn(TDbFile* db, const char* collection, const std::string& id) {
  if (!db || id.empty()) return {};
  TDbCollectionItem* coll = db->FindCollection(collection);
  if (!coll) return {};
  try {
    auto rec = coll->GetRecord(id);
    return rec && rec->is_object() ? JsonStr(*rec, "Name") : std::string();
  } catch (const std::exception&) {
    return {};
  }
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

bool DayOfRecordID(const std::string& id, int64_t& day) {
  if (id.size() != 8 || id.find_first_not_of("0123456789") != std::string::npos) return false;
  auto d = TryEncodeDate(std::stoi(id.substr(0, 4)), static_cast<unsigned>(std::stoi(id.substr(4, 2))),
                         static_cast<unsigned>(std::stoi(id.substr(6, 2))));
  if (!d) return false;
  day = DayCount(*d);
  return true;
}

TPlaceBookings::TPlaceBookings(TDbFile& timeLine, const std::string& placeID) {
  const TJson* doc = PlaceDocument(timeLine, placeID);
  if (!doc) return;
  FDoc = doc;
  auto it = doc->find(OneHourRecordID);
  if (it != doc->end() && it->is_array()) FTable = *it;
}

std::vector<TTimeLineBooking> TPlaceBookings::MixBookings(int mix) const {
  std::vector<TTimeLineBooking> out;
  if (mix < 0 || static_cast<size_t>(mix) >= FTable.size()) return out;
  const TJson& entry = FTable[static_cast<size_t>(mix)];
  if (!entry.is_object()) return out;
  auto tbl = entry.find("Tbl");
  if (tbl == entry.end() || !tbl->is_array()) return out;
  for (const auto& b : *tbl)
    if (b.is_object()) out.push_back({JsonStr(b, "Contr"), JsonStr(b, "Film"), JsonInt(b, "Count")});
  return out;
}

TBookedDay TPlaceBookings::Day(int64_t day) const {
  TBookedDay hours{};
  if (!FDoc) return hours;
  auto it = FDoc->find(DayRecordID(day));
  if (it == FDoc->end()) return hours;
  for (size_t h = 0; h < 24; ++h) {
    int k = DayElement(*it, h);
    if (k < 0 || static_cast<size_t>(k) >= FTable.size()) continue;  // nothing it can point at
    TBookedHour& hour = hours[h];
    hour.Mix = k;
    hour.Bookings = MixBookings(k);
    for (const auto& b : hour.Bookings) hour.Spots += b.Count;
  }
  return hours;
}

std::vector<std::string> TPlaceBookings::DayIDs() const {
  std::vector<std::string> ids;
  if (!FDoc) return ids;
  int64_t day = 0;
  for (auto it = FDoc->begin(); it != FDoc->end(); ++it)
    if (DayOfRecordID(it.key(), day)) ids.push_back(it.key());
  std::sort(ids.begin(), ids.end());
  return ids;
}

TAsBookedReport AsBookedReport(TDbFile& timeLine, TDbFile* contracts, const std::string& contractID) {
  TAsBookedReport report;
  report.Contract = contractID;
  report.ContractName = NameIn(contracts, "Contracts", contractID);
  if (report.ContractName.empty()) {
    // A contract removed from contracts.json keeps its name in the booked copy.
    const TJson& doc = timeLine.JSON();
    auto booked = doc.is_object() ? doc.find(TimeLineContractsName) : doc.end();
    if (booked != doc.end() && booked->is_object() && booked->contains(contractID))
      report.ContractName = JsonStr((*booked)[contractID], "Name");
  }
  const TJson& doc = timeLine.JSON();
  if (!doc.is_object()) return report;
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    TPlaceBookings place(timeLine, it.key());
    if (!place.Known()) continue;
    TAsBookedPlace p;
    p.Place = it.key();
    p.PlaceName = NameIn(contracts, "Places", p.Place);
    for (const auto& id : place.DayIDs()) {
      int64_t dayNo = 0;
      DayOfRecordID(id, dayNo);
      TAsBookedDay day;
      day.Day = dayNo;
      for (const TBookedHour& hour : place.Day(dayNo)) {
        int64_t spots = 0;
        for (const auto& b : hour.Bookings)
          if (b.Contr == contractID) spots += b.Count;
        if (spots == 0) continue;
        ++day.Hours;
        day.Spots += spots;
      }
      if (day.Hours == 0) continue;
      p.Hours += day.Hours;
      p.Spots += day.Spots;
      p.Days.push_back(day);
    }
    if (p.Days.empty()) continue;
    report.Hours += p.Hours;
    report.Spots += p.Spots;
    report.Places.push_back(std::move(p));
  }
  return report;
}

std::string AsBookedCsv(const TAsBookedReport& r) {
  const std::string contract = CsvField(r.ContractName.empty() ? r.Contract : r.ContractName);
  std::string out = "Contract,Place,Date,Hours,Spots\r\n";
  for (const auto& p : r.Places) {
    const std::string place = CsvField(p.PlaceName.empty() ? p.Place : p.PlaceName);
    for (const auto& d : p.Days)
      out += fmt::format("{},{},{},{},{}\r\n", contract, place,
                         DateToStr(static_cast<TDateTime>(d.Day)), d.Hours, d.Spots);
    out += fmt::format("{},{},Total,{},{}\r\n", contract, place, p.Hours, p.Spots);
  }
  out += fmt::format("{},,Total,{},{}\r\n", contract, r.Hours, r.Spots);
  return out;
}

std::vector<TFreeTimeRow> CheckFreeTime(TDbFile& timeLine, const std::vector<TContractRow>& rows,
                                        const std::string& contractID) {
  std::vector<TFreeTimeRow> out;
  std::map<std::string, TPlaceBookings> places;
  for (const auto& row : rows) {
    auto it = places.find(row.Place);
    if (it == places.end()) it = places.emplace(row.Place, TPlaceBookings(timeLine, row.Place)).first;
    const TPlaceBookings& place = it->second;
    TFreeTimeRow f;
    f.Place = row.Place;
    for (int64_t dayNo : QualifyingDays(row)) {
      TBookedDay day = place.Day(dayNo);
      for (size_t h = 0; h < 24; ++h) {
        if (row.TimesPerHour[h] == 0) continue;
        ++f.Cells;
        int64_t other = 0;
        for (const auto& b : day[h].Bookings)
          if (b.Contr != contractID) other += b.Count;
        if (other == 0) continue;
        ++f.TakenCells;
        f.MaxOtherSpots = std::max(f.MaxOtherSpots, other);
      }
    }
    out.push_back(f);
  }
  return out;
}
