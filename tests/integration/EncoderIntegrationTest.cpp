// The encoder and the length probe with the real ffmpeg, ffprobe and libvlc on short clips made
// from ffmpeg's lavfi test sources in a temporary video root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "catalogue/EncoderJobs.h"
#include "catalogue/EncoderTestSupport.h"
#include "catalogue/MediaLength.h"
#include "catalogue/PasLibVlcPlayer.h"
#include "catalogue/encoder.h"
#include "base/CommonProcedures.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

std::string Capture(const std::string& command) {
  std::string out;
  FILE* f = ::popen(command.c_str(), "r");
  if (!f) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) out.append(buf.data(), n);
  ::pclose(f);
  return out;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Streams and format of a media file as ffprobe sees them.
TJson Probe(const std::string& file) {
  std::string text = Capture(
      "ffprobe -v error -show_entries "
      "format=format_name,duration:stream=codec_type,codec_name,width,height,r_frame_rate,"
      "display_aspect_ratio -of json " +
      Quote(file));
  return TJson::parse(text, nullptr, false);
}

int64_t FfprobeDurationMs(const std::string& file) {
  TJson j = Probe(file);
  return std::llround(std::stod(j["format"]["duration"].get<std::string>()) * 1000);
}

const TJson* Stream(const TJson& probe, const std::string& type) {
  for (const auto& s : probe["streams"])
    if (s.value("codec_type", "") == type) return &s;
  return nullptr;
}

int64_t MsOfText(const std::string& text) {
  return std::llround(StrToTime(text) * MSecsPerDay);
}

// The clips every test uses, made once: Clips holds the sources; Root is the video root.
class EncoderIntegration : public ::testing::Test {
protected:
  static inline TTempDir* Tmp = nullptr;
  static inline std::string Clips, Root;

  static void MakeClip(const std::string& file, double seconds, const std::string& codecs) {
    std::string cmd =
        "ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=" + std::to_string(seconds) +
        ":size=320x240:rate=25 -f lavfi -i sine=frequency=440:duration=" +
        std::to_string(seconds) + " " + codecs + " -shortest -y " + Quote(file) + " 2>&1";
    std::string out = Capture(cmd);
    if (!fs::exists(file)) throw std::runtime_error("cannot make " + file + ": " + out);
  }

  static void SetUpTestSuite() {
    SetLibVlcHeadless(true);
    Tmp = new TTempDir();
    Clips = (Tmp->Path() / "clips").string();
    Root = (Tmp->Path() / "Video").string();
    fs::create_directories(Clips);
    fs::create_directories(Root);
    MakeClip(Clips + "/a.mp4", 3, "-c:v mpeg4 -c:a aac");
    MakeClip(Clips + "/b.avi", 3, "-c:v mpeg4 -c:a mp3");
    MakeClip(Clips + "/c.m2t", 3, "-f mpegts -c:v mpeg2video -c:a mp2");
    MakeClip(Clips + "/long.mp4", 20, "-c:v mpeg4 -c:a aac");
    // The head of an mp4 without its index: ffmpeg cannot read it.
    std::string head = ReadFileBytes(Clips + "/a.mp4").substr(0, 3000);
    WriteFileBytes(Clips + "/corrupt.mp4", head);
  }
  static void TearDownTestSuite() {
    delete Tmp;
    Tmp = nullptr;
  }

  void SetUp() override {
    ASSERT_FALSE(FindFfmpeg().empty()) << "ffmpeg is not installed";
    ASSERT_NE(LibVlcInstance(), nullptr) << "libvlc does not start";
    Work = (Tmp->Path() / ::testing::UnitTest::GetInstance()->current_test_info()->name()).string();
    fs::remove_all(Work);
    fs::create_directories(Work);
    Settings.VideoRoot = Root;
    Settings.WorkDir = Work;
  }
  // A copy of a clip below the video root (in this test's own folder).
  std::string Place(const std::string& clip, const std::string& rel) {
    std::string p = Root + "/" + rel;
    fs::create_directories(fs::path(p).parent_path());
    fs::copy_file(Clips + "/" + clip, p, fs::copy_options::overwrite_existing);
    return p;
  }
  std::unique_ptr<TEncoderJobList> Make() {
    auto jobs = std::make_unique<TEncoderJobList>(Settings, &Op);
    jobs->Idle = [this] { Op.Pump(); };
    jobs->Encoder().OnStartEvent = [this] { ++Starts; };
    return jobs;
  }

