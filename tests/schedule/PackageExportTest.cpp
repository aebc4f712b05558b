#include <filesystem>
#include <fstream>

#include "package/Cir2Lat.h"
#include "schedule/DoSchedule.h"
#include "schedule/ScheduleFixture.h"

namespace fs = std::filesystem;

TEST(Cir2LatTest, TableAndExample) {
  EXPECT_EQ(ScheduleFileName("Москва: Новости"), "moskva-_novosti");
  EXPECT_EQ(Cir2Lat("Щука Ёж ЪЬ ЮЯ — эхо"), "SHCuka_Ezh____YUYA_-_ekho");
  EXPECT_EQ(Cir2Lat("жизнь"), "zhizn_");
  EXPECT_EQ(Cir2Lat("Ж Х Ц Ч Ш Ы"), "ZH_KH_TS_CH_SH_Y");
  EXPECT_EQ(Cir2Lat("abc\\d.e Ü"), "abc\\d.e_Ü");
  EXPECT_EQ(Cir2Lat("\xff\xd0"), "\xff\xd0");  // bytes that are not UTF-8 are copied
}

TEST(PackageTextTest, RulesOfPeriods) {
  EXPECT_EQ(PeriodRule(1), "RRULE:FREQ=DAILY;INTERVAL=1");
  EXPECT_EQ(PeriodRule(7), "RRULE:FREQ=DAILY;INTERVAL=7");
  EXPECT_EQ(PeriodRule(Hms(12)), "RRULE:FREQ=HOURLY;INTERVAL=12");
  EXPECT_EQ(PeriodRule(Hms(0, 30)), "RRULE:FREQ=MINUTELY;INTERVAL=30");
  EXPECT_EQ(PeriodRule(Hms(0, 0, 45)), "RRULE:FREQ=SECONDLY;INTERVAL=45");
  EXPECT_EQ(PeriodRule(1 + Hms(2)), "RRULE:FREQ=HOURLY;INTERVAL=26");
  EXPECT_EQ(PeriodRule(Hms(1, 0, 1)), "RRULE:FREQ=SECONDLY;INTERVAL=3601");
}

