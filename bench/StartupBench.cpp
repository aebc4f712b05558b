// How long the programs take to start, as whole processes: "pelmora-cli --version", "info" and
// "get" on a project of one record, and "pelmora --version", each against a C program that does
// nothing, all in the same run (the rounds take the commands in turn, so a busy moment of the
// machine falls on all of them alike). Also "probe" on a two-second clip, the first command
// here that needs a heavy library (the media readers), to show it keeps its speed.
//
// Targets: the CLI commands at most 15 ms median and at most 6 times the empty program;
// "pelmora --version" at most 60 ms. PELMORA_BENCH_RUNS sets the rounds (default 41).
// Usage: bench_startup [CLI [GUI]]   (default: the programs of this build)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

extern char** environ;

namespace {

// Runs Args with stdin, stdout and stderr on /dev/null; the wall time in milliseconds, or a
// negative number when the program did not end with status 0. CpuMs: the processor time the
// program used (user and system), which a busy machine changes less than the wall time.
double RunMs(const std::vector<std::string>& args, double* cpuMs = nullptr) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  for (int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  struct rusage ru {};
  wait4(pid, &status, 0, &ru);
  if (cpuMs)
    *cpuMs = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
             (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
  double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

int RunQuiet(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct TCase {
  std::string Name;
  std::vector<std::string> Args;
  double TargetMs = 0;     // 0: no target of its own
  double TargetRatio = 0;  // 0: no target against the empty program
  std::vector<double> Times, CpuTimes;
  bool Failed = false;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::string cli = argc > 1 ? argv[1] : PELMORA_CLI_PATH;
  std::string gui = argc > 2 ? argv[2] : PELMORA_GUI_PATH;
  int runs = 41;
  if (const char* r = std::getenv("PELMORA_BENCH_RUNS")) runs = std::max(1, std::atoi(r));

  // A project of one film, made by the program itself, and a short clip for "probe".
  char tmpl[] = "/tmp/pelmora-bench-startup.XXXXXX";
  if (!mkdtemp(tmpl)) return 2;
  fs::path dir = tmpl;
  std::string project = (dir / "P.pq2pr").string();
  std::string record = (dir / "X.json").string();
  std::ofstream(record) << "{\"Name\": \"X\"}\n";
  if (RunQuiet(Quote(cli) + " new " + Quote(project)) != 0 ||
      RunQuiet(Quote(cli) + " --project " + Quote(project) + " put Films X " + Quote(record)) !=
          0) {
    std::fprintf(stderr, "bench_startup: cannot make the one-record project with %s\n",
                 cli.c_str());
    fs::remove_all(dir);
    return 2;
  }
  std::string clip = (dir / "clip.ts").string();
  bool haveClip = RunQuiet(
                      "ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=2:size=160x120:"
                      "rate=25 -c:v mpeg2video " +
                      Quote(clip)) == 0;

  std::vector<TCase> cases = {
      {"empty C program", {PELMORA_EMPTY_PATH}},
      {"pelmora-cli --version", {cli, "--version"}, 15, 6},
      {"pelmora-cli --project P info", {cli, "--project", project, "info"}, 15, 6},
      {"pelmora-cli --project P get Films X",
       {cli, "--project", project, "get", "Films", "X"},
       15,
       6},
  };
  if (!gui.empty() && fs::exists(gui))
    cases.push_back({"pelmora --version", {gui, "--version"}, 60, 0});
  if (haveClip) cases.push_back({"pelmora-cli probe CLIP (media readers)", {cli, "probe", clip}});

  for (auto& c : cases) RunMs(c.Args);  // warm the page cache
  for (int i = 0; i < runs; ++i)
    for (auto& c : cases) {
      double cpu = 0;
      double ms = RunMs(c.Args, &cpu);
      if (ms < 0) {
        c.Failed = true;
      } else {
        c.Times.push_back(ms);
        c.CpuTimes.push_back(cpu);
      }
    }
  fs::remove_all(dir);

  double empty = Median(cases[0].Times);
  bool ok = true;
  std::printf("%-40s %9s %9s %8s %9s  %s\n", "process", "median", "min", "x empty", "cpu",
              "target");
  for (const auto& c : cases) {
    double med = Median(c.Times);
    double min = c.Times.empty() ? 0 : *std::min_element(c.Times.begin(), c.Times.end());
    std::string verdict;
    if (c.Failed) {
      verdict = "FAILED (exit status not 0)";
      ok = false;
    } else if (c.TargetMs > 0) {
      bool met = med <= c.TargetMs && (c.TargetRatio == 0 || med <= c.TargetRatio * empty);
      char buf[80];
      if (c.TargetRatio > 0)
        std::snprintf(buf, sizeof buf, "<= %.0f ms and <= %.0fx: %s", c.TargetMs, c.TargetRatio,
                      met ? "met" : "MISSED");
      else
        std::snprintf(buf, sizeof buf, "<= %.0f ms: %s", c.TargetMs, met ? "met" : "MISSED");
      verdict = buf;
      ok = ok && met;
    }
    std::printf("%-40s %6.1f ms %6.1f ms %7.1fx %6.1f ms  %s\n", c.Name.c_str(), med, min,
                empty > 0 ? med / empty : 0, Median(c.CpuTimes), verdict.c_str());
  }
  std::printf("%d rounds; median and min of the wall time, cpu: median processor time\n", runs);
  return ok ? 0 : 1;
}
