// Portal generation over a 5,000-film catalogue (one movie page per film) and 50 channel
// schedule pages: pages per second for a first run into an empty folder and for an unchanged
// second run (which must write nothing), and the ratio to writing the same bytes with a plain
// file copy.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "portal/DoWeb.h"
#include "shell/Databases.h"

namespace fs = std::filesystem;

namespace {

constexpr int FilmCount = 5000;
constexpr int ChannelCount = 50;
constexpr int EntriesPerChannel = 40;

struct TBenchFilms : IPortalFilms {
  std::vector<TPortalMovie> List;
  std::vector<TPortalMovie>& Movies() override { return List; }
  std::string RegisterFilm(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
};

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

struct TFixture {
  fs::path Dir;
  std::unique_ptr<TDbFile> Db;
  std::unique_ptr<TDataModuleDoWeb> Gen;
  TBenchFilms Films;
  TJson SrvOpt;
  TJson Summary = TJson::object();  // of the one schedule row
  int Pages = 0;

  TFixture() {
    Dir = fs::temp_directory_path() / ("pelmora-portal-bench-" + std::to_string(getpid()));
    fs::remove_all(Dir);
    fs::create_directories(Dir / "HTML" / "files");
    Db = CreateMainDatabase();
    Db->New();
    Db->SetFileName((Dir / "bench.pq2pr").string());
    Db->CollectionByName("Options").SetRecordNo1(
        "Options", {{"HTMLDir", "..\\HTML"}, {"WinVideoDir", "..\\video"}});
    WriteText(Dir / "HTML" / "sys.html",
              "<!DOCTYPE html><html><head><title>Portal</title></head><body>\n"
              "<#SystemTemplate>{% block container %}{% end %}\n</body></html>\n");
    WriteText(Dir / "HTML" / "start.html",
              "<!DOCTYPE html><html><head><title><#text_title></title></head><body>\n"
              "<h1><#text_title></h1>\n<a href=\"v_schedule.html\">TV</a>\n</body></html>\n");
    std::string movie = "<!DOCTYPE html><html><head><title><#text_name></title></head><body>\n";
    for (int i = 0; i < 20; ++i)
      movie += "<div class=\"row\">A line of the movie page layout around the data.</div>\n";
    movie += "<h1><#text_name></h1><p><#text_styear> <#text_genres> <#text_dur></p>\n"
             "<p><#text_descr></p><p><#text_cast></p>\n</body></html>\n";
    WriteText(Dir / "HTML" / "movie.html", movie);
    WriteText(Dir / "HTML" / "chsched.html",
              "<!DOCTYPE html><html><head><title><#text_channel></title></head><body>\n"
              "<h1><#text_channel></h1>\n<#table colname0=Time colname1=Movie>\n</body></html>\n");
    WriteText(Dir / "HTML" / "tv.html",
              "<!DOCTYPE html><html><head><title>TV</title></head><body>\n"
              "<#ref_c0> <#ref_c1 id>\n</body></html>\n");
    WriteText(Dir / "HTML" / "files" / "portal.css", "body { color: #fff; }\n");

    auto& films = Db->CollectionByName("Films");
    for (int i = 0; i < FilmCount; ++i) {
      std::string id = "film" + std::to_string(i);
      films.SetRecordNo1(id, {{"Name", "Film number " + std::to_string(i)},
                              {"FileName", "vod\\film" + std::to_string(i) + ".m2t"},
                              {"Duration", "01:32:07,045"},
                              {"ShowInSchedule", true},
                              {"Description", std::string(400, 'd')},
                              {"StateYear", "2026"},
                              {"Cast", "Someone, Someone else"},
                              {"Genres", "Drama"}});
      Films.List.push_back({id, "vod_film" + std::to_string(i), ""});
    }
    auto& channels = Db->CollectionByName("Channels");
    TJson summary = TJson::object();
    for (int c = 0; c < ChannelCount; ++c) {
      std::string id = "chan" + std::to_string(c);
      channels.SetRecordNo1(id, {{"Name", "Channel " + std::to_string(c)}, {"Type", 0}});
      TJson entries = TJson::array();
      for (int e = 0; e < EntriesPerChannel; ++e)
        entries.push_back(TJson::array(
            {"10:00 14:00 18:00", "film" + std::to_string((c * EntriesPerChannel + e) % FilmCount)}));
      summary[id] = std::move(entries);
    }
    Summary = std::move(summary);
    auto ref = [](const std::string& cl, const std::string& id) {
      return TJson{{"_ID", id}, {"_CL", cl}};
    };
    auto& pages = Db->CollectionByName("WebPages");
    pages.SetRecordNo1("sys", {{"Name", "System"}, {"HTMLfile", "sys.html"}});
    pages.SetRecordNo1("start", {{"Name", "Start"}, {"HTMLfile", "start.html"},
                                 {"text", TJson::array({TJson::array({"text_title", "Welcome"})})}});
    pages.SetRecordNo1("tv", {{"Name", "TV"}, {"HTMLfile", "tv.html"}, {"SysTmpl", ref("WebPages", "")},
                              {"Refs", TJson::array({TJson::array({"ref_c0", ref("Channels", "chan0"), "C0"}),
                                                     TJson::array({"ref_c1", ref("Channels", "chan1"), "C1"})})}});
    Db->CollectionByName("Portals").SetRecordNo1(
        "portal", {{"Name", "Bench portal"}, {"StartPage", ref("WebPages", "start")},
                   {"SysTmpl", ref("WebPages", "sys")}, {"Folder", "..\\HTML\\files"},
                   {"SchTempl", ref("WebPages", "tv")}, {"ChSchTempl", "chsched.html"},
                   {"MovieDTempl", "movie.html"}});
    Db->CollectionByName("Groups").SetRecordNo1("group", {{"Name", "Lobby"}});
    SrvOpt = {{"Name", "Options"},
              {"Table", TJson::array({TJson::array({ref("Groups", "group"), ref("Portals", "portal")})})}};
    Gen = std::make_unique<TDataModuleDoWeb>(*Db);
  }
  ~TFixture() { fs::remove_all(Dir); }