  TUiQueueOperator Op;
  TEncoderSettings Settings;
  std::string Work;
  int Starts = 0;
};

}  // namespace

TEST_F(EncoderIntegration, SourcesBecomeMpegTsWithTheConfiguredPictureAndSound) {
  Settings.Resolution = "PAL 720x576";
  Settings.FrameRate = "25";
  Settings.AspectRatio = "4:3";
  Settings.BitRate = 4000;
  auto jobs = Make();
  std::string a = Place("a.mp4", "pal/a.mp4");
  jobs->AddFiles({a});
  ASSERT_EQ(StatusTag(jobs->Rows[0].Status), "&Don") << jobs->Rows[0].Status;
  EXPECT_EQ(jobs->Rows[0].Encoded, Root + "/pal/a.m2t");

  Settings.Resolution = "HD720 1280x720";
  Settings.FrameRate = "29.97";
  Settings.AspectRatio = "16:9";
  Settings.BitRate = 6000;
  Settings.KeepExt = true;
  auto jobs2 = Make();
  std::string b = Place("b.avi", "hd/b.avi");
  jobs2->AddFiles({b});
  ASSERT_EQ(StatusTag(jobs2->Rows[0].Status), "&Don") << jobs2->Rows[0].Status;
  EXPECT_EQ(jobs2->Rows[0].Encoded, Root + "/hd/b.avi.m2t");
  EXPECT_FALSE(fs::exists(Root + "/hd/b.m2t"));

  struct TExpect {
    std::string File;
    int W, H;
    std::string Rate, Aspect;
  };
  for (const TExpect& e : {TExpect{Root + "/pal/a.m2t", 720, 576, "25/1", "4:3"},
                           TExpect{Root + "/hd/b.avi.m2t", 1280, 720, "30000/1001", "16:9"}}) {
    SCOPED_TRACE(e.File);
    TJson p = Probe(e.File);
    ASSERT_TRUE(p.is_object());
    EXPECT_EQ(p["format"]["format_name"], "mpegts");
    const TJson* v = Stream(p, "video");
    const TJson* s = Stream(p, "audio");
    ASSERT_TRUE(v && s);
    EXPECT_EQ((*v)["codec_name"], "mpeg2video");
    EXPECT_EQ((*v)["width"], e.W);
    EXPECT_EQ((*v)["height"], e.H);
    EXPECT_EQ((*v)["r_frame_rate"], e.Rate);
    EXPECT_EQ((*v)["display_aspect_ratio"], e.Aspect);
    EXPECT_EQ((*s)["codec_name"], "mp2");
  }
  // The duration in the row is the player's length of the encoded file, close to ffprobe's.
  EXPECT_NEAR(MsOfText(StatusText(jobs->Rows[0].Status)), FfprobeDurationMs(Root + "/pal/a.m2t"),
              100);
  EXPECT_EQ(jobs->CreateRecordPairs(),
            TJson::array({TJson::array({"pal\\a.m2t", StatusText(jobs->Rows[0].Status)})}));
  EXPECT_EQ(Starts, 2);
}

