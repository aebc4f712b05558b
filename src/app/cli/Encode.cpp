// Encoding commands: encode (source movies to transport streams, with live progress) and probe
// (a media file's length as the player reports it).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <iostream>

#include <fmt/format.h>

#include "app/cli/CliCommon.h"
#include "catalogue/EncoderJobs.h"
#include "catalogue/PasLibVlcPlayer.h"
#include "base/CommonProcedures.h"
#include "shell/Options.h"
#include "base/UiQueue.h"

namespace fs = std::filesystem;

namespace {

// The console's "user-interface thread" is the main thread: work posted by the encoder and
// the player waits in a queue until the main thread runs it between its waits.
class TQueuedConsoleOperator : public TConsoleOperator {
public:
  using TConsoleOperator::TConsoleOperator;
  void RunOnUiThread(std::function<void()> fn) override { FQueue.Post(std::move(fn)); }
  void RunQueued() { FQueue.Pump(); }

private:
  TUiQueue FQueue;
};

std::atomic<int> GInterrupts{0};

extern "C" void OnInterrupt(int) { GInterrupts.fetch_add(1); }

class TInterruptGuard {
public:
  TInterruptGuard() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &FOldInt);
    sigaction(SIGTERM, &sa, &FOldTerm);
  }
  ~TInterruptGuard() {
    sigaction(SIGINT, &FOldInt, nullptr);
    sigaction(SIGTERM, &FOldTerm, nullptr);
  }

private:
  struct sigaction FOldInt {};
  struct sigaction FOldTerm {};
};

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  return fs::absolute(path, ec).lexically_normal().string();
}

TEncoderSettings SettingsFor(TCliContext& ctx, const std::string& videoRoot) {
  TJson options = TJson::object();
  std::string root;
  if (!ctx.ProjectFile.empty()) {
    TDbFile& db = ctx.OpenMain();
    options = ReadOptions(db);
    root = GetOptionDir(db, odVideo);
  } else {
    // No project: the encoder's defaults, as for a project without an options record.
    options = TJson::object();
  }
  if (!videoRoot.empty()) root = videoRoot;
  if (root.empty()) {
    std::error_code ec;
    root = fs::current_path(ec).string();
  }
  return EncoderSettingsFromOptions(options, AbsolutePath(root));
}

