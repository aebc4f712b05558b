// The demo portal, generated into a package folder, parsed page by page with a real HTML
// checker (Debian's tidy). A page placed into the system template is checked the way the
// server shows it: put into the block of the system template page.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "portal/DoWeb.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string DemoDir = std::string(PELMORA_TESTDATA_DIR) + "/../../examples/demo";

int RunShell(const std::string& cmd) {
  int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every demo film, named as the package export names its detail page.
struct TDemoFilms : IPortalFilms {
  std::vector<TPortalMovie> List;
  std::vector<TPortalMovie>& Movies() override { return List; }
  std::string RegisterFilm(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
};

struct TTidyResult {
  int Code;
  std::string Report;
};

// Report lines that point at markup a browser would read wrongly. The image form
// "<img src='...'></img>" of image tags gives two harmless warnings, which are allowed.
std::vector<std::string> BrokenMarkup(const std::string& report) {
  std::vector<std::string> bad;
  size_t pos = 0;
  while (pos < report.size()) {
    size_t end = report.find('\n', pos);
    if (end == std::string::npos) end = report.size();
    std::string line = report.substr(pos, end - pos);
    pos = end + 1;
    bool warning = line.find("Warning:") != std::string::npos;
    bool error = line.find("Error:") != std::string::npos;
    if (!warning && !error) continue;
    if (warning && (line.find("discarding unexpected </img>") != std::string::npos ||
                    line.find("lacks \"alt\" attribute") != std::string::npos))
      continue;
    bad.push_back(line);
  }
  return bad;
}

TTidyResult Tidy(const std::string& file, const std::string& reportFile) {
  int code = RunShell("tidy -q -e -utf8 '" + file + "' >/dev/null 2>'" + reportFile + "'");
  return {code, ReadFileBytes(reportFile)};
}

// Checks every page below Dir with tidy; a page placed into the system template is checked as
// the server shows it, inside the block of the system template page Dfs. Returns the count.
int CheckPages(const fs::path& dir, const std::string& dfs, TTempDir& tmp) {
  const std::string block = "{% block container %}{% end %}";
  const std::string extends = "{% extends \"dfs.html\" %}{% block container %}";
  int checked = 0;
  for (auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.path().extension() != ".html") continue;
    std::string text = ReadFileBytes(e.path().string());
    std::string file = e.path().string();
    if (text.rfind(extends, 0) == 0) {
      EXPECT_EQ(text.substr(text.size() - 9), "{% end %}") << file;
      std::string whole = dfs;
      whole.replace(whole.find(block), block.size(),
                    text.substr(extends.size(), text.size() - extends.size() - 9));
      file = tmp.File("composed.html");
      WriteFileBytes(file, whole);
    }
    TTidyResult r = Tidy(file, tmp.File("tidy.txt"));
    EXPECT_LT(r.Code, 2) << e.path() << ":\n" << r.Report;
    EXPECT_TRUE(BrokenMarkup(r.Report).empty()) << e.path() << ":\n" << r.Report;
    if (getenv("PORTAL_TIDY_VERBOSE")) std::cerr << e.path().filename() << ": " << r.Report;
    ++checked;
  }
  return checked;
}

}  // namespace

TEST(PortalHtml, TheCheckerFindsBrokenMarkup) {
  TTempDir tmp;
  WriteFileBytes(tmp.File("bad.html"),
                 "<!DOCTYPE html><html><head><title>x</title></head><body><a href=\"x\"<b>t"
                 "</body></html>");
  TTidyResult r = Tidy(tmp.File("bad.html"), tmp.File("tidy.txt"));
  EXPECT_FALSE(BrokenMarkup(r.Report).empty()) << r.Report;
}

