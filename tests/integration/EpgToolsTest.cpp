// The guide and the channel lists of pelmora-cli checked by tools nobody here wrote: the XMLTV
// validator of Debian's xmltv-util, Python's XML parser and time zones, and the npm M3U parser.
#include <sys/wait.h>

#include <cstdlib>
#include <set>

#include "recstore/JsonText.h"
#include "schedule/DoSchedule.h"
#include "schedule/Epg.h"
#include "schedule/EpgFixture.h"

namespace {

int Shell(const std::string& cmd) {
  int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string IntegrationDir() { return PELMORA_INTEGRATION_DIR; }
std::string ParserDir() { return IntegrationDir() + "/../../.deps/m3u-parser"; }

// The programmes of an XMLTV file as [channel, start (epoch), stop (epoch), title, offset right]
// lines: times parsed with their offsets by Python, the offsets checked against Python's own
// time zone data for Europe/Berlin.
const char* const ReadBack = R"PY(
import json, sys, datetime, zoneinfo
import xml.etree.ElementTree as ET
tz = zoneinfo.ZoneInfo("Europe/Berlin")
out = []
for p in ET.parse(sys.argv[1]).getroot().iter("programme"):
    s = datetime.datetime.strptime(p.get("start"), "%Y%m%d%H%M%S %z")
    e = datetime.datetime.strptime(p.get("stop"), "%Y%m%d%H%M%S %z")
    ok = s.utcoffset() == s.astimezone(tz).utcoffset() and e.utcoffset() == e.astimezone(tz).utcoffset()
    out.append([p.get("channel"), int(s.timestamp()), int(e.timestamp()), p.findtext("title"), ok,
                int(p.findtext("length"))])
print(json.dumps(out))
)PY";

struct EpgToolsTest : EpgDbTest {
  std::string Project = Tmp.File("epg.pq2pr");
  EpgToolsTest() { Save(); }
  std::string P() const { return "--project '" + Project + "' "; }
  TJson ReadBackFile(const std::string& file) {
    WriteFileBytes(Tmp.File("readback.py"), ReadBack);
    EXPECT_EQ(Shell("python3 '" + Tmp.File("readback.py") + "' '" + file + "' >'" + Tmp.File("rb.json") + "'"), 0);
    return ParseJsonText(ReadFileBytes(Tmp.File("rb.json")));
  }
};

}  // namespace

