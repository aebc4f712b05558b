// The record operations of the file-mode benchmark on a MongoDB database (the in-memory
// wire-protocol test server on 127.0.0.1, started here), beside the same operations on a
// project file of the same records. Prints milliseconds per operation for both modes.
//   PELMORA_BENCH_MB  size of the synthetic project (default 2 MB)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <vector>

#include "../tests/integration/MongoTestServer.h"
#include "BenchSupport.h"
#include "ProjectGenerator.h"
#include "shell/Databases.h"

namespace fs = std::filesystem;

namespace {

struct TFixture {
  fs::path Dir;
  std::string Project;
  size_t Bytes = 0;
  size_t FilmCount = 0;
  std::string FilmID;
  TJson FilmRecord;
  TMongoTestServer Server;
  std::unique_ptr<TDbFile> File;
  std::unique_ptr<TDbFile> Mongo;

  TFixture() {
    Dir = fs::temp_directory_path() / ("pelmora-mongobench-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    Project = (Dir / "bench.pq2pr").string();
    size_t target = 2u << 20;
    if (const char* mb = std::getenv("PELMORA_BENCH_MB"))
      target = std::strtoul(mb, nullptr, 10) << 20;
    File = CreateMainDatabase();
    File->New();
    File->SetFileName(Project);
    TProjectSize size;
    size.Films = FilmsForBytes(target);
    GenerateProject(*File, size);
    File->Save();
    Bytes = fs::file_size(Project);
    FilmID = File->JSON()["Films"].begin().key();
    FilmRecord = File->JSON()["Films"].begin().value();
    FilmCount = File->JSON()["Films"].size();

    Server.Start();
    Mongo = CreateMainDatabase();
    Mongo->SetUseMongoDb(true);
    Mongo->Sethost("127.0.0.1");
    Mongo->Setport(Server.Port());
    Mongo->SetMongoDbName(MainMongoDbName);
    if (!Mongo->Load()) throw std::runtime_error("cannot connect: " + Mongo->LastError());
    // The same records on the server, each with counter 1.
    for (auto c = File->JSON().begin(); c != File->JSON().end(); ++c) {
      if (!c.value().is_object()) continue;
      TDbCollectionItem* coll = Mongo->FindCollection(c.key());
      if (!coll) continue;
      for (auto r = c.value().begin(); r != c.value().end(); ++r) {
        int64_t cntr = 0;
        coll->NewRecord(r.key(), r.value(), cntr);
      }
    }
  }
  ~TFixture() {
    Mongo.reset();
    Server.Stop();
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
};

TFixture& Fx() {
  static TFixture fx;
  return fx;
}

TDbFile& Db(int mode) { return mode == 0 ? *Fx().File : *Fx().Mongo; }
const char* ModeName(int mode) { return mode == 0 ? "file" : "mongo"; }

void BM_GetRecord(benchmark::State& state) {
  auto& films = Db(state.range(0)).CollectionByName("Films");
  for (auto _ : state) {
    int64_t c = 0;
    auto rec = films.GetRecord(Fx().FilmID, c, true);
    if (!rec) state.SkipWithError("record not found");
    benchmark::DoNotOptimize(rec);
  }
  state.SetLabel(ModeName(state.range(0)));
}

void BM_UpdateOneRecord(benchmark::State& state) {
  auto& films = Db(state.range(0)).CollectionByName("Films");
  TJson rec = Fx().FilmRecord;
  int64_t c = 0;
  films.GetRecord(Fx().FilmID, c, true);
  int n = 0;
  for (auto _ : state) {
    rec["Description"] = "changed " + std::to_string(++n);
    if (!films.UpdateRecord(Fx().FilmID, rec, c)) state.SkipWithError("update refused");
  }
  state.SetLabel(ModeName(state.range(0)));
}

void BM_NewAndDeleteRecord(benchmark::State& state) {
  auto& films = Db(state.range(0)).CollectionByName("Films");
  TJson rec = Fx().FilmRecord;
  int n = 0;
  for (auto _ : state) {
    std::string id = "bench" + std::to_string(++n);
    int64_t c = 0;
    if (!films.NewRecord(id, rec, c) || !films.DelRecord(id, c))
      state.SkipWithError("new or delete failed");
  }
  state.SetLabel(ModeName(state.range(0)));
}

// Every film once: the file mode reloads the project, the MongoDB mode walks a cursor.
void BM_ReadAllFilms(benchmark::State& state) {
  const int mode = state.range(0);
  for (auto _ : state) {
    size_t count = 0;
    if (mode == 0) {
      auto db = CreateMainDatabase();
      db->SetFileName(Fx().Project);
      db->Load();
      if (TJson* all = db->CollectionByName("Films").AsJson()) count = all->size();
    } else {
      auto& films = Fx().Mongo->CollectionByName("Films");
      films.Query(TJson::object());
      TJson doc;
      while (films.Next(doc)) ++count;
    }
    if (count != Fx().FilmCount) state.SkipWithError("wrong number of films");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Fx().FilmCount));
  state.SetLabel(ModeName(mode));
}

BENCHMARK(BM_GetRecord)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_UpdateOneRecord)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_NewAndDeleteRecord)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_ReadAllFilms)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  try {
    Fx();
  } catch (const std::exception& e) {
    std::cerr << "MongoDB benchmark cannot run: " << e.what() << std::endl;
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();

  // Side by side: one counter-checked update and one read in each mode.
  std::cout << "project bytes: " << Fx().Bytes << ", films: " << Fx().FilmCount << "\n";
  for (int mode = 0; mode < 2; ++mode) {
    auto& films = Db(mode).CollectionByName("Films");
    TJson rec = Fx().FilmRecord;
    int64_t c = 0;
    films.GetRecord(Fx().FilmID, c, true);
    int n = 0;
    double update = MedianMs(
        [&] {
          rec["Cast"] = std::to_string(++n);
          films.UpdateRecord(Fx().FilmID, rec, c);
        },
        9);
    double read = MedianMs([&] { films.GetRecord(Fx().FilmID); }, 9);
    std::cout << ModeName(mode) << ": one-record update " << update << " ms, one-record read "
              << read << " ms\n";
  }
  std::cout.flush();
  benchmark::Shutdown();
  return 0;
}
