// The films window on the synthetic project with 38,000 films: opening it (tree read, first
// record shown), showing another record, and a click from one record to the next. Targets:
// opening below 1 s, a click below 50 ms. Prints the figures and their ratio to reading every
// film from the store.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QTreeWidgetItem>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>

#include "BenchSupport.h"
#include "JFrame/JFrame.h"
#include "ProjectGenerator.h"
#include "catalogue/forms/Films.h"
#include "catalogue/forms/VideoWidget.h"
#include "shell/Databases.h"

namespace fs = std::filesystem;

namespace {

struct TFixture {
  fs::path Dir;
  std::unique_ptr<TDbFile> Db;
  std::vector<std::string> Films;
  TFixture() {
    Dir = fs::temp_directory_path() / ("pelmora-filmsbench-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    Db = CreateMainDatabase();
    Db->New();
    Db->SetFileName((Dir / "bench.pq2pr").string());
    TProjectSize size;
    size.Films = 38000;
    if (const char* n = std::getenv("PELMORA_BENCH_FILMS")) size.Films = std::atoi(n);
    GenerateProject(*Db, size);
    Db->Save();
    for (auto it = Db->JSON()["Films"].begin(); it != Db->JSON()["Films"].end(); ++it)
      Films.push_back(it.key());
  }
  ~TFixture() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
};

TFixture& Fx() {
  static TFixture fx;
  return fx;
}

void BM_OpenFilmsWindow(benchmark::State& state) {
  auto& fx = Fx();
  for (auto _ : state) {
    TFormFilms form(*fx.Db);
    benchmark::DoNotOptimize(form.JFrame1->ID());
  }
}

void BM_ShowFilm(benchmark::State& state) {
  auto& fx = Fx();
  TFormFilms form(*fx.Db);
  std::mt19937 rnd(1);
  for (auto _ : state) form.JFrame1->SetID(fx.Films[rnd() % fx.Films.size()]);
}

// A click on the neighbouring record in the tree.
void BM_ClickFilm(benchmark::State& state) {
  auto& fx = Fx();
  TFormFilms form(*fx.Db);
  TRecTree* tree = form.JFrame1->TreeView;
  QTreeWidgetItem* folder = tree->topLevelItem(0);
  while (folder && folder->childCount() == 0) folder = tree->itemBelow(folder);
  if (!folder || folder->childCount() < 2) {
    state.SkipWithError("no folder with two films");
    return;
  }
  folder->setExpanded(true);
  QTreeWidgetItem* a = folder->child(0);
  QTreeWidgetItem* b = folder->child(1);
  bool flip = false;
  for (auto _ : state) tree->setCurrentItem((flip = !flip) ? a : b);
}

}  // namespace

BENCHMARK(BM_OpenFilmsWindow)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ShowFilm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClickFilm)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TVideoWidget::PrepareLibVlc();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  auto& fx = Fx();
  auto& films = fx.Db->CollectionByName("Films");
  double read = MedianMs([&] { for (const auto& id : fx.Films) films.GetRecord(id); }, 3);
  double open = MedianMs([&] { TFormFilms form(*fx.Db); }, 3);
  std::cout << "films: " << fx.Films.size() << "\n"
            << "opening the films window: " << open << " ms (target < 1000 ms)\n"
            << "reading every film: " << read << " ms\n"
            << "ratio opening / reading every film: " << open / read << std::endl;
  benchmark::Shutdown();
  return 0;
}
