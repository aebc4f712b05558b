// The portal generator: whole portals in real and check runs, page naming and order, system
// template wrapping, unchanged files, custom files, movie pages, schedule pages, MakePortals.
#include <gtest/gtest.h>

#include <filesystem>

#include "portal/PortalTestSupport.h"

namespace fs = std::filesystem;

namespace {

struct TFakeFilms : IPortalFilms {
  std::vector<TPortalMovie> List;
  std::vector<std::string> Registered;
  std::string Error;
  std::vector<TPortalMovie>& Movies() override { return List; }
  std::string RegisterFilm(const std::string& id, const std::string& fileName,
                           const std::string& videoRoot) override {
    Registered.push_back(id + "|" + fileName);
    return Error;
  }
};

struct PortalGeneratorTest : ::testing::Test, TPortalProject {
  std::string Run(const std::string& portal = "P", IPortalFilms* films = nullptr,
                  const TJson* custom = nullptr) {
    return Gen->MakeWebPortal(&Op, portal, films, custom, "ID", Out());
  }
  std::string ErrorOf(std::function<void()> fn) {
    try {
      fn();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(no error)";
  }
  std::vector<std::string> OutFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (auto& e : fs::recursive_directory_iterator(dir))
      names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // A start page "start" linking news page n1 twice and n2 once; n1 uses the default system
  // template through an empty reference.
  void NewsPortal() {
    Template("start.html", "<#ref_a>|<#ref_b>|<#ref_a value>");
    Template("News.html", "news <#text1>");
    Page("start", {{"Name", "Start"},
                   {"HTMLfile", "start.html"},
                   {"Refs", {{"ref_a", Ref("WebPages", "n1"), "One"},
                             {"ref_b", Ref("WebPages", "n2"), "Two"}}}});
    Page("n1", {{"Name", "N1"}, {"HTMLfile", "News.html"}, {"text", TJson::parse(R"([["text1", "first"]])")},
                {"SysTmpl", Ref("WebPages", "")}});
    Page("n2", {{"Name", "N2"}, {"HTMLfile", "News.html"}, {"text", TJson::parse(R"([["text1", "second"]])")}});
    Portal("P", "start");
  }
};

}  // namespace

TEST_F(PortalGeneratorTest, RealRunWritesEveryPageOnceInOrder) {
  NewsPortal();
  EXPECT_EQ(Run(), "");
  EXPECT_EQ(OutFiles(Out()),
            (std::vector<std::string>{"dfs.html", "index.html", "news_0.html", "news_1.html"}));
  EXPECT_EQ(Read("dfs.html"), "<html><body></body></html>\r\n");
  EXPECT_EQ(Read("index.html"),
            "<a href='news_0.html'>One</a>|<a href='news_1.html'>Two</a>|news_0.html\r\n");
  // An empty system template reference means the portal's default system template.
  EXPECT_EQ(Read("news_0.html"),
            "{% extends \"dfs.html\" %}{% block container %}news first\r\n{% end %}");
  EXPECT_EQ(Read("news_1.html"), "news second\r\n");
  EXPECT_EQ(Op.Statuses,
            (std::vector<std::string>{"Creating Web portal", "Creating page \"dfs\"",
                                      "Creating page \"index\"", "Creating page \"news_0\"",
                                      "Creating page \"news_1\"",
                                      "Web portal was successfully created!"}));
  EXPECT_TRUE(Gen->UsedPages.empty());
}

TEST_F(PortalGeneratorTest, SecondRunLeavesUnchangedPagesUntouched) {
  NewsPortal();
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(Gen->PagesWritten, 4);
  auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  for (const char* f : {"dfs.html", "index.html", "news_0.html", "news_1.html"})
    fs::last_write_time(OutFile(f), old);
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(Gen->PagesWritten, 0);
  EXPECT_EQ(Gen->PagesUnchanged, 4);
  for (const char* f : {"dfs.html", "index.html", "news_0.html", "news_1.html"})
    EXPECT_EQ(fs::last_write_time(OutFile(f)), old) << f;
  // A changed page is rewritten, the others stay.
  Db->CollectionByName("WebPages").UpdateRecord(
      "n2", {{"Name", "N2"}, {"HTMLfile", "News.html"}, {"text", TJson::parse(R"([["text1", "changed"]])")}});
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(Gen->PagesWritten, 1);
  EXPECT_EQ(Read("news_1.html"), "news changed\r\n");
  EXPECT_EQ(fs::last_write_time(OutFile("index.html")), old);
}

TEST_F(PortalGeneratorTest, CustomFilesAreCopiedButGeneratedPagesWin) {
  NewsPortal();
  WriteFileBytes(Custom() + "/index.html", "custom start page");
  fs::create_directories(Custom() + "/img");
  WriteFileBytes(Custom() + "/img/logo.png", "PNG");
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(Read("index.html").substr(0, 9), "<a href='");
  EXPECT_EQ(Read("img/logo.png"), "PNG");
}

TEST_F(PortalGeneratorTest, CheckRunRendersEverythingAndWritesNothing) {
  NewsPortal();
  EXPECT_EQ(Gen->MakeWebPortal(&Op, "P", nullptr, nullptr, "", ""), "");
  EXPECT_FALSE(fs::exists(Out()));
  EXPECT_EQ(Op.Statuses.back(), "Web portal was successfully created!");
  EXPECT_EQ(Op.Statuses.size(), 6u);  // every page was rendered
  // A broken reference deep in the portal is found by the check.
  Db->CollectionByName("WebPages").UpdateRecord(
      "n2", {{"Name", "N2"}, {"HTMLfile", "News.html"}, {"Refs", {{"ref_x", Ref("WebPages", "gone"), "X"}}}});
  Template("News.html", "news <#ref_x>");
  EXPECT_EQ(ErrorOf([&] { Gen->MakeWebPortal(&Op, "P", nullptr, nullptr, "", ""); }),
            "Error in record: WebPages N2. Invalid reference.");
  EXPECT_FALSE(fs::exists(Out()));
}

TEST_F(PortalGeneratorTest, PortalRecordErrors) {
  Template("start.html", "x");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"}});
  Portal("P", "start");
  Db->CollectionByName("Portals").UpdateRecord(
      "P", {{"Name", "Portal P"}, {"StartPage", Ref("WebPages", "start")}, {"Folder", "..\\custom"}});
  EXPECT_EQ(ErrorOf([&] { Gen->MakeWebPortal(&Op, "P", nullptr, nullptr, "", ""); }),
            "Error in record: Portals Portal P. Invalid reference.");
  Db->CollectionByName("Portals").UpdateRecord(
      "P", {{"Name", "Portal P"}, {"StartPage", Ref("WebPages", "start")},
            {"SysTmpl", Ref("WebPages", "sys")}});
  EXPECT_EQ(ErrorOf([&] { Run(); }),
            "Error in record: Portals Portal P. Not defined portal's directory!");
  Db->CollectionByName("Portals").UpdateRecord(
      "P", {{"Name", "Portal P"}, {"StartPage", Ref("WebPages", "start")},
            {"SysTmpl", Ref("WebPages", "sys")}, {"Folder", "..\\nowhere"}});
  EXPECT_EQ(ErrorOf([&] { Run(); }), "Error in record: Portals Portal P. Directory not exists \"" +
                                         Tmp.File("nowhere") + "\"");
  Db->CollectionByName("Portals").UpdateRecord(
      "P", {{"Name", "Portal P"}, {"StartPage", Ref("WebPages", "start")},
            {"SysTmpl", Ref("WebPages", "start")}, {"Folder", "..\\custom"}});
  Db->CollectionByName("WebPages").UpdateRecord(
      "start", {{"Name", "Start"}, {"HTMLfile", "start.html"}, {"SysTmpl", Ref("WebPages", "")}});
  EXPECT_EQ(ErrorOf([&] { Run(); }),
            "Error in record: Portals Portal P. Invalid default system template file \"start.html\"");
  EXPECT_EQ(ErrorOf([&] { Run("nope"); }), "Error, invalid record!");
}

TEST_F(PortalGeneratorTest, TemplateFileErrorsNameThePage) {
  Page("start", {{"Name", "Start"}});
  Portal("P", "start");
  EXPECT_EQ(ErrorOf([&] { Run(); }), "Error in record: WebPages Start. HTML-template file is not set!");
  Db->CollectionByName("WebPages").UpdateRecord("start", {{"Name", "Start"}, {"HTMLfile", "no.html"}});
  EXPECT_EQ(ErrorOf([&] { Run(); }), "Error in record: WebPages Start. Not found HTML-template file \"" +
                                         Html() + "/no.html\".");
}

TEST_F(PortalGeneratorTest, IfpageWithAQuotedRefTag) {
  Template("nav.html", "[<#ifpage eq=\"<#ref_home>\" text=\"you are home\">]");
  TJson refs = {{"ref_home", Ref("WebPages", "home"), "Home"}};
  Page("start", {{"Name", "Start"}, {"HTMLfile", "nav.html"}, {"Refs", refs}});
  Page("home", {{"Name", "Home"}, {"HTMLfile", "Nav.html"}, {"Refs", refs}});
  Template("Nav.html", "[<#ifpage eq=\"<#ref_home>\" text=\"you are home\">]");
  Portal("P", "start");
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(Read("index.html"), "[]\r\n");
  EXPECT_EQ(Read("nav_0.html"), "[you are home]\r\n");
}

TEST_F(PortalGeneratorTest, SubPagesRenderInsideTheCallingPage) {
  Template("start.html", "<div><#ref_s subpage></div>");
  Template("part.html", "part <#text1><#ifpage eq=index text=!>");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"},
                 {"Refs", {{"ref_s", Ref("WebPages", "part"), ""}}}});
  Page("part", {{"Name", "Part"}, {"HTMLfile", "part.html"}, {"text", TJson::parse(R"([["text1", "one"]])")}});
  Portal("P", "start");
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(Read("index.html"), "<div>part one!\r\n</div>\r\n");
  EXPECT_FALSE(fs::exists(OutFile("part_0.html")));  // never written by itself

  // A page that contains itself is refused instead of recursing for ever.
  Db->CollectionByName("WebPages").UpdateRecord(
      "part", {{"Name", "Part"}, {"HTMLfile", "start.html"},
               {"Refs", {{"ref_s", Ref("WebPages", "part"), ""}}}});
  EXPECT_EQ(ErrorOf([&] { Run(); }), "Error in record: WebPages Part. Circular reference.");
}

