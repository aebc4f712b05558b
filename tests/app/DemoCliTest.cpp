// `pelmora-cli demo`: never into a folder that holds anything, and without ffmpeg a demo
// without clips whose schedules still fit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "recstore/JsonText.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for the lifetime of the object.
class TScopedEnv {
public:
  TScopedEnv(const char* name, const std::string& value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~TScopedEnv() {
    if (FOld)
      ::setenv(FName, FOld->c_str(), 1);
    else
      ::unsetenv(FName);
  }

private:
  const char* FName;
  std::optional<std::string> FOld;
};

// Every file below a folder with its bytes.
std::map<std::string, std::string> Contents(const fs::path& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    out[e.path().string()] = e.is_regular_file() ? ReadFileBytes(e.path().string()) : "[dir]";
  return out;
}

}  // namespace

TEST(DemoCliTest, RefusesAFolderThatHoldsAnything) {
  struct {
    const char* Case;
    std::function<void(const fs::path&)> Prepare;
    const char* Says;
  } cases[] = {
      {"an earlier demo", [](const fs::path& d) {
         fs::create_directories(d);
         WriteFileBytes((d / "demo.pq2pr").string(), "{}");
       }, "holds a project"},
      {"another project", [](const fs::path& d) {
         fs::create_directories(d / "sub");
         WriteFileBytes((d / "sub" / "head-end.pq2pr").string(), "{}");
       }, "is not empty"},
      {"a file", [](const fs::path& d) {
         fs::create_directories(d);
         WriteFileBytes((d / "notes.txt").string(), "mine");
       }, "is not empty"},
      {"a file in the folder's place", [](const fs::path& d) {
         WriteFileBytes(d.string(), "mine");
       }, "is not a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    TTempDir tmp;
    TTempDir work;
    const fs::path dir = tmp.Path() / "demo";
    c.Prepare(dir);
    const auto before = Contents(tmp.Path());
    TCliRun r = RunCliIn(work, "demo '" + dir.string() + "'");
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find(dir.string()), std::string::npos) << r.Err;
    EXPECT_EQ(Contents(tmp.Path()), before);
  }
}

TEST(DemoCliTest, WithoutFfmpegInTheHomeFolderWithoutClips) {
  TTempDir home;
  TScopedEnv h("HOME", home.Path().string());
  TScopedEnv p("PATH", (home.Path() / "no-programs").string());
  TCliRun r = RunCliIn(home, "demo");
  ASSERT_EQ(r.Code, 0) << r.Out << r.Err;
  const std::string project = home.File("pelmora-demo/demo.pq2pr");
  ASSERT_TRUE(fs::is_regular_file(project));
  EXPECT_NE(r.Out.find("ffmpeg was not found"), std::string::npos) << r.Out;
  EXPECT_FALSE(fs::exists(home.File("pelmora-demo/video")));
  EXPECT_TRUE(fs::is_regular_file(home.File("pelmora-demo/HTML/start.html")));
  // The films keep the lengths the schedules were laid out for, and so they fit.
  for (const char* sched : {"Demo Movies, every minute", "Lobby lights"}) {
    SCOPED_TRACE(sched);
    TCliRun c = RunCliIn(home, "--json --project '" + project + "' check-schedule '" + sched + "'");
    ASSERT_EQ(c.Code, 0) << c.Err;
    for (const TJson& row : ParseJsonText(c.Out))
      if (row.contains("Row")) EXPECT_EQ(row["Err"], TJson::object()) << row.dump();
  }
}