TEST_F(EncoderIntegration, ATransportStreamSourceIsOnlyMeasured) {
  auto jobs = Make();
  std::string c = Place("c.m2t", "ts/c.m2t");
  jobs->AddFiles({c});
  ASSERT_EQ(StatusTag(jobs->Rows[0].Status), "&Don") << jobs->Rows[0].Status;
  EXPECT_EQ(jobs->Rows[0].Encoded, "");
  EXPECT_EQ(Starts, 0);
  EXPECT_NEAR(MsOfText(StatusText(jobs->Rows[0].Status)), FfprobeDurationMs(c), 100);
  EXPECT_EQ(jobs->CreateRecordPairs()[0][0], "ts\\c.m2t");
}

TEST_F(EncoderIntegration, ACorruptSourceFailsAfterTwoAttemptsWithFfmpegsLastLine) {
  auto jobs = Make();
  std::string bad = Place("corrupt.mp4", "bad/corrupt.mp4");
  jobs->AddFiles({bad});
  EXPECT_EQ(StatusTag(jobs->Rows[0].Status), "&Err");
  EXPECT_THAT(jobs->Rows[0].Status, HasSubstr("Invalid data found when processing input"));
  EXPECT_EQ(Starts, 2);
  EXPECT_EQ(jobs->Rows[0].Encoded, "");
}

TEST_F(EncoderIntegration, CancelEndsTheRowAndTheNextRowStillRuns) {
  Settings.Resolution = "HD1080";
  Settings.BitRate = 18000;
  auto jobs = Make();
  bool cancelled = false;
  jobs->Idle = [&] {
    Op.Pump();
    const std::string& st = jobs->Rows[0].Status;
    if (!cancelled && st.find("elapsed") != std::string::npos) {
      cancelled = true;
      jobs->Encoder().Cancel();
    }
  };
  std::string longClip = Place("long.mp4", "cancel/long.mp4");
  std::string a = Place("a.mp4", "cancel/a.mp4");
  jobs->AddFiles({longClip, a});
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(jobs->Rows[0].Status, "&ErrEncode canceled");
  EXPECT_EQ(StatusTag(jobs->Rows[1].Status), "&Don") << jobs->Rows[1].Status;
  EXPECT_EQ(Starts, 2);  // one for the cancelled row, one for the next
}

TEST_F(EncoderIntegration, PauseStopsProgressAndResumeFinishes) {
  Settings.Resolution = "PAL";
  Settings.BitRate = 3000;
  TffmpegEncoder enc(&Op);
  std::vector<std::string> msgs;
  std::vector<std::chrono::steady_clock::time_point> blocks;
  enc.Debug = true;
  enc.OnMsgEvent = [&](const std::string& m) { msgs.push_back(m); };
  enc.OnLogText = [&](const std::string& b) {
    if (b.find("time=") != std::string::npos) blocks.push_back(std::chrono::steady_clock::now());
  };
  std::string src = Place("long.mp4", "pause/long.mp4");
  std::string out = Root + "/pause/long.m2t";
  enc.StartJob(Work, MakeEncodeCommand(Settings, src, out));
  ASSERT_TRUE(Op.PumpUntil(
      [&] { return !msgs.empty() && msgs.back().find("elapsed") != std::string::npos; }, 30000));
  enc.SetPause(true);
  ASSERT_TRUE(enc.Paused());
  Op.PumpUntil([] { return false; }, 300);  // what was read before the stop arrives
  size_t blocksAtPause = blocks.size(), msgsAtPause = msgs.size();
  auto sizeAtPause = fs::file_size(out);
  Op.PumpUntil([] { return false; }, 1500);
  EXPECT_EQ(blocks.size(), blocksAtPause) << "progress while paused";
  EXPECT_EQ(msgs.size(), msgsAtPause);
  EXPECT_EQ(fs::file_size(out), sizeAtPause);
  EXPECT_FALSE(enc.Ready());
  enc.SetPause(false);
  ASSERT_TRUE(Op.PumpUntil([&] { return enc.Ready(); }, 120000));
  Op.Pump();
  EXPECT_EQ(enc.EncodeResult(), E_ok) << enc.ErrorMsg();
  EXPECT_GT(blocks.size(), blocksAtPause);
  EXPECT_EQ(msgs.back(), "&EncEncoded 100%");
  EXPECT_NEAR(FfprobeDurationMs(out), 20000, 200);
}

