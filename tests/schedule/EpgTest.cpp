#include "schedule/Epg.h"

#include <regex>
#include <set>

#include "schedule/DoSchedule.h"
#include "schedule/EpgFixture.h"
#include "servers/CreateFiles.h"
#include "servers/ServerEpg.h"

namespace {

std::string Guide(TDbFile& db, TFakeOperator& op, TDateTime from, int days) {
  std::vector<TEpgRow> rows = BuildServerEpgRows(db, "srv", op);
  return GuideXmltv(BuildGuide(db, rows, LocalToEpoch(from), LocalToEpoch(from + days)));
}

}  // namespace

// A small guide byte for byte: times across midnight and the change to summer time, the
// channel ids, the escaping, films only, head-end and command channels left out.
TEST_F(EpgDbTest, GoldenGuideAcrossMidnightAndClockChange) {
  EXPECT_EQ(Guide(*Db, Op, EncodeDate(2024, 3, 30), 2), EpgGolden);
}

// A later schedule row takes over at its "Start at": the earlier row's film is cut there.
TEST_F(EpgDbTest, LaterRowTakesOverAtItsStart) {
  Col("Schedules").SetRecordNo1("s2", {{"Name", "Other"}, {"Table", {{Ref("ChSched", "cs2")}}}});
  Col("SrvOptions").SetRecordNo1("o2", {{"Name", "Lobby"}, {"Table", {{Ref("Groups", "g2"), TJson()}}}});
  Col("Servers").SetRecordNo1("srv", {{"Name", "Srv"}, {"TSched", {
      {Ref("Schedules", "s1"), "30.03.2024 00:00:00", "", Ref("SrvOptions", "o1")},
      {Ref("Schedules", "s2"), "30.03.2024 00:00:00", "31.03.2024 00:00:00", Ref("SrvOptions", "o2")}}}});
  std::vector<TEpgRow> rows = BuildServerEpgRows(*Db, "srv", Op);
  TEpgGuide g = BuildGuide(*Db, rows, LocalToEpoch(EncodeDate(2024, 3, 30)), LocalToEpoch(EncodeDate(2024, 4, 1)));
  std::vector<std::string> got;
  for (const TEpgProgramme& p : g.Programmes)
    got.push_back(g.Channels[p.Channel].Id + " " + XmltvTime(p.Start) + " " + XmltvTime(p.Stop));
  std::vector<std::string> want = {
      "kino.example.org 20240330223000 +0100 20240330233000 +0100",
      "kino.example.org 20240330233000 +0100 20240331000000 +0100",  // cut at the switch
      "ch2.pelmora 20240330000000 +0100 20240330010000 +0100",
      "ch2.pelmora 20240330120000 +0100 20240330130000 +0100",
      // the second row counts from its own "Calc from" and plays from 31.03 00:00
      "ch2.pelmora 20240331000000 +0100 20240331010000 +0100",
      "ch2.pelmora 20240331120000 +0200 20240331130000 +0200"};
  EXPECT_EQ(got, want);
}

TEST(EpgText, XmlTextPlayUrlAndGroupNames) {
  EXPECT_EQ(XmlText("a&b<c>\"d'\t\n"), "a&amp;b&lt;c&gt;&quot;d&apos;&#9;&#10;");
  EXPECT_EQ(XmlText(std::string("x\x01y\x7f", 4)), "xy\x7f");   // control characters dropped
  EXPECT_EQ(XmlText("\xff\xc3(ok"), "\xEF\xBF\xBD\xEF\xBF\xBD(ok");  // invalid UTF-8 replaced
  EXPECT_EQ(XmlText("Кино"), "Кино");
  struct { const char* in; const char* out; } urls[] = {
      {"igmp://239.0.0.1:1234", "udp://@239.0.0.1:1234"},
      {"IgMp://239.0.0.1:1234", "udp://@239.0.0.1:1234"},
      {"udp://@239.0.0.1:1234", "udp://@239.0.0.1:1234"},
      {"http://h/igmp://x", "http://h/igmp://x"},
      {"igmp:/", "igmp:/"}};
  for (const auto& u : urls) EXPECT_EQ(PlayUrl(u.in), u.out) << u.in;
  for (const char* bad : {"", " ", ".", "..", "a/b", "a\\b"}) EXPECT_FALSE(SafeGroupFileName(bad)) << bad;
  for (const char* good : {"Hall", "Холл 1", "..a", "a.b"}) EXPECT_TRUE(SafeGroupFileName(good)) << good;
}

