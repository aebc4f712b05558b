// Record store throughput on a synthetic project of about 20 MB: load, one-record update (which
// rewrites the whole file, flushed to disk), save, and a plain copy of the same bytes for
// reference. Prints MB/s and the ratio of a one-record update to the copy, and what the file lock
// and the on-disk check cost a one-record update (the same update on a copy of the project
// opened without them, measured alternately in the same run), and what the history (the daily
// backup, made once before the timing, and one journal line per change) costs it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <tuple>
#include <vector>

#include "BenchSupport.h"
#include "ProjectGenerator.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"

namespace fs = std::filesystem;

namespace {

struct TFixture {
  fs::path Dir;
  std::string Project;
  std::string CopyTarget;
  size_t Bytes = 0;
  std::string FilmID;
  std::unique_ptr<TDbFile> Db;
  std::string Plain;  // a copy of the project, opened without lock and on-disk check
  std::unique_ptr<TDbFile> PlainDb;
  std::unique_ptr<TDbFile> HistoryDb;    // a copy with backups and journal (the default)
  std::unique_ptr<TDbFile> NoHistoryDb;  // a copy that keeps no history

  TFixture() {
    Dir = fs::temp_directory_path() / ("pelmora-bench-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    Project = (Dir / "bench.pq2pr").string();
    CopyTarget = (Dir / "copy.bin").string();
    size_t target = 20u << 20;
    if (const char* mb = std::getenv("PELMORA_BENCH_MB")) target = std::strtoul(mb, nullptr, 10) << 20;
    Db = CreateMainDatabase();
    Db->New();
    Db->SetFileName(Project);
    TProjectSize size;
    size.Films = FilmsForBytes(target);
    size.Channels = 50;
    size.PlayLists = 500;
    size.ChSchedules = 50;
    size.Schedules = 10;
    GenerateProject(*Db, size);
    Db->Save();
    Bytes = fs::file_size(Project);
    FilmID = Db->JSON()["Films"].begin().key();
    Plain = (Dir / "plain.pq2pr").string();
    fs::copy_file(Project, Plain);
    PlainDb = CreateMainDatabase();
    PlainDb->SetGuardFile(false);
    PlainDb->SetFileName(Plain);
    PlainDb->Load();
    for (auto [name, slot, history] :
         {std::tuple{"history.pq2pr", &HistoryDb, true}, {"nohistory.pq2pr", &NoHistoryDb, false}}) {
      std::string file = (Dir / name).string();
      fs::copy_file(Project, file);
      *slot = CreateMainDatabase();
      if (!history) (*slot)->BackupDays = nullptr;
      (*slot)->SetFileName(file);
      (*slot)->Load();
      // The day's backup is made by the first change, before any timing.
      auto& films = (*slot)->CollectionByName("Films");
      films.UpdateRecord(FilmID, *films.GetRecord(FilmID));
    }
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

void CopyWithFsync(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  int fd = ::open(to.c_str(), O_WRONLY);
  ::fsync(fd);
  ::close(fd);
}

void BM_Load(benchmark::State& state) {
  auto& fx = Fx();
  for (auto _ : state) {
    auto db = CreateMainDatabase();
    db->SetFileName(fx.Project);
    if (!db->Load()) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fx.Bytes));
}

// One film's description changed and saved per iteration, on Db (with the lock and the
// on-disk check) or on a copy without them.
void UpdateOneRecordLoop(benchmark::State& state, TDbFile& db) {
  auto& fx = Fx();
  auto& films = db.CollectionByName("Films");
  TJson rec = *films.GetRecord(fx.FilmID);
  int n = 0;
  for (auto _ : state) {
    rec["Description"] = "changed " + std::to_string(++n);
    if (!films.UpdateRecord(fx.FilmID, rec)) state.SkipWithError("update failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fx.Bytes));
}

void BM_UpdateOneRecord(benchmark::State& state) { UpdateOneRecordLoop(state, *Fx().Db); }

void BM_UpdateOneRecordUnguarded(benchmark::State& state) {
  UpdateOneRecordLoop(state, *Fx().PlainDb);
}

void BM_UpdateOneRecordWithHistory(benchmark::State& state) {
  UpdateOneRecordLoop(state, *Fx().HistoryDb);
}

void BM_UpdateOneRecordWithoutHistory(benchmark::State& state) {
  UpdateOneRecordLoop(state, *Fx().NoHistoryDb);
}

void BM_SerializeOnly(benchmark::State& state) {
  auto& fx = Fx();
  for (auto _ : state) benchmark::DoNotOptimize(WriteProjectText(fx.Db->JSON()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fx.Bytes));
}

void BM_SerializeCached(benchmark::State& state) {
  auto& fx = Fx();
  TProjectTextCache cache;
  WriteProjectText(fx.Db->JSON(), fx.Bytes, &cache);
  for (auto _ : state) benchmark::DoNotOptimize(WriteProjectText(fx.Db->JSON(), fx.Bytes, &cache));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fx.Bytes));
}

void BM_CopyFile(benchmark::State& state) {
  auto& fx = Fx();
  for (auto _ : state) fs::copy_file(fx.Project, fx.CopyTarget, fs::copy_options::overwrite_existing);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fx.Bytes));
}

void BM_CopyFileFsync(benchmark::State& state) {
  auto& fx = Fx();
  for (auto _ : state) CopyWithFsync(fx.Project, fx.CopyTarget);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fx.Bytes));
}

BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_UpdateOneRecord)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_UpdateOneRecordUnguarded)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_UpdateOneRecordWithoutHistory)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_UpdateOneRecordWithHistory)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SerializeOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SerializeCached)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CopyFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CopyFileFsync)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  auto& fx = Fx();
  auto& films = fx.Db->CollectionByName("Films");
  TJson rec = *films.GetRecord(fx.FilmID);
  int n = 0;
  double update = MedianMs([&] { rec["Cast"] = std::to_string(++n); films.UpdateRecord(fx.FilmID, rec); }, 9);
  double copy = MedianMs([&] { fs::copy_file(fx.Project, fx.CopyTarget, fs::copy_options::overwrite_existing); }, 9);
  double copySync = MedianMs([&] { CopyWithFsync(fx.Project, fx.CopyTarget); }, 9);
  // Lock and on-disk check against none, alternately so that both see the same machine state.
  auto& plainFilms = fx.PlainDb->CollectionByName("Films");
  TJson plainRec = *plainFilms.GetRecord(fx.FilmID);
  std::vector<double> guarded, unguarded;
  for (int i = 0; i < 15; ++i) {
    guarded.push_back(MedianMs([&] { rec["Cast"] = std::to_string(++n); films.UpdateRecord(fx.FilmID, rec); }, 1));
    unguarded.push_back(MedianMs([&] { plainRec["Cast"] = std::to_string(++n); plainFilms.UpdateRecord(fx.FilmID, plainRec); }, 1));
  }
  std::sort(guarded.begin(), guarded.end());
  std::sort(unguarded.begin(), unguarded.end());
  double withGuard = guarded[guarded.size() / 2], withoutGuard = unguarded[unguarded.size() / 2];
  std::cout << "one-record update with lock and on-disk check: " << withGuard << " ms, without: "
            << withoutGuard << " ms, overhead: " << (withGuard / withoutGuard - 1) * 100
            << " %\n";
  std::cout << "project bytes: " << fx.Bytes << "\n"
            << "one-record update (rewrite + fsync): " << update << " ms\n"
            << "plain copy: " << copy << " ms, copy + fsync: " << copySync << " ms\n"
            << "ratio update / copy: " << update / copy << "\n"
            << "ratio update / (copy + fsync): " << update / copySync << std::endl;
  benchmark::Shutdown();
  return 0;
}
