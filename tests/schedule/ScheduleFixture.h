#pragma once
// A main database with helpers that add films, playlists, channels and channel schedules.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "recstore/JrecClasses.h"
#include "schedule/ScheduleClasses.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

inline TJson Ref(const std::string& cl, const std::string& id) { return {{"_ID", id}, {"_CL", cl}}; }
inline TJson FilmRef(const std::string& id) { return Ref("Films", id); }
inline TJson ListRef(const std::string& id) { return Ref("PlayLists", id); }
// Offsets written as day counts of hours, minutes, seconds and milliseconds.
inline TDateTime Hms(double h, double m = 0, double s = 0, double ms = 0) {
  return ((h * 60 + m) * 60 + s) / 86400.0 + ms / 86400000.0;
}

struct ScheduleDbTest : ::testing::Test {
  TFakeOperator Op;
  std::unique_ptr<TDbFile> Db;
  ScheduleDbTest() {
    Db = CreateMainDatabase(&Op);
    Db->New();
  }
  TDbCollectionItem& Col(const std::string& name) { return Db->CollectionByName(name); }
  void AddFilm(const std::string& id, const std::string& duration, bool keepWithNext = false,
               const std::string& fileName = "", const std::string& name = "",
               bool showInSchedule = true) {
    Col("Films").SetRecordNo1(
        id, {{"Name", name.empty() ? id : name},
             {"FileName", fileName.empty() ? id + ".m2t" : fileName},
             {"Duration", duration},
             {"ShowInSchedule", showInSchedule},
             {"KeepWithNext", keepWithNext}});
  }
  void AddList(const std::string& id, std::initializer_list<TJson> items, int repeat = 1) {
    TJson tbl = TJson::array();
    for (const TJson& r : items) tbl.push_back(TJson::array({r}));
    Col("PlayLists").SetRecordNo1(id, {{"Name", id}, {"Repeat", repeat}, {"Table", tbl}});
  }
  void AddChannel(const std::string& id, int type, const std::string& name = "") {
    Col("Channels").SetRecordNo1(id, {{"Name", name.empty() ? id : name},
                                      {"URL", "igmp://239.0.0.1:1234"},
                                      {"Type", type}});
  }
  // A row: start text, interval type, content, commands.
  static TJson Row(const std::string& start, int typ, const TJson& content,
                   const TJson& cmds = TJson::array()) {
    return TJson::array({start, typ, content, cmds});
  }
  TJson ChSched(const std::string& channel, const std::string& period, bool autoPeriod,
                std::initializer_list<TJson> rows) {
    TJson tbl = TJson::array();
    for (const TJson& r : rows) tbl.push_back(r);
    return {{"Name", "sched"},
            {"Channel", Ref("Channels", channel)},
            {"AutoPeriod", autoPeriod},
            {"Period", period},
            {"Table", tbl}};
  }
  void Save() { Db->Save(); }
};
