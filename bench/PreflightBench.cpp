// The pre-flight check and the guide grid on a generated server of 50 channels with 7-day
// schedules over 5,000 films (a playlist of four films every two hours on every channel):
//  - check-servers of that server for 7 days (target under a second), against its "Create
//    files" measured in the same run;
//  - the guide grid window opened on that server, offscreen, up to its first painted screen
//    (target under a second), against the same "Create files";
//  - one scroll step of the grid (a screen moved by a third and painted again), against the
//    60 Hz frame of 16.7 ms: it must scroll without waiting.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>

#include <fmt/format.h>

#include "BenchSupport.h"
#include "ProjectGenerator.h"
#include "servers/CreateFiles.h"
#include "servers/ServerCheck.h"
#include "servers/forms/GuideGrid.h"
#include "shell/Databases.h"

namespace fs = std::filesystem;

namespace {

class TQuietOperator : public IOperator {
public:
  void MessageBox(const std::string&, const std::string& text, TMsgIcon) override {
    std::cerr << text << std::endl;
  }
  TMsgAnswer Ask(const std::string&, const std::string&, TMsgIcon, TMsgButtons, TMsgAnswer) override {
    return TMsgAnswer::Yes;
  }
  void StatusText(const std::string&) override {}
  void OpenRecord(TDbCollectionItem&, const std::string&) override {}
  void RunOnUiThread(std::function<void()> fn) override { fn(); }
};


struct TWeekServer {
  fs::path Dir;
  TQuietOperator Op;
  std::unique_ptr<TDbFile> Db;
  TWeekServer() {
    Dir = fs::temp_directory_path() / ("pelmora-preflightbench-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    SetAppOperator(&Op);
    Db = CreateMainDatabase(&Op);
    Db->New();
    Db->SetFileName((Dir / "bench.pq2pr").string());
    TProjectSize size;
    size.Films = 5000;
    size.Channels = 50;
    size.PlayLists = 0;
    size.ChSchedules = 0;
    size.Schedules = 0;
    GenerateProject(*Db, size);
    std::vector<std::string> films = RecordIds(*Db, "Films"), channels = RecordIds(*Db, "Channels");
    std::mt19937 rng(7);
    for (const std::string& id : films) {
      std::string name = JsonStr(*Db->CollectionByName("Films").GetRecord(id), "FileName");
      std::replace(name.begin(), name.end(), '\\', '/');
      fs::create_directories((Dir / "video" / name).parent_path());
      std::FILE* fp = std::fopen((Dir / "video" / name).c_str(), "wb");
      std::fputs("ts", fp);
      std::fclose(fp);
    }
    for (int i = 0; i < 300; ++i) {
      TJson t = TJson::array();
      for (int k = 0; k < 4; ++k) t.push_back(TJson::array({RecordRef("Films", films[rng() % films.size()])}));
      Db->CollectionByName("PlayLists").SetRecordNo1("pl" + std::to_string(i), {{"Name", "pl"}, {"Repeat", 1}, {"Table", t}});
    }
    TJson schedTable = TJson::array(), groupTable = TJson::array();
    for (size_t c = 0; c < channels.size(); ++c) {
      TJson table = TJson::array();
      for (int h = 0; h < 7 * 24; h += 2)
        table.push_back(TJson::array({fmt::format("{} {:02}:00:00", h / 24, h % 24), 0,
                                      RecordRef("PlayLists", "pl" + std::to_string(rng() % 300)), TJson::array()}));
      std::string id = "cs" + std::to_string(c);
      Db->CollectionByName("ChSched").SetRecordNo1(
          id, {{"Name", id}, {"Channel", RecordRef("Channels", channels[c])}, {"AutoPeriod", false},
               {"Period", "7 00:00:00"}, {"Table", table}});
      schedTable.push_back(TJson::array({RecordRef("ChSched", id)}));
      groupTable.push_back(TJson::array({RecordRef("Channels", channels[c])}));
    }
    Db->CollectionByName("Schedules").SetRecordNo1("s", {{"Name", "Week"}, {"Table", schedTable}});
    Db->CollectionByName("Groups").SetRecordNo1("g", {{"Name", "All"}, {"Table", groupTable}});
    Db->CollectionByName("SrvOptions").SetRecordNo1("o", {{"Name", "o"}, {"Table", {{RecordRef("Groups", "g"), TJson()}}}});
    Db->CollectionByName("Servers").SetRecordNo1(
        "srv", {{"Name", "Srv"}, {"MakeEpg", true},
                {"TSched", {{RecordRef("Schedules", "s"), "01.01.2026 00:00:00", "", RecordRef("SrvOptions", "o")}}}});
    Db->CollectionByName("Tree").SetRecordNo1("Servers", TJson::parse(R"([{"_ID": "srv"}])"));
    Db->Save();
    SetDbF1(Db.get());
  }
  ~TWeekServer() {
    SetDbF1(nullptr);
    SetAppOperator(nullptr);
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  double PackageMs() {
    return MedianMs([&] {
      TCreateFilesResult r = CreateServerFiles(*Db, "srv", Op);
      if (!r.Ok) std::cerr << "Create files failed: " << r.Status << std::endl;
    }, 3);
  }
};

TWeekServer& Fx() {
  static TWeekServer fx;
  return fx;
}

void BM_CheckServers50Channels7Days(benchmark::State& state) {
  TWeekServer& fx = Fx();
  size_t findings = 0;
  for (auto _ : state) findings = CheckAllServers(*fx.Db).size();
  state.counters["findings"] = static_cast<double>(findings);
}
BENCHMARK(BM_CheckServers50Channels7Days)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_GuideGridOpen50Channels7Days(benchmark::State& state) {
  TWeekServer& fx = Fx();
  for (auto _ : state) {
    TFormGuideGrid form(*fx.Db);
    form.resize(1280, 800);
    form.show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(form.ScrollBox->viewport()->grab());
  }
}
BENCHMARK(BM_GuideGridOpen50Channels7Days)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();

  TWeekServer& fx = Fx();
  double package = fx.PackageMs();
  std::vector<TCheckFinding> findings;
  double check = MedianMs([&] { findings = CheckAllServers(*fx.Db); }, 3);
  double open = MedianMs([&] {
    TFormGuideGrid form(*fx.Db);
    form.resize(1280, 800);
    form.show();
    QApplication::processEvents();
    form.ScrollBox->viewport()->grab();
  }, 3);
  TFormGuideGrid form(*fx.Db);
  form.resize(1280, 800);
  form.show();
  QApplication::processEvents();
  QScrollBar* bar = form.ScrollBox->horizontalScrollBar();
  double scroll = MedianMs([&] {
    bar->setValue(bar->value() + form.ScrollBox->viewport()->width() / 3);
    form.ScrollBox->viewport()->grab();
  }, 30);
  std::map<std::string, int> kinds;
  for (const TCheckFinding& f : findings) ++kinds[FindingLevelText(f.Level) + " " + f.Kind];
  for (const auto& [k, n] : kinds) std::cout << k << ": " << n << "\n";
  size_t blocks = 0;
  for (const auto& b : form.View->Grid().Blocks) blocks += b.size();
  std::cout << "server: 50 channels x 7 days, " << blocks << " programmes, " << findings.size()
            << " findings\n"
            << "Create files: " << package << " ms\n"
            << "check-servers: " << check << " ms (target under 1000 ms), ratio to Create files "
            << check / package << "\n"
            << "guide grid opened and painted: " << open << " ms (target under 1000 ms), ratio to Create files "
            << open / package << "\n"
            << "one scroll step painted: " << scroll << " ms (a 60 Hz frame is 16.7 ms), ratio "
            << scroll / 16.7 << std::endl;
  benchmark::Shutdown();
  return 0;
}
