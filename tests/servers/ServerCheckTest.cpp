#include <filesystem>
#include <functional>

#include "schedule/Epg.h"
#include "schedule/ScheduleFixture.h"
#include "portal/PortalMakerDoWeb.h"
#include "servers/CreateFiles.h"
#include "servers/ServerCheck.h"
#include "servers/ServerPlan.h"

namespace fs = std::filesystem;

namespace {

// A project whose one server plays a film channel and a command channel without a fault: every
// hour the one-hour film "a", and a command ten seconds into every hour.
struct ServerCheckTest : ScheduleDbTest {
  TTempDir Tmp;
  ServerCheckTest() {
    Db->SetFileName(Tmp.File("check.pq2pr"));
    Db->Save();
    fs::create_directories(Tmp.Path() / "video");
    for (const char* f : {"a.m2t", "b.m2t", "k1.m2t", "k2.m2t"}) WriteFileBytes(Tmp.File(std::string("video/") + f), "x");
    AddFilm("a", "01:00:00,000", false, "a.m2t", "Film A");
    AddFilm("b", "00:30:00,000", false, "b.m2t", "Film B");
    AddFilm("k1", "00:40:00,000", true, "k1.m2t", "Part 1");
    AddFilm("k2", "00:40:00,000", false, "k2.m2t", "Part 2");
    AddChannel("ch", 0, "Movies");
    AddChannel("cmd", 2, "Lights");
    Col("ChSched").SetRecordNo1("cs1", ChSched("ch", "0 01:00:00", false, {Row("0 00:00:00", 0, FilmRef("a"))}));
    Col("ChSched").SetRecordNo1("cs2", ChSched("cmd", "0 01:00:00", false, {Row("0 00:00:10", 0, TJson(), Cmds(1))}));
    Col("Schedules").SetRecordNo1("s1", {{"Name", "Week"}, {"Table", {{Ref("ChSched", "cs1")}, {Ref("ChSched", "cs2")}}}});
    Col("Groups").SetRecordNo1("g1", {{"Name", "Hall"}, {"Table", {{Ref("Channels", "ch")}, {Ref("Channels", "cmd")}}}});
    Col("SrvOptions").SetRecordNo1("o1", {{"Name", "Hall options"}, {"Table", {{Ref("Groups", "g1"), TJson()}}}});
    Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")}});
  }
  static TJson Cmds(int n, double delay = 0) {
    TJson a = TJson::array();
    for (int i = 0; i < n; ++i) a.push_back({{"stbpower", {{"Method", "command"}, {"Value", "1"}, {"Delay", delay}}}});
    return a;
  }
  void Server(const TJson& tsched, bool makeEpg = false) {
    Col("Servers").SetRecordNo1("srv", {{"Name", "Srv1"}, {"URL", "127.0.0.1"}, {"MakeEpg", makeEpg}, {"TSched", tsched}});
  }
};

struct TFaultCase {
  std::string Name;
  std::function<void(ServerCheckTest&)> Make;
  TFindingLevel Level;
  std::string Kind, Collection, RecordID;
  int Row;
  bool CreateFilesFails;  // "Create files" stops on it too
};

std::string Today(int plusDays) { return DateTimeToStr(static_cast<double>(DayCount(Now())) + plusDays); }

const std::vector<TFaultCase>& Cases() {
  static const std::vector<TFaultCase> cases = {
      {"missing film file", [](ServerCheckTest& t) { fs::remove(t.Tmp.File("video/a.m2t")); },
       TFindingLevel::Error, "film", "Films", "a", 0, true},
      {"zero duration",
       [](ServerCheckTest& t) {
         t.AddFilm("z", "00:00:00,000", false, "a.m2t", "Zero");
         t.Col("ChSched").SetRecordNo1("cs1", t.ChSched("ch", "0 01:00:00", false,
                                                        {t.Row("0 00:00:00", 0, FilmRef("a")), t.Row("", 0, FilmRef("z"))}));
       },
       TFindingLevel::Error, "film", "Films", "z", 0, false},
      {"overrun of the next start",
       [](ServerCheckTest& t) {
         t.Col("ChSched").SetRecordNo1("cs1", t.ChSched("ch", "0 01:00:00", false,
                                                        {t.Row("0 00:00:00", 0, FilmRef("a")), t.Row("0 00:30:00", 0, FilmRef("b"))}));
       },
       TFindingLevel::Warning, "overrun", "ChSched", "cs1", 1, false},
      {"off-air gap",
       [](ServerCheckTest& t) {
         t.Col("ChSched").SetRecordNo1("cs1", t.ChSched("ch", "0 01:00:05", false, {t.Row("0 00:00:00", 0, FilmRef("a"))}));
       },
       TFindingLevel::Warning, "gap", "ChSched", "cs1", 1, false},
      {"keep-with-next chain broken",
       [](ServerCheckTest& t) {
         t.Col("ChSched").SetRecordNo1("cs1", t.ChSched("ch", "0 01:00:00", false,
                                                        {t.Row("0 00:00:00", 1, FilmRef("k1")), t.Row("", 1, FilmRef("k2"))}));
       },
       TFindingLevel::Warning, "keep-with-next", "ChSched", "cs1", 2, false},
      {"keep-with-next chain running past the next start",
       [](ServerCheckTest& t) {
         t.Col("ChSched").SetRecordNo1("cs1", t.ChSched("ch", "0 01:00:00", false,
                                                        {t.Row("0 00:00:00", 1, FilmRef("k1")), t.Row("0 00:30:00", 0, FilmRef("b"))}));
       },
       TFindingLevel::Error, "build", "ChSched", "cs1", 2, true},
      {"two commands at one time on one target",
       [](ServerCheckTest& t) {
         t.Col("ChSched").SetRecordNo1("cs2", t.ChSched("cmd", "0 01:00:00", false, {t.Row("0 00:00:10", 0, TJson(), ServerCheckTest::Cmds(2))}));
       },
       TFindingLevel::Warning, "command", "ChSched", "cs2", 1, false},
      {"command after its interval",
       [](ServerCheckTest& t) {
         t.Col("ChSched").SetRecordNo1("cs1", t.ChSched("ch", "0 01:00:00", false,
                                                        {t.Row("0 00:00:00", 0, FilmRef("b")),
                                                         t.Row("0 00:30:00", 0, FilmRef("b"), ServerCheckTest::Cmds(1, 3000))}));
       },
       TFindingLevel::Error, "command", "ChSched", "cs1", 2, false},
      {"row without content",
       [](ServerCheckTest& t) {
         t.Col("ChSched").SetRecordNo1("cs1", t.ChSched("ch", "0 01:00:00", false,
                                                        {t.Row("0 00:00:00", 0, FilmRef("b")), t.Row("", 0, TJson())}));
       },
       TFindingLevel::Error, "build", "ChSched", "cs1", 2, true},
      {"first row starts in the future",
       [](ServerCheckTest& t) {
         t.Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", Today(400), Ref("SrvOptions", "o1")}});
       },
       TFindingLevel::Error, "build", "Servers", "srv", 1, true},
      {"channel in the guide but in no list",
       [](ServerCheckTest& t) {
         t.Col("Groups").SetRecordNo1("g1", {{"Name", "Hall"}, {"Table", {{Ref("Channels", "cmd")}}}});
         t.Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")}}, true);
       },
       TFindingLevel::Warning, "guide", "Channels", "ch", 0, false},
      {"portal page linking to no record",
       [](ServerCheckTest& t) {
         t.Col("Portals").SetRecordNo1("P", {{"Name", "Hall portal"}, {"StartPage", Ref("WebPages", "gone")}});
         t.Col("SrvOptions").SetRecordNo1("o1", {{"Name", "Hall options"}, {"Table", {{Ref("Groups", "g1"), Ref("Portals", "P")}}}});
       },
       TFindingLevel::Error, "portal", "Portals", "P", 0, true},
      {"channel listed without a guide",
       [](ServerCheckTest& t) {
         t.AddChannel("ch2", 0, "Later");
         t.Col("ChSched").SetRecordNo1("cs3", t.ChSched("ch2", "0 01:00:00", false, {t.Row("0 00:00:00", 0, FilmRef("a"))}));
         t.Col("Schedules").SetRecordNo1("s2", {{"Name", "Later"}, {"Table", {{Ref("ChSched", "cs3")}}}});
         t.Col("Groups").SetRecordNo1("g2", {{"Name", "Annex"}, {"Table", {{Ref("Channels", "ch2")}}}});
         t.Col("SrvOptions").SetRecordNo1("o2", {{"Name", "Annex options"}, {"Table", {{Ref("Groups", "g2"), TJson()}}}});
         t.Server({{Ref("Schedules", "s1"), "01.01.2020 00:00:00", "", Ref("SrvOptions", "o1")},
                   {Ref("Schedules", "s2"), "01.01.2020 00:00:00", Today(30), Ref("SrvOptions", "o2")}},
                  true);
       },
       TFindingLevel::Warning, "guide", "Groups", "g2", 1, false},
  };
  return cases;
}

std::string Dump(const std::vector<TCheckFinding>& fs) {
  std::string s;
  for (const TCheckFinding& f : fs) s += FindingText(f) + "\n";
  return s;
}

}  // namespace

