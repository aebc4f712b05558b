// The schedule engine on generated projects:
//  - the check-mode recompute of a 500-row channel schedule whose rows hold playlists of 50
//    films (the editor runs it on every change; target under 10 ms);
//  - "Create files" for a server with 50 channels of 7-day schedules over 5,000 films,
//    against copying the produced package folder with the system's copy (target under 10x);
//  - the programme guide of that server for 7 days (schedules built as "Create files" builds
//    them, guide made and written as XMLTV) against "Create files" of the same server in the
//    same run (target at most 1x).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>

#include <fmt/format.h>

#include "ProjectGenerator.h"
#include "schedule/ChSchedCheck.h"
#include "servers/CreateFiles.h"
#include "servers/ServerEpg.h"
#include "shell/Databases.h"

namespace fs = std::filesystem;

namespace {

class TQuietOperator : public IOperator {
public:
  void MessageBox(const std::string&, const std::string& text, TMsgIcon) override {
    std::cerr << text << std::endl;
  }
  TMsgAnswer Ask(const std::string&, const std::string& text, TMsgIcon, TMsgButtons,
                 TMsgAnswer) override {
    std::cerr << text << std::endl;
    return TMsgAnswer::Yes;
  }
  void StatusText(const std::string& text) override { Last = text; }
  void OpenRecord(TDbCollectionItem&, const std::string&) override {}
  void RunOnUiThread(std::function<void()> fn) override { fn(); }
  std::string Last;
};


struct TProject {
  fs::path Dir;
  std::unique_ptr<TDbFile> Db;
  TQuietOperator Op;
  std::vector<std::string> Films, Channels;
  std::mt19937 Rng{7};

  explicit TProject(int films, int channels) {
    Dir = fs::temp_directory_path() / ("pelmora-schedbench-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    Db = CreateMainDatabase(&Op);
    Db->New();
    Db->SetFileName((Dir / "bench.pq2pr").string());
    TProjectSize size;
    size.Films = films;
    size.Channels = channels;
    size.PlayLists = 0;
    size.ChSchedules = 0;
    size.Schedules = 0;
    GenerateProject(*Db, size);
    Films = RecordIds(*Db, "Films");
    Channels = RecordIds(*Db, "Channels");
  }
  ~TProject() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  std::string Pick() { return Films[Rng() % Films.size()]; }
  std::string AddPlaylist(const std::string& id, int n) {
    TJson t = TJson::array();
    for (int k = 0; k < n; ++k) t.push_back(TJson::array({RecordRef("Films", Pick())}));
    Db->CollectionByName("PlayLists").SetRecordNo1(id, {{"Name", id}, {"Repeat", 1}, {"Table", t}});
    return id;
  }
};

// 500 rows, each a playlist of 50 films; a start time every 25 rows, so that most rows
// continue their block and every film is placed and checked.
void BM_CheckRecompute500Rows(benchmark::State& state) {
  TProject p(5000, 1);
  TJson table = TJson::array();
  for (int r = 0; r < 500; ++r) {
    std::string pl = p.AddPlaylist("pl" + std::to_string(r), 50);
    std::string start = r % 25 == 0 ? fmt::format("{} 00:00:00", r / 25 * 61) : "";
    table.push_back(TJson::array({start, 1, RecordRef("PlayLists", pl), TJson::array()}));
  }
  TJson rec = {{"Name", "Big"},
               {"Channel", RecordRef("Channels", p.Channels[0])},
               {"AutoPeriod", true},
               {"Period", "1 00:00:00"},
               {"Table", table}};
  size_t rows = 0;
  // The editor keeps its record index from one change to the next; the first pass builds it.
  auto index = state.range(0) ? std::make_shared<TScheduleRecordIndex>() : nullptr;
  if (index) RecomputeChSched(*p.Db, "big", rec, &p.Op, index);
  for (auto _ : state) {
    TChSchedRecompute r = RecomputeChSched(*p.Db, "big", rec, &p.Op, index);
    rows += r.Rows.size();
    benchmark::DoNotOptimize(r);
  }
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
// Arg 0: a fresh index every time (a build); arg 1: the editor's kept index.
BENCHMARK(BM_CheckRecompute500Rows)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);

// 50 channels, each a 7-day schedule with a playlist row every two hours, on server "srv".
void MakeWeekServer(TProject& p) {
  // Stand-in files for every film, so no film is reported missing.
  fs::path video = p.Dir / "video";
  for (const std::string& id : p.Films) {
    std::optional<TJson> f = p.Db->CollectionByName("Films").GetRecord(id);
    std::string name = JsonStr(*f, "FileName");
    std::replace(name.begin(), name.end(), '\\', '/');
    fs::create_directories((video / name).parent_path());
    std::FILE* fp = std::fopen((video / name).c_str(), "wb");
    std::fputs("ts", fp);
    std::fclose(fp);
  }
  for (int i = 0; i < 300; ++i) p.AddPlaylist("pl" + std::to_string(i), 4);
  TJson schedTable = TJson::array();
  for (size_t c = 0; c < p.Channels.size(); ++c) {
    TJson table = TJson::array();
    for (int h = 0; h < 7 * 24; h += 2)
      table.push_back(TJson::array({fmt::format("{} {:02}:00:00", h / 24, h % 24), 1,
                                    RecordRef("PlayLists", "pl" + std::to_string(p.Rng() % 300)),
                                    TJson::array()}));
    std::string id = "cs" + std::to_string(c);
    p.Db->CollectionByName("ChSched").SetRecordNo1(
        id, {{"Name", id}, {"Channel", RecordRef("Channels", p.Channels[c])}, {"AutoPeriod", false},
             {"Period", "7 00:00:00"}, {"Table", table}});
    schedTable.push_back(TJson::array({RecordRef("ChSched", id)}));
  }
  p.Db->CollectionByName("Schedules").SetRecordNo1("s", {{"Name", "Week"}, {"Table", schedTable}});
  TJson groupTable = TJson::array();
  for (const std::string& c : p.Channels) groupTable.push_back(TJson::array({RecordRef("Channels", c)}));
  p.Db->CollectionByName("Groups").SetRecordNo1("g", {{"Name", "All"}, {"Table", groupTable}});
  p.Db->CollectionByName("SrvOptions").SetRecordNo1("o", {{"Name", "o"}, {"Table", {{RecordRef("Groups", "g"), TJson()}}}});
  p.Db->CollectionByName("Servers").SetRecordNo1(
      "srv", {{"Name", "Srv"}, {"TSched", {{RecordRef("Schedules", "s"), "01.01.2026 00:00:00", "", RecordRef("SrvOptions", "o")}}}});
  p.Db->Save();
}

void BM_BuildPackage50Channels(benchmark::State& state) {
  TProject p(5000, 50);
  MakeWeekServer(p);

  double buildSeconds = 0, copySeconds = 0;
  int64_t runs = 0;
  std::string folder;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    TCreateFilesResult r = CreateServerFiles(*p.Db, "srv", p.Op);
    auto t1 = std::chrono::steady_clock::now();
    if (!r.Ok) {
      state.SkipWithError(r.Status.c_str());
      return;
    }
    folder = r.Folder;
    state.PauseTiming();
    // The system's copy of the produced package, measured in the same run.
    std::string target = (p.Dir / "copy").string();
    std::string cmd = "rm -rf '" + target + "' && cp -r '" + folder + "' '" + target + "'";
    auto c0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("cp failed");
    auto c1 = std::chrono::steady_clock::now();
    state.ResumeTiming();
    buildSeconds += std::chrono::duration<double>(t1 - t0).count();
    copySeconds += std::chrono::duration<double>(c1 - c0).count();
    ++runs;
  }
  size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) ++files;
  state.counters["files"] = static_cast<double>(files);
  state.counters["build_ms"] = buildSeconds / static_cast<double>(runs) * 1000;
  state.counters["copy_ms"] = copySeconds / static_cast<double>(runs) * 1000;
  state.counters["ratio_to_copy"] = buildSeconds / copySeconds;
}
BENCHMARK(BM_BuildPackage50Channels)->Unit(benchmark::kMillisecond)->Iterations(3);

