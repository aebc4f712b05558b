#include "catalogue/encoder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "base/Operator.h"
#include "base/StrUtils.h"

namespace fs = std::filesystem;

extern char** environ;

// ---------------------------------------------------------------------------------------------
// Settings and the command line

TEncoderSettings EncoderSettingsFromOptions(const TJson& options, const std::string& videoRoot) {
  TEncoderSettings s;
  s.VideoRoot = videoRoot;
  if (!options.is_object()) return s;
  if (auto it = options.find("BitRate"); it != options.end()) {
    if (it->is_number()) {
      s.BitRate = static_cast<int64_t>(std::llround(it->get<double>()));
    } else if (it->is_string()) {
      // A bitrate typed into an older record as text.
      try {
        s.BitRate = std::stoll(it->get<std::string>());
      } catch (...) {
      }
    }
  }
  auto text = [&](const char* key, std::string& out) {
    if (auto it = options.find(key); it != options.end() && it->is_string())
      out = it->get<std::string>();
  };
  text("AspectRatio", s.AspectRatio);
  text("Resolution", s.Resolution);
  text("FrameRate", s.FrameRate);
  auto flag = [&](const char* key, bool& out) {
    if (auto it = options.find(key); it != options.end() && it->is_boolean()) out = it->get<bool>();
  };
  flag("KeepExt", s.KeepExt);
  flag("MoveFile", s.MoveFile);
  return s;
}

namespace {

bool IsExecutableFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindFfmpeg() {
  fs::path bundled = fs::path(ProgramDir()) / "ffmpeg" / "bin" / "ffmpeg";
  if (IsExecutableFile(bundled)) return bundled.string();
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (!dir.empty() && IsExecutableFile(fs::path(dir) / "ffmpeg"))
      return (fs::path(dir) / "ffmpeg").string();
    start = end + 1;
  }
  return {};
}

std::string DefaultEncoderWorkDir() {
  fs::path bin = fs::path(ProgramDir()) / "ffmpeg" / "bin";
  std::error_code ec;
  if (fs::is_directory(bin, ec)) return bin.string();
  // An installed program writes its encoders' logs to the user's folder, not beside itself.
  if (!InstalledDataDir().empty()) return UserDataDir("encoder");
  return ProgramDir();
}

const std::string& EncodeCommandTemplate() {
  static const std::string text =
      "-i \"%s\" -f mpegts -metadata service_provider=\"Pelmora\" -acodec mp2 -ac 2 -ab 192k "
      "-vcodec mpeg2video -b:v %bitrate%k -minrate %bitrate%k -maxrate %bitrate%k -bufsize "
      "9776k -flags cgop+ilme -s %resolut% -sc_threshold 1000000000 -r %framerate% -g 15 "
      "-aspect %aspect% -y \"%s\"";
  return text;
}

namespace {

void ReplaceAll(std::string& s, const std::string& what, const std::string& with) {
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + with.size()))
    s.replace(p, what.size(), with);
}

// Replaces the first "%s" from From on; returns the position after the replacement.
size_t ReplaceNextS(std::string& s, size_t from, const std::string& with) {
  size_t p = s.find("%s", from);
  if (p == std::string::npos) return std::string::npos;
  s.replace(p, 2, with);
  return p + with.size();
}

// Splits at blanks outside double quotes; the quotes themselves are dropped.
std::vector<std::string> SplitTemplate(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false, any = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) out.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) out.push_back(cur);
  return out;
}

}  // namespace

TffmpegCommand MakeEncodeCommand(const TEncoderSettings& settings, const std::string& source,
                                 const std::string& output) {
  std::string resolut = LowerCase(settings.Resolution.substr(0, settings.Resolution.find(' ')));
  std::string framerate = settings.FrameRate;
  std::replace(framerate.begin(), framerate.end(), ',', '.');
  std::string filled = EncodeCommandTemplate();
  ReplaceAll(filled, "%bitrate%", std::to_string(settings.BitRate));
  ReplaceAll(filled, "%aspect%", settings.AspectRatio);
  ReplaceAll(filled, "%resolut%", resolut);
  ReplaceAll(filled, "%framerate%", framerate);

  TffmpegCommand cmd;
  cmd.Program = settings.FfmpegPath.empty() ? FindFfmpeg() : settings.FfmpegPath;
  if (cmd.Program.empty()) cmd.Program = "ffmpeg";
  // The file names go in as whole arguments after splitting, so blanks or quotes in them
  // cannot change the command.
  int nth = 0;
  for (std::string arg : SplitTemplate(filled)) {
    size_t from = 0;
    while (from != std::string::npos && arg.find("%s", from) != std::string::npos)
      from = ReplaceNextS(arg, from, nth++ == 0 ? source : output);
    cmd.Arguments.push_back(std::move(arg));
  }
  std::string shown = filled;
  size_t from = ReplaceNextS(shown, 0, source);
  if (from != std::string::npos) ReplaceNextS(shown, from, output);
  cmd.CommandLine = "\"" + cmd.Program + "\" " + shown;
  return cmd;
}