TEST(PortalHtml, EveryDemoPageParses) {
  ASSERT_EQ(RunShell("tidy -v >/dev/null 2>&1"), 0) << "tidy is missing: run scripts/install-deps";
  TTempDir tmp;
  fs::copy(DemoDir + "/HTML", tmp.File("HTML"), fs::copy_options::recursive);
  std::string project = tmp.File("demo.pq2pr");
  std::string cli = PELMORA_CLI_PATH;
  ASSERT_EQ(RunShell("'" + cli + "' new '" + project + "' >/dev/null"), 0);
  for (const char* f : {"records.json", "portal-records.json"})
    ASSERT_EQ(RunShell("'" + cli + "' --project '" + project + "' import '" + DemoDir + "/" + f +
                       "' >/dev/null"),
              0)
        << f;

  TFakeOperator op;
  std::unique_ptr<TDbFile> db = CreateMainDatabase(&op);
  db->SetFileName(project);
  ASSERT_TRUE(db->Load());
  TDataModuleDoWeb gen(*db);

  TDemoFilms films;
  TJson movies = TJson::array();
  for (const char* id : {"64f0c1a0a1b2c3000a000001", "64f0c1a0a1b2c3000a000002",
                         "64f0c1a0a1b2c3000a000003"}) {
    auto rec = db->CollectionByName("Films").GetRecord(id);
    ASSERT_TRUE(rec);
    std::string name = (*rec)["FileName"].get<std::string>();
    for (char& c : name)
      if (c == '\\') c = '_';
    films.List.push_back({id, name.substr(0, name.rfind('.')), ""});
    movies.push_back(TJson::array({"00:00 02:00", id}));
  }
  TJson summary = TJson::object({{"64f0c1a0a1b2c3000b000001", movies}});
  auto srvopt = db->CollectionByName("SrvOptions").GetRecord("64f0c1a0a1b2c30012000001");
  ASSERT_TRUE(srvopt);

  TSuperReference sr(&op);
  sr.Push(db->CollectionByName("SrvOptions"), "64f0c1a0a1b2c30012000001", false);
  std::string err;
  std::string root = gen.MakePortals(sr, &*srvopt, tmp.File("pkg"), "20260101T060000", err, &op,
                                     &films, nullptr, &summary);
  sr.Pop();
  ASSERT_EQ(err, "");
  ASSERT_EQ(root, "/inbox/portal/20260101T060000");
  fs::path portal = tmp.File("pkg/portal/20260101T060000/Lobby boxes");

  // PORTAL_DEMO_OUT=folder keeps a copy of the generated portal (to look at it in a browser).
  if (const char* keep = getenv("PORTAL_DEMO_OUT"))
    fs::copy(portal, keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing);

  // The pages the demo promises.
  for (const char* page : {"index.html", "dfs.html", "about_0.html", "v_schedule.html",
                           "ch_schedule_demo_movies.html", "md_nature_mountain_morning.html",
                           "md_city_night_city.html", "portal.css", "logo.png"})
    EXPECT_TRUE(fs::is_regular_file(portal / page)) << page;

  std::string dfs = ReadFileBytes((portal / "dfs.html").string());
  const std::string block = "{% block container %}{% end %}";
  ASSERT_NE(dfs.find(block), std::string::npos);

  int checked = CheckPages(portal, dfs, tmp);
  EXPECT_GE(checked, 7);

  // The start page holds the menu and links the pages that were generated.
  std::string index = ReadFileBytes((portal / "index.html").string());
  EXPECT_NE(index.find("<li><a href='about_0.html'>About</a></li>"), std::string::npos);
  EXPECT_NE(index.find("<img src='logo.png'></img>"), std::string::npos);
  std::string tv = ReadFileBytes((portal / "v_schedule.html").string());
  EXPECT_NE(tv.find("href=\"ch_schedule_demo_movies.html\""), std::string::npos) << tv;

  // The default page of portal-less packages parses too.
  TTidyResult def = Tidy(DefaultTemplatesDir() + "/index.html", tmp.File("tidy.txt"));
  if (!fs::exists(DefaultTemplatesDir()))
    def = Tidy(fs::path(PELMORA_CLI_PATH).parent_path().string() + "/default_templates/index.html",
               tmp.File("tidy.txt"));
  EXPECT_EQ(def.Code, 0) << def.Report;
}

