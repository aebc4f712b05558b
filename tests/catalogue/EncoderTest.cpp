// The encoder's command line, the reading of ffmpeg's output, the worker's job protocol (with
// small scripts standing in for ffmpeg) and the job list's rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <algorithm>

#include "catalogue/EncoderJobs.h"
#include "shell/Databases.h"
#include "catalogue/EncoderTestSupport.h"
#include "catalogue/encoder.h"
#include "base/CommonProcedures.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// Output of ffmpeg 5.1 encoding a 10-second clip, as it arrives on the pipe: header lines end
// with LF, progress lines with CR, the last progress line with LF, then the statistics.
const char* KRecordedHead =
    "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'clip.mp4':\n"
    "  Metadata:\n"
    "    major_brand     : isom\n"
    "  Duration: 00:00:10.00, start: 0.000000, bitrate: 1402 kb/s\n"
    "  Stream #0:0[0x1](und): Video: mpeg4 (Simple Profile), yuv420p, 320x240, 25 fps\n"
    "Stream mapping:\n"
    "  Stream #0:0 -> #0:0 (mpeg4 (native) -> mpeg2video (native))\n"
    "Press [q] to stop, [?] for help\n"
    "Output #0, mpegts, to 'clip.m2t':\n";

const char* KProgress05 =
    "frame=   13 fps=0.0 q=2.0 size=     256kB time=00:00:00.52 bitrate=4000.0kbits/s "
    "speed=1.0x    \r";
const char* KProgress30 =
    "frame=   75 fps= 40 q=2.0 size=    3328kB time=00:00:03.00 bitrate=9087.3kbits/s "
    "speed=1.5x    \r";
const char* KProgressLast =
    "frame=  250 fps= 42 q=2.0 Lsize=   14894kB time=00:00:10.00 bitrate=12000.0kbits/s "
    "speed=1.7x    \n";
const char* KStatistics =
    "video:14682kB audio:235kB subtitle:0kB other streams:0kB global headers:0kB muxing "
    "overhead: 2.766010%\n";