  fs::path Package() const { return Dir / "pkg"; }
  fs::path PortalDir() const { return Package() / "portal" / "20260101T060000" / "Lobby"; }

  void Run() {
    TSuperReference sr;
    sr.Push(Db->CollectionByName("SrvOptions"), "opt", false);
    std::string err;
    Gen->MakePortals(sr, &SrvOpt, Package().string(), "20260101T060000", err, nullptr, &Films,
                     nullptr, &Summary);
    sr.Pop();
    if (!err.empty()) throw std::runtime_error(err);
    Pages = Gen->PagesWritten + Gen->PagesUnchanged;
  }
};

TFixture& Fx() {
  static TFixture fx;
  return fx;
}

double Seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// The portal's files written once more with plain file writes: the reference for the ratio.
double PlainCopySeconds() {
  std::vector<std::pair<std::string, std::string>> files;
  for (auto& e : fs::directory_iterator(Fx().PortalDir())) {
    std::ifstream in(e.path(), std::ios::binary);
    files.emplace_back(e.path().filename().string(),
                       std::string(std::istreambuf_iterator<char>(in), {}));
  }
  fs::path target = Fx().Dir / "copy";
  std::vector<double> times;
  for (int run = 0; run < 3; ++run) {
    fs::remove_all(target);
    auto a = std::chrono::steady_clock::now();
    fs::create_directories(target);
    for (auto& [name, bytes] : files) WriteText(target / name, bytes);
    times.push_back(Seconds(a));
  }
  fs::remove_all(target);
  std::sort(times.begin(), times.end());
  return times[1];
}

void BM_PortalFirstRun(benchmark::State& state) {
  double total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(Fx().Package());
    state.ResumeTiming();
    auto a = std::chrono::steady_clock::now();
    Fx().Run();
    total += Seconds(a);
  }
  double perRun = total / static_cast<double>(state.iterations());
  state.counters["pages"] = Fx().Pages;
  state.counters["pages_per_s"] = Fx().Pages / perRun;
  state.counters["ratio_to_plain_copy"] = perRun / PlainCopySeconds();
}

void BM_PortalUnchangedRun(benchmark::State& state) {
  fs::remove_all(Fx().Package());
  Fx().Run();
  double total = 0;
  for (auto _ : state) {
    auto a = std::chrono::steady_clock::now();
    Fx().Run();
    total += Seconds(a);
    if (Fx().Gen->PagesWritten != 0) {
      state.SkipWithError("an unchanged run wrote pages");
      break;
    }
  }
  double perRun = total / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters["pages"] = Fx().Pages;
  state.counters["pages_written"] = Fx().Gen->PagesWritten;
  state.counters["pages_per_s"] = Fx().Pages / perRun;
  state.counters["ratio_to_plain_copy"] = perRun / PlainCopySeconds();
}

}  // namespace

BENCHMARK(BM_PortalFirstRun)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PortalUnchangedRun)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_MAIN();