std::string EncodedText(const std::string& percent) { return "Encoded " + percent + "%"; }

// ---------------------------------------------------------------------------------------------
// Output parsing

namespace {

constexpr double MSecPerDayD = static_cast<double>(MSecsPerDay);

std::optional<TDateTime> ParseEightCharTime(const std::string& block, size_t at) {
  if (at > block.size()) return std::nullopt;
  try {
    return StrToTime(block.substr(at, 8));
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

std::string LastNonEmptyLine(const std::string& text) {
  size_t end = text.size();
  while (end > 0) {
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
    if (end == 0) break;
    size_t start = text.find_last_of("\r\n", end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    std::string line = text.substr(start, end - start);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    if (!line.empty()) return line;
    end = start;
  }
  return {};
}

}  // namespace

void TffmpegOutputParser::Feed(const std::string& bytes, int64_t elapsedMs,
                               std::vector<std::string>& reports,
                               std::vector<std::string>* blocks) {
  for (char c : bytes) {
    if (c == '\n' && !FLastWasCR) FPending += '\r';
    FPending += c;
    FLastWasCR = c == '\r';
  }
  size_t cr = FPending.rfind('\r');
  if (cr == std::string::npos) return;
  std::string block = FPending.substr(0, cr + 1);
  FPending.erase(0, cr + 1);
  if (blocks) blocks->push_back(block);
  Block(block, elapsedMs, reports);
}

void TffmpegOutputParser::Block(const std::string& block, int64_t elapsedMs,
                                std::vector<std::string>& reports) {
  if (std::string line = LastNonEmptyLine(block); !line.empty()) FLastLine = line;
  if (!FTotal) {
    if (size_t p = block.find("Duration: "); p != std::string::npos)
      FTotal = ParseEightCharTime(block, p + 10);
  }
  if (block.find("frame") != std::string::npos) {
    // Several progress lines can arrive in one read; the last one is the current position.
    if (size_t p = block.rfind("time="); p != std::string::npos) {
      std::optional<TDateTime> position = ParseEightCharTime(block, p + 5);
      if (position && *position != 0) {
        if (FTotal && *FTotal > 0) {
          // In whole milliseconds, so 3 s of 10 s is exactly 30 %, not 29.999...
          FPercent = static_cast<double>(std::llround(*position * MSecsPerDay)) * 100 /
                     static_cast<double>(std::llround(*FTotal * MSecsPerDay));
          double elapsed = elapsedMs / MSecPerDayD;
          std::string text = EncodedText(fmt::format("{:>2}", static_cast<int64_t>(FPercent))) +
                             ", elapsed " + TimeToStr(elapsed);
          if (FPercent != 0) {
            double remaining = std::max(0.0, elapsed / FPercent * (100 - FPercent));
            text += ", remaining " + TimeToStr(remaining);
          }
          reports.push_back("&Enc" + text);
        } else {
          reports.push_back("&Enc" + EncodedText("--"));
        }
      }
      FSuccess = false;
    }
  }
  if (block.find("video:") != std::string::npos && FPercent != 0 && FTotal && *FTotal != 0)
    FSuccess = true;
}

std::string TffmpegOutputParser::LastLine() const {
  std::string pending = LastNonEmptyLine(FPending);
  return pending.empty() ? FLastLine : pending;
}

// ---------------------------------------------------------------------------------------------
// The worker

TffmpegEncoder::TffmpegEncoder(IOperator* op)
    : FOp(op), FAlive(std::make_shared<std::atomic<bool>>(true)) {
  FThread = std::thread([this] { Execute(); });
}

TffmpegEncoder::~TffmpegEncoder() {
  Terminate();
  FAlive->store(false);
  if (FThread.joinable()) FThread.join();
}

void TffmpegEncoder::Post(std::function<void()> fn) {
  IOperator& op = FOp ? *FOp : AppOperator();
  auto alive = FAlive;
  op.RunOnUiThread([alive, fn = std::move(fn)] {
    if (alive->load()) fn();
  });
}

void TffmpegEncoder::Report(const std::string& msg) {
  Post([this, msg] {
    if (OnMsgEvent) OnMsgEvent(msg);
  });
}

void TffmpegEncoder::StartJob(const std::string& workDir, const TffmpegCommand& cmd) {
  std::lock_guard<std::mutex> lock(cs);
  WorkDir = workDir;
  FCommand = cmd;
  FCancel = false;
  Fready = false;
  strtEvent = true;
  FWake.notify_all();
}

bool TffmpegEncoder::WaitReady(int timeoutMs) {
  std::unique_lock<std::mutex> lock(cs);
  return FReadyCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return Fready.load(); });
}

TEncodeResult TffmpegEncoder::RunDosCmd(const std::string& workDir, const TffmpegCommand& cmd,
                                        const std::function<void()>& idle) {
  StartJob(workDir, cmd);
  while (!WaitReady(100)) {
    if (idle) idle();
  }
  if (idle) idle();
  return EncodeResult();
}

void TffmpegEncoder::SetPause(bool pause) {
  std::lock_guard<std::mutex> lock(cs);
  int pid = FPid.load();
  if (pid <= 0 || !FFFMPEGIsRunning) return;
  ::kill(pid, pause ? SIGSTOP : SIGCONT);
  FPause = pause;
}

void TffmpegEncoder::Cancel() {
  SetPause(false);
  FCancel = true;
  FWake.notify_all();
}

void TffmpegEncoder::Terminate() {
  FTerminated = true;
  FWake.notify_all();
}

TEncodeResult TffmpegEncoder::EncodeResult() const {
  std::lock_guard<std::mutex> lock(cs);
  return FEncodeResult;
}

std::string TffmpegEncoder::ErrorMsg() const {
  std::lock_guard<std::mutex> lock(cs);
  return FErrorMsg;
}

void TffmpegEncoder::Execute() {
  for (;;) {
    std::string workDir;
    TffmpegCommand cmd;
    {
      std::unique_lock<std::mutex> lock(cs);
      FWake.wait(lock, [this] { return strtEvent || FTerminated.load(); });
      if (FTerminated) break;
      strtEvent = false;
      workDir = WorkDir;
      cmd = FCommand;
    }
    TEncodeResult result = E_Error;
    std::string errorMsg = "Encode failed!";
    std::string lastLine;
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (attempt > 0 && (result == E_ok || FTerminated || FCancel)) break;
      errorMsg = "Encode failed!";
      lastLine.clear();
      result = RunAttempt(workDir, cmd, lastLine);
      if (result == E_exception) errorMsg = lastLine;
    }
    if (FCancel) {
      result = E_Cancel;
      errorMsg = "Encode canceled";
    } else if (result == E_Error && !lastLine.empty()) {
      errorMsg = lastLine;
    }
    if (!FTerminated)
      Post([this] {
        if (OnStopEvent) OnStopEvent();
      });
    {
      std::lock_guard<std::mutex> lock(cs);
      FEncodeResult = result;
      FErrorMsg = errorMsg;
      Fready = true;
    }
    FReadyCv.notify_all();
  }
  // Nobody waits for a job that never ran.
  {
    std::lock_guard<std::mutex> lock(cs);
    if (!Fready) {
      FEncodeResult = E_Error;
      FErrorMsg = "Encode failed!";
      Fready = true;
    }
  }
  FReadyCv.notify_all();
}

