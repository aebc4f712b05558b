#include <filesystem>
#include <functional>
#include <map>

#include "schedule/ScheduleFixture.h"
#include "servers/CreateFiles.h"

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
  EXPECT_EQ(ReadFileBytes(dir + "0.pls"), "/inbox/a.m2t\t1800.000\n/inbox/news/b.m2t\t1200.500\n");
  EXPECT_EQ(ReadFileBytes(dir + "1.pls"), "/inbox/a.m2t\t1800.000\n");
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
  std::string films = "/inbox/a.m2t\t1800.000/inbox/news/b.m2t\t1200.500/inbox/a.m2t\t1800.000";
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

TEST_F(CreateFilesTest, StartInTheFutureAsks) {
  std::string future = DateTimeToStr(static_cast<double>(DayCount(Now())) + 400);
  Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", future, Ref("SrvOptions", "o1")}});
  Op.Answers = {TMsgAnswer::No};
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Status, "No broadcasting until " + future);
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_EQ(Op.Messages.back().Caption, "Warning");
  EXPECT_EQ(Op.Messages.back().Text, "No broadcasting until " + future + " . Continue?");
  Op.Answers = {TMsgAnswer::Yes};
  r = CreateServerFiles(*Db, "srv", Op);
  ASSERT_TRUE(r.Ok) << r.Status;
  TJson config = TJson::parse(ReadFileBytes(Pkg + "/config.json"));
  EXPECT_EQ(config[0]["activate"], DateTimeToStamp(StrToDateTime(future)));
  EXPECT_TRUE(fs::exists(Pkg + "/json/" + DateTimeToStamp(StrToDateTime(future)) + "/nedelya.json"));
}

namespace {

// Every file below Dir with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out[fs::relative(e.path(), dir).string()] = ReadFileBytes(e.path().string());
  return out;
}

// The entries of the servers folder (the package folders and anything left beside them).
std::vector<std::string> ServersFolder(const TTempDir& tmp) {
  std::vector<std::string> out;
  for (auto& e : fs::directory_iterator(tmp.Path() / "servers")) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

// A schedule name that cannot be one file of the package is refused naming the Schedules record;
// nothing is written anywhere and the previous package stays.
TEST_F(CreateFilesTest, ScheduleNamesThatCannotBeFilesAreRefused) {
  Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")}});
  ASSERT_TRUE(CreateServerFiles(*Db, "srv", Op).Ok);
  auto before = Snapshot(Pkg);
  for (std::string name : {"../../../../escape", "", "news/late", "a\\b", ".."}) {
    TJson rec = *Col("Schedules").GetRecord("s1");
    rec["Name"] = name;
    Col("Schedules").SetRecordNo1("s1", rec);
    Op.Messages.clear();
    Op.Answers = {TMsgAnswer::Ok};  // "Open record to fix?"
    Op.Opened.clear();
    TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
    EXPECT_FALSE(r.Ok) << name;
    EXPECT_EQ(r.Status, "Error in record: Schedules " + name + ". Schedule name \"" + name +
                            "\" cannot be a file name of the server's package: it must not be "
                            "empty, \".\" or \"..\" or hold path separators");
    EXPECT_EQ(Op.Opened, (std::vector<std::pair<std::string, std::string>>{{"Schedules", "s1"}}));
    EXPECT_EQ(Snapshot(Pkg), before) << name;
    EXPECT_EQ(ServersFolder(Tmp), std::vector<std::string>{"Srv1"});
  }
  for (auto& e : fs::recursive_directory_iterator(Tmp.Path()))
    EXPECT_EQ(e.path().filename().string().find("escape"), std::string::npos) << e.path();
}

// A later row without a schedule is an error on the server's grid, and "Open record to fix?"
// opens the server.
TEST_F(CreateFilesTest, LaterRowWithoutScheduleNamesTheServer) {
  Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")},
          {TJson(), "01.01.2020 00:00:00", "02.01.2020 06:00:00", Ref("SrvOptions", "o2")}});
  Op.Answers = {TMsgAnswer::Ok};
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Status, "Error in record: Servers Srv1. Table \"Shedules\", row \"2\". Broadcast "
                      "schedule is not set!");
  EXPECT_EQ(Op.Opened, (std::vector<std::pair<std::string, std::string>>{{"Servers", "srv"}}));
  EXPECT_FALSE(fs::exists(Pkg));
}