std::vector<std::string> Feed(TffmpegOutputParser& p, const std::string& bytes, int64_t ms) {
  std::vector<std::string> reports;
  p.Feed(bytes, ms, reports);
  return reports;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TEST(EncoderCommandLine, TemplateIsFilledFromTheDefaultSettings) {
  TEncoderSettings s;
  s.FfmpegPath = "/opt/ff/ffmpeg";
  TffmpegCommand cmd = MakeEncodeCommand(s, "/v/in.avi", "/v/in.m2t");
  EXPECT_EQ(cmd.Program, "/opt/ff/ffmpeg");
  EXPECT_EQ(cmd.CommandLine,
            "\"/opt/ff/ffmpeg\" -i \"/v/in.avi\" -f mpegts -metadata "
            "service_provider=\"Pelmora\" -acodec mp2 -ac 2 -ab 192k -vcodec mpeg2video -b:v "
            "12000k -minrate 12000k -maxrate 12000k -bufsize 9776k -flags cgop+ilme -s hd720 "
            "-sc_threshold 1000000000 -r 25 -g 15 -aspect 16:9 -y \"/v/in.m2t\"");
  EXPECT_THAT(cmd.Arguments,
              ElementsAre("-i", "/v/in.avi", "-f", "mpegts", "-metadata",
                          "service_provider=Pelmora", "-acodec", "mp2", "-ac", "2", "-ab", "192k",
                          "-vcodec", "mpeg2video", "-b:v", "12000k", "-minrate", "12000k",
                          "-maxrate", "12000k", "-bufsize", "9776k", "-flags", "cgop+ilme", "-s",
                          "hd720", "-sc_threshold", "1000000000", "-r", "25", "-g", "15",
                          "-aspect", "16:9", "-y", "/v/in.m2t"));
}

TEST(EncoderCommandLine, PresetItemIsCutAndLoweredAndFrameRateUsesAPoint) {
  TEncoderSettings s;
  s.FfmpegPath = "ff";
  s.Resolution = "PAL 720x576";
  s.FrameRate = "29,97";
  s.AspectRatio = "4:3";
  s.BitRate = 6000;
  TffmpegCommand cmd = MakeEncodeCommand(s, "a", "b");
  auto after = [&](const std::string& opt) {
    for (size_t i = 0; i + 1 < cmd.Arguments.size(); ++i)
      if (cmd.Arguments[i] == opt) return cmd.Arguments[i + 1];
    return std::string("<missing>");
  };
  EXPECT_EQ(after("-s"), "pal");
  EXPECT_EQ(after("-r"), "29.97");
  EXPECT_EQ(after("-aspect"), "4:3");
  EXPECT_EQ(after("-b:v"), "6000k");
  EXPECT_EQ(after("-minrate"), "6000k");
  EXPECT_EQ(after("-maxrate"), "6000k");
  EXPECT_THAT(cmd.CommandLine, HasSubstr("-s pal -sc_threshold"));
}

TEST(EncoderCommandLine, FileNamesStayWholeArgumentsWhateverTheyHoldInside) {
  TEncoderSettings s;
  s.FfmpegPath = "ff";
  const std::string src = "/v/My \"best\" film $(rm -rf x) %s.avi";
  const std::string out = "/v/My \"best\" film $(rm -rf x) %s.avi.m2t";
  TffmpegCommand cmd = MakeEncodeCommand(s, src, out);
  ASSERT_GE(cmd.Arguments.size(), 2u);
  EXPECT_EQ(cmd.Arguments[1], src);
  EXPECT_EQ(cmd.Arguments.back(), out);
  EXPECT_EQ(cmd.Arguments.size(), 36u);
}

TEST(EncoderSettings, OptionsRecordOverridesTheDefaults) {
  TEncoderSettings d = EncoderSettingsFromOptions(TJson::object(), "/video");
  EXPECT_EQ(d.BitRate, 12000);
  EXPECT_EQ(d.Resolution, "HD720");
  EXPECT_EQ(d.FrameRate, "25");
  EXPECT_EQ(d.AspectRatio, "16:9");
  EXPECT_FALSE(d.KeepExt);
  EXPECT_FALSE(d.MoveFile);
  EXPECT_EQ(d.VideoRoot, "/video");

  TJson o = {{"BitRate", 6000.0},      {"Resolution", "PAL 720x576"}, {"FrameRate", "23.98"},
             {"AspectRatio", "4:3"},   {"KeepExt", true},             {"MoveFile", true}};
  TEncoderSettings s = EncoderSettingsFromOptions(o, "/v");
  EXPECT_EQ(s.BitRate, 6000);
  EXPECT_EQ(s.Resolution, "PAL 720x576");
  EXPECT_EQ(s.FrameRate, "23.98");
  EXPECT_EQ(s.AspectRatio, "4:3");
  EXPECT_TRUE(s.KeepExt);
  EXPECT_TRUE(s.MoveFile);
}

// ---------------------------------------------------------------------------------------------

TEST(EncoderOutputParser, RecordedOutputGivesTheProgressTextsAndTheSuccessMark) {
  TffmpegOutputParser p;
  EXPECT_TRUE(Feed(p, KRecordedHead, 100).empty());
  ASSERT_TRUE(p.Total());
  EXPECT_EQ(MediaTimeToStr("hh:mm:ss", std::llround(*p.Total() * MSecsPerDay)), "00:00:10");
  // 0.52 s is read as 00:00:00 (eight characters): position zero reports nothing.
  EXPECT_TRUE(Feed(p, KProgress05, 500).empty());
  // 3 of 10 seconds after 6 seconds: 30 %, 14 seconds to go.
  EXPECT_THAT(Feed(p, KProgress30, 6000),
              ElementsAre("&EncEncoded 30%, elapsed 00:00:06, remaining 00:00:14"));
  EXPECT_FALSE(p.SuccessMark());
  auto last = Feed(p, std::string(KProgressLast) + KStatistics, 20000);
  EXPECT_THAT(last, ElementsAre("&EncEncoded 100%, elapsed 00:00:20, remaining 00:00:00"));
  EXPECT_TRUE(p.SuccessMark());
}

TEST(EncoderOutputParser, OneDigitPercentIsTwoCharactersWide) {
  TffmpegOutputParser p;
  Feed(p, "  Duration: 00:01:40.00, start: 0.0\n", 0);
  auto r = Feed(p, "frame= 10 fps=0.0 time=00:00:05.00 bitrate=1\r", 2000);
  // 5 of 100 seconds after 2 s: 38 s remain.
  EXPECT_THAT(r, ElementsAre("&EncEncoded  5%, elapsed 00:00:02, remaining 00:00:38"));
}

TEST(EncoderOutputParser, WithoutADurationLineProgressShowsDashesAndNeverSucceeds) {
  TffmpegOutputParser p;
  Feed(p, "Input #0, mpegts, from 'pipe:':\n  Duration: N/A, start: 1.4\n", 0);
  EXPECT_FALSE(p.Total());
  EXPECT_THAT(Feed(p, KProgress30, 1000), ElementsAre("&EncEncoded --%"));
  Feed(p, std::string(KProgressLast) + KStatistics, 2000);
  EXPECT_FALSE(p.SuccessMark());
}

TEST(EncoderOutputParser, ABlockSplitAcrossReadsWaitsForItsCR) {
  TffmpegOutputParser p;
  Feed(p, KRecordedHead, 0);
  std::string line = KProgress30;
  size_t cut = line.find("time=00:0") + 9;
  EXPECT_TRUE(Feed(p, line.substr(0, cut), 1000).empty());
  EXPECT_THAT(Feed(p, line.substr(cut), 1500),
              ElementsAre("&EncEncoded 30%, elapsed 00:00:01, remaining 00:00:03"));
  // Text after the last CR stays pending: the statistics line without its line end is not a
  // block yet.
  Feed(p, KProgressLast, 3000);
  Feed(p, "video:14682kB audio:235kB", 3000);
  EXPECT_FALSE(p.SuccessMark());
  Feed(p, " subtitle:0kB\n", 3000);
  EXPECT_TRUE(p.SuccessMark());
}

TEST(EncoderOutputParser, SeveralProgressLinesInOneReadReportTheLatest) {
  TffmpegOutputParser p;
  Feed(p, KRecordedHead, 0);
  auto r = Feed(p, std::string(KProgress05) + KProgress30, 3000);
  EXPECT_THAT(r, ElementsAre("&EncEncoded 30%, elapsed 00:00:03, remaining 00:00:07"));
}

TEST(EncoderOutputParser, ProgressAfterTheStatisticsClearsTheMark) {
  TffmpegOutputParser p;
  Feed(p, KRecordedHead, 0);
  Feed(p, std::string(KProgress30) + KStatistics, 1000);
  EXPECT_TRUE(p.SuccessMark());
  Feed(p, KProgress30, 2000);
  EXPECT_FALSE(p.SuccessMark());
}

TEST(EncoderOutputParser, StatisticsWithoutProgressAreNoSuccessAndNATimesAreIgnored) {
  TffmpegOutputParser p;
  Feed(p, KRecordedHead, 0);
  EXPECT_TRUE(Feed(p, "frame=    0 fps=0.0 q=0.0 size=       0kB time=N/A bitrate=N/A\r", 10)
                  .empty());
  Feed(p, KStatistics, 20);
  EXPECT_FALSE(p.SuccessMark());
}

TEST(EncoderOutputParser, TheLastLineIsFfmpegsReason) {
  TffmpegOutputParser p;
  Feed(p,
       "ffmpeg version 5.1.6 Copyright (c) 2000-2024 the FFmpeg developers\n"
       "[mov,mp4,m4a,3gp,3g2,mj2 @ 0x55] moov atom not found\n"
       "/v/broken.mp4: Invalid data found when processing input\n",
       0);
  EXPECT_EQ(p.LastLine(), "/v/broken.mp4: Invalid data found when processing input");
  // A reason still without its line end counts too.
  Feed(p, "Conversion failed!", 0);
  EXPECT_EQ(p.LastLine(), "Conversion failed!");
}

TEST(MediaTimeText, PlayerPatterns) {
  EXPECT_EQ(MediaTimeToStr("hh:mm:ss,mcs", 5527045), "01:32:07,045");
  EXPECT_EQ(MediaTimeToStr("hh:mm:ss", 5527045), "01:32:07");
  EXPECT_EQ(MediaTimeToStr("hh:mm:ss,mcs", 0), "00:00:00,000");
  EXPECT_EQ(MediaTimeToStr("hh:mm:ss,mcs", -1), "00:00:00,000");
  // Days are split off; hours count within the day.
  EXPECT_EQ(MediaTimeToStr("dd hh:mm:ss", 90061001), "01 01:01:01");
  EXPECT_EQ(MediaTimeToStr("hh:mm", 90061001), "01:01");
  EXPECT_EQ(MediaTimeToStr("[ss.mcs]", 61999), "[01.999]");
}

TEST(EncoderPaths, OutputNamesFollowKeepExt) {
  EXPECT_EQ(EncodedFileName("/v/film.avi", true), "/v/film.avi.m2t");
  EXPECT_EQ(EncodedFileName("/v/film.avi", false), "/v/film.m2t");
  EXPECT_EQ(EncodedFileName("/v/a.b/film", false), "/v/a.b/film.m2t");
}

TEST(EncoderPaths, RootCheckComparesAsTheFileSystemAndRespectsFolderBoundaries) {
  EXPECT_TRUE(IsBelowRoot("/Video/", "/Video/a/b.m2t"));
  EXPECT_FALSE(IsBelowRoot("/Video/", "/video/a/b.m2t"));  // letter case counts
  EXPECT_FALSE(IsBelowRoot("/video", "/VIDEO/b.m2t"));
  EXPECT_FALSE(IsBelowRoot("/video", "/video2/b.m2t"));
  EXPECT_FALSE(IsBelowRoot("/video", "/video/../etc/b.m2t"));
  EXPECT_FALSE(IsBelowRoot("", "/video/b.m2t"));
  EXPECT_EQ(PathBelowRoot("/Video/", "/Video/a/b.m2t"), "a/b.m2t");
  EXPECT_EQ(PathBelowRoot("/Video/", "/video/a/b.m2t"), "/video/a/b.m2t");
  EXPECT_EQ(PathBelowRoot("/video", "/other/b.m2t"), "/other/b.m2t");
}

// ---------------------------------------------------------------------------------------------
// The worker, with shell scripts standing in for ffmpeg.

namespace {

struct EncoderWorkerTest : ::testing::Test {
  TTempDir Tmp;
  TUiQueueOperator Op;
  std::vector<std::string> Msgs;
  int Starts = 0, Stops = 0;

  // A script printing Body's output; each run appends a line to runs.txt.
  std::string Script(const std::string& name, const std::string& body) {
    std::string path = Tmp.File(name);
    WriteFileBytes(path, "#!/bin/sh\necho run >> '" + Tmp.File("runs.txt") + "'\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
  }
  int Runs() {
    std::string s = ReadFileBytes(Tmp.File("runs.txt"));
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
  }
  void Wire(TffmpegEncoder& e) {
    e.OnMsgEvent = [this](const std::string& m) { Msgs.push_back(m); };
    e.OnStartEvent = [this] { ++Starts; };
    e.OnStopEvent = [this] { ++Stops; };
  }
  TffmpegCommand Command(const std::string& program, std::vector<std::string> args = {}) {
    TffmpegCommand c;
    c.Program = program;
    c.Arguments = std::move(args);
    c.CommandLine = "\"" + program + "\"";
    return c;
  }
  static std::string Printf(const std::string& text) {
    std::string out = "printf '";
    for (char c : text) {
      if (c == '\r') out += "\\r";
      else if (c == '\n') out += "\\n";
      else if (c == '%') out += "%%";
      else if (c == '\'') out += "'\\''";
      else out += c;
    }
    return out + "' >&2\n";
  }
};

}  // namespace

TEST_F(EncoderWorkerTest, ASuccessfulJobReportsStartProgressAndHundredPercent) {
  std::string ff = Script("ok.sh", Printf(KRecordedHead) + Printf(KProgress30) + "sleep 0.3\n" +
                                       Printf(KProgressLast) + "printf '" +
                                       std::string(KStatistics).substr(0, 30) + "\\n'\nexit 0\n");
  TffmpegEncoder e(&Op);
  Wire(e);
  EXPECT_EQ(e.RunDosCmd(Tmp.Path().string(), Command(ff), [this] { Op.Pump(); }), E_ok);
  EXPECT_EQ(Runs(), 1);
  EXPECT_EQ(Starts, 1);
  EXPECT_EQ(Stops, 1);
  ASSERT_GE(Msgs.size(), 3u);
  EXPECT_EQ(Msgs.front(), "&EncEncoded 0%");
  EXPECT_EQ(Msgs.back(), "&EncEncoded 100%");
  EXPECT_THAT(Msgs[1], HasSubstr("&EncEncoded 30%, elapsed "));
}

TEST_F(EncoderWorkerTest, AFailedJobIsTriedTwiceAndReportsFfmpegsLastLine) {
  std::string ff = Script("bad.sh",
                          Printf("ffmpeg version 5.1\n/v/x.mp4: Invalid data found when "
                                 "processing input\n") +
                              "exit 1\n");
  TffmpegEncoder e(&Op);
  Wire(e);
  EXPECT_EQ(e.RunDosCmd("", Command(ff), [this] { Op.Pump(); }), E_Error);
  EXPECT_EQ(Runs(), 2);
  EXPECT_EQ(Starts, 2);
  EXPECT_EQ(Stops, 1);
  EXPECT_EQ(e.ErrorMsg(), "/v/x.mp4: Invalid data found when processing input");
}

TEST_F(EncoderWorkerTest, WithoutAnyOutputTheReasonIsEncodeFailed) {
  std::string ff = Script("silent.sh", "exit 1\n");
  TffmpegEncoder e(&Op);
  EXPECT_EQ(e.RunDosCmd("", Command(ff), [this] { Op.Pump(); }), E_Error);
  EXPECT_EQ(e.ErrorMsg(), "Encode failed!");
}

TEST_F(EncoderWorkerTest, StatisticsFollowedByAFailingExitAreNoSuccess) {
  // ffmpeg prints its statistics even when writing the end of the file failed.
  std::string ff = Script("full.sh", Printf(KRecordedHead) + Printf(KProgress30) +
                                         Printf(std::string(KProgressLast) + KStatistics) +
                                         Printf("Error writing trailer: No space left on device\n") +
                                         "exit 1\n");
  TffmpegEncoder e(&Op);
  EXPECT_EQ(e.RunDosCmd("", Command(ff), [this] { Op.Pump(); }), E_Error);
  EXPECT_EQ(Runs(), 2);
  EXPECT_EQ(e.ErrorMsg(), "Error writing trailer: No space left on device");
}

TEST_F(EncoderWorkerTest, AMissingProgramIsReportedWithItsCommandLine) {
  TffmpegEncoder e(&Op);
  TffmpegCommand c = Command(Tmp.File("no-such-ffmpeg"));
  EXPECT_EQ(e.RunDosCmd("", c, [this] { Op.Pump(); }), E_exception);
  EXPECT_EQ(e.ErrorMsg(), "Could not execute command line: \"\"" + Tmp.File("no-such-ffmpeg") +
                              "\"\"! No such file or directory");
}

TEST_F(EncoderWorkerTest, ArgumentsReachTheProgramUnchangedInTheWorkingFolder) {
  std::string ff = Script("args.sh", "pwd > '" + Tmp.File("pwd.txt") +
                                         "'\nfor a; do printf '%s\\n' \"$a\"; done > '" +
                                         Tmp.File("args.txt") + "'\nexit 1\n");
  fs::create_directory(Tmp.Path() / "work dir");
  TffmpegEncoder e(&Op);
  std::vector<std::string> args = {"-i", "a b \"c\" $(touch x) ;|*", "-y", "%s"};
  e.RunDosCmd((Tmp.Path() / "work dir").string(), Command(ff, args), [this] { Op.Pump(); });
  EXPECT_EQ(ReadFileBytes(Tmp.File("args.txt")), "-i\na b \"c\" $(touch x) ;|*\n-y\n%s\n");
  EXPECT_EQ(ReadFileBytes(Tmp.File("pwd.txt")), (Tmp.Path() / "work dir").string() + "\n");
  EXPECT_FALSE(fs::exists(Tmp.Path() / "work dir" / "x"));
}

TEST_F(EncoderWorkerTest, CancelKillsTheProcessAtOnceWithoutASecondAttempt) {
  std::string ff = Script("slow.sh", Printf(KRecordedHead) + Printf(KProgress30) + "sleep 30\n");
  TffmpegEncoder e(&Op);
  Wire(e);
  e.StartJob("", Command(ff));
  ASSERT_TRUE(Op.PumpUntil([&] { return Msgs.size() >= 2; }, 5000));
  int pid = e.RunningPid();
  ASSERT_GT(pid, 0);
  auto t0 = std::chrono::steady_clock::now();
  e.Cancel();
  ASSERT_TRUE(e.WaitReady(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  EXPECT_EQ(e.EncodeResult(), E_Cancel);
  EXPECT_EQ(e.ErrorMsg(), "Encode canceled");
  EXPECT_EQ(Runs(), 1);
  EXPECT_NE(::kill(pid, 0), 0);  // gone and reaped
  EXPECT_EQ(e.RunningPid(), 0);
}

TEST_F(EncoderWorkerTest, PauseStopsTheProcessAndResumeContinuesIt) {
  std::string ff = Script("loop.sh", Printf(KRecordedHead) + Printf(KProgress30) + "sleep 30\n");
  TffmpegEncoder e(&Op);
  Wire(e);
  e.StartJob("", Command(ff));
  ASSERT_TRUE(Op.PumpUntil([&] { return Msgs.size() >= 2; }, 5000));
  int pid = e.RunningPid();
  auto state = [pid] {
    std::string s = ReadFileBytes("/proc/" + std::to_string(pid) + "/stat");
    size_t p = s.rfind(')');
    return p == std::string::npos || p + 2 >= s.size() ? '?' : s[p + 2];
  };
  e.SetPause(true);
  EXPECT_TRUE(e.Paused());
  ASSERT_TRUE(Op.PumpUntil([&] { return state() == 'T'; }, 2000));
  e.SetPause(false);
  EXPECT_FALSE(e.Paused());
  EXPECT_TRUE(Op.PumpUntil([&] { return state() != 'T'; }, 2000));
  // Cancelling a paused job continues it first, so it ends at once.
  e.SetPause(true);
  e.Cancel();
  ASSERT_TRUE(e.WaitReady(5000));
  EXPECT_EQ(e.EncodeResult(), E_Cancel);
  EXPECT_FALSE(e.Paused());
}

TEST_F(EncoderWorkerTest, DestroyingTheWorkerKillsARunningFfmpeg) {
  std::string ff = Script("slow.sh", Printf(KRecordedHead) + "sleep 30\n");
  int pid = 0;
  {
    TffmpegEncoder e(&Op);
    e.StartJob("", Command(ff));
    ASSERT_TRUE(Op.PumpUntil([&] { return (pid = e.RunningPid()) > 0; }, 5000));
  }
  EXPECT_NE(::kill(pid, 0), 0);
  EXPECT_EQ(Runs(), 1);
}

// ---------------------------------------------------------------------------------------------
// The job list, with a script that writes the output file and a scripted length probe.

namespace {

struct EncoderJobListTest : EncoderWorkerTest {
  std::string Root;
  std::vector<std::string> Probed;
  std::map<std::string, int64_t> Lengths;  // by file name; missing: 5 s
  TEncoderSettings Settings;

  void SetUp() override {
    Root = (Tmp.Path() / "Video").string();
    fs::create_directories(Root + "/sub");
    Settings.VideoRoot = Root;
    Settings.WorkDir = Tmp.Path().string();
    Settings.FfmpegPath =
        Script("ff.sh", Printf(KRecordedHead) + Printf(KProgress30) +
                            Printf(std::string(KProgressLast) + KStatistics) +
                            "for a; do out=$a; done\nprintf ts > \"$out\"\nexit 0\n");
  }
  std::unique_ptr<TEncoderJobList> Make() {
    auto jobs = std::make_unique<TEncoderJobList>(Settings, &Op);
    jobs->Idle = [this] { Op.Pump(); };
    jobs->Probe = [this](const std::string& path, int) -> std::optional<int64_t> {
      Probed.push_back(path);
      auto it = Lengths.find(fs::path(path).filename().string());
      if (it == Lengths.end()) return 5527045;
      if (it->second < 0) return std::nullopt;
      return it->second;
    };
    return jobs;
  }
  std::string Source(const std::string& rel) {
    std::string p = Root + "/" + rel;
    fs::create_directories(fs::path(p).parent_path());
    WriteFileBytes(p, "source");
    return p;
  }
};

}  // namespace

TEST_F(EncoderJobListTest, RowsAreEncodedMeasuredAndBecomePairs) {
  auto jobs = Make();
  std::string avi = Source("sub/film.avi"), ts = Source("ready.M2T");
  jobs->AddFiles({avi, ts});
  ASSERT_EQ(jobs->Rows.size(), 2u);
  EXPECT_EQ(jobs->Rows[0].Status, "&Don01:32:07,045");
  EXPECT_EQ(jobs->Rows[0].Encoded, Root + "/sub/film.m2t");
  EXPECT_EQ(ReadFileBytes(Root + "/sub/film.m2t"), "ts");
  // An existing transport stream is only measured.
  EXPECT_EQ(jobs->Rows[1].Status, "&Don01:32:07,045");
  EXPECT_EQ(jobs->Rows[1].Encoded, "");
  EXPECT_EQ(Runs(), 1);
  EXPECT_THAT(Probed, ElementsAre(Root + "/sub/film.m2t", ts));
  EXPECT_FALSE(jobs->Running);
  EXPECT_TRUE(jobs->CreateEnabled());
  EXPECT_EQ(jobs->CreateRecordPairs(),
            TJson::parse(R"([["sub\\film.m2t","01:32:07,045"],["ready.M2T","01:32:07,045"]])"));
  // The source stays where it was without MoveFile.
  EXPECT_TRUE(fs::exists(avi));
}

TEST_F(EncoderJobListTest, KeepExtKeepsTheSourceExtension) {
  Settings.KeepExt = true;
  auto jobs = Make();
  jobs->AddFiles({Source("film.avi")});
  EXPECT_EQ(jobs->Rows[0].Encoded, Root + "/film.avi.m2t");
  EXPECT_TRUE(fs::exists(Root + "/film.avi.m2t"));
}

// With the root ".../Video", a file in ".../video" (another folder on this file system) is
// refused and never catalogued under a path that does not exist.
TEST_F(EncoderJobListTest, AFolderThatDiffersOnlyInCaseIsNotTheRoot) {
  auto jobs = Make();
  std::string lower = Tmp.File("video/film.m2t");
  fs::create_directories(Tmp.File("video"));
  WriteFileBytes(lower, "x");
  jobs->AddFiles({lower, Source("ok.m2t")});
  EXPECT_EQ(jobs->Rows[0].Status, "&ErrPlaced not in Video root derectory!");
  EXPECT_EQ(jobs->Rows[1].Status, "&Don01:32:07,045");
  EXPECT_EQ(Probed, std::vector<std::string>{Root + "/ok.m2t"});
  EXPECT_EQ(jobs->CreateRecordPairs(), TJson::parse(R"([["ok.m2t","01:32:07,045"]])"));
}

TEST_F(EncoderJobListTest, FilesOutsideTheVideoRootAreRefusedWithoutEncoding) {
  auto jobs = Make();
  std::string outside = Tmp.File("elsewhere.avi");
  WriteFileBytes(outside, "x");
  std::string sibling = Tmp.File("Video2.m2t");
  WriteFileBytes(sibling, "x");
  jobs->AddFiles({outside, sibling});
  EXPECT_EQ(jobs->Rows[0].Status, "&ErrPlaced not in Video root derectory!");
  EXPECT_EQ(jobs->Rows[1].Status, "&ErrPlaced not in Video root derectory!");
  EXPECT_EQ(Runs(), 0);
  EXPECT_TRUE(Probed.empty());
}

TEST_F(EncoderJobListTest, ZeroOrUnreadableLengthIsAnInvalidMovie) {
  Lengths["zero.m2t"] = 0;
  Lengths["broken.m2t"] = -1;
  auto jobs = Make();
  jobs->AddFiles({Source("zero.m2t"), Source("broken.m2t")});
  EXPECT_EQ(jobs->Rows[0].Status, "&ErrInvalid movie");
  EXPECT_EQ(jobs->Rows[1].Status, "&ErrInvalid movie");
  EXPECT_TRUE(jobs->CreateRecordPairs().empty());
  auto db = CreateMainDatabase(&Op);
  EXPECT_FALSE(jobs->CreateRecords(
      [](TDbFile&, const TJson&, std::string&) {
        ADD_FAILURE() << "nothing to hand over";
        return true;
      },
      *db));
  EXPECT_THAT(Op.Texts(), ElementsAre("Nothing to create"));
  EXPECT_EQ(Op.Messages[0].Caption, "Warning");
}

// Records that no films window took are not lost: the list stays, and the operator learns why.
TEST_F(EncoderJobListTest, RecordsNotTakenStayWithTheReason) {
  auto jobs = Make();
  jobs->AddFiles({Source("a.m2t")});
  auto db = CreateMainDatabase(&Op);
  struct Case {
    bool Taken;
    std::string Why;
    bool NoTaker;
  };
  for (const Case& c : {Case{false, "The films window has unsaved changes: save or cancel them first.", false},
                        Case{false, "No films window can take them.", true}, Case{true, "", false}}) {
    Op.Messages.clear();
    TJson got;
    TFilmRecordsTaker taker = [&](TDbFile&, const TJson& pairs, std::string& why) {
      got = pairs;
      if (!c.Taken) why = c.Why;
      return c.Taken;
    };
    EXPECT_EQ(jobs->CreateRecords(c.NoTaker ? TFilmRecordsTaker() : taker, *db), c.Taken);
    EXPECT_EQ(jobs->CreateRecordPairs(), TJson::parse(R"([["a.m2t","01:32:07,045"]])"));  // still there
    if (c.Taken) {
      EXPECT_TRUE(Op.Messages.empty());
      EXPECT_EQ(got, jobs->CreateRecordPairs());
    } else {
      ASSERT_EQ(Op.Messages.size(), 1u);
      EXPECT_EQ(Op.Messages[0].Text, "The film records are not created. " + c.Why +
                                         " The finished files stay in the encoder's list; press \"Create records\" again.");
    }
  }
}

TEST_F(EncoderJobListTest, MoveFileMovesEncodedSourcesIntoSourceKeepingTheirFolders) {
  Settings.MoveFile = true;
  auto jobs = Make();
  std::string a = Source("sub/a.avi");
  std::string already = Source("Source/old/b.avi");
  std::string ts = Source("c.m2t");
  jobs->AddFiles({a, already, ts});
  for (const auto& r : jobs->Rows) EXPECT_EQ(StatusTag(r.Status), "&Don") << r.Status;
  EXPECT_FALSE(fs::exists(a));
  EXPECT_EQ(ReadFileBytes(Root + "/Source/sub/a.avi"), "source");
  EXPECT_TRUE(fs::exists(already));  // already below "Source"
  EXPECT_TRUE(fs::exists(ts));       // not encoded, not moved
  EXPECT_FALSE(fs::exists(Root + "/Source/c.m2t"));
}

TEST_F(EncoderJobListTest, AMoveThatWouldOverwriteFailsAndKeepsBothFiles) {
  Settings.MoveFile = true;
  auto jobs = Make();
  std::string a = Source("a.avi");
  fs::create_directories(Root + "/Source");
  WriteFileBytes(Root + "/Source/a.avi", "earlier");
  jobs->AddFiles({a});
  EXPECT_EQ(jobs->Rows[0].Status, "&ErrCan't move source file");
  EXPECT_EQ(ReadFileBytes(a), "source");
  EXPECT_EQ(ReadFileBytes(Root + "/Source/a.avi"), "earlier");
}

TEST_F(EncoderJobListTest, AFailedEncodingEndsTheRowAndTheNextRowRuns) {
  Settings.FfmpegPath = Script("bad.sh", Printf("x.avi: Invalid data found\n") + "exit 1\n");
  auto jobs = Make();
  std::vector<std::pair<int, std::string>> seen;
  jobs->OnRowChanged = [&](int row) { seen.emplace_back(row, jobs->Rows[row].Status); };
  jobs->AddFiles({Source("x.avi"), Source("y.m2t")});
  EXPECT_EQ(jobs->Rows[0].Status, "&Errx.avi: Invalid data found");
  EXPECT_EQ(jobs->Rows[0].Encoded, "");
  EXPECT_EQ(jobs->Rows[1].Status, "&Don01:32:07,045");
  EXPECT_EQ(Runs(), 2);
  // Progress went to the first row while it was encoded, and nothing after its end.
  Op.Pump();
  EXPECT_EQ(jobs->Rows[0].Status, "&Errx.avi: Invalid data found");
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const auto& s) {
    return s.first == 0 && s.second == "&EncEncoded 0%";
  }));
}

TEST_F(EncoderJobListTest, StopCancelsTheRunningRowAndLeavesTheRest) {
  Settings.FfmpegPath = Script("slow.sh", Printf(KRecordedHead) + Printf(KProgress30) + "sleep 30\n");
  auto jobs = Make();
  bool stopped = false;
  jobs->Idle = [&] {
    Op.Pump();
    if (!stopped && StatusText(jobs->Rows[0].Status).find("30%") != std::string::npos) {
      stopped = true;
      jobs->Stop();
    }
  };
  jobs->AddFiles({Source("a.avi"), Source("b.m2t")});
  EXPECT_EQ(jobs->Rows[0].Status, "&ErrEncode canceled");
  EXPECT_EQ(jobs->Rows[1].Status, "");
  EXPECT_TRUE(jobs->Stopped());
  EXPECT_EQ(Runs(), 1);
}

TEST(EncoderOutputParser, ACapturedFfmpegRunReadInSmallPieces) {
  // ffmpeg 5.1 encoding a 3.4-second clip with the default command line; its progress times
  // are 00:00:00.06, 00:00:00.19, 00:00:01.21, 00:00:02.57 and 00:00:03.41, the total
  // 00:00:03.40 (read as 3 s).
  std::string text = ReadFileBytes(PELMORA_TESTDATA_DIR "/ffmpeg/encode-mp4-5.1.txt");
  ASSERT_FALSE(text.empty());
  TffmpegOutputParser p;
  std::vector<std::string> reports;
  for (size_t i = 0; i < text.size(); i += 7) p.Feed(text.substr(i, 7), 3000, reports);
  EXPECT_THAT(reports, ElementsAre("&EncEncoded 33%, elapsed 00:00:03, remaining 00:00:06",
                                   "&EncEncoded 66%, elapsed 00:00:03, remaining 00:00:01",
                                   "&EncEncoded 100%, elapsed 00:00:03, remaining 00:00:00"));
  EXPECT_TRUE(p.SuccessMark());
  EXPECT_THAT(p.LastLine(), ::testing::StartsWith("video:4682kB audio:80kB"));
}

TEST_F(EncoderJobListTest, TwoSourcesWithOneOutputNameDoNotOverwriteEachOther) {
  auto jobs = Make();
  std::string avi = Source("film.avi"), mp4 = Source("film.mp4");
  jobs->AddFiles({avi, mp4});
  EXPECT_EQ(jobs->Rows[0].Status, "&Don01:32:07,045");
  EXPECT_EQ(jobs->Rows[1].Status, "&ErrEncoded file \"" + Root + "/film.m2t\" is already made from \"" +
                                      avi + "\"");
  EXPECT_EQ(Runs(), 1);
  EXPECT_EQ(jobs->CreateRecordPairs().size(), 1u);
}