TEST_F(PortalGeneratorTest, FilmLinks) {
  Template("start.html", "<#ref_f>");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"},
                 {"Refs", {{"ref_f", Ref("Films", "f1"), "Watch"}}}});
  Db->CollectionByName("Films").NewRecord("f1", {{"Name", "F"}, {"FileName", "VOD\\Фильм Один.m2t"}});
  Portal("P", "start");
  TFakeFilms films;
  ASSERT_EQ(Run("P", &films), "");
  EXPECT_EQ(Read("index.html"), "<a href='rtsp://10.1.2.3:554/fil_m_odin.m2t'>Watch</a>\r\n");
  EXPECT_EQ(films.Registered, std::vector<std::string>{"f1|VOD\\Фильм Один.m2t"});
  // A check run does not register films; the link has no target.
  EXPECT_EQ(Gen->MakeWebPortal(&Op, "P", &films, nullptr, "", ""), "");
  EXPECT_EQ(films.Registered.size(), 1u);
  // Registration errors stop the run with their text.
  films.Error = "File not found x. Continue?";
  EXPECT_EQ(ErrorOf([&] { Run("P", &films); }), "File not found x. Continue?");
  // Films must lie directly in the vod folder of the video root.
  Db->CollectionByName("Films").UpdateRecord("f1", {{"Name", "F"}, {"FileName", "vod\\a\\b.m2t"}});
  EXPECT_EQ(ErrorOf([&] { Run("P", &films); }),
            "Error in record: Films F. File \"" + Tmp.File("video") +
                "/vod/a/b.m2t\" must be located in a directory \"" + Tmp.File("video") + "/vod\"");
}