// The guide validates, and read back it holds exactly the programmes the builder placed, at
// the right local offsets across the clock change, consecutive and non-overlapping.
TEST_F(EpgToolsTest, GuideValidatesAndReadsBackAsBuilt) {
  if (Shell("command -v tv_validate_file >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "tv_validate_file (Debian package xmltv-util) is not installed; run scripts/install-deps";
  TCliRun r = RunCliIn(Tmp, P() + "epg Srv --from 20240330 --days 2 -o guide.xml");
  ASSERT_EQ(r.Code, 0) << r.Err;
  std::string guide = Tmp.File("guide.xml");
  EXPECT_EQ(ReadFileBytes(guide), EpgGolden);
  EXPECT_EQ(Shell("cd '" + Tmp.Path().string() + "' && tv_validate_file --dtd-file /usr/share/xmltv/xmltv.dtd guide.xml >validate.txt 2>&1"), 0)
      << ReadFileBytes(Tmp.File("validate.txt"));

  // A week from the day before the change, through stdout.
  r = RunCliIn(Tmp, P() + "epg Srv --from 20240329 -o -");
  ASSERT_EQ(r.Code, 0) << r.Err;
  WriteFileBytes(Tmp.File("week.xml"), r.Out);
  EXPECT_EQ(Shell("cd '" + Tmp.Path().string() + "' && tv_validate_file --dtd-file /usr/share/xmltv/xmltv.dtd week.xml >validate.txt 2>&1"), 0)
      << ReadFileBytes(Tmp.File("validate.txt"));
  TJson progs = ReadBackFile(Tmp.File("week.xml"));
  // Expected from the builder: each day at 22:30 local time A B A B on the first channel, A at
  // 00:00 and 12:00 on the second; films keep their length in elapsed seconds.
  std::unique_ptr<TSchedule> sh = BuildSchedule("s1", *Db, &Op);
  ASSERT_TRUE(sh);
  size_t n = 0;
  int64_t prevStop[2] = {0, 0};
  for (const TJson& p : progs) {
    EXPECT_TRUE(p[4].get<bool>()) << p.dump();
    int c = p[0] == "kino.example.org" ? 0 : 1;
    int64_t start = p[1], stop = p[2];
    EXPECT_GE(start, prevStop[c]) << p.dump();  // non-overlapping, in order
    prevStop[c] = stop;
    EXPECT_EQ(stop - start, p[5].get<int64_t>());
    // Which note of which interval: the offset of the local start time from the interval's start.
    const TScheduleInterval& iv = *sh->Intervals[c];
    bool found = false;
    for (int64_t k = 0; k < 14 && !found; ++k) {
      int64_t anchor = LocalToEpoch(EncodeDate(2024, 3, 30) + iv.StartTime + static_cast<TDateTime>(k) * iv.Periodicity);
      for (const TScheduleNote& note : iv.ScheduleNotes)
        if (anchor + std::llround((note.DateTime - iv.StartTime) * 86400) == start &&
            p[3] == note.Film->Name && stop - start == std::llround(note.Film->Duration * 86400))
          found = true;
    }
    EXPECT_TRUE(found) << p.dump();
    ++n;
  }
  // Window 29.03-04.04, nothing before "Calc from" (30.03): the first channel 4 films a night
  // from 30.03 to 03.04 and the two of 04.04 that start before the end; the second 2 a day.
  EXPECT_EQ(n, 5u * 4 + 2 + 6u * 2);
}

TEST_F(EpgToolsTest, BadInputExitCodes) {
  EXPECT_EQ(RunCliIn(Tmp, P() + "epg NoSuchServer").Code, 3);
  EXPECT_EQ(RunCliIn(Tmp, P() + "m3u Srv --group NoSuchGroup").Code, 3);
  // A film of the schedule is gone: the builder's error, exit 1, nothing written.
  Col("Films").DelRecordNo1("b");
  Save();
  TCliRun r = RunCliIn(Tmp, P() + "--no epg Srv -o out.xml");
  EXPECT_EQ(r.Code, 1) << r.Err;
  EXPECT_FALSE(r.Err.empty());
  EXPECT_FALSE(std::filesystem::exists(Tmp.File("out.xml")));
}

// Every entry of the lists, read by the independent parser: name, tvg-id, group and address.
TEST_F(EpgToolsTest, ChannelListsParseWithIndependentParser) {
  if (!std::filesystem::exists(ParserDir() + "/node_modules/iptv-playlist-parser/package.json"))
    GTEST_SKIP() << "the npm M3U parser is not installed in .deps/m3u-parser; run scripts/install-deps";
  struct TCase {
    std::string Args;
    std::vector<std::vector<std::string>> Want;  // name, tvg-id, group, url
  } cases[] = {
      {"m3u Srv -o all.m3u",
       {{"Кино & Co", "kino.example.org", "Hall", "udp://@239.1.1.1:1234"},
        {"News, live", "he.pelmora", "Hall", "udp://@239.1.1.2:5000"},
        {"Second \"2\"", "ch2.pelmora", "Hall", "udp://@239.1.1.3:1234"},
        {"News, live", "he.pelmora", "Lobby", "udp://@239.1.1.2:5000"}}},
      {"m3u Srv --group Lobby --url-tvg http://127.0.0.1/epg.xml -o all.m3u",
       {{"News, live", "he.pelmora", "Lobby", "udp://@239.1.1.2:5000"}}},
  };
  for (const TCase& c : cases) {
    TCliRun r = RunCliIn(Tmp, P() + c.Args);
    ASSERT_EQ(r.Code, 0) << r.Err;
    ASSERT_EQ(Shell("node '" + IntegrationDir() + "/m3u-parser/parse.js' '" + ParserDir() + "' '" +
                    Tmp.File("all.m3u") + "' >'" + Tmp.File("m3u.json") + "'"), 0);
    TJson parsed = ParseJsonText(ReadFileBytes(Tmp.File("m3u.json")));
    std::vector<std::vector<std::string>> got;
    for (const TJson& i : parsed["items"])
      got.push_back({i["name"], i["tvgId"], i["group"], i["url"]});
    EXPECT_EQ(got, c.Want) << c.Args;
    EXPECT_FALSE(parsed["header"]["url-tvg"].get<std::string>().empty());
  }
}

// One project, ids as operators and imports make them (a record identifier with "_", an EpgId
// with blanks): the guide passes the validator, every channel of the guide is in the lists under
// the guide's id, every tvg-id of a scheduled channel names a guide channel, and the list ends
// with a line break.
TEST_F(EpgToolsTest, GuideAndListsShareValidIds) {
  if (Shell("command -v tv_validate_file >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "tv_validate_file (Debian package xmltv-util) is not installed; run scripts/install-deps";
  Col("Channels").SetRecordNo1("ch_3", {{"Name", "Third"}, {"URL", "igmp://239.1.1.4:1234"}, {"Type", 0}});
  Col("Channels").SetRecordNo1("ch2", {{"Name", "Second \"2\""}, {"URL", "igmp://239.1.1.3:1234"},
                                       {"Type", 0}, {"EpgId", "Second Channel HD"}});
  Col("ChSched").SetRecordNo1("cs3", ChSched("ch_3", "0 12:00:00", false, {Row("0 00:00:00", 0, FilmRef("b"))}));
  Col("Schedules").SetRecordNo1("s1", {{"Name", "Week"}, {"Table", {{Ref("ChSched", "cs1")}, {Ref("ChSched", "cs2")}, {Ref("ChSched", "cs3")}}}});
  Col("Groups").SetRecordNo1("g1", {{"Name", "Hall"}, {"Table", {{Ref("Channels", "ch")}, {Ref("Channels", "he")}, {Ref("Channels", "ch2")}, {Ref("Channels", "ch_3")}}}});
  Save();
  TCliRun r = RunCliIn(Tmp, P() + "epg Srv --from 20240330 --days 2 -o guide.xml");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(Shell("cd '" + Tmp.Path().string() + "' && tv_validate_file --dtd-file /usr/share/xmltv/xmltv.dtd guide.xml >validate.txt 2>&1"), 0)
      << ReadFileBytes(Tmp.File("validate.txt")) << ReadFileBytes(Tmp.File("guide.xml"));
  r = RunCliIn(Tmp, P() + "m3u Srv -o all.m3u");
  ASSERT_EQ(r.Code, 0) << r.Err;
  std::string m3u = ReadFileBytes(Tmp.File("all.m3u"));
  ASSERT_FALSE(m3u.empty());
  EXPECT_EQ(m3u.back(), '\n');

  auto values = [](const std::string& text, const std::string& key) {
    std::set<std::string> out;
    for (size_t p = text.find(key); p != std::string::npos; p = text.find(key, p + 1)) {
      size_t b = p + key.size();
      out.insert(text.substr(b, text.find('"', b) - b));
    }
    return out;
  };
  std::set<std::string> guideIds = values(ReadFileBytes(Tmp.File("guide.xml")), "<channel id=\"");
  std::set<std::string> listIds = values(m3u, "tvg-id=\"");
  EXPECT_EQ(guideIds.size(), 3u);
  for (const std::string& id : guideIds) EXPECT_TRUE(listIds.count(id)) << id;
  // The head-end channel relays a programme the console does not know: it has no guide entry.
  listIds.erase("he.pelmora");
  EXPECT_EQ(listIds, guideIds);
}