// A build that fails while it writes leaves the previous package byte for byte, and no
// half-built folder beside it.
TEST_F(CreateFilesTest, FailedBuildKeepsThePreviousPackage) {
  Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")}});
  ASSERT_TRUE(CreateServerFiles(*Db, "srv", Op).Ok);
  auto before = Snapshot(Pkg);
  ASSERT_TRUE(before.count("config.json"));
  fs::remove(Tmp.File("video/news/b.m2t"));  // "File not found ... Continue?" answered No
  TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Status, "Error in the file name \"news\\b.m2t\"");
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_EQ(Op.Messages.back().Text.rfind("File not found ", 0), 0u);
  EXPECT_EQ(Snapshot(Pkg), before);
  EXPECT_EQ(ServersFolder(Tmp), std::vector<std::string>{"Srv1"});

  // A successful build replaces the package whole: nothing of the old one stays.
  WriteFileBytes(Tmp.File("video/news/b.m2t"), "b");
  WriteFileBytes(Pkg + "/stale.txt", "old");
  ASSERT_TRUE(CreateServerFiles(*Db, "srv", Op).Ok);
  EXPECT_FALSE(fs::exists(Pkg + "/stale.txt"));
  EXPECT_EQ(Snapshot(Pkg).size(), before.size());
  EXPECT_EQ(ServersFolder(Tmp), std::vector<std::string>{"Srv1"});
}

// A folder left by a build whose process is gone is cleared by the next build.
TEST_F(CreateFilesTest, LeftoverBuildFolderOfAGoneProcessIsRemoved) {
  fs::create_directories(Tmp.Path() / "servers" / ".Srv1.building-999999999-0" / "json");
  Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")}});
  ASSERT_TRUE(CreateServerFiles(*Db, "srv", Op).Ok);
  EXPECT_EQ(ServersFolder(Tmp), std::vector<std::string>{"Srv1"});
}

TEST_F(CreateFilesTest, ServerWithoutRowsFails) {
  for (const TJson& rows : {TJson::array(), TJson()}) {
    Server(rows);
    TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Status, "Broadcast schedule is not set!");
    EXPECT_FALSE(fs::exists(Pkg + "/config.json"));
  }
}

// An empty reference cell stops the build naming its table, column and row, and what belongs
// there.
TEST_F(CreateFilesTest, EmptyCellsAreNamed) {
  struct Case {
    std::function<void()> Setup;
    std::string Status;
  };
  const Case cases[] = {
      {[&] { Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", TJson()}}); },
       "Error in record: Servers Srv1. Table \"Schedule\", column \"Options\", row \"1\". The cell is "
       "empty: choose the server's options."},
      {[&] {
         Col("SrvOptions").SetRecordNo1("o1", {{"Name", "Hall options"}, {"Table", {{TJson(), TJson()}}}});
         Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")}});
       },
       "Error in record: SrvOptions Hall options. Table \"Groups\", column \"STB group\", row \"1\". The cell "
       "is empty: choose an STB group."},
      {[&] {
         Col("Schedules").SetRecordNo1("s1", {{"Name", "Week"}, {"Table", {{Ref("ChSched", "cs1")}, {TJson()}}}});
         Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o2")}});
       },
       "Error in record: Schedules Week. Column \"Channel schedule\", row \"2\". The cell is empty: choose a "
       "channel schedule."},
  };
  for (const Case& c : cases) {
    c.Setup();
    Op.Answers.clear();
    Op.Messages.clear();
    TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
    EXPECT_FALSE(r.Ok);
    ASSERT_FALSE(Op.Messages.empty()) << c.Status;
    EXPECT_EQ(Op.Messages[0].Caption, c.Status);
  }
}