// Link targets are percent-encoded (an apostrophe would end the href='...' attribute); the
// captions stay as written, the files keep their names, and a page still recognises itself in
// an ifpage tag.
TEST_F(PortalGeneratorTest, LinkTargetsArePercentEncoded) {
  Template("start.html", "<#ref_f>|<#ref_p>|<#ref_f value>|<#ref_p value>");
  Template("Our news & views.html", "<#ifpage eq=\"<#ref_self>\" text=here>");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"},
                 {"Refs", {{"ref_f", Ref("Films", "f1"), "Ocean's Eleven"},
                           {"ref_p", Ref("WebPages", "news"), "News & views"}}}});
  Page("news", {{"Name", "News"}, {"HTMLfile", "Our news & views.html"},
                {"Refs", {{"ref_self", Ref("WebPages", "news"), ""}}}});
  Db->CollectionByName("Films").NewRecord("f1", {{"Name", "F"}, {"FileName", "vod\\Ocean's Eleven.m2t"}});
  Portal("P", "start");
  TFakeFilms films;
  ASSERT_EQ(Run("P", &films), "");
  EXPECT_EQ(Read("index.html"),
            "<a href='rtsp://10.1.2.3:554/ocean%27s_eleven.m2t'>Ocean's Eleven</a>|"
            "<a href='our%20news%20%26%20views_0.html'>News & views</a>|"
            "rtsp://10.1.2.3:554/ocean%27s_eleven.m2t|our%20news%20%26%20views_0.html\r\n");
  EXPECT_EQ(Read("our news & views_0.html"), "here\r\n");
}