// The demo package as "Create files" writes it: every page of its portal parses, and the
// configuration names the portal root.
TEST(PortalHtml, TheDemoPackageHoldsABrowsablePortal) {
  ASSERT_EQ(RunShell("tidy -v >/dev/null 2>&1"), 0) << "tidy is missing: run scripts/install-deps";
  TTempDir tmp;
  fs::copy(DemoDir + "/HTML", tmp.File("HTML"), fs::copy_options::recursive);
  for (const char* f : {"video/city/city_lights.m2t", "video/city/night_city.m2t",
                        "video/nature/mountain_morning.m2t"}) {
    fs::create_directories(fs::path(tmp.File(f)).parent_path());
    WriteFileBytes(tmp.File(f), "ts");
  }
  std::string project = tmp.File("demo.pq2pr");
  std::string cli = "'" + std::string(PELMORA_CLI_PATH) + "' --project '" + project + "' ";
  ASSERT_EQ(RunShell("'" + std::string(PELMORA_CLI_PATH) + "' new '" + project + "' >/dev/null"), 0);
  for (const char* f : {"records.json", "portal-records.json"})
    ASSERT_EQ(RunShell(cli + "import '" + DemoDir + "/" + f + "' >/dev/null"), 0) << f;
  ASSERT_EQ(RunShell("cd '" + tmp.Path().string() + "' && " + cli +
                     "--yes build-package 'Playout 1' >build.out 2>build.err"),
            0)
      << ReadFileBytes(tmp.File("build.err"));
  std::string out = ReadFileBytes(tmp.File("build.out"));
  EXPECT_NE(out.find("Web portal was successfully created!"), std::string::npos) << out;

  fs::path package = tmp.File("servers/Playout 1");
  std::string config = ReadFileBytes((package / "config.json").string());
  EXPECT_NE(config.find("\"portal\": \"/inbox/portal/18991230T000000\""), std::string::npos)
      << config;
  fs::path portal = package / "portal" / "18991230T000000" / "Lobby boxes";
  for (const char* page : {"index.html", "dfs.html", "about_0.html", "v_schedule.html",
                           "md_nature_mountain_morning.html", "portal.css"})
    EXPECT_TRUE(fs::is_regular_file(portal / page)) << page;

  std::string dfs = ReadFileBytes((portal / "dfs.html").string());
  int checked = CheckPages(package / "portal", dfs, tmp);
  EXPECT_GE(checked, 6);
}