void CmdEncode(TCliContext& ctx, const std::vector<std::string>& files, const std::string& root,
               bool showLog) {
  ctx.Prepare();
  TQueuedConsoleOperator op(
      ctx.Yes ? TConsoleOperator::TAnswerMode::Yes
              : (ctx.No ? TConsoleOperator::TAnswerMode::No : TConsoleOperator::TAnswerMode::Safe));
  SetAppOperator(&op);
  struct TRestore {
    TCliContext& Ctx;
    ~TRestore() { SetAppOperator(Ctx.Op.get()); }
  } restore{ctx};
  SetLibVlcHeadless(true);

  TEncoderSettings settings = SettingsFor(ctx, root);
  std::cerr << "video root: " << settings.VideoRoot << std::endl;
  TEncoderJobList jobs(settings, &op);
  const bool tty = ::isatty(2) == 1;
  std::string shown;
  jobs.OnRowChanged = [&](int row) {
    const TEncoderRow& r = jobs.Rows[row];
    if (r.Status.empty()) return;
    std::string line = fmt::format("[{}/{}] {}: {}", row + 1, jobs.Rows.size(),
                                   fs::path(r.Source).filename().string(), StatusText(r.Status));
    if (line == shown) return;
    shown = line;
    if (tty && StatusTag(r.Status) == "&Enc")
      std::cerr << "\r\033[K" << line << std::flush;
    else
      std::cerr << (tty ? "\r\033[K" : "") << line << std::endl;
  };
  jobs.Encoder().Debug = showLog;
  jobs.Encoder().OnLogOpen = [](const std::string& head) { std::cerr << head; };
  jobs.Encoder().OnLogText = [](const std::string& text) { std::cerr << text; };

  TInterruptGuard guard;
  GInterrupts = 0;
  bool interrupted = false;
  jobs.Idle = [&] {
    op.RunQueued();
    if (GInterrupts.load() > 0 && !interrupted) {
      interrupted = true;
      std::cerr << (tty ? "\r\033[K" : "") << "interrupted: cancelling the running encoding"
                << std::endl;
      jobs.Stop();
    }
  };

  std::vector<std::string> sources;
  for (const auto& f : files) sources.push_back(AbsolutePath(f));
  jobs.AddFiles(sources);
  op.RunQueued();
  if (tty) std::cerr << "\r\033[K";

  TJson rows = TJson::array();
  bool allDone = true;
  for (size_t i = 0; i < jobs.Rows.size(); ++i) {
    const TEncoderRow& r = jobs.Rows[i];
    std::string tag = StatusTag(r.Status);
    if (tag != "&Don") allDone = false;
    std::string state = tag == "&Don" ? "done" : tag == "&Err" ? "error" : "not processed";
    rows.push_back({{"N", i + 1},
                    {"Source", r.Source},
                    {"Encoded", r.Encoded},
                    {"Status", state},
                    {"Text", StatusText(r.Status)}});
    if (!ctx.Json)
      std::cout << i + 1 << "\t" << state << "\t" << r.Source << "\t"
                << (r.Encoded.empty() ? "-" : r.Encoded) << "\t" << StatusText(r.Status)
                << std::endl;
  }
  TJson pairs = jobs.CreateRecordPairs();
  if (ctx.Json)
    PrintJson(TJson{{"Rows", rows}, {"Pairs", pairs}});
  else
    PrintJson(pairs, -1);
  if (interrupted) throw ECliError(ExitFailed, "interrupted; remaining files were not processed");
  if (!allDone) throw ECliError(ExitFailed, "not every file was encoded and measured");
}

void CmdProbe(TCliContext& ctx, const std::string& file, int timeoutMs) {
  ctx.Prepare();
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) throw ECliError(ExitNotFound, "no such file: " + file);
  SetLibVlcHeadless(true);
  std::optional<int64_t> len = ProbeMediaLength(AbsolutePath(file), timeoutMs);
  if (!len || *len <= 0)
    throw ECliError(ExitFailed, "Invalid movie: the length of " + file + " cannot be read");
  std::string text = MediaTimeToStr("hh:mm:ss,mcs", *len);
  if (ctx.Json)
    PrintJson(TJson{{"File", file}, {"LengthMs", *len}, {"Length", text}});
  else
    std::cout << text << std::endl;
}

void RegisterEncodeCommands(CLI::App& app, TCliContext& ctx) {
  static std::vector<std::string> files;
  static std::string root;
  static bool showLog = false;
  auto* enc = app.add_subcommand(
      "encode", "Encode movies to MPEG-TS (.m2t) with ffmpeg, measure them, list film pairs");
  enc->add_option("FILE", files, "Source movies")->required();
  enc->add_option("--video-root", root,
                  "Video root (default: the project's, else the current folder)");
  enc->add_flag("--log", showLog, "Show ffmpeg's output");
  enc->callback([&ctx] { CmdEncode(ctx, files, root, showLog); });

  static std::string probeFile;
  static int timeoutMs = 10000;
  auto* probe = app.add_subcommand("probe", "A media file's length (hh:mm:ss,mcs)");
  probe->add_option("FILE", probeFile, "Media file")->required();
  probe->add_option("--timeout", timeoutMs, "Milliseconds to wait for the length")
      ->check(CLI::Range(100, 600000));
  probe->callback([&ctx] { CmdProbe(ctx, probeFile, timeoutMs); });
}

static TCliRegistration registration(RegisterEncodeCommands);

}  // namespace