TEST(PortalTexts, PercentEncodedPaths) {
  struct {
    std::string In, Out;
  } cases[] = {
      {"index_0.html", "index_0.html"},
      {"A-Z.a~b/c_d.m2t", "A-Z.a~b/c_d.m2t"},
      {"ocean's_eleven.m2t", "ocean%27s_eleven.m2t"},
      {"a b&c=d?e#f%g\"h<i>", "a%20b%26c%3Dd%3Fe%23f%25g%22h%3Ci%3E"},
      {"\xD0\x9F", "%D0%9F"},
  };
  for (const auto& c : cases) EXPECT_EQ(PercentEncodePath(c.In), c.Out) << c.In;
}

TEST_F(PortalGeneratorTest, MovieDetailPages) {
  Template("start.html", "start");
  Template("movie.html", "<#text_name>|<#text_descr>|<#text_styear>|<#text_cast>|<#text_genres>|<#text_dur>");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"}});
  Portal("P", "start", {{"MovieDTempl", "movie.html"}});
  Db->CollectionByName("Films").NewRecord(
      "f1", {{"Name", "Film One"}, {"Duration", "01:32:07,045"}, {"ShowInSchedule", true},
             {"Description", "D"}, {"StateYear", "RU 2001"}, {"Cast", "C"}, {"Genres", "G"}});
  Db->CollectionByName("Films").NewRecord(
      "f2", {{"Name", "Hidden"}, {"Duration", "00:10:00,000"}, {"ShowInSchedule", false}});
  TFakeFilms films;
  films.List = {{"f1", "vod_film_one", ""}, {"f2", "vod_hidden", ""}};
  ASSERT_EQ(Run("P", &films), "");
  EXPECT_EQ(OutFiles(Out()),
            (std::vector<std::string>{"dfs.html", "index.html", "md_vod_film_one.html"}));
  EXPECT_EQ(Read("md_vod_film_one.html"), "Film One|D|RU 2001|C|G|1 ч. 32 мин.\r\n");
  // Without a used-films list there are no movie pages.
  fs::remove_all(Out());
  ASSERT_EQ(Run("P", nullptr), "");
  EXPECT_FALSE(fs::exists(OutFile("md_vod_film_one.html")));
}

TEST_F(PortalGeneratorTest, PageNamesThatWouldLeaveThePortalFolderAreRefused) {
  Template("start.html", "start");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"}});
  Portal("P", "start");
  TJson custom = TJson::array({{{"PageName", "../../escape"}, {"HTMLfile", "start.html"}}});
  std::string err = ErrorOf([&] { Run("P", nullptr, &custom); });
  EXPECT_NE(err.find("Page name \"../../escape\""), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(Tmp.File("escape.html")));
}