// The 7-day guide of the same server, timed against its "Create files" in the same run.
void BM_Guide50Channels7Days(benchmark::State& state) {
  TProject p(5000, 50);
  MakeWeekServer(p);
  double guideSeconds = 0, packageSeconds = 0;
  int64_t runs = 0;
  size_t programmes = 0;
  TDateTime from = EncodeDate(2026, 1, 1);
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    std::vector<TEpgRow> rows = BuildServerEpgRows(*p.Db, "srv", p.Op);
    TEpgGuide guide = BuildGuide(*p.Db, rows, LocalToEpoch(from), LocalToEpoch(from + 7));
    WriteFileAtomically((p.Dir / "epg.xml").string(), GuideXmltv(guide));
    auto t1 = std::chrono::steady_clock::now();
    programmes = guide.Programmes.size();
    state.PauseTiming();
    auto c0 = std::chrono::steady_clock::now();
    TCreateFilesResult r = CreateServerFiles(*p.Db, "srv", p.Op);
    auto c1 = std::chrono::steady_clock::now();
    if (!r.Ok) state.SkipWithError(r.Status.c_str());
    state.ResumeTiming();
    guideSeconds += std::chrono::duration<double>(t1 - t0).count();
    packageSeconds += std::chrono::duration<double>(c1 - c0).count();
    ++runs;
  }
  state.counters["programmes"] = static_cast<double>(programmes);
  state.counters["guide_ms"] = guideSeconds / static_cast<double>(runs) * 1000;
  state.counters["package_ms"] = packageSeconds / static_cast<double>(runs) * 1000;
  state.counters["ratio_to_package"] = guideSeconds / packageSeconds;
}
BENCHMARK(BM_Guide50Channels7Days)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
