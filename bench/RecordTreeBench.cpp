// The record tree and editor frame on a large collection: reading the films tree of a project
// of about 20 MB into the tree control, showing one record after another, and saving the tree,
// against reading every film from the store (what the tree cannot do with less). Prints the
// ratio of a tree load to that reference.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>

#include "BenchSupport.h"
#include "JFrame/JFrame.h"
#include "ProjectGenerator.h"
#include "shell/Databases.h"

namespace fs = std::filesystem;

namespace {

struct TFixture {
  fs::path Dir;
  std::unique_ptr<TDbFile> Db;
  std::vector<std::string> Films;
  TCollectionData CollData;

  TFixture() {
    Dir = fs::temp_directory_path() / ("pelmora-treebench-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    size_t target = 20u << 20;
    if (const char* mb = std::getenv("PELMORA_BENCH_MB")) target = std::strtoul(mb, nullptr, 10) << 20;
    Db = CreateMainDatabase();
    Db->New();
    Db->SetFileName((Dir / "bench.pq2pr").string());
    TProjectSize size;
    size.Films = FilmsForBytes(target);
    GenerateProject(*Db, size);
    Db->Save();
    for (auto it = Db->JSON()["Films"].begin(); it != Db->JSON()["Films"].end(); ++it)
      Films.push_back(it.key());
    Db->SC("Films", "Tree", CollData);
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

// An editing window with a few bound controls, as the film window has.
struct TWindow {
  QWidget Form;
  TJFrame* Frame;
  TWindow() {
    auto* layout = new QHBoxLayout(&Form);
    Frame = new TJFrame(&Form);
    layout->addWidget(Frame);
    auto* host = new QWidget(&Form);
    auto* hostLayout = new QVBoxLayout(host);
    auto* pages = new QTabWidget(host);
    hostLayout->addWidget(pages);
    layout->addWidget(host);
    auto* tree = new QWidget;
    auto* rec = new QWidget;
    pages->addTab(tree, "");
    pages->addTab(rec, "");
    Frame->AssignComponents(pages, rec, tree);
    Frame->TreeView->SetCollectionsData(Fx().CollData);
    // Every key of a generated film, so showing another film never asks about changes.
    for (const char* key : {"FileName", "Duration", "Description", "StateYear", "Cast", "Genres"})
      Frame->LayerComps->AddComp(key, new QLineEdit(rec), vt_String);
    for (const char* key : {"ShowInSchedule", "KeepWithNext"})
      Frame->LayerComps->AddComp(key, new QCheckBox(rec));
    Frame->Load();
  }
};

void BM_ReadAllFilms(benchmark::State& state) {
  auto& fx = Fx();
  auto& films = fx.Db->CollectionByName("Films");
  for (auto _ : state)
    for (const std::string& id : fx.Films) benchmark::DoNotOptimize(films.GetRecord(id));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fx.Films.size()));
}

void BM_TreeLoad(benchmark::State& state) {
  auto& fx = Fx();
  TRecTree tree;
  tree.SetCollectionsData(fx.CollData);
  for (auto _ : state) tree.Load();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fx.Films.size()));
}

void BM_ShowRecord(benchmark::State& state) {
  auto& fx = Fx();
  TWindow w;
  std::mt19937 rnd(1);
  for (auto _ : state) w.Frame->SetID(fx.Films[rnd() % fx.Films.size()]);
}

// A click on another record: the tree's counter is read, the record shown.
void BM_ClickRecord(benchmark::State& state) {
  TWindow w;
  TRecTree* tree = w.Frame->TreeView;
  QTreeWidgetItem* folder = tree->topLevelItem(0);
  folder->setExpanded(true);
  QTreeWidgetItem* a = folder->child(0);
  QTreeWidgetItem* b = folder->child(1);
  bool flip = false;
  for (auto _ : state) tree->setCurrentItem((flip = !flip) ? a : b);
}

void BM_SaveTree(benchmark::State& state) {
  TWindow w;
  for (auto _ : state)
    if (!w.Frame->TreeView->SaveTree()) state.SkipWithError("tree save refused");
}

BENCHMARK(BM_ReadAllFilms)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowRecord)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ClickRecord)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveTree)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  auto& fx = Fx();
  auto& films = fx.Db->CollectionByName("Films");
  TRecTree tree;
  tree.SetCollectionsData(fx.CollData);
  double read = MedianMs([&] { for (const auto& id : fx.Films) films.GetRecord(id); }, 5);
  double load = MedianMs([&] { tree.Load(); }, 5);
  std::cout << "films: " << fx.Films.size() << "\n"
            << "reading every film: " << read << " ms, loading the films tree: " << load
            << " ms\nratio tree load / reading every film: " << load / read << std::endl;
  benchmark::Shutdown();
  return 0;
}
