#include "catalogue/DemoProject.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "base/CommonProcedures.h"
#include "base/InstallPaths.h"
#include "catalogue/MediaLength.h"
#include "catalogue/encoder.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "shell/Options.h"
#include "shell/TreeDocument.h"

extern char** environ;

namespace fs = std::filesystem;

const char* const DemoProjectName = "demo.pq2pr";

std::string DemoSourceDir() { return ProgramDataPath("demo"); }

std::string DefaultDemoDir() {
  const char* home = std::getenv("HOME");
  return (fs::path(home && *home ? home : ".") / "pelmora-demo").string();
}

namespace {

// The demo's video root, inside its folder so the folder can be moved as a whole.
const char* const DemoVideoRoot = "..\\video";

// The test pictures of the clips, one after another, so that the films look different.
const char* const ClipPatterns[] = {"testsrc", "smptebars", "rgbtestsrc"};
const int ClipTones[] = {440, 660, 550};

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("The demo's records cannot be read: " + path.string());
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Refuses a folder that holds anything, and a file in the folder's place; names what it found.
void RequireNewOrEmpty(const fs::path& dir) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(dir, ec);
  if (ec && ec != std::errc::no_such_file_or_directory)
    throw EDemoRefused("The folder " + dir.string() + " cannot be read: " + ec.message() +
                       ". Nothing was changed.");
  if (!fs::exists(st)) return;
  if (!fs::is_directory(st))
    throw EDemoRefused(dir.string() + " is not a folder. The demo is made only in a new or "
                       "empty folder; nothing was changed.");
  std::string project;
  bool empty = true;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    empty = false;
    if (it->path().extension() == ".pq2pr") project = it->path().filename().string();
  }
  if (ec)
    throw EDemoRefused("The folder " + dir.string() + " cannot be read: " + ec.message() +
                       ". Nothing was changed.");
  if (!project.empty())
    throw EDemoRefused("The folder " + dir.string() + " holds a project (" + project +
                       "): the demo is never made over it. Open that project, or choose a new "
                       "or empty folder. Nothing was changed.");
  if (!empty)
    throw EDemoRefused("The folder " + dir.string() + " is not empty: the demo is made only in "
                       "a new or empty folder. Nothing was changed.");
}

// Runs a program without a shell, stdin from /dev/null, stdout discarded; gives "" on success,
// otherwise the reason (the program's last words on stderr or how it ended).
std::string RunQuietly(const std::string& program, const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return program + ": " + std::strerror(rc);
  }
  std::string err;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n > 0) {
      if (err.size() < 65536) err.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  while (!err.empty() && (err.back() == '\n' || err.back() == '\r')) err.pop_back();
  if (size_t nl = err.rfind('\n'); nl != std::string::npos) err = err.substr(nl + 1);
  if (!err.empty()) return err;
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  return "exit code " + std::to_string(WEXITSTATUS(status));
}

// "1.234": seconds with milliseconds, as ffmpeg's filters take them.
std::string SecondsText(int64_t ms) {
  return std::to_string(ms / 1000) + "." + std::to_string(1000 + ms % 1000).substr(1);
}

// A clip of the given length: a test picture with a tone, MPEG-2 in an MPEG transport stream
// as the encoder makes them. Written under a temporary name and renamed when complete.
std::string MakeClip(const std::string& ffmpeg, const fs::path& out, int64_t ms, size_t nth) {
  std::error_code ec;
  fs::create_directories(out.parent_path(), ec);
  if (ec) return "cannot create " + out.parent_path().string() + ": " + ec.message();
  const fs::path part = out.string() + ".part";
  const std::string len = SecondsText(ms);
  const size_t k = nth % (sizeof ClipPatterns / sizeof ClipPatterns[0]);
  std::string reason = RunQuietly(
      ffmpeg, {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
               std::string(ClipPatterns[k]) + "=duration=" + len + ":size=320x240:rate=25",
               "-f", "lavfi", "-i",
               "sine=frequency=" + std::to_string(ClipTones[k]) + ":duration=" + len, "-c:v",
               "mpeg2video", "-b:v", "1M", "-c:a", "mp2", "-f", "mpegts", part.string()});
  if (reason.empty()) {
    fs::rename(part, out, ec);
    if (ec) reason = "cannot rename " + part.string() + ": " + ec.message();
  }
  if (!reason.empty()) fs::remove(part, ec);
  return reason;
}

// The records of both demo files in one document: a collection of the second file adds to
// the first's and replaces a record of the same identifier, as two imports one after another.
TJson MergeRecords(TJson first, const TJson& second) {
  for (auto it = second.begin(); it != second.end(); ++it) {
    if (!first.contains(it.key()) || !first[it.key()].is_object() || !it.value().is_object()) {
      first[it.key()] = it.value();
      continue;
    }
    for (auto r = it.value().begin(); r != it.value().end(); ++r) first[it.key()][r.key()] = r.value();
  }
  return first;
}