// The schedule pages come from the summary of the schedule row being rendered, and every STB
// group row of the server options gets them, not only the group at the row's own index.
TEST_F(PortalGeneratorTest, SchedulePagesFromTheRowSummaryForEveryGroup) {
  Template("start.html", "start");
  Template("chsched.html", "<#text_channel><#table colname0=Time colname1=Film>");
  Template("tv.html", "<#ref_c id>|<#ref_c>|<#ref_other id>");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"}});
  Page("tv", {{"Name", "TV"}, {"HTMLfile", "tv.html"},
              {"Refs", {{"ref_c", Ref("Channels", "c1"), "News"},
                        {"ref_other", Ref("Channels", "c9"), "Other"}}}});
  Template("movie.html", "<#text_name>");
  Portal("P", "start", {{"SchTempl", Ref("WebPages", "tv")}, {"ChSchTempl", "chsched.html"},
                        {"MovieDTempl", "movie.html"}});
  Db->CollectionByName("Channels").NewRecord("c1", {{"Name", "Новости 24"}});
  Db->CollectionByName("Channels").NewRecord("c9", {{"Name", "Other"}});
  Db->CollectionByName("Films").NewRecord("f1", {{"Name", "Film One"}});
  Db->CollectionByName("Groups").NewRecord("g1", {{"Name", "Lobby"}});
  Db->CollectionByName("Groups").NewRecord("g2", {{"Name", "Bar"}});
  TFakeFilms films;
  films.List = {{"f1", "vod_film_one", ""}};
  TJson srvopt = {{"Name", "Opt"},
                  {"Table", {{Ref("Groups", "g1"), Ref("Portals", "P")},
                             {Ref("Groups", "g2"), Ref("Portals", "P")}}}};
  TJson summary = TJson::parse(R"({"c1": [["10:00 12:30", "f1"]]})");

  Gen->LUsedFilms = &films;
  TJson pages = Gen->BuildSchedulePages(srvopt, summary);
  Gen->LUsedFilms = nullptr;
  TJson expected = TJson::parse(R"({"P": [
    {"PageName": "ch_schedule_novosti_24", "HTMLfile": "chsched.html",
     "tables": [["table", {}, [["10:00 12:30", "<h3><a href=\"md_vod_film_one.html\">Film One</a></h3>"]]]],
     "text": [["text_channel", "Новости 24"]]},
    {"PageName": "v_schedule", "HTMLfile": "tv.html",
     "Refs": [["ref_c", {"_ID": "ch_schedule_novosti_24.html", "_CL": "Channels"}, "News"],
              ["ref_other", {"_ID": "c9", "_CL": "Channels"}, "Other"]]}]})");
  EXPECT_TRUE(JsonEqual(pages, expected)) << pages.dump(1);
  EXPECT_EQ(films.List[0].Name, "Film One");

  TSuperReference sr(&Op);
  sr.Push(Db->CollectionByName("SrvOptions"), "opt", false);
  std::string err;
  std::string root = Gen->MakePortals(sr, &srvopt, Tmp.File("pkg"), "20260101T060000", err, &Op,
                                      &films, nullptr, &summary);
  sr.Pop();
  EXPECT_EQ(root, "/inbox/portal/20260101T060000");
  EXPECT_EQ(err, "");
  for (const char* group : {"Lobby", "Bar"}) {
  SCOPED_TRACE(group);
  std::string dir = Tmp.File("pkg/portal/20260101T060000/") + group;
  EXPECT_EQ(ReadFileBytes(dir + "/v_schedule.html"),
            "ch_schedule_novosti_24.html|<a href='chn://ch_schedule_novosti_24.html'>News</a>|c9\r\n");
  EXPECT_EQ(ReadFileBytes(dir + "/ch_schedule_novosti_24.html"),
            "Новости 24<Table Width=\"100%\">\r\n"
            "<TR><TH class=\"title\">Time</TH><TH class=\"title\">Film</TH></TR>\r\n"
            "<TR><TD>10:00 12:30</TD><TD><h3><a href=\"md_vod_film_one.html\">Film One</a></h3></TD></TR>\r\n"
            "</Table>\r\n");
  }
  EXPECT_FALSE(fs::exists(Tmp.File("pkg/portal/default")));
}

