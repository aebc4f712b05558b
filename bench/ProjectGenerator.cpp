#include "ProjectGenerator.h"

#include <fmt/format.h>

#include <random>
#include <vector>

#include "recstore/mongoID.h"

namespace {

std::string DurationText(int totalMs) {
  int h = totalMs / 3600000, m = totalMs / 60000 % 60, s = totalMs / 1000 % 60, ms = totalMs % 1000;
  return fmt::format("{:02}:{:02}:{:02},{:03}", h, m, s, ms);
}

void AddToTree(TDbFile& db, const std::string& collection, const std::vector<std::string>& ids,
               int perFolder) {
  TJson tree = TJson::array();
  TJson folder;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (perFolder > 0 && i % static_cast<size_t>(perFolder) == 0) {
      if (!folder.is_null()) tree.push_back(folder);
      folder = {{"text", fmt::format("Folder {}", i / static_cast<size_t>(perFolder) + 1)},
                {"child", TJson::array()},
                {"_ID", NewObjectID()}};
    }
    TJson entry = {{"_ID", ids[i]}};
    if (perFolder > 0)
      folder["child"].push_back(entry);
    else
      tree.push_back(entry);
  }
  if (!folder.is_null()) tree.push_back(folder);
  db.CollectionByName("Tree").SetRecordNo1(collection, tree);
}

}  // namespace

int FilmsForBytes(size_t bytes) {
  // A generated film record takes about 540 bytes in the file.
  return static_cast<int>(bytes / 540);
}

void GenerateProject(TDbFile& db, const TProjectSize& size) {
  std::mt19937 rng(size.Seed);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };

  std::vector<std::string> films;
  auto& filmsColl = db.CollectionByName("Films");
  for (int i = 0; i < size.Films; ++i) {
    std::string id = NewObjectID();
    int ms = 60000 * (20 + pick(100)) + pick(60000);
    TJson rec = {{"Name", fmt::format("Film {} — Фильм {}", i + 1, i + 1)},
                 {"FileName", fmt::format("movies\\{:03}\\film{:05}.m2t", i / 100, i + 1)},
                 {"Duration", DurationText(ms)},
                 {"ShowInSchedule", true},
                 {"KeepWithNext", pick(10) == 0},
                 {"Description", fmt::format("A generated film number {} for load tests.\r\n"
                                             "Second line of the description with some words.",
                                             i + 1)},
                 {"StateYear", "USA, 2015"},
                 {"Cast", "Actor One, Actor Two"},
                 {"Genres", "Drama"}};
    filmsColl.SetRecordNo1(id, rec);
    films.push_back(id);
  }
  AddToTree(db, "Films", films, 50);

  std::vector<std::string> channels;
  auto& chColl = db.CollectionByName("Channels");
  for (int i = 0; i < size.Channels; ++i) {
    std::string id = NewObjectID();
    chColl.SetRecordNo1(id, {{"Name", fmt::format("Channel {}", i + 1)},
                             {"URL", fmt::format("udp://239.0.0.{}:1234", i + 1)},
                             {"Description", "Generated channel"}});
    channels.push_back(id);
  }
  AddToTree(db, "Channels", channels, 0);

  std::vector<std::string> playlists;
  auto& plColl = db.CollectionByName("PlayLists");
  for (int i = 0; i < size.PlayLists && !films.empty(); ++i) {
    std::string id = NewObjectID();
    TJson table = TJson::array();
    int n = 3 + pick(10);
    for (int k = 0; k < n; ++k)
      table.push_back(TJson::array({{{"_ID", films[static_cast<size_t>(pick(static_cast<int>(films.size())))]}, {"_CL", "Films"}}}));
    plColl.SetRecordNo1(id, {{"Name", fmt::format("Playlist {}", i + 1)}, {"Table", table}, {"Repeat", 1}});
    playlists.push_back(id);
  }
  AddToTree(db, "PlayLists", playlists, 0);

  std::vector<std::string> chsched;
  auto& csColl = db.CollectionByName("ChSched");
  for (int i = 0; i < size.ChSchedules && !channels.empty() && !playlists.empty(); ++i) {
    std::string id = NewObjectID();
    TJson table = TJson::array();
    // Rows: start time, interval type (1: films that do not fit are dropped), content, commands.
    for (int h = 0; h < 24; h += 2) {
      table.push_back(TJson::array(
          {fmt::format("0 {:02}:00:00", h), 1,
           {{"_ID", playlists[static_cast<size_t>(pick(static_cast<int>(playlists.size())))]},
            {"_CL", "PlayLists"}},
           TJson::array()}));
    }
    csColl.SetRecordNo1(id, {{"Name", fmt::format("Channel schedule {}", i + 1)},
                             {"Channel", {{"_ID", channels[static_cast<size_t>(i) % channels.size()]}, {"_CL", "Channels"}}},
                             {"Period", "1 00:00:00"},
                             {"AutoPeriod", false},
                             {"Table", table}});
    chsched.push_back(id);
  }
  AddToTree(db, "ChSched", chsched, 0);

  std::vector<std::string> schedules;
  auto& sColl = db.CollectionByName("Schedules");
  for (int i = 0; i < size.Schedules && !chsched.empty(); ++i) {
    std::string id = NewObjectID();
    TJson table = TJson::array();
    for (size_t k = 0; k < chsched.size(); ++k)
      table.push_back(TJson::array({{{"_ID", chsched[k]}, {"_CL", "ChSched"}}}));
    sColl.SetRecordNo1(id, {{"Name", fmt::format("Schedule {}", i + 1)}, {"Table", table}});
    schedules.push_back(id);
  }
  AddToTree(db, "Schedules", schedules, 0);
}

std::vector<std::string> RecordIds(TDbFile& db, const std::string& coll) {
  std::vector<std::string> ids;
  const TJson* c = JsonPath(db.JSON(), coll);
  if (c && c->is_object())
    for (auto it = c->begin(); it != c->end(); ++it) ids.push_back(it.key());
  return ids;
}