TEST(PackageTextTest, DeltaAndDigest) {
  EXPECT_EQ(DeltaObject(2 + Hms(3, 4, 5, 600)),
            TJson::parse(R"({"days":2,"hours":3,"minutes":4,"seconds":5})"));
  EXPECT_EQ(Md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(Md5Hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(CompactJsonText(TJson::array({"Ж"})), "[\"\\u0416\"]");
}

namespace {

struct ExportTest : ScheduleDbTest {
  TTempDir Tmp;
  std::string F, Video;
  TSchedule Sh{Db.get()};
  TUsedFilms Used;
  std::unique_ptr<TFilmListArray> Pls, Cmdp;
  TJson Value;
  std::unique_ptr<TSuperReference> SupRef = std::make_unique<TSuperReference>(&Op);
  ExportTest() {
    F = Tmp.Path().string() + "/pkg/";
    Video = Tmp.Path().string() + "/video";
    fs::create_directories(Video + "/serials");
    for (const char* f : {"a.m2t", "b.m2t", "ab.m2t", "AB.m2t", "serials/Фильм 1.m2t"}) WriteFileBytes(Video + "/" + f, "x");
    AddFilm("a", "01:30:00,000", false, "a.m2t", "Film A");
    AddFilm("b", "00:30:00,250", false, "b.m2t", "Film B");
    AddFilm("ab", "00:10:00,000", false, "ab.m2t", "Small ab");
    AddFilm("AB", "00:10:00,000", false, "AB.m2t", "Capital AB");
    AddFilm("cyr", "00:05:00,000", false, "serials\\Фильм 1.m2t", "Фильм");
    AddChannel("ch", 0, "Movies");
    AddChannel("cmd", 2, "Lights");
    AddChannel("he", 1, "Live");
    Sh.Name = "Москва: Новости";
  }
  TScheduleInterval* Interval(const std::string& ch, TDateTime start, std::initializer_list<const char*> films,
                              TDateTime period = 1) {
    TScheduleInterval* in = Sh.AddInterval(ch, start, 0, period, Cut, false);
    for (const char* f : films) in->AddScheduleNote(SupRef.get(), f);
    return in;
  }
  std::string Export(const std::string& stamp = "20151116T060000") {
    Pls.reset();
    Cmdp.reset();
    return MakeScheduleFiles(Sh, *Db, F, Video, stamp, Pls, Cmdp, Used, Value, Op);
  }
  std::string Dir() const { return F + "json/20151116T060000/"; }
};

}  // namespace

TEST_F(ExportTest, FilmPlaylistsAndStreamEntries) {
  Interval("ch", Hms(6), {"a", "b"});
  Interval("ch", Hms(12), {"a", "b"});
  Interval("ch", Hms(18), {"cyr"});
  Sh.AddChannel("he");
  ASSERT_EQ(Export(), "");
  EXPECT_EQ(ReadFileBytes(Dir() + "0.pls"), "/inbox/a.m2t\t5400.000\n/inbox/b.m2t\t1800.250\n");
  EXPECT_EQ(ReadFileBytes(Dir() + "1.pls"), "/inbox/serials/fil_m_1.m2t\t300.000\n");
  EXPECT_FALSE(fs::exists(Dir() + "2.pls"));
  TJson want = TJson::parse(R"([
    {"type": "stream", "channel": {"url": "igmp://239.0.0.1:1234", "name": "Movies", "uuid": "ch"},
     "intervals": [
       {"playlist": "0.pls", "rule": "RRULE:FREQ=DAILY;INTERVAL=1",
        "delta": {"days": 0, "hours": 6, "minutes": 0, "seconds": 0},
        "duration": {"days": 0, "hours": 2, "minutes": 0, "seconds": 0}},
       {"playlist": "0.pls", "rule": "RRULE:FREQ=DAILY;INTERVAL=1",
        "delta": {"days": 0, "hours": 12, "minutes": 0, "seconds": 0},
        "duration": {"days": 0, "hours": 2, "minutes": 0, "seconds": 0}},
       {"playlist": "1.pls", "rule": "RRULE:FREQ=DAILY;INTERVAL=1",
        "delta": {"days": 0, "hours": 18, "minutes": 0, "seconds": 0},
        "duration": {"days": 0, "hours": 0, "minutes": 5, "seconds": 0}}]},
    {"type": "stream", "channel": {"url": "igmp://239.0.0.1:1234", "name": "Live", "uuid": "he"}}
  ])");
  EXPECT_TRUE(JsonEqual(Value, want)) << Value.dump(1);
  std::string file = Dir() + "moskva-_novosti.json";
  ASSERT_TRUE(fs::exists(file));
  EXPECT_TRUE(JsonEqual(TJson::parse(ReadFileBytes(file)), want));
  // Used films: sorted by server name, with their pages' names.
  ASSERT_EQ(Used.InUse.size(), 3u);
  EXPECT_EQ(Used.InUse[0].Linux, "a.m2t");
  EXPECT_EQ(Used.InUse[2].Linux, "serials\\fil_m_1.m2t");
  EXPECT_EQ(Used.InUse[2].Win, Video + "/serials/Фильм 1.m2t");
  ASSERT_EQ(Used.ByID.size(), 3u);
  EXPECT_EQ(Used.ByID[2].HtmlFileName, "serials_fil_m_1");
  WriteUsedFilmsFile(Used, F);
  TJson usedFile = TJson::parse(ReadFileBytes(F + "UsedFilms.json"));
  EXPECT_EQ(usedFile[0], TJson::parse(R"({"win": ")" + Video + R"(/a.m2t", "srv": "a.m2t"})"));
  auto [films, cmds] = PlaylistDigests(Pls.get(), Cmdp.get());
  EXPECT_EQ(films, "/inbox/a.m2t\t5400.000/inbox/b.m2t\t1800.250/inbox/serials/fil_m_1.m2t\t300.000");
  EXPECT_EQ(cmds, "");
  std::string md5 = ScheduleRowDigest(Value, films, cmds);
  EXPECT_EQ(md5.size(), 32u);
  EXPECT_EQ(md5.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_NE(md5, ScheduleRowDigest(Value, films + "x", cmds));
}

TEST_F(ExportTest, PlaceholderFilmHasFiveMilliseconds) {
  Op.Answers = {TMsgAnswer::Yes};  // its (empty) file is missing: continue
  Interval("ch", 0, {"a", "missing"});
  ASSERT_EQ(Export(), "");
  EXPECT_EQ(ReadFileBytes(Dir() + "0.pls"), "/inbox/a.m2t\t5400.000\n/inbox/\t0.005\n");
}

TEST_F(ExportTest, CommandLines) {
  TScheduleInterval* in = Sh.AddInterval("cmd", Hms(1), 0, 1, Cut, false);
  in->TempEndTime = Hms(1, 5);
  in->ScheduleCmd.push_back({Hms(1), "stbpower 1"});
  in->ScheduleCmd.push_back({Hms(1, 1, 30, 500), "tvmute 1"});
  in->ScheduleCmd.push_back({Hms(1, 5), "stbpower 0"});
  TScheduleInterval* mv = Interval("ch", Hms(3), {"a"});
  mv->ScheduleCmd.push_back({Hms(3, 10), "showtext \"x\" \"y\" 0"});
  ASSERT_EQ(Export(), "");
  EXPECT_EQ(ReadFileBytes(Dir() + "0.cmdp"), "onstart: stbpower 1\n90.500: tvmute 1\nonstop: stbpower 0\n");
  EXPECT_EQ(ReadFileBytes(Dir() + "1.cmdp"), "600.000: showtext \"x\" \"y\" 0\n");
  ASSERT_EQ(Value.size(), 3u);
  EXPECT_EQ(Value[0]["channel"]["uuid"], "ch");
  EXPECT_TRUE(JsonEqual(Value[1], TJson::parse(R"({"type": "command", "channel": {"name": "Lights", "uuid": "cmd"},
     "intervals": [{"playlist": "0.cmdp", "rule": "RRULE:FREQ=DAILY;INTERVAL=1",
       "delta": {"days": 0, "hours": 1, "minutes": 0, "seconds": 0},
       "duration": {"days": 0, "hours": 0, "minutes": 5, "seconds": 0}}]})")))
      << Value[1].dump();
  EXPECT_EQ(Value[2]["channel"], TJson::parse(R"({"name": "Movies-cmd", "uuid": "ch-cmd"})"));
  EXPECT_EQ(Value[2]["intervals"][0]["playlist"], "1.cmdp");
}

TEST_F(ExportTest, ZeroDurationIntervalEmptiesTheFolder) {
  fs::create_directories(Dir() + "sub");
  WriteFileBytes(Dir() + "sub/old.txt", "x");
  WriteFileBytes(Dir() + "5.pls", "x");
  TScheduleInterval* in = Sh.AddInterval("cmd", Hms(1), 0, 1, Cut, false);
  in->ScheduleCmd.push_back({Hms(1), "stbpower 1"});
  EXPECT_EQ(Export(), "Error! Interval with zero duration");
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_EQ(Op.Messages.back().Caption, "Error of creation of the schedule!");
  EXPECT_EQ(Op.Messages.back().Text, "Error! Interval with zero duration");
  EXPECT_TRUE(fs::is_directory(Dir()));
  EXPECT_TRUE(fs::is_empty(Dir()));
}

TEST_F(ExportTest, MissingFileQuestion) {
  AddFilm("gone", "00:10:00,000", false, "gone.m2t");
  Interval("ch", 0, {"gone", "gone"});
  Op.Answers = {TMsgAnswer::No};
  EXPECT_EQ(Export(), "Error in the file name \"gone.m2t\"");
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_TRUE(Op.Messages[0].Question);
  EXPECT_EQ(Op.Messages[0].Caption, "IO Error");
  EXPECT_EQ(Op.Messages[0].Text, "File not found " + Video + "/gone.m2t. Continue?");
  // Yes goes on, and the same file is not asked about again.
  Used = TUsedFilms{};
  Op.Messages.clear();
  Op.Answers = {TMsgAnswer::Yes};
  EXPECT_EQ(Export(), "");
  EXPECT_EQ(Op.Messages.size(), 1u);
}

TEST_F(ExportTest, TwoFilmsWithOneServerName) {
  Interval("ch", 0, {"ab", "AB"});
  Op.Answers = {TMsgAnswer::No};
  EXPECT_EQ(Export(), "Error in the file name \"AB.m2t\"");
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_TRUE(Op.Messages[0].Question);
  EXPECT_EQ(Op.Messages[0].Text, "Two various films will receive identical names on the video server: " +
                                     Video + "/AB.m2t, " + Video + "/ab.m2t. Continue?");
  EXPECT_EQ(Op.Messages[0].Caption, "IO Error");
  Used = TUsedFilms{};
  Op.Answers = {TMsgAnswer::Yes};
  EXPECT_EQ(Export(), "");
}

TEST_F(ExportTest, FileNamesOutsideTheVideoFolderAreRefused) {
  for (const char* bad : {"..\\etc\\passwd", "serials\\..\\..\\x.m2t", "/etc/passwd", "\\x.m2t", "C:\\x.m2t"}) {
    AddFilm("bad", "00:10:00,000", false, bad, "Bad film");
    TSchedule sh(Db.get());
    sh.Name = "s";
    sh.AddInterval("ch", 0, 0, 1, Cut, false)->AddScheduleNote(SupRef.get(), "bad");
    Op.Messages.clear();
    Pls.reset();
    Cmdp.reset();
    EXPECT_EQ(MakeScheduleFiles(sh, *Db, F, Video, "x", Pls, Cmdp, Used, Value, Op),
              std::string("Error in the file name \"") + bad + "\"");
    ASSERT_EQ(Op.Messages.size(), 1u) << bad;
    EXPECT_FALSE(Op.Messages[0].Question);
    EXPECT_NE(Op.Messages[0].Text.find("Bad film"), std::string::npos);
  }
  EXPECT_TRUE(Used.InUse.empty());
}

TEST_F(ExportTest, UnchangedScheduleFileKeepsBytesAndTime) {
  Interval("ch", Hms(6), {"a"});
  ASSERT_EQ(Export(), "");
  std::string file = Dir() + "moskva-_novosti.json";
  // Same content in another layout: still unchanged.
  WriteFileBytes(file, Value.dump());
  auto old = fs::file_time_type::clock::now() - std::chrono::hours(5);
  fs::last_write_time(file, old);
  std::string bytes = ReadFileBytes(file);
  ASSERT_EQ(Export(), "");
  EXPECT_EQ(ReadFileBytes(file), bytes);
  EXPECT_EQ(fs::last_write_time(file), old);
  // A change rewrites it.
  Interval("ch", Hms(9), {"b"});
  ASSERT_EQ(Export(), "");
  EXPECT_NE(ReadFileBytes(file), bytes);
  EXPECT_NE(fs::last_write_time(file), old);
}

TEST_F(ExportTest, GroupsFile) {
  AddChannel("c2", 2, "Cmd");
  Col("Groups").SetRecordNo1("g1", {{"Name", "Hall"}, {"Table", {{Ref("Channels", "ch")}, {Ref("Channels", "he")}, {Ref("Channels", "c2")}}}});
  Col("Groups").SetRecordNo1("g2", {{"Name", "Бар"}, {"Table", TJson::array()}});
  TJson opts = {{"Name", "o"}, {"Table", {{Ref("Groups", "g1"), TJson()}, {Ref("Groups", "g2"), TJson()}}}};
  SupRef->Push(Col("SrvOptions"), "o", false);
  fs::create_directories(F);
  ASSERT_EQ(MakeGroupsFile(*SupRef, *Db, opts, "20151116T060000", 0, F, Op), "");
  ASSERT_EQ(MakeGroupsFile(*SupRef, *Db, opts, "20151116T060000", 1, F, Op), "");
  SupRef->Pop();
  std::string text = ReadFileBytes(F + "groups.json");
  EXPECT_NE(text.find("\\u0411"), std::string::npos);  // non-ASCII escaped
  EXPECT_EQ(TJson::parse(text), TJson::parse(R"({"Hall": {"channels": ["ch", "ch-cmd", "he", "c2"]},
                                                  "Бар": {"channels": []}})"));
  EXPECT_EQ(ReadFileBytes(F + "groups_20151116T060000.json"), text);
}

// Playlist times carry their milliseconds in three digits, so a reader taking the field as a
// decimal number of seconds and one taking the digits after the point as milliseconds agree.
TEST(PlaylistSecondsField, MillisecondsInThreeDigits) {
  struct Case {
    TDateTime Value;
    bool WithDays;
    const char* Text;
  };
  for (const Case& c : {Case{Hms(0, 0, 5, 11), false, "5.011"}, Case{InvalidFilmDuration, false, "0.005"},
                        Case{Hms(1, 30), false, "5400.000"}, Case{Hms(0, 0, 1, 100), false, "1.100"},
                        Case{Hms(0, 1, 30, 500), true, "90.500"}, Case{1 + Hms(0, 0, 5, 11), true, "86405.011"},
                        Case{Hms(0, 0, 0, 999), false, "0.999"}}) {
    EXPECT_EQ(PlaylistSecondsField(c.Value, c.WithDays), c.Text) << c.Text;
    // Read back as a decimal number of seconds it is the same time, to the millisecond.
    double secs = std::stod(c.Text);
    EXPECT_NEAR(secs, (c.WithDays ? c.Value : c.Value - DayCount(c.Value)) * 86400, 0.0011) << c.Text;
  }
}