TEST_F(ServerCheckTest, CleanPlanHasNoFindings) {
  std::vector<TCheckFinding> fs = CheckAllServers(*Db);
  EXPECT_TRUE(fs.empty()) << Dump(fs);
  EXPECT_TRUE(CreateServerFiles(*Db, "srv", Op).Ok);
}

// One fault at a time: the check names it on the record to open, and where "Create files"
// stops, the check has an error with the very text "Create files" ends with (build errors) and
// "Create files" fails exactly when the check says error (the check being stricter only about
// what the package would still carry: films without a duration, commands after their interval).
TEST(ServerCheck, EachFaultIsFoundAndAgreesWithCreateFiles) {
  for (const TFaultCase& c : Cases()) {
    SCOPED_TRACE(c.Name);
    struct T : ServerCheckTest {
      void TestBody() override {}
    } t;
    c.Make(t);
    std::vector<TCheckFinding> fs = CheckServer(*t.Db, "srv");
    auto hit = std::find_if(fs.begin(), fs.end(), [&](const TCheckFinding& f) {
      return f.Level == c.Level && f.Kind == c.Kind && f.Collection == c.Collection &&
             f.RecordID == c.RecordID && f.Row == c.Row && f.Server == "Srv1";
    });
    EXPECT_NE(hit, fs.end()) << Dump(fs);
    EXPECT_EQ(HasErrors(fs), c.Level == TFindingLevel::Error) << Dump(fs);

    // Questions get the safe answer. The portals are rendered where a row names one (a package
    // without portals would take the default pages from beside the program, which the test
    // program has not).
    TPortalMakerDoWeb portal(*t.Db, &t.Op);
    TCreateFilesResult r = CreateServerFiles(*t.Db, "srv", t.Op, c.Kind == "portal" ? &portal : nullptr);
    EXPECT_EQ(r.Ok, !c.CreateFilesFails) << r.Status;
    if (!r.Ok) {
      EXPECT_TRUE(HasErrors(fs));
      if (c.Kind == "build" || c.Kind == "portal") {
        EXPECT_TRUE(std::any_of(fs.begin(), fs.end(), [&](const TCheckFinding& f) {
          return f.Level == TFindingLevel::Error &&
                 (f.Message == r.Status || f.Message.rfind(r.Status, 0) == 0);
        })) << r.Status << "\n" << Dump(fs);
      }
    }
  }
}

