#include <filesystem>

#include "schedule/ScheduleFixture.h"
#include "servers/Servers.h"

namespace fs = std::filesystem;

namespace {

struct CreateFilesTest : ScheduleDbTest {
  TTempDir Tmp;
  std::string Pkg;
  CreateFilesTest() {
    Db->SetFileName(Tmp.File("demo.pq2pr"));
    Db->Save();
    fs::create_directories(Tmp.Path() / "video" / "news");
    WriteFileBytes(Tmp.File("video/a.m2t"), "a");
    WriteFileBytes(Tmp.File("video/news/b.m2t"), "b");
    AddFilm("a", "00:30:00,000", false, "a.m2t", "Film A");
    AddFilm("b", "00:20:00,500", false, "news\\b.m2t", "Film B");
    AddChannel("ch", 0, "Movies");
    AddChannel("he", 1, "Live");
    AddChannel("cmd", 2, "Lights");
    AddList("pl", {FilmRef("a"), FilmRef("b")});
    TJson cmds = TJson::parse(R"([{"stbpower":{"Method":"command","Value":"1","Delay":0}}])");
    Col("ChSched").SetRecordNo1("cs1", ChSched("ch", "1 00:00:00", false,
                                               {Row("0 06:00:00", 0, ListRef("pl")), Row("0 18:00:00", 0, FilmRef("a"))}));
    Col("ChSched").SetRecordNo1("cs2", ChSched("cmd", "1 00:00:00", false, {Row("0 07:00:00", 0, TJson(), cmds)}));
    Col("Schedules").SetRecordNo1("s1", {{"Name", "Неделя"}, {"Table", {{Ref("ChSched", "cs1")}, {Ref("ChSched", "cs2")}}}});
    Col("Groups").SetRecordNo1("g1", {{"Name", "Hall"}, {"Table", {{Ref("Channels", "ch")}, {Ref("Channels", "he")}, {Ref("Channels", "cmd")}}}});
    Col("Groups").SetRecordNo1("g2", {{"Name", "Lobby"}, {"Table", {{Ref("Channels", "he")}}}});
    Col("SrvOptions").SetRecordNo1("o1", {{"Name", "Hall options"}, {"Table", {{Ref("Groups", "g1"), TJson()}}}});
    Col("SrvOptions").SetRecordNo1("o2", {{"Name", "Lobby options"}, {"Table", {{Ref("Groups", "g2"), TJson()}}}});
    Pkg = Tmp.File("servers/Srv1");
  }
  void Server(const TJson& tsched, bool satellite = false, const std::string& name = "Srv1") {
    Col("Servers").SetRecordNo1("srv", {{"Name", name}, {"URL", "127.0.0.1"}, {"SatelliteSys", satellite}, {"TSched", tsched}});
  }
};

}  // namespace

TEST_F(CreateFilesTest, FullPackage) {
  fs::create_directories(Pkg + "/stale");
  WriteFileBytes(Pkg + "/stale/old.json", "x");
  Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")}});
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  ASSERT_TRUE(r.Ok) << r.Status;
  EXPECT_EQ(r.Folder, Pkg);
  std::vector<std::string> want = {"Creating files", "Server's folder is created",
                                   "Groups and config files is created",
                                   "Files in folder \"" + Pkg + "\" is successfully created!"};
  EXPECT_EQ(Op.Statuses, want);
  EXPECT_FALSE(fs::exists(Pkg + "/stale"));
  EXPECT_EQ(ReadFileBytes(Pkg + "/update-index.txt"), "");
  std::string dir = Pkg + "/json/18991230T000000/";
  EXPECT_EQ(ReadFileBytes(dir + "0.pls"), "/inbox/a.m2t\t1800.0\n/inbox/news/b.m2t\t1200.500\n");
  EXPECT_EQ(ReadFileBytes(dir + "1.pls"), "/inbox/a.m2t\t1800.0\n");
  EXPECT_EQ(ReadFileBytes(dir + "0.cmdp"), "onstart: stbpower 1\n");
  TJson sched = TJson::parse(ReadFileBytes(dir + "nedelya.json"));
  ASSERT_EQ(sched.size(), 3u);
  EXPECT_EQ(sched[0]["channel"]["uuid"], "ch");
  EXPECT_EQ(sched[0]["intervals"].size(), 2u);
  EXPECT_EQ(sched[1]["channel"]["uuid"], "he");  // head-end channel of the group
  EXPECT_FALSE(sched[1].contains("intervals"));
  EXPECT_EQ(sched[2]["channel"]["uuid"], "cmd");
  EXPECT_EQ(sched[2]["intervals"][0]["duration"], TJson::parse(R"({"days":0,"hours":0,"minutes":0,"seconds":40})"));

  TJson groups = TJson::parse(ReadFileBytes(Pkg + "/groups.json"));
  EXPECT_EQ(groups, TJson::parse(R"({"Hall": {"channels": ["ch", "ch-cmd", "he", "cmd"]}})"));
  TJson config = TJson::parse(ReadFileBytes(Pkg + "/config.json"));
  ASSERT_EQ(config.size(), 1u);
  EXPECT_EQ(config[0]["start"], "20200101T000000");
  EXPECT_EQ(config[0]["file"], "/inbox/json/18991230T000000/nedelya.json");
  EXPECT_FALSE(config[0].contains("groups"));
  EXPECT_FALSE(config[0].contains("activate"));
  EXPECT_FALSE(config[0].contains("portal"));
  // The digest covers the schedule file and both playlist texts.
  std::string films = "/inbox/a.m2t\t1800.0/inbox/news/b.m2t\t1200.500/inbox/a.m2t\t1800.0";
  EXPECT_EQ(config[0]["MD5"], ScheduleRowDigest(sched, films, "onstart: stbpower 1"));
  TJson used = TJson::parse(ReadFileBytes(Pkg + "/UsedFilms.json"));
  EXPECT_EQ(used, TJson::parse(R"([{"win": ")" + Tmp.File("video/a.m2t") + R"(", "srv": "a.m2t"},
                                    {"win": ")" + Tmp.File("video/news/b.m2t") + R"(", "srv": "news\\b.m2t"}])"));
}

