#pragma once
// The ffmpeg worker: turns one source movie into an MPEG transport stream per job, on its own
// thread, and reports progress texts to the user-interface thread.
//
// A job is handed over with StartJob (or RunDosCmd, which waits for it); the worker starts
// ffmpeg without a shell, in its own process group (a Ctrl+C in the terminal must not reach
// it: ffmpeg would end "normally" and a half-written file would pass as encoded), with stdin
// from /dev/null and stdout and stderr merged into one pipe. Its output is parsed block by
// block; a failed job is tried once more. Pause and resume stop and continue the ffmpeg
// process (SIGSTOP/SIGCONT); cancel and shutdown kill it.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "recstore/Json.h"
#include "base/CommonProcedures.h"
#include "base/InstallPaths.h"

class IOperator;

enum TEncodeResult { E_ok, E_Error, E_Cancel, E_exception };

// The encoder's picture settings and file rules, taken from the options record.
struct TEncoderSettings {
  int64_t BitRate = 12000;  // kbit/s
  std::string AspectRatio = "16:9";
  std::string Resolution = "HD720";  // a preset name, optionally followed by " WxH"
  std::string FrameRate = "25";
  bool KeepExt = false;
  bool MoveFile = false;
  std::string VideoRoot;   // native absolute folder
  std::string FfmpegPath;  // empty: FindFfmpeg()
  std::string WorkDir;     // empty: DefaultEncoderWorkDir()
  int ProbeTimeoutMs = 10000;
};

// Settings from ReadOptions' record (missing keys keep the defaults above) and the video root.
TEncoderSettings EncoderSettingsFromOptions(const TJson& options, const std::string& videoRoot);

// ffmpeg/bin/ffmpeg below the program's folder when it is there, otherwise "ffmpeg" found on
// PATH; "" when neither exists.
std::string FindFfmpeg();
// ffmpeg/bin below the program's folder when it exists, otherwise the program's folder.
std::string DefaultEncoderWorkDir();

// The encoding command line as a program and its arguments (run without a shell), and the same
// as one display text for the log window.
struct TffmpegCommand {
  std::string Program;
  std::vector<std::string> Arguments;  // without the program
  std::string CommandLine;             // "\"program\" " + the filled-in template
};

// The template with "%bitrate%", "%aspect%", "%resolut%" and "%framerate%" filled in from the
// settings, the first "%s" the source and the second the output.
TffmpegCommand MakeEncodeCommand(const TEncoderSettings& settings, const std::string& source,
                                 const std::string& output);
// The template's text itself, for tests and the log.
const std::string& EncodeCommandTemplate();

// "Encoded %s%%" with the given text.
std::string EncodedText(const std::string& percent);

// Reads ffmpeg's console output. Bytes arrive in arbitrary pieces; everything up to and
// including the last CR is a complete block (a lone LF, which this system's ffmpeg writes
// where a console would show CR LF, counts as CR LF). For each complete block the total
// duration ("Duration: ") and the position ("time=" in a block with "frame") are read, and
// the progress texts are produced; "video:" after progress sets the success mark.
class TffmpegOutputParser {
public:
  // Feeds output bytes; ElapsedMs is the time since the encoding started. Progress texts
  // (with the "&Enc" tag) are appended to Reports, complete blocks to Blocks when given.
  void Feed(const std::string& bytes, int64_t elapsedMs, std::vector<std::string>& reports,
            std::vector<std::string>* blocks = nullptr);
  bool SuccessMark() const { return FSuccess; }
  // Total duration (days) once a "Duration: " line was read.
  std::optional<TDateTime> Total() const { return FTotal; }
  double Percent() const { return FPercent; }
  // The last non-empty output line seen, without CR and LF: ffmpeg's reason for a failure.
  std::string LastLine() const;

private:
  void Block(const std::string& block, int64_t elapsedMs, std::vector<std::string>& reports);
  std::string FPending;
  bool FLastWasCR = false;
  std::optional<TDateTime> FTotal;
  double FPercent = 0;
  bool FSuccess = false;
  std::string FLastLine;
};

class TffmpegEncoder {
public:
  // Progress and log reach the caller through Op->RunOnUiThread (AppOperator() when null).
  // An operator that runs the work at once (the plain console operator) calls the handlers on
  // the worker thread; the windows, the CLI and the tests queue it for their own thread.
  explicit TffmpegEncoder(IOperator* op = nullptr);
  ~TffmpegEncoder();  // terminates: kills a running ffmpeg and joins the thread
  TffmpegEncoder(const TffmpegEncoder&) = delete;
  TffmpegEncoder& operator=(const TffmpegEncoder&) = delete;

  // Called on the user-interface thread. OnMsgEvent gets "&Enc" + the progress text.
  std::function<void(const std::string&)> OnMsgEvent;
  std::function<void()> OnStartEvent;
  std::function<void()> OnStopEvent;
  // The log window: opened with the command line when Debug is set, then every output block.
  std::function<void(const std::string&)> OnLogOpen;
  std::function<void(const std::string&)> OnLogText;

  std::atomic<bool> Debug{false};

  // Hands a job to the worker; the worker runs it when it is idle.
  void StartJob(const std::string& workDir, const TffmpegCommand& cmd);
  bool Ready() const { return Fready.load(); }
  // Waits until Ready; Idle (when given) runs every 100 ms and once at the end, so the caller
  // can process its pending user-interface work. Returns the job's result.
  TEncodeResult RunDosCmd(const std::string& workDir, const TffmpegCommand& cmd,
                          const std::function<void()>& idle = {});
  // Waits up to TimeoutMs for the job to finish.
  bool WaitReady(int timeoutMs);

  // Pause stops the ffmpeg process, resume continues it; nothing happens when none runs.
  void SetPause(bool pause);
  bool Paused() const { return FPause.load(); }
  // Cancels the running job (continuing a paused process first).
  void Cancel();
  // Stops the thread; a running ffmpeg is killed.
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  bool FFMPEGIsRunning() const { return FFFMPEGIsRunning.load(); }

  TEncodeResult EncodeResult() const;
  std::string ErrorMsg() const;
  // The process id of the running ffmpeg (0 when none); for tests and diagnostics.
  int RunningPid() const { return FPid.load(); }

private:
  void Execute();
  TEncodeResult RunAttempt(const std::string& workDir, const TffmpegCommand& cmd,
                           std::string& lastLine);
  void Post(std::function<void()> fn);
  void Report(const std::string& msg);

  IOperator* FOp;
  std::shared_ptr<std::atomic<bool>> FAlive;
  std::thread FThread;
  mutable std::mutex cs;  // guards the job fields, the pause flag and the process id
  std::condition_variable FWake;
  std::condition_variable FReadyCv;
  bool strtEvent = false;
  std::string WorkDir;
  TffmpegCommand FCommand;
  std::atomic<bool> FPause{false};
  std::atomic<bool> Fready{true};
  std::atomic<bool> FCancel{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFFMPEGIsRunning{false};
  std::atomic<int> FPid{0};
  TEncodeResult FEncodeResult = E_ok;
  std::string FErrorMsg;
};
