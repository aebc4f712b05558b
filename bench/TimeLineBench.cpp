// Booking one contract for 365 days x 24 hours into a time line that already holds 20 other
// contracts for the same place: time and writes of timeline.json, batched (one write per
// contract operation) against one write per day record, measured in the same run. File writes
// are counted twice: by the time line itself and, independently, by watching the folder for
// the file being replaced (inotify).
#include <benchmark/benchmark.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "advert/TimeLine.h"
#include "shell/Databases.h"

namespace fs = std::filesystem;

namespace {

TJson Ref(const std::string& id, const std::string& cl) { return {{"_ID", id}, {"_CL", cl}}; }

struct TFixture {
  fs::path Dir;
  std::string Baseline;  // timeline.json with the 20 other contracts
  std::unique_ptr<TDbFile> Contracts;

  TFixture() {
    Dir = fs::temp_directory_path() / ("pelmora-tlbench-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    Contracts = CreateContractsDatabase(Dir.string());
    Contracts->New();
    auto& coll = Contracts->CollectionByName("Contracts");
    std::mt19937 rng(7);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int i = 0; i < 20; ++i) {
      // Every other contract books the year on some weekdays in a few hour ranges.
      TJson times = TJson::array();
      for (int r = 0; r < 2; ++r) {
        int s = pick(0, 20);
        times.push_back({{"Start", s}, {"Stop", std::min(23, s + pick(0, 6))}, {"Times", pick(1, 3)}});
      }
      int mask = pick(0, 1) ? 127 : pick(1, 127);
      TJson row = TJson::array({Ref("P", "Places"), Ref("film" + std::to_string(i), "Films"),
                                "01.01.2025", "31.12.2025", times, mask});
      coll.SetRecordNo1("other" + std::to_string(i), {{"Name", "Other " + std::to_string(i)},
                                                      {"Table", TJson::array({row})}});
    }
    TJson row = TJson::array({Ref("P", "Places"), Ref("spot", "Films"), "01.01.2025",
                              "31.12.2025", TJson::parse(R"([{"Start":0,"Stop":23,"Times":1}])"), 127});
    coll.SetRecordNo1("target", {{"Name", "Target"}, {"Table", TJson::array({row})}});
    Contracts->Save();

    auto line = CreateTimeLineDatabase(Dir.string());
    line->New();
    TTimeLine tl(*line, *Contracts);
    for (int i = 0; i < 20; ++i)
      if (!tl.AddContract("other" + std::to_string(i))) throw std::runtime_error("setup failed");
    std::ifstream f(line->FileName(), std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    Baseline = ss.str();
  }
  ~TFixture() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }

  // A freshly loaded time line holding the 20 other contracts.
  std::unique_ptr<TDbFile> FreshTimeLine() {
    std::ofstream(Dir / "timeline.json", std::ios::binary | std::ios::trunc) << Baseline;
    auto line = CreateTimeLineDatabase(Dir.string());
    if (!line->Load()) throw std::runtime_error("load failed");
    return line;
  }
};

TFixture& Fx() {
  static TFixture fx;
  return fx;
}

// Counts the times timeline.json is replaced in the folder (the atomic save renames over it).
class TWriteWatch {
public:
  explicit TWriteWatch(const fs::path& dir) {
    FFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The temporary files' creations keep consecutive renames apart: the kernel merges
    // identical events that follow each other unread.
    if (FFd >= 0) inotify_add_watch(FFd, dir.c_str(), IN_MOVED_TO | IN_CREATE);
  }
  ~TWriteWatch() {
    if (FFd >= 0) ::close(FFd);
  }
  int Count() {
    int n = 0;
    alignas(inotify_event) char buf[64 * 1024];
    for (;;) {
      ssize_t len = ::read(FFd, buf, sizeof buf);
      if (len <= 0) break;
      for (char* p = buf; p < buf + len;) {
        auto* ev = reinterpret_cast<inotify_event*>(p);
        if ((ev->mask & IN_MOVED_TO) && ev->len && std::string(ev->name) == "timeline.json") ++n;
        p += sizeof(inotify_event) + ev->len;
      }
    }
    return n;
  }

private:
  int FFd = -1;
};

double GBatchedMs = 0, GUnbatchedMs = 0;
double GBatchedWrites = 0, GUnbatchedWrites = 0;

void Book(benchmark::State& state, bool unbatched) {
  auto& fx = Fx();
  double totalMs = 0, writes = 0, seen = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto line = fx.FreshTimeLine();
    TTimeLine tl(*line, *fx.Contracts);
    tl.SaveEveryRecord = unbatched;
    TWriteWatch watch(fx.Dir);
    state.ResumeTiming();
    auto t0 = std::chrono::steady_clock::now();
    if (!tl.AddContract("target")) state.SkipWithError("booking failed");
    auto t1 = std::chrono::steady_clock::now();
    state.PauseTiming();
    totalMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
    writes += tl.Stats().FileWrites;
    seen += watch.Count();
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["file_writes"] = writes / n;
  state.counters["renames_seen"] = seen / n;
  state.counters["file_bytes"] = static_cast<double>(fs::file_size(fx.Dir / "timeline.json"));
  (unbatched ? GUnbatchedMs : GBatchedMs) = totalMs / n;
  (unbatched ? GUnbatchedWrites : GBatchedWrites) = writes / n;
}

void BM_BookYear_Batched(benchmark::State& state) { Book(state, false); }
void BM_BookYear_OneWritePerDayRecord(benchmark::State& state) { Book(state, true); }

BENCHMARK(BM_BookYear_Batched)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_BookYear_OneWritePerDayRecord)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (GBatchedMs > 0 && GUnbatchedMs > 0) {
    std::printf("Booking a year (365 x 24) beside 20 contracts: batched %.1f ms with %.0f file "
                "write(s); one write per day record %.1f ms with %.0f writes; %.1fx faster\n",
                GBatchedMs, GBatchedWrites, GUnbatchedMs, GUnbatchedWrites,
                GUnbatchedMs / GBatchedMs);
  }
  return 0;
}