// The check writes nothing: no package folder appears.
TEST_F(ServerCheckTest, WritesNoFile) {
  CheckAllServers(*Db);
  EXPECT_FALSE(fs::exists(Tmp.File("servers")));
}

// A gap is told once a day with its length and how often it opens.
TEST_F(ServerCheckTest, GapsAreCountedPerDay) {
  Col("ChSched").SetRecordNo1("cs1", ChSched("ch", "0 01:00:05", false, {Row("0 00:00:00", 0, FilmRef("a"))}));
  TCheckOptions o;
  o.Days = 2;
  o.From = static_cast<double>(DayCount(Now()));
  std::vector<TCheckFinding> fs = CheckServer(*Db, "srv", o);
  size_t gaps = 0;
  for (const TCheckFinding& f : fs) {
    if (f.Kind != "gap") continue;
    ++gaps;
    EXPECT_EQ(f.Channel, "Movies");
    EXPECT_NE(f.Message.find("Off the air for 00:00:05"), std::string::npos) << f.Message;
    EXPECT_NE(f.Message.find("times this day"), std::string::npos) << f.Message;
  }
  EXPECT_GE(gaps, 2u) << Dump(fs);  // one line for each of the two days
  EXPECT_LE(gaps, 4u) << Dump(fs);
}

