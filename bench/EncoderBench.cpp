// The encoder's overhead: a 60-second 720p clip encoded with the default options, once by
// running the same ffmpeg command directly and once through the worker (pipe reading, parsing,
// progress texts). The worker's figure carries its ratio to the direct run of the same
// process ("ratio_to_direct", target below 1.05) and the console's own processor time. The probe benchmark gives the length probe's
// time per file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "catalogue/EncoderJobs.h"
#include "catalogue/PasLibVlcPlayer.h"
#include "catalogue/encoder.h"
#include "base/Operator.h"
#include "base/UiQueue.h"

namespace fs = std::filesystem;
extern char** environ;

namespace {

struct TClip {
  fs::path Dir;
  std::string Source, Output;
  TClip() {
    Dir = fs::temp_directory_path() / ("pelmora-encbench-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    Source = (Dir / "clip720.mp4").string();
    Output = (Dir / "clip720.m2t").string();
    std::string cmd =
        "ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=60:size=1280x720:rate=25 "
        "-f lavfi -i sine=frequency=440:duration=60 -c:v mpeg4 -q:v 5 -c:a aac -shortest -y '" +
        Source + "'";
    if (std::system(cmd.c_str()) != 0 || !fs::exists(Source))
      throw std::runtime_error("cannot make the test clip with ffmpeg");
  }
  ~TClip() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
};

TClip& Clip() {
  static TClip clip;
  return clip;
}

TffmpegCommand DefaultCommand() {
  TEncoderSettings s;  // the defaults of a project without an options record
  return MakeEncodeCommand(s, Clip().Source, Clip().Output);
}

double GDirectSeconds = 0;

// The same process with its output thrown away: what an operator would run in a terminal.
double RunDirect(const TffmpegCommand& cmd) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv{const_cast<char*>(cmd.Program.c_str())};
  for (const auto& a : cmd.Arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, cmd.Program.c_str(), &fa, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start ffmpeg");
  int status = 0;
  ::waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&fa);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("ffmpeg failed");
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Progress texts are collected on the benchmark's thread, as a window would show them.
class TQueueOperator : public TConsoleOperator {
public:
  void RunOnUiThread(std::function<void()> fn) override { FQueue.Post(std::move(fn)); }
  void Pump() { FQueue.Pump(); }

private:
  TUiQueue FQueue;
};

void BM_EncodeDirect(benchmark::State& state) {
  TffmpegCommand cmd = DefaultCommand();
  RunDirect(cmd);  // untimed: loads ffmpeg and the clip into memory for both sides alike
  double total = 0;
  int n = 0;
  for (auto _ : state) {
    double s = RunDirect(cmd);
    state.SetIterationTime(s);
    total += s;
    ++n;
  }
  GDirectSeconds = total / n;
}

void BM_EncodeThroughWorker(benchmark::State& state) {
  TffmpegCommand cmd = DefaultCommand();
  TQueueOperator op;
  TffmpegEncoder enc(&op);
  size_t reports = 0;
  enc.OnMsgEvent = [&](const std::string&) { ++reports; };
  double total = 0;
  int n = 0;
  auto ownCpu = [] {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  };
  const double cpu0 = ownCpu();
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    TEncodeResult r = enc.RunDosCmd(Clip().Dir.string(), cmd, [&] { op.Pump(); });
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (r != E_ok) {
      state.SkipWithError(("encoding failed: " + enc.ErrorMsg()).c_str());
      return;
    }
    state.SetIterationTime(s);
    total += s;
    ++n;
  }
  state.counters["progress_texts"] = static_cast<double>(reports) / n;
  // The console's own processor time per encoding (all its threads, ffmpeg not included):
  // the machinery's cost, free of the noise of a shared machine.
  state.counters["own_cpu_s"] = (ownCpu() - cpu0) / n;
  if (GDirectSeconds > 0) state.counters["ratio_to_direct"] = total / n / GDirectSeconds;
}

void BM_ProbeLength(benchmark::State& state) {
  SetLibVlcHeadless(true);
  const std::string file = state.range(0) == 0 ? Clip().Output : Clip().Source;
  if (!fs::exists(file)) {
    TffmpegCommand cmd = DefaultCommand();
    RunDirect(cmd);
  }
  for (auto _ : state) {
    std::optional<int64_t> len = ProbeMediaLength(file, 10000);
    if (!len || *len <= 0) {
      state.SkipWithError("no length");
      return;
    }
    benchmark::DoNotOptimize(len);
  }
  state.SetLabel(state.range(0) == 0 ? "encoded .m2t" : "source .mp4");
}

}  // namespace

// Direct first: the worker's ratio needs its figure from the same run.
BENCHMARK(BM_EncodeDirect)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_EncodeThroughWorker)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_ProbeLength)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