TEST_F(PortalGeneratorTest, ServerOptionsWithoutPortalGetTheDefaultFolder) {
  fs::create_directories(Tmp.File("defaults"));
  WriteFileBytes(Tmp.File("defaults/index.html"), "<html>default</html>");
  WriteFileBytes(Tmp.File("defaults/common.css"), "body{}");
  Gen->DefaultTemplatesFolder = Tmp.File("defaults");
  Db->CollectionByName("Groups").NewRecord("g1", {{"Name", "Lobby"}});
  TJson srvopt = {{"Table", {{Ref("Groups", "g1"), Ref("", "")}}}};
  // An existing file of the default folder is kept.
  fs::create_directories(Tmp.File("pkg/portal/default"));
  WriteFileBytes(Tmp.File("pkg/portal/default/common.css"), "mine");
  TSuperReference sr(&Op);
  sr.Push(Db->CollectionByName("SrvOptions"), "opt", false);
  std::string err = "old";
  EXPECT_EQ(Gen->MakePortals(sr, &srvopt, Tmp.File("pkg"), "20260101T060000", err, &Op, nullptr,
                             nullptr, nullptr),
            "");
  sr.Pop();
  EXPECT_EQ(err, "");
  EXPECT_EQ(OutFiles(Tmp.File("pkg")),
            (std::vector<std::string>{"portal", "portal/default", "portal/default/common.css",
                                      "portal/default/index.html"}));
  EXPECT_EQ(ReadFileBytes(Tmp.File("pkg/portal/default/index.html")), "<html>default</html>");
  EXPECT_EQ(ReadFileBytes(Tmp.File("pkg/portal/default/common.css")), "mine");

  // A missing default file is an error box and an error.
  fs::remove_all(Tmp.File("pkg"));
  fs::remove(Tmp.File("defaults/common.css"));
  sr.Push(Db->CollectionByName("SrvOptions"), "opt", false);
  std::string text = "Failed to copy file \"" + Tmp.File("defaults") + "/common.css\" to file \"" +
                     Tmp.File("pkg") + "/portal/default/common.css\"";
  EXPECT_EQ(ErrorOf([&] { Gen->MakePortals(sr, &srvopt, Tmp.File("pkg"), "x", err, &Op, nullptr, nullptr, nullptr); }),
            text);
  sr.ClrErrors();
  EXPECT_EQ(Op.Messages.back().Caption, "Error");
  EXPECT_EQ(Op.Messages.back().Text, text);
}