// The guide grid's blocks and the package come from one plan: the programmes of a channel are
// the films of its built intervals, each repetition at its moment, and know their row.
TEST_F(ServerCheckTest, PlanProgrammesKnowTheirChannelScheduleRow) {
  Col("ChSched").SetRecordNo1("cs1", ChSched("ch", "0 01:00:00", false,
                                             {Row("0 00:00:00", 0, FilmRef("b")), Row("", 0, FilmRef("b"))}));
  TSuperReference supRef(&Op);
  supRef.Push(Col("Servers"), "srv", false);
  TServerPlan plan = BuildServerPlan(supRef, *Db, "srv", *Col("Servers").GetRecord("srv"), Op);
  supRef.Pop();
  int64_t from = LocalToEpoch(static_cast<double>(DayCount(Now())));
  TEpgGuide g = BuildGuide(*Db, plan.EpgRows(), from, from + 3 * 3600);
  ASSERT_EQ(g.Programmes.size(), 6u);
  for (size_t i = 0; i < g.Programmes.size(); ++i) {
    EXPECT_EQ(g.Programmes[i].SourceID, "cs1");
    EXPECT_EQ(g.Programmes[i].SourceRow, i % 2);
    EXPECT_EQ(g.Programmes[i].Start, from + static_cast<int64_t>(i) * 1800);
  }
  std::vector<TPlanCommand> cmds = PlanCommands(plan.EpgRows(), from, from + 3 * 3600);
  ASSERT_EQ(cmds.size(), 3u);
  EXPECT_EQ(cmds[1].Time, from + 3600 + 10);
  EXPECT_EQ(cmds[1].ChannelID, "cmd");
  EXPECT_EQ(cmds[1].SourceID, "cs2");
}

// Gaps are measured before the guide rounds its times to the second: up to half a second is no
// gap (the channel schedule window marks none either), 0.88 s is one.
TEST_F(ServerCheckTest, GapsAreMeasuredToTheMillisecond) {
  const struct {
    const char* Duration;
    const char* Gap;  // "" for none
  } cases[] = {{"00:59:59,120", "00:00:00,880"}, {"00:59:59,700", ""}, {"00:59:59,500", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Duration);
    AddFilm("a", c.Duration, false, "a.m2t", "Film A");
    TCheckOptions o;
    o.Days = 1;
    std::vector<TCheckFinding> fs = CheckServer(*Db, "srv", o);
    std::vector<std::string> gaps;
    for (const TCheckFinding& f : fs)
      if (f.Kind == "gap") gaps.push_back(f.Message);
    if (*c.Gap == 0) {
      EXPECT_TRUE(gaps.empty()) << Dump(fs);
    } else {
      ASSERT_EQ(gaps.size(), 1u) << Dump(fs);
      EXPECT_EQ(gaps[0].rfind(std::string("Off the air for ") + c.Gap + " from ", 0), 0u) << gaps[0];
    }
  }
}
