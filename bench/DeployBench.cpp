// Copying a server package to the loopback "inbox" share of a real smbd: a package of 2,000
// small files and 20 films of 50 MB. Measures the first copy, smbclient's own "mput" of the
// same files in the same run as the reference, and the second run that finds nothing new
// (target: under 2 s, since it only compares). PELMORA_BENCH_FILM_MB makes the films smaller.
// The first copy reads every file back before it takes its name (package files by MD5, films
// by size): against the same copy without that check, target at most 1.3 times. The dry run
// over the unchanged share: against the run that finds nothing new, target at most 1.2 times.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "Peers.h"
#include "recstore/Json.h"
#include "servers/ShareTransfer.h"

namespace fs = std::filesystem;

namespace {

constexpr int SmallFiles = 2000;
constexpr int Films = 20;

struct TDeployFixture {
  TTempDir Dir;
  std::unique_ptr<TSmbdPeer> Smb;
  std::string Pkg, Video;
  uint64_t Bytes = 0;
  double FirstCopySeconds = 0;
  double UncheckedCopySeconds = 0;
  double MputSeconds = 0;
  double NoChangeSeconds = 0;

  TDeployFixture() {
    Pkg = Dir.File("servers/Main");
    Video = Dir.File("video");
    size_t filmMb = 50;
    if (const char* mb = std::getenv("PELMORA_BENCH_FILM_MB")) filmMb = std::strtoul(mb, nullptr, 10);
    for (int i = 0; i < SmallFiles; ++i) {
      std::string folder = Pkg + "/json/2015111" + std::to_string(i % 10) + "T060000";
      fs::create_directories(folder);
      std::string text(1024 + (i % 7) * 300, static_cast<char>('a' + i % 26));
      WriteFileBytes(folder + "/" + std::to_string(i) + ".pls", text);
      Bytes += text.size();
    }
    fs::create_directories(Video);
    TJson films = TJson::array();
    std::string block(filmMb << 20, 'f');
    for (int i = 0; i < Films; ++i) {
      std::string name = "film" + std::to_string(i) + ".ts";
      block[0] = static_cast<char>(i);
      WriteFileBytes(Video + "/" + name, block);
      Bytes += block.size();
      films.push_back({{"win", Video + "/" + name}, {"srv", name}});
    }
    WriteFileBytes(Pkg + "/UsedFilms.json", films.dump(1));
    Bytes += fs::file_size(Pkg + "/UsedFilms.json");
    Smb = std::make_unique<TSmbdPeer>();
  }

  void EmptyInbox() {
    for (auto& e : fs::directory_iterator(Smb->InboxDir())) fs::remove_all(e.path());
  }

  TDeployResult Deploy(bool dryRun = false, bool verify = true) {
    TFakeOperator op;
    TDeployRequest r;
    r.Share = Smb->Share();
    r.PackageDir = Pkg;
    r.Credentials = TSmbCredentials{};
    r.DryRun = dryRun;
    r.VerifyCopies = verify;
    return CopyFilesToShare(r, op);
  }
};

TDeployFixture& Fixture() {
  static TDeployFixture f;
  return f;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The first copy into an empty inbox, timed into Seconds; Verify reads the copies back.
void TimedFirstCopy(benchmark::State& state, bool verify, double& seconds) {
  auto& f = Fixture();
  for (auto _ : state) {
    state.PauseTiming();
    f.EmptyInbox();
    state.ResumeTiming();
    auto t0 = std::chrono::steady_clock::now();
    TDeployResult r = f.Deploy(false, verify);
    seconds = Seconds(std::chrono::steady_clock::now() - t0);
    if (!r.Ok || r.FilesCopied != SmallFiles + Films + 1) state.SkipWithError(r.Status.c_str());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.Bytes));
}

void BM_FirstCopy(benchmark::State& state) {
  auto& f = Fixture();
  TimedFirstCopy(state, true, f.FirstCopySeconds);
  if (f.UncheckedCopySeconds > 0)
    state.counters["verified_vs_unchecked"] = f.FirstCopySeconds / f.UncheckedCopySeconds;
}

// The same first copy without reading the copies back: what the check costs.
void BM_FirstCopyUnchecked(benchmark::State& state) {
  TimedFirstCopy(state, false, Fixture().UncheckedCopySeconds);
}

// The same files with smbclient's recursive mput, the reference of this machine.
void BM_SmbclientMput(benchmark::State& state) {
  auto& f = Fixture();
  for (auto _ : state) {
    state.PauseTiming();
    f.EmptyInbox();
    std::string base = "smbclient -N -p " + std::to_string(f.Smb->Port()) +
                       " //127.0.0.1/inbox -c 'prompt OFF; recurse ON; ";
    std::string cmd1 = base + "lcd " + f.Pkg + "; mput *' >/dev/null 2>&1";
    std::string cmd2 = base + "lcd " + f.Video + "; mput *' >/dev/null 2>&1";
    state.ResumeTiming();
    auto t0 = std::chrono::steady_clock::now();
    int rc1 = std::system(cmd1.c_str());
    int rc2 = std::system(cmd2.c_str());
    f.MputSeconds = Seconds(std::chrono::steady_clock::now() - t0);
    if (rc1 != 0 || rc2 != 0) state.SkipWithError("smbclient failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.Bytes));
  if (f.MputSeconds > 0) state.counters["first_copy_vs_mput"] = f.FirstCopySeconds / f.MputSeconds;
}

void BM_NoChangeRun(benchmark::State& state) {
  auto& f = Fixture();
  // Setup before the loop is not timed: the share gets everything once.
  f.EmptyInbox();
  TDeployResult first = f.Deploy();
  if (!first.Ok) state.SkipWithError(first.Status.c_str());
  double worst = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    TDeployResult r = f.Deploy();
    worst = std::max(worst, Seconds(std::chrono::steady_clock::now() - t0));
    if (r.Status != noNewFilesText) state.SkipWithError(r.Status.c_str());
  }
  f.NoChangeSeconds = worst;
  state.counters["worst_s"] = worst;
  state.counters["under_2s"] = worst < 2.0 ? 1 : 0;
}

// The dry run over the same unchanged share: it compares like the run above and lists.
void BM_DryRunNoChange(benchmark::State& state) {
  auto& f = Fixture();
  double worst = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    TDeployResult r = f.Deploy(true);
    worst = std::max(worst, Seconds(std::chrono::steady_clock::now() - t0));
    if (!r.Ok || r.FilesQueued != 0) state.SkipWithError(r.Status.c_str());
  }
  state.counters["worst_s"] = worst;
  if (f.NoChangeSeconds > 0) state.counters["dry_run_vs_no_change"] = worst / f.NoChangeSeconds;
}

}  // namespace

BENCHMARK(BM_FirstCopyUnchecked)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstCopy)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmbclientMput)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NoChangeRun)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DryRunNoChange)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