// ffprobe's container length in milliseconds, unrounded.
double FfprobeLengthMs(const std::string& file) {
  TJson j = Probe(file);
  return std::stod(j["format"]["duration"].get<std::string>()) * 1000.0;
}

TEST_F(EncoderIntegration, LengthsAgreeWithFfprobeWithinAFrame) {
  // MPEG-TS made by the encoder's own command line (the player read these 0.65 s too long),
  // and the containers sources come in (the player read AVI 0.76 s too short).
  std::string dir = Work + "/lengths";
  fs::create_directories(dir);
  TEncoderSettings s = Settings;
  s.Resolution = "PAL 720x576";
  std::vector<std::string> files;
  for (double seconds : {2.0, 7.0}) {
    std::string base = dir + "/clip" + std::to_string(static_cast<int>(seconds));
    MakeClip(base + ".mp4", seconds, "-c:v mpeg4 -c:a aac");
    MakeClip(base + ".mkv", seconds, "-c:v mpeg4 -c:a mp3");
    MakeClip(base + ".avi", seconds, "-c:v mpeg4 -c:a mp3");
    MakeClip(base + ".mpg", seconds, "-c:v mpeg2video -c:a mp2");
    TffmpegCommand cmd = MakeEncodeCommand(s, base + ".mp4", base + ".m2t");
    std::string line = Quote(cmd.Program) + " -nostdin -v error";
    for (const auto& a : cmd.Arguments) line += " " + Quote(a);
    Capture(line + " 2>&1");
    ASSERT_TRUE(fs::exists(base + ".m2t")) << line;
    for (const char* ext : {".m2t", ".mp4", ".mkv", ".avi", ".mpg"}) files.push_back(base + ext);
  }
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    double expected = FfprobeLengthMs(file);
    std::optional<int64_t> direct = MediaFileLengthMs(file);
    ASSERT_TRUE(direct);
    EXPECT_NEAR(static_cast<double>(*direct), expected, 40);
    // What "probe", the encoder and the films window store.
    std::optional<int64_t> probed = ProbeMediaLength(file, 10000);
    ASSERT_TRUE(probed);
    EXPECT_EQ(*probed, *direct);
  }
  std::optional<int64_t> bad = ProbeMediaLength(Clips + "/corrupt.mp4", 3000);
  EXPECT_TRUE(!bad || *bad == 0);
  EXPECT_FALSE(MediaFileLengthMs(Clips + "/corrupt.mp4").has_value());
  EXPECT_FALSE(MediaFileLengthMs(Clips + "/missing.mp4").has_value());
  EXPECT_FALSE(ProbeMediaLength(Clips + "/missing.mp4", 3000).value_or(0) > 0);
}

TEST_F(EncoderIntegration, ASourceOutsideTheVideoRootIsRefused) {
  auto jobs = Make();
  jobs->AddFiles({Clips + "/a.mp4"});
  EXPECT_EQ(jobs->Rows[0].Status, "&ErrPlaced not in Video root derectory!");
  EXPECT_EQ(Starts, 0);
  EXPECT_FALSE(fs::exists(Clips + "/a.m2t"));
}