namespace {

class TSpawnResources {
public:
  posix_spawn_file_actions_t Actions;
  posix_spawnattr_t Attr;
  TSpawnResources() {
    posix_spawn_file_actions_init(&Actions);
    posix_spawnattr_init(&Attr);
  }
  ~TSpawnResources() {
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attr);
  }
};

// Reads what is available; returns the bytes read, 0 at the end of the output, -1 when
// nothing is there yet.
ssize_t ReadSome(int fd, char* buf, size_t size) {
  for (;;) {
    ssize_t n = ::read(fd, buf, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    return -1;
  }
}

}  // namespace

TEncodeResult TffmpegEncoder::RunAttempt(const std::string& workDir, const TffmpegCommand& cmd,
                                         std::string& lastLine) {
  if (Debug) {
    std::string head = cmd.CommandLine + "\r\n\r\n";
    Post([this, head] {
      if (OnLogOpen) OnLogOpen(head);
    });
  }

  auto failStart = [&](int err) {
    lastLine = fmt::format("Could not execute command line: \"{}\"! {}", cmd.CommandLine,
                           std::strerror(err));
    return E_exception;
  };

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return failStart(errno);
  TSpawnResources res;
  posix_spawn_file_actions_addopen(&res.Actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&res.Actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&res.Actions, fds[1], 2);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&res.Actions, workDir.c_str());
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, sig);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&res.Attr, &defaults);
  posix_spawnattr_setsigmask(&res.Attr, &none);
  posix_spawnattr_setpgroup(&res.Attr, 0);
  posix_spawnattr_setflags(&res.Attr,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(cmd.Program.c_str()));
  for (const auto& a : cmd.Arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  int rc;
  {
    std::lock_guard<std::mutex> lock(cs);
    rc = posix_spawn(&pid, cmd.Program.c_str(), &res.Actions, &res.Attr, argv.data(), environ);
    if (rc == 0) {
      FPid = pid;
      FFFMPEGIsRunning = true;
    }
  }
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return failStart(rc);
  }
  int fd = fds[0];
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

  Post([this] {
    if (OnStartEvent) OnStartEvent();
  });
  const auto start = std::chrono::steady_clock::now();
  auto elapsedMs = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  };
  Report("&Enc" + EncodedText("0"));

  TffmpegOutputParser parser;
  std::vector<char> buf(24000);
  bool reaped = false, eof = false;
  int status = 0;
  auto handle = [&](const char* data, size_t n) {
    std::vector<std::string> reports, blocks;
    parser.Feed(std::string(data, n), elapsedMs(), reports, Debug ? &blocks : nullptr);
    for (const auto& r : reports) Report(r);
    for (const auto& b : blocks)
      Post([this, b] {
        if (OnLogText) OnLogText(b);
      });
  };
  auto tryReap = [&] {
    if (reaped) return true;
    // Under cs: once reaped, the id may be reused, so pause must no longer signal it.
    std::lock_guard<std::mutex> lock(cs);
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) {
      // ECHILD: the program ignores SIGCHLD and the system reaped ffmpeg; its exit code is
      // lost, so the output alone decides.
      if (r != pid) status = 0;
      reaped = true;
      FPid = 0;
      FFFMPEGIsRunning = false;
    }
    return reaped;
  };

  while (!FTerminated && !FCancel) {
    if (FPause) {
      std::unique_lock<std::mutex> lock(cs);
      FWake.wait_for(lock, std::chrono::milliseconds(100));
      continue;
    }
    if (!eof) {
      pollfd pfd{fd, POLLIN, 0};
      ::poll(&pfd, 1, 100);
      ssize_t n;
      {
        std::lock_guard<std::mutex> lock(cs);
        if (FPause) continue;
        n = ReadSome(fd, buf.data(), buf.size());
      }
      if (n > 0) {
        handle(buf.data(), static_cast<size_t>(n));
        continue;
      }
      if (n == 0) eof = true;
    } else {
      std::unique_lock<std::mutex> lock(cs);
      FWake.wait_for(lock, std::chrono::milliseconds(20));
    }
    if (tryReap()) {
      // Whatever ffmpeg wrote before it ended is still in the pipe: read it all.
      for (ssize_t n; !eof && (n = ReadSome(fd, buf.data(), buf.size())) != 0;) {
        if (n < 0) break;
        handle(buf.data(), static_cast<size_t>(n));
      }
      break;
    }
  }

  {
    std::lock_guard<std::mutex> lock(cs);
    if (!reaped) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      status = -1;
    }
    FPid = 0;
    FFFMPEGIsRunning = false;
    FPause = false;
  }
  ::close(fd);

  // ffmpeg prints its statistics even when it fails at the end (a full disk, a broken
  // trailer); only a clean exit counts as encoded.
  bool exitedCleanly = reaped && status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (parser.SuccessMark() && exitedCleanly && !FTerminated && !FCancel) {
    Report("&Enc" + EncodedText("100"));
    return E_ok;
  }
  lastLine = parser.LastLine();
  return E_Error;
}