// A server whose first schedule row relays head-end channels only and whose second row plays
// the demo schedule to two STB groups: every group of the second row gets the TV schedule
// pages of that row, the head-end row gets none, and every page of the package parses.
TEST(PortalHtml, ATwoRowPackageGivesEveryGroupTheSchedulePagesOfItsRow) {
  ASSERT_EQ(RunShell("tidy -v >/dev/null 2>&1"), 0) << "tidy is missing: run scripts/install-deps";
  TTempDir tmp;
  fs::copy(DemoDir + "/HTML", tmp.File("HTML"), fs::copy_options::recursive);
  for (const char* f : {"video/city/city_lights.m2t", "video/city/night_city.m2t",
                        "video/nature/mountain_morning.m2t"}) {
    fs::create_directories(fs::path(tmp.File(f)).parent_path());
    WriteFileBytes(tmp.File(f), "ts");
  }
  const std::string portalRef = R"({"_ID": "64f0c1a0a1b2c30013000001", "_CL": "Portals"})";
  WriteFileBytes(tmp.File("two-rows.json"), R"({
    "Groups": {
      "64f0c1a0a1b2c3000d000002": {"Name": "Bar boxes", "Table": [
        [{"_ID": "64f0c1a0a1b2c3000b000001", "_CL": "Channels"}],
        [{"_ID": "64f0c1a0a1b2c3000b000002", "_CL": "Channels"}]]},
      "64f0c1a0a1b2c3000d000003": {"Name": "Head-end boxes", "Table": [
        [{"_ID": "64f0c1a0a1b2c3000b000002", "_CL": "Channels"}]]}},
    "SrvOptions": {
      "64f0c1a0a1b2c30012000001": {"Name": "Lobby options", "Table": [
        [{"_ID": "64f0c1a0a1b2c3000d000001", "_CL": "Groups"}, )" + portalRef + R"(],
        [{"_ID": "64f0c1a0a1b2c3000d000002", "_CL": "Groups"}, )" + portalRef + R"(]]},
      "64f0c1a0a1b2c30012000002": {"Name": "Head-end options", "Table": [
        [{"_ID": "64f0c1a0a1b2c3000d000003", "_CL": "Groups"}, )" + portalRef + R"(]]}},
    "Servers": {
      "64f0c1a0a1b2c3000e000001": {"Name": "Playout 1", "URL": "127.0.0.1", "VoDIP": "127.0.0.1",
        "SatelliteSys": false, "MakeEpg": false, "TSched": [
          [{"_ID": "", "_CL": ""}, "01.01.2026 00:00:00", "",
           {"_ID": "64f0c1a0a1b2c30012000002", "_CL": "SrvOptions"}],
          [{"_ID": "64f0c1a0a1b2c30011000001", "_CL": "Schedules"}, "01.01.2026 00:00:00",
           "02.01.2026 06:00:00", {"_ID": "64f0c1a0a1b2c30012000001", "_CL": "SrvOptions"}]]}}
  })");
  std::string project = tmp.File("demo.pq2pr");
  std::string cli = "'" + std::string(PELMORA_CLI_PATH) + "' --project '" + project + "' ";
  ASSERT_EQ(RunShell("'" + std::string(PELMORA_CLI_PATH) + "' new '" + project + "' >/dev/null"), 0);
  for (const char* f : {"records.json", "portal-records.json"})
    ASSERT_EQ(RunShell(cli + "import '" + DemoDir + "/" + f + "' >/dev/null"), 0) << f;
  ASSERT_EQ(RunShell(cli + "import '" + tmp.File("two-rows.json") + "' >/dev/null"), 0);
  ASSERT_EQ(RunShell("cd '" + tmp.Path().string() + "' && " + cli +
                     "--yes build-package 'Playout 1' >build.out 2>build.err"),
            0)
      << ReadFileBytes(tmp.File("build.err"));

  fs::path package = tmp.File("servers/Playout 1");
  TJson config = TJson::parse(ReadFileBytes((package / "config.json").string()));
  ASSERT_EQ(config.size(), 2u);
  EXPECT_EQ(config[0]["portal"], "/inbox/portal/18991230T000000");
  EXPECT_EQ(config[1]["portal"], "/inbox/portal/20260102T060000");
  for (const char* group : {"Lobby boxes", "Bar boxes"}) {
    fs::path dir = package / "portal" / "20260102T060000" / group;
    EXPECT_TRUE(fs::is_regular_file(dir / "ch_schedule_demo_movies.html")) << group;
    std::string tv = ReadFileBytes((dir / "v_schedule.html").string());
    EXPECT_NE(tv.find("href=\"ch_schedule_demo_movies.html\""), std::string::npos) << group << tv;
  }
  fs::path headEnd = package / "portal" / "18991230T000000" / "Head-end boxes";
  EXPECT_TRUE(fs::is_regular_file(headEnd / "index.html"));
  EXPECT_FALSE(fs::exists(headEnd / "ch_schedule_demo_movies.html"));

  std::string dfs = ReadFileBytes((headEnd / "dfs.html").string());
  EXPECT_GE(CheckPages(package / "portal", dfs, tmp), 18);
}