TEST_F(EncoderIntegration, PlayerReportsLengthAndEndOnTheUserInterfaceThread) {
  TPasLibVlcPlayer player(&Op);
  player.MediaOptions = {"network-caching=100", ""};
  std::vector<int64_t> lengths;
  bool ended = false;
  std::thread::id uiThread = std::this_thread::get_id(), seenOn;
  player.OnMediaPlayerLengthChanged = [&](int64_t len) {
    lengths.push_back(len);
    seenOn = std::this_thread::get_id();
  };
  player.OnMediaPlayerEndReached = [&] { ended = true; };
  player.Play(Clips + "/c.m2t", 10000);
  ASSERT_TRUE(Op.PumpUntil([&] { return !lengths.empty() && lengths.back() > 0; }, 10000));
  EXPECT_EQ(seenOn, uiThread);
  EXPECT_NEAR(lengths.back(), FfprobeDurationMs(Clips + "/c.m2t"), 100);
  EXPECT_EQ(player.GetVideoLenStr("hh:mm:ss,mcs"), MediaTimeToStr("hh:mm:ss,mcs", lengths.back()));
  player.SetMute(true);
  ASSERT_TRUE(Op.PumpUntil([&] { return player.GetState() == plvPlayer_Playing; }, 5000));
  player.Pause();
  EXPECT_TRUE(Op.PumpUntil([&] { return player.GetState() == plvPlayer_Paused; }, 5000));
  player.Resume();
  EXPECT_TRUE(Op.PumpUntil([&] { return ended; }, 15000));
  EXPECT_EQ(player.GetState(), plvPlayer_Ended);
  player.Stop();
  EXPECT_EQ(player.GetState(), plvPlayer_Stopped);
}

// ---------------------------------------------------------------------------------------------
// pelmora-cli

namespace {

struct TGroupCliRun {
  int Status = -1;
  std::string Out, Err;
};

// Runs the CLI in its own process group (as a terminal runs a foreground job); OnRunning may
// signal it while it runs. Output goes through files so nothing blocks.
TGroupCliRun RunCliInGroup(const std::vector<std::string>& args, const std::string& dir,
               const std::function<bool(pid_t, const std::string& err)>& onRunning = {}) {
  std::string outFile = dir + "/cli.out", errFile = dir + "/cli.err";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    FILE* o = std::freopen(outFile.c_str(), "w", stdout);
    FILE* e = std::freopen(errFile.c_str(), "w", stderr);
    (void)o;
    (void)e;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(PELMORA_CLI_PATH));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(PELMORA_CLI_PATH, argv.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);
  TGroupCliRun run;
  bool signalled = false;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (onRunning && !signalled) signalled = onRunning(pid, ReadFileBytes(errFile));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (run.Status == -1) {
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  run.Out = ReadFileBytes(outFile);
  run.Err = ReadFileBytes(errFile);
  return run;
}

// Processes whose command line mentions Text.
int ProcessesMentioning(const std::string& text) {
  int n = 0;
  for (const auto& e : fs::directory_iterator("/proc")) {
    std::string name = e.path().filename().string();
    if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
    std::string cmd = ReadFileBytes(e.path().string() + "/cmdline");
    if (cmd.find(text) != std::string::npos) ++n;
  }
  return n;
}

}  // namespace

TEST_F(EncoderIntegration, CliEncodesWithProgressAndPrintsThePairs) {
  std::string a = Place("a.mp4", "cli/a.mp4");
  TGroupCliRun run = RunCliInGroup({"encode", a, "--video-root", Root}, Work);
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_THAT(run.Err, HasSubstr("[1/1] a.mp4: Encoded 0%"));
  EXPECT_THAT(run.Err, HasSubstr("[1/1] a.mp4: Encoded 100%"));
  std::string len = MediaTimeToStr("hh:mm:ss,mcs", *ProbeMediaLength(Root + "/cli/a.m2t"));
  EXPECT_THAT(run.Out, HasSubstr("[[\"cli\\\\a.m2t\",\"" + len + "\"]]"));

  TGroupCliRun probe = RunCliInGroup({"probe", Root + "/cli/a.m2t"}, Work);
  EXPECT_EQ(probe.Status, 0) << probe.Err;
  EXPECT_EQ(probe.Out, len + "\n");
  EXPECT_EQ(RunCliInGroup({"probe", Root + "/none.m2t"}, Work).Status, 3);
}