// "Create files" writes the guide and one list per STB group only when the server asks for it;
// a group name that is no file name stops it, naming the group.
TEST_F(EpgDbTest, CreateFilesWritesGuideAndListsOnlyWithMakeEpg) {
  std::string pkg = Tmp.File("servers/Srv");
  ASSERT_TRUE(CreateServerFiles(*Db, "srv", Op).Ok) << Op.Statuses.back();
  EXPECT_FALSE(std::filesystem::exists(pkg + "/epg.xml"));
  EXPECT_FALSE(std::filesystem::exists(pkg + "/channels_Hall.m3u"));

  Server(true);
  ASSERT_TRUE(CreateServerFiles(*Db, "srv", Op).Ok) << Op.Statuses.back();
  std::string guide = ReadFileBytes(pkg + "/epg.xml");
  EXPECT_EQ(guide.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
  EXPECT_EQ(ReadFileBytes(pkg + "/channels_Hall.m3u"),
            "#EXTM3U url-tvg=\"epg.xml\"\n"
            "#EXTINF:-1 tvg-id=\"kino.example.org\" tvg-name=\"Кино & Co\" group-title=\"Hall\",Кино & Co\n"
            "udp://@239.1.1.1:1234\n"
            "#EXTINF:-1 tvg-id=\"he.pelmora\" tvg-name=\"News, live\" group-title=\"Hall\",News, live\n"
            "udp://@239.1.1.2:5000\n"
            "#EXTINF:-1 tvg-id=\"ch2.pelmora\" tvg-name=\"Second '2'\" group-title=\"Hall\",Second \"2\"\n"
            "udp://@239.1.1.3:1234\n");
  EXPECT_TRUE(std::filesystem::exists(pkg + "/channels_Lobby.m3u"));

  Col("Groups").SetRecordNo1("g2", {{"Name", "../Lobby"}, {"Table", {{Ref("Channels", "he")}}}});
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.Status.find("STB group name \"../Lobby\""), std::string::npos) << r.Status;
  EXPECT_FALSE(std::filesystem::exists(Tmp.File("servers/channels_Lobby.m3u")));
}

// The guide's channel ids are ids the XMLTV validator takes, whatever the record identifier or
// the EpgId holds (imported identifiers with "_", EpgIds with blanks, Cyrillic); a valid EpgId
// stays as it is, different texts give different ids, and the same text the same id.
TEST(EpgChannelIds, AlwaysValidStableAndDistinct) {
  const std::regex valid("^[-a-zA-Z0-9]+(\\.[-a-zA-Z0-9]+)+$");  // the validator's rule
  struct TCase {
    std::string Record, EpgId, Want;  // Want empty: any valid id
  } cases[] = {
      {"ch2", "", "ch2.pelmora"},
      {"x", "kino.example.org", "kino.example.org"},
      {"x", " kino.example.org ", "kino.example.org"},
      {"ch_1", "", ""},
      {"ch 1", "", ""},
      {"ch-1", "", "ch-1.pelmora"},
      {"x", "Kino HD", ""},
      {"x", "Kino_HD", ""},
      {"x", "my_kino.example.org", ""},
      {"x", "Кино", ""},
      {"x", "a..b.", ""},
      {"x", "...", ""},
  };
  std::set<std::string> seen;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Record + "|" + c.EpgId);
    TJson rec = {{"Name", "N"}, {"EpgId", c.EpgId}};
    std::string id = EpgChannelId(c.Record, rec);
    EXPECT_TRUE(std::regex_match(id, valid)) << id;
    if (!c.Want.empty()) {
      EXPECT_EQ(id, c.Want);
    }
    EXPECT_EQ(EpgChannelId(c.Record, rec), id);
    if (c.EpgId != " kino.example.org ") {
      EXPECT_TRUE(seen.insert(id).second) << id;
    }
  }
}