TEST_F(PortalGeneratorTest, GroupNamesThatWouldLeaveThePackageAreRefused) {
  Template("start.html", "start");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"}});
  Portal("P", "start");
  Db->CollectionByName("Groups").NewRecord("g1", {{"Name", ".."}});
  TJson srvopt = {{"Table", {{Ref("Groups", "g1"), Ref("Portals", "P")}}}};
  TSuperReference sr(&Op);
  sr.Push(Db->CollectionByName("SrvOptions"), "opt", false);
  std::string err;
  std::string what = ErrorOf([&] {
    Gen->MakePortals(sr, &srvopt, Tmp.File("pkg"), "20260101T060000", err, &Op, nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(what.rfind("Error in record: Groups ... STB group name \"..\"", 0), 0u) << what;
  EXPECT_FALSE(fs::exists(Tmp.File("pkg/portal/20260101T060000/index.html")));
  // A server options record is required.
  EXPECT_EQ(ErrorOf([&] {
              sr.Push(Db->CollectionByName("SrvOptions"), "opt", false);
              Gen->MakePortals(sr, nullptr, Tmp.File("pkg"), "x", err, &Op, nullptr, nullptr, nullptr);
            }),
            "Error in record: SrvOptions . Servers options is not set!");
}

namespace {

// A portal with a TV schedule page that links every channel of the summary (ref_<channel id>)
// and a channel schedule template; the schedule row holds one film for each channel.
struct ScheduleNamesTest : PortalGeneratorTest {
  TFakeFilms Films;
  TJson Srvopt;
  TJson Summary = TJson::object();
  void Make(const std::vector<std::pair<std::string, std::string>>& channels,
            TJson portalExtra = TJson::object()) {
    Template("start.html", "start");
    Template("chsched.html", "<#text_channel>|<#table colname0=Time colname1=Film>");
    Template("movie.html", "<#text_name>|<#text_descr>");
    std::string tv;
    TJson refs = TJson::array();
    for (auto& [id, name] : channels) {
      Db->CollectionByName("Channels").NewRecord(id, {{"Name", name}});
      refs.push_back({"ref_" + id, Ref("Channels", id), "x"});
      tv += "<#ref_" + id + " id>|";
      Summary[id] = TJson::array({TJson::array({"10:00", "f1"})});
    }
    Template("tv.html", tv);
    Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"}});
    Page("tv", {{"Name", "TV"}, {"HTMLfile", "tv.html"}, {"Refs", refs}});
    TJson extra = {{"SchTempl", Ref("WebPages", "tv")}, {"ChSchTempl", "chsched.html"},
                   {"MovieDTempl", "movie.html"}};
    for (auto it = portalExtra.begin(); it != portalExtra.end(); ++it) extra[it.key()] = it.value();
    Portal("P", "start", extra);
    Db->CollectionByName("Films").NewRecord("f1", {{"Name", "Film"}, {"ShowInSchedule", true}});
    Db->CollectionByName("Groups").NewRecord("g1", {{"Name", "Lobby"}});
    Films.List = {{"f1", "vod_film", ""}};
    Srvopt = {{"Name", "Opt"}, {"Table", {{Ref("Groups", "g1"), Ref("Portals", "P")}}}};
  }
  std::string Build() {
    TSuperReference sr(&Op);
    sr.Push(Db->CollectionByName("SrvOptions"), "opt", false);
    TTrackerGuardForTest guard{sr};
    std::string err;
    Gen->MakePortals(sr, &Srvopt, Tmp.File("pkg"), "20260101T060000", err, &Op, &Films, nullptr,
                     &Summary);
    return err;
  }
  struct TTrackerGuardForTest {
    TSuperReference& sr;
    ~TTrackerGuardForTest() { sr.ClrErrors(); }
  };
  std::string Dir() { return Tmp.File("pkg/portal/20260101T060000/Lobby"); }
};

}  // namespace

// Every channel gets a page of its own, whatever its name: names that fold into one file name
// (letter case, transliteration, ":" and "-", path separators) are told apart by a number in
// the order of the channel identifiers; a channel whose name collides with nothing keeps the
// plain name, so boxes and servers that bookmarked it still find it.
TEST_F(ScheduleNamesTest, EveryChannelHasItsOwnPage) {
  struct TCase {
    const char* id;
    const char* name;
    const char* page;
  };
  const std::vector<TCase> cases = {
      {"c1", "Demo Movies", "ch_schedule_demo_movies"},
      {"c2", "DEMO MOVIES", "ch_schedule_demo_movies_3"},  // "_2" belongs to c9
      {"c3", "Новости", "ch_schedule_novosti"},
      {"c4", "Novosti", "ch_schedule_novosti_2"},
      {"c5", "A: B", "ch_schedule_a-_b"},
      {"c6", "A- B", "ch_schedule_a-_b_2"},
      {"c7", "News/Sport", "ch_schedule_news-sport"},
      {"c8", "Back\\Slash", "ch_schedule_back-slash"},
      {"c9", "Demo Movies 2", "ch_schedule_demo_movies_2"},
      {"d0", "Other", "ch_schedule_other"},
  };
  std::vector<std::pair<std::string, std::string>> channels;
  for (const TCase& c : cases) channels.push_back({c.id, c.name});
  Make(channels);
  ASSERT_EQ(Build(), "");
  std::string tv;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.id);
    tv += std::string(c.page) + ".html|";
    EXPECT_EQ(ReadFileBytes(Dir() + "/" + c.page + ".html").substr(0, strlen(c.name) + 1),
              std::string(c.name) + "|");
  }
  EXPECT_EQ(ReadFileBytes(Dir() + "/v_schedule.html"), tv + "\r\n");
  // The same names on the next build.
  fs::remove_all(Tmp.File("pkg"));
  ASSERT_EQ(Build(), "");
  for (const TCase& c : cases) EXPECT_TRUE(fs::exists(Dir() + "/" + c.page + ".html")) << c.id;
}

// A name that no mapping makes a file name (too long for the file system) is an error about the
// channel, not about the portal.
TEST_F(ScheduleNamesTest, ChannelNameThatCannotBeAFileNameNamesTheChannel) {
  std::string name(300, 'x');
  Make({{"c1", name}});
  std::string err = ErrorOf([&] { Build(); });
  EXPECT_EQ(err.rfind("Error in record: Channels " + name + ". Page name \"ch_schedule_", 0), 0u)
      << err;
}

// A template the portal names but that is not there (here: the letter case differs) stops
// both the check and "Create files", naming the portal and the file; nothing links to pages
// that are not written.
TEST_F(ScheduleNamesTest, MissingTemplatesNameThePortalAndTheFile) {
  struct TCase {
    const char* key;
    const char* value;
  };
  for (const TCase& c : {TCase{"MovieDTempl", "Movie.html"}, TCase{"ChSchTempl", "ChSched.html"}}) {
    SCOPED_TRACE(c.key);
    Db->New();
    Db->SetFileName(Tmp.File("proj.pq2pr"));
    Db->CollectionByName("Options").NewRecord(
        "Options", {{"WinVideoDir", "..\\video"}, {"HTMLDir", "..\\HTML"}, {"StreamServer", "1:1"}});
    Summary = TJson::object();
    Make({{"c1", "One"}}, {{c.key, c.value}});
    std::string expected = "Error in record: Portals Portal P. Not found HTML-template file \"" +
                           Html() + "/" + c.value + "\".";
    EXPECT_EQ(ErrorOf([&] { Build(); }), expected);
    EXPECT_EQ(ErrorOf([&] { Gen->MakeWebPortal(&Op, "P", nullptr, nullptr, "", ""); }), expected);
  }
  // The TV schedule page's template is checked as well, against its own record.
  Db->CollectionByName("WebPages").UpdateRecord("tv", {{"Name", "TV"}, {"HTMLfile", "TV.html"}});
  Db->CollectionByName("Portals").UpdateRecord(
      "P", {{"Name", "Portal P"}, {"StartPage", Ref("WebPages", "start")},
            {"SysTmpl", Ref("WebPages", "sys")}, {"Folder", "..\\custom"},
            {"SchTempl", Ref("WebPages", "tv")}, {"ChSchTempl", "chsched.html"}});
  EXPECT_EQ(ErrorOf([&] { Gen->MakeWebPortal(&Op, "P", nullptr, nullptr, "", ""); }),
            "Error in record: WebPages TV. Not found HTML-template file \"" + Html() + "/TV.html\".");
  // Without a movie template no movie pages are written, and the schedule does not link them.
  Template("TV.html", "tv");
  ASSERT_EQ(Build(), "");
  EXPECT_EQ(ReadFileBytes(Dir() + "/ch_schedule_one.html"),
            "One|<Table Width=\"100%\">\r\n"
            "<TR><TH class=\"title\">Time</TH><TH class=\"title\">Film</TH></TR>\r\n"
            "<TR><TD>10:00</TD><TD><h3>Film</h3></TD></TR>\r\n"
            "</Table>\r\n");
}

// Names and descriptions from the catalogue are text, not markup; what the operator wrote as
// HTML (web page texts, templates) stays as written; image sources are percent-encoded like
// link targets.
TEST_F(ScheduleNamesTest, CatalogueTextsAreEscapedAuthoredHtmlIsNot) {
  Make({{"c1", "Love <3 & \"Co\""}});
  Db->CollectionByName("Films").UpdateRecord(
      "f1", {{"Name", "Ocean's <Eleven> & \"Co\""}, {"Description", "a < b & c"},
             {"ShowInSchedule", true}});
  Template("start.html", "<#text1>|<#image1>|<#image1 value>");
  Db->CollectionByName("WebPages").UpdateRecord(
      "start", {{"Name", "Start"}, {"HTMLfile", "start.html"},
                {"text", TJson::parse(R"([["text1", "<b>bold</b> &amp;"]])")},
                {"Imgs", TJson::parse(R"([["image1", "img/my pic's.png", ""]])")}});
  ASSERT_EQ(Build(), "");
  EXPECT_EQ(ReadFileBytes(Dir() + "/index.html"),
            "<b>bold</b> &amp;|<img src='img/my%20pic%27s.png'></img>|img/my%20pic%27s.png\r\n");
  EXPECT_EQ(ReadFileBytes(Dir() + "/md_vod_film.html"),
            "Ocean&#39;s &lt;Eleven&gt; &amp; &quot;Co&quot;|a &lt; b &amp; c\r\n");
  std::string page = ReadFileBytes(Dir() + "/ch_schedule_love_<3_&_\"co\".html");
  EXPECT_EQ(page.substr(0, page.find("<Table")), "Love &lt;3 &amp; &quot;Co&quot;|");
  EXPECT_NE(page.find("<h3><a href=\"md_vod_film.html\">Ocean&#39;s &lt;Eleven&gt; &amp; "
                      "&quot;Co&quot;</a></h3>"),
            std::string::npos)
      << page;
}

// Two pages under one name (letter case aside: the servers' shares may not tell them apart)
// would leave only the second: the run stops instead.
TEST_F(PortalGeneratorTest, TwoPagesUnderOneNameAreRefused) {
  Template("start.html", "start");
  Page("start", {{"Name", "Start"}, {"HTMLfile", "start.html"}});
  Portal("P", "start");
  TJson custom = TJson::array({{{"PageName", "Same"}, {"HTMLfile", "start.html"}},
                               {{"PageName", "same"}, {"HTMLfile", "start.html"}}});
  std::string err = ErrorOf([&] { Run("P", nullptr, &custom); });
  EXPECT_NE(err.find("Page name \"same\" is given to two pages of the portal"), std::string::npos)
      << err;
  EXPECT_FALSE(fs::exists(OutFile("same.html")));
}