TEST_F(EncoderIntegration, CtrlCInTheCliCancelsTheRunningEncodingCleanly) {
  std::string longClip = Place("long.mp4", "cli-int/long.mp4");
  std::string a = Place("a.mp4", "cli-int/a.mp4");
  TGroupCliRun run = RunCliInGroup({"encode", longClip, a, "--video-root", Root}, Work,
                       [](pid_t pid, const std::string& err) {
                         if (err.find("elapsed") == std::string::npos) return false;
                         ::kill(-pid, SIGINT);  // what a terminal's Ctrl+C does
                         return true;
                       });
  EXPECT_EQ(run.Status, 1) << run.Err;
  EXPECT_THAT(run.Out, HasSubstr("error\t" + longClip));
  EXPECT_THAT(run.Out, HasSubstr("Encode canceled"));
  EXPECT_THAT(run.Out, HasSubstr("not processed\t" + a));
  EXPECT_THAT(run.Out, HasSubstr("[]"));
  EXPECT_EQ(ProcessesMentioning(Root + "/cli-int/long.m2t"), 0);
}

TEST_F(EncoderIntegration, CliWithAProjectUsesItsOptionsAndVideoRoot) {
  std::string proj = Work + "/p.pq2pr";
  ASSERT_EQ(RunCliInGroup({"new", proj}, Work).Status, 0);
  WriteFileBytes(Work + "/options.json",
                 R"({"WinVideoDir": "..\\media", "Resolution": "PAL 720x576", "BitRate": 3000,
                     "AspectRatio": "4:3", "FrameRate": "25", "KeepExt": true,
                     "MoveFile": true})");
  TGroupCliRun put = RunCliInGroup({"--project", proj, "put", "Options", "Options", Work + "/options.json"},
                       Work);
  ASSERT_EQ(put.Status, 0) << put.Err;
  fs::create_directories(Work + "/media/x");
  std::string src = Work + "/media/x/a.mp4";
  fs::copy_file(Clips + "/a.mp4", src);
  TGroupCliRun run = RunCliInGroup({"--project", proj, "--json", "encode", src}, Work);
  ASSERT_EQ(run.Status, 0) << run.Err;
  std::string out = Work + "/media/x/a.mp4.m2t";
  TJson p = Probe(out);
  const TJson* v = Stream(p, "video");
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)["width"], 720);
  EXPECT_EQ((*v)["height"], 576);
  EXPECT_EQ((*v)["display_aspect_ratio"], "4:3");
  // The source went to "Source" below the root, keeping its folder.
  EXPECT_FALSE(fs::exists(src));
  EXPECT_TRUE(fs::exists(Work + "/media/Source/x/a.mp4"));
  TJson doc = TJson::parse(run.Out, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << run.Out;
  EXPECT_EQ(doc["Pairs"][0][0], "x\\a.mp4.m2t");
  EXPECT_EQ(doc["Rows"][0]["Status"], "done");
  EXPECT_NEAR(MsOfText(doc["Pairs"][0][1].get<std::string>()), FfprobeDurationMs(out), 100);
}

TEST_F(EncoderIntegration, PlayingAnHttpStreamWaitsUntilItPlays) {
  // ffmpeg serves the clip once on a loopback port, at its own pace.
  int port = 20000 + ::getpid() % 20000;
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/live.ts";
  pid_t server = ::fork();
  if (server == 0) {
    std::string in = Clips + "/long.mp4";
    ::execlp("ffmpeg", "ffmpeg", "-nostdin", "-v", "error", "-re", "-i", in.c_str(), "-c:v",
             "mpeg2video", "-c:a", "mp2", "-f", "mpegts", "-listen", "1", url.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(server, 0);
  struct TStopServer {
    pid_t Pid;
    ~TStopServer() {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
  } stopServer{server};
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // until it listens
  TPasLibVlcPlayer player(&Op);
  player.MediaOptions = {"network-caching=100"};
  auto t0 = std::chrono::steady_clock::now();
  player.Play(url, 10000);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_EQ(player.GetState(), plvPlayer_Playing);
  EXPECT_TRUE(player.IsPlay());
  player.Stop();
}
