#pragma once
// A small server whose guide crosses a day boundary and the change to summer time in Berlin
// (31.03.2024 02:00 -> 03:00), and the guide text it must give.
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "schedule/ScheduleFixture.h"

// Sets TZ for the life of the object (the CLI children inherit it).
struct TTimeZoneGuard {
  std::string Old;
  bool Had = false;
  explicit TTimeZoneGuard(const char* tz) {
    if (const char* o = std::getenv("TZ")) {
      Old = o;
      Had = true;
    }
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TTimeZoneGuard() {
    if (Had)
      setenv("TZ", Old.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
};

struct EpgDbTest : ScheduleDbTest {
  TTimeZoneGuard Tz{"Europe/Berlin"};
  TTempDir Tmp;
  EpgDbTest() {
    Db->SetFileName(Tmp.File("epg.pq2pr"));
    Db->Save();
    std::filesystem::create_directories(Tmp.Path() / "video");
    WriteFileBytes(Tmp.File("video/a.m2t"), "a");
    WriteFileBytes(Tmp.File("video/b.m2t"), "b");
    Col("Films").SetRecordNo1("a", {{"Name", "Morning & <News>"}, {"FileName", "a.m2t"},
                                    {"Duration", "01:00:00,000"}, {"Description", "Описание \"A\""},
                                    {"ShowInSchedule", true}, {"KeepWithNext", false}});
    Col("Films").SetRecordNo1("b", {{"Name", "Кино"}, {"FileName", "b.m2t"},
                                    {"Duration", "02:00:00,000"}, {"ShowInSchedule", true},
                                    {"KeepWithNext", false}});
    AddList("pl", {FilmRef("a"), FilmRef("b")}, 2);
    Col("Channels").SetRecordNo1("ch", {{"Name", "Кино & Co"}, {"URL", "IGMP://239.1.1.1:1234"},
                                        {"Type", 0}, {"EpgId", "kino.example.org"}});
    Col("Channels").SetRecordNo1("ch2", {{"Name", "Second \"2\""}, {"URL", "igmp://239.1.1.3:1234"}, {"Type", 0}});
    Col("Channels").SetRecordNo1("he", {{"Name", "News, live"}, {"URL", "udp://@239.1.1.2:5000"}, {"Type", 1}});
    Col("Channels").SetRecordNo1("cmd", {{"Name", "Lights"}, {"URL", ""}, {"Type", 2}});
    Col("ChSched").SetRecordNo1("cs1", ChSched("ch", "1 00:00:00", false, {Row("0 22:30:00", 0, ListRef("pl"))}));
    Col("ChSched").SetRecordNo1("cs2", ChSched("ch2", "0 12:00:00", false, {Row("0 00:00:00", 0, FilmRef("a"))}));
    Col("Schedules").SetRecordNo1("s1", {{"Name", "Week"}, {"Table", {{Ref("ChSched", "cs1")}, {Ref("ChSched", "cs2")}}}});
    Col("Groups").SetRecordNo1("g1", {{"Name", "Hall"}, {"Table", {{Ref("Channels", "ch")}, {Ref("Channels", "he")}, {Ref("Channels", "ch2")}}}});
    Col("Groups").SetRecordNo1("g2", {{"Name", "Lobby"}, {"Table", {{Ref("Channels", "he")}}}});
    Col("SrvOptions").SetRecordNo1("o1", {{"Name", "Options"}, {"Table", {{Ref("Groups", "g1"), TJson()}, {Ref("Groups", "g2"), TJson()}}}});
    Server(false);
  }
  void Server(bool makeEpg) {
    Col("Servers").SetRecordNo1("srv", {{"Name", "Srv"}, {"URL", "127.0.0.1"}, {"MakeEpg", makeEpg},
                                        {"TSched", {{Ref("Schedules", "s1"), "30.03.2024 00:00:00", "", Ref("SrvOptions", "o1")}}}});
  }
};

// The guide of 30.03.2024 and 31.03.2024: every repetition starts at 22:30 local time (the second
// channel at 00:00 and 12:00), its films follow in elapsed time, across midnight and 02:00.
inline const char* const EpgGolden = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE tv SYSTEM "xmltv.dtd">
<tv generator-info-name="pelmora">
  <channel id="kino.example.org">
    <display-name>Кино &amp; Co</display-name>
  </channel>
  <channel id="ch2.pelmora">
    <display-name>Second &quot;2&quot;</display-name>
  </channel>
  <programme start="20240330223000 +0100" stop="20240330233000 +0100" channel="kino.example.org">
    <title>Morning &amp; &lt;News&gt;</title>
    <desc>Описание &quot;A&quot;</desc>
    <length units="seconds">3600</length>
  </programme>
  <programme start="20240330233000 +0100" stop="20240331013000 +0100" channel="kino.example.org">
    <title>Кино</title>
    <length units="seconds">7200</length>
  </programme>
  <programme start="20240331013000 +0100" stop="20240331033000 +0200" channel="kino.example.org">
    <title>Morning &amp; &lt;News&gt;</title>
    <desc>Описание &quot;A&quot;</desc>
    <length units="seconds">3600</length>
  </programme>
  <programme start="20240331033000 +0200" stop="20240331053000 +0200" channel="kino.example.org">
    <title>Кино</title>
    <length units="seconds">7200</length>
  </programme>
  <programme start="20240331223000 +0200" stop="20240331233000 +0200" channel="kino.example.org">
    <title>Morning &amp; &lt;News&gt;</title>
    <desc>Описание &quot;A&quot;</desc>
    <length units="seconds">3600</length>
  </programme>
  <programme start="20240331233000 +0200" stop="20240401013000 +0200" channel="kino.example.org">
    <title>Кино</title>
    <length units="seconds">7200</length>
  </programme>
  <programme start="20240330000000 +0100" stop="20240330010000 +0100" channel="ch2.pelmora">
    <title>Morning &amp; &lt;News&gt;</title>
    <desc>Описание &quot;A&quot;</desc>
    <length units="seconds">3600</length>
  </programme>
  <programme start="20240330120000 +0100" stop="20240330130000 +0100" channel="ch2.pelmora">
    <title>Morning &amp; &lt;News&gt;</title>
    <desc>Описание &quot;A&quot;</desc>
    <length units="seconds">3600</length>
  </programme>
  <programme start="20240331000000 +0100" stop="20240331010000 +0100" channel="ch2.pelmora">
    <title>Morning &amp; &lt;News&gt;</title>
    <desc>Описание &quot;A&quot;</desc>
    <length units="seconds">3600</length>
  </programme>
  <programme start="20240331120000 +0200" stop="20240331130000 +0200" channel="ch2.pelmora">
    <title>Morning &amp; &lt;News&gt;</title>
    <desc>Описание &quot;A&quot;</desc>
    <length units="seconds">3600</length>
  </programme>
</tv>
)";