// The demo's work in a folder found new or empty (res.Dir, res.ProjectFile set).
void MakeDemoIn(TDemoResult& res, IOperator* op, const TDemoProgress& progress,
                const std::string& sourceDir, const std::string& ffmpegPath) {
  auto step = [&](const std::string& text, int n, int steps) {
    if (progress) progress(text, n, steps);
  };
  const fs::path source = sourceDir;
  TJson records = MergeRecords(ParseProjectBytes(ReadWholeFile(source / "records.json")),
                               ParseProjectBytes(ReadWholeFile(source / "portal-records.json")));
  if (!fs::is_directory(source / "HTML"))
    throw std::runtime_error("The demo's portal pages are not there: " + (source / "HTML").string());
  // The films are found below the demo's own folder. (Set before a reference into the
  // document is taken: adding a collection moves the others.)
  records["Options"]["Options"]["WinVideoDir"] = DemoVideoRoot;
  TJson& films = records["Films"];
  if (!films.is_object()) films = TJson::object();

  const std::string ffmpeg = ffmpegPath.empty() ? FindFfmpeg() : ffmpegPath;
  res.FfmpegMissing = ffmpeg.empty();
  const int steps = 2 + (res.FfmpegMissing ? 0 : static_cast<int>(films.size()));
  int n = 0;

  step("Creating the project " + res.ProjectFile, n++, steps);
  std::error_code ec;
  fs::create_directories(res.Dir, ec);
  if (ec) throw std::runtime_error("Cannot create the folder " + res.Dir + ": " + ec.message());
  fs::copy(source / "HTML", fs::path(res.Dir) / "HTML", fs::copy_options::recursive, ec);
  if (ec) throw std::runtime_error("Cannot copy the demo's portal pages: " + ec.message());

  auto db = CreateMainDatabase(op);
  db->New();
  db->SetFileName(res.ProjectFile);
  const std::string videoRoot = ExpandProjectPath(*db, DemoVideoRoot);

  if (!res.FfmpegMissing) {
    size_t nth = 0;
    for (auto it = films.begin(); it != films.end(); ++it, ++nth) {
      TJson& film = it.value();
      const std::string name = film.value("Name", it.key());
      const std::string file = film.value("FileName", "");
      step("Making the clip of \"" + name + "\"", n++, steps);
      if (file.empty() || !film["Duration"].is_string()) continue;
      const int64_t ms = std::llround(StrToTime(film["Duration"].get<std::string>()) * 86400000.0);
      const fs::path out = JoinRootPath(videoRoot, file);
      std::string reason = MakeClip(ffmpeg, out, ms, nth);
      if (!reason.empty()) {
        res.Notes.push_back("The clip of \"" + name + "\" could not be made: " + reason);
        continue;
      }
      res.Clips.push_back(RelativeToRoot(videoRoot, out.string()));
      // The film's duration is the clip's length as the console measures every film.
      try {
        std::optional<int64_t> len = MediaFileLengthMs(out.string());
        if (len && *len > 0)
          film["Duration"] = MediaTimeToStr("hh:mm:ss,mcs", *len);
        else
          res.Notes.push_back("The length of " + out.string() + " cannot be read; \"" + name +
                              "\" keeps " + film["Duration"].get<std::string>());
      } catch (const std::exception& e) {
        res.Notes.push_back(std::string(e.what()) + "; \"" + name + "\" keeps " +
                            film["Duration"].get<std::string>());
      }
    }
  }

  step("Importing the demo's records", n++, steps);
  db->Save();
  if (!db->DbIsOpen()) throw std::runtime_error("The project " + res.ProjectFile + " could not be created");
  res.Records = ImportRecords(*db, records, [&](const std::string& name) -> TDbCollectionItem& {
    if (TDbCollectionItem* c = db->FindCollection(name)) return *c;
    throw std::runtime_error("The demo's records name an unknown collection \"" + name + "\"");
  });
  step("Done", n, steps);
}

}  // namespace

TDemoResult MakeDemoProject(const std::string& dirArg, IOperator* op,
                            const TDemoProgress& progress, const std::string& sourceDir,
                            const std::string& ffmpegPath) {
  TDemoResult res;
  const fs::path dir = fs::absolute(dirArg).lexically_normal();
  res.Dir = dir.string();
  while (res.Dir.size() > 1 && res.Dir.back() == '/') res.Dir.pop_back();
  res.ProjectFile = (fs::path(res.Dir) / DemoProjectName).string();
  RequireNewOrEmpty(res.Dir);
  std::error_code ec;
  const bool existed = fs::exists(res.Dir, ec);
  try {
    MakeDemoIn(res, op, progress, sourceDir, ffmpegPath);
  } catch (...) {
    // A demo that could not be made leaves nothing half-made: the folder was new or empty, so
    // whatever it holds now is this run's.
    if (!existed) {
      fs::remove_all(res.Dir, ec);
    } else {
      std::vector<fs::path> made;
      for (fs::directory_iterator it(res.Dir, ec), end; !ec && it != end; it.increment(ec))
        made.push_back(it->path());
      for (const fs::path& p : made) fs::remove_all(p, ec);
    }
    throw;
  }
  return res;
}

std::vector<std::string> DemoSummary(const TDemoResult& r) {
  std::vector<std::string> lines;
  lines.push_back("The demo head-end is in " + r.Dir + ":");
  lines.push_back("  " + std::string(DemoProjectName) + "   the project: " + std::to_string(r.Records) +
                  " records (films, channels, playlists, channel schedules, the server "
                  "\"Playout 1\", its portal, a control panel)");
  lines.push_back("  HTML/        the demo portal's templates");
  if (r.FfmpegMissing) {
    lines.push_back("ffmpeg was not found: the films have no clips, so \"Create files\" asks for "
                    "their files. Install ffmpeg and make the demo again in a new folder.");
  } else if (!r.Clips.empty()) {
    std::string clips;
    for (const std::string& clip : r.Clips) clips += (clips.empty() ? "" : ", ") + clip;
    lines.push_back("  video/       a generated clip for every film: " + clips);
  }
  for (const std::string& note : r.Notes) lines.push_back(note);
  lines.push_back("Open it with:");
  lines.push_back("  pelmora '" + r.ProjectFile + "'");
  lines.push_back("then Servers, \"Playout 1\", \"Create files\"; or headless:");
  lines.push_back("  pelmora-cli --project '" + r.ProjectFile + "' build-package 'Playout 1'");
  return lines;
}