TEST_F(CreateFilesTest, SecondRowAndSatellitePrefix) {
  Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")},
          {Ref("Schedules", "s1"), "01.01.2020 00:00:00", "02.01.2020 06:00:00", Ref("SrvOptions", "o2")}},
         true);
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  ASSERT_TRUE(r.Ok) << r.Status;
  TJson config = TJson::parse(ReadFileBytes(Pkg + "/config.json"));
  ASSERT_EQ(config.size(), 2u);
  EXPECT_EQ(config[0]["groups"], "/inbox/servers/Srv1/groups.json");
  EXPECT_EQ(config[0]["file"], "/inbox/servers/Srv1/json/18991230T000000/nedelya.json");
  EXPECT_EQ(config[1]["activate"], "20200102T060000");
  EXPECT_EQ(config[1]["groups"], "/inbox/servers/Srv1/groups_20200102T060000.json");
  EXPECT_EQ(config[1]["file"], "/inbox/servers/Srv1/json/20200102T060000/nedelya.json");
  EXPECT_EQ(config[0]["MD5"], config[1]["MD5"]);  // the same schedule and playlists
  EXPECT_TRUE(fs::exists(Pkg + "/groups_20200102T060000.json"));
}

TEST_F(CreateFilesTest, HeadEndOnlyPackage) {
  Server({{TJson(), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o2")}});
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  ASSERT_TRUE(r.Ok) << r.Status;
  EXPECT_EQ(r.Status, "Broadcast schedule is not set! Files in folder \"" + Pkg + "\" is successfully created!");
  std::string file = Pkg + "/json/18991230T000000/headend.json";
  TJson sched = TJson::parse(ReadFileBytes(file));
  EXPECT_EQ(sched, TJson::parse(R"([{"type": "stream", "channel": {"url": "igmp://239.0.0.1:1234", "name": "Live", "uuid": "he"}}])"));
  TJson config = TJson::parse(ReadFileBytes(Pkg + "/config.json"));
  EXPECT_EQ(config[0]["file"], "/inbox/json/18991230T000000/headend.json");
  EXPECT_EQ(config[0]["MD5"], Md5Hex(CompactJsonText(sched)));
  EXPECT_EQ(config[0]["start"], DateTimeToStamp(static_cast<double>(DayCount(Now()))));
}

TEST_F(CreateFilesTest, SecondRowWithoutStartAborts) {
  Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")},
          {Ref("Schedules", "s1"), "01.01.2020 00:00:00", " ", Ref("SrvOptions", "o1")}});
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Status, "Error in record: Servers Srv1. Table \"Schedule\", column \"Start at\", row \"2\". Start time is not set!");
  EXPECT_EQ(Op.Statuses.back(), r.Status);
  EXPECT_FALSE(fs::exists(Pkg + "/config.json"));
}

TEST_F(CreateFilesTest, GroupChannelWithoutSchedule) {
  AddChannel("other", 0, "Other");
  Col("Groups").SetRecordNo1("g2", {{"Name", "Lobby"}, {"Table", {{Ref("Channels", "other")}}}});
  Server({{TJson(), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o2")}});
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Status, "Error in record: Groups Lobby. The schedule for this channel isn't defined!");
}

TEST_F(CreateFilesTest, StartBeforeBaseTimeAndRowOrder) {
  Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")},
          {Ref("Schedules", "s1"), "05.01.2020 00:00:00", "02.01.2020 06:00:00", Ref("SrvOptions", "o1")}});
  EXPECT_EQ(CreateServerFiles(*Db, "srv", Op).Status,
            "Error in record: Servers Srv1. Table \"Schedule\", column \"Start at\", row \"2\". Time of start must be greater or equal Base time!");
}

TEST_F(CreateFilesTest, ServerNameMustStayOneFolder) {
  fs::create_directories(Tmp.Path() / "keep");
  WriteFileBytes(Tmp.File("keep/file"), "x");
  Server({{TJson(), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o2")}}, false, "..");
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Status.rfind("Can't to create directory ", 0), 0u);
  EXPECT_TRUE(fs::exists(Tmp.File("keep/file")));
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_EQ(Op.Messages.back().Caption, "IO Error");
}
