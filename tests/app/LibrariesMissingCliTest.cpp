// Samba's client, the HTTP client, the media readers, the player and the MongoDB driver are opened
// when a command first needs them. With none of them loadable (PELMORA_LIBRARY_DIR naming an empty
// folder, the loaders' test hook) every command that reads or builds from a project file still
// works, and a command that needs one of them fails with exit code 1 and a message naming the
// library and the Debian package that installs it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <stdlib.h>

#include <filesystem>

extern "C" {
#include <libavformat/version_major.h>
#include <libavutil/macros.h>
#include <libavutil/version.h>
}

#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Points the loaders of the programs this test starts at an empty folder.
class TNoLibraries {
public:
  explicit TNoLibraries(const std::string& dir) { setenv("PELMORA_LIBRARY_DIR", dir.c_str(), 1); }
  ~TNoLibraries() { unsetenv("PELMORA_LIBRARY_DIR"); }
};

struct LibrariesMissingCliTest : ::testing::Test {
  TTempDir Tmp;
  std::string Project = Tmp.File("demo.pq2pr");

  TCliRun Run(const std::string& args) { return RunCliIn(Tmp.Path(), args); }
  std::string P() const { return "--project '" + Project + "' "; }

  void SetUp() override {
    fs::create_directories(Tmp.File("no-libraries"));
    ASSERT_EQ(Run("new '" + Project + "'").Code, 0);
    const std::string demo = std::string(PELMORA_TESTDATA_DIR) + "/../../examples/demo/";
    for (const char* f : {"records.json", "portal-records.json"}) {
      TCliRun imp = Run(P() + "import '" + demo + f + "'");
      ASSERT_EQ(imp.Code, 0) << imp.Err;
    }
    ASSERT_EQ(RunCliIn(Tmp.Path(), P() + "put Options Options", R"({"PlayChannels": false})").Code,
              0);
    fs::copy(demo + "HTML", Tmp.File("HTML"), fs::copy_options::recursive);
    WriteFileBytes(Tmp.File("clip.ts"), "not a film");
  }
};

}  // namespace

TEST_F(LibrariesMissingCliTest, CommandsThatNeedNoneOfThemWork) {
  TNoLibraries none(Tmp.File("no-libraries"));
  const char* commands[] = {
      "--version",
      "info",
      "list Films",
      "get Servers 'Playout 1'",
      "put Films X -",
      "get Films X",
      "check-schedule 'Demo Movies, every minute'",
      "show-schedule 'Демо неделя'",
      "check-portal 'Demo portal'",
      "share-url 'Playout 1'",
      "--yes build-package 'Playout 1'",
  };
  for (const char* c : commands) {
    std::string args = std::string(c) == "--version" ? c : P() + c;
    TCliRun r = RunCliIn(Tmp.Path(), args, R"({"Name": "X"})");
    EXPECT_EQ(r.Code, 0) << c << "\n" << r.Err;
    EXPECT_EQ(r.Err.find("cannot be loaded"), std::string::npos) << c << "\n" << r.Err;
  }
}

TEST_F(LibrariesMissingCliTest, CommandsThatNeedOneNameItAndFail) {
  ASSERT_EQ(Run(P() + "--yes build-package 'Playout 1'").Code, 0);
  TNoLibraries none(Tmp.File("no-libraries"));
  struct TCase {
    std::string Args, Library, Package;
  };
  const TCase cases[] = {
      {P() + "deploy 'Playout 1' --timeout 2", "libsmbclient.so.0", "Debian package libsmbclient)"},
      {P() + "restart 'Playout 1' --timeout 2", "libcurl.so.4", "Debian package libcurl4)"},
      {"probe clip.ts", "libav", "Debian package libav"},  // libavutil or libavformat
      {"--mongo 127.0.0.1:9/pelmora info", "libmongoc-1.0.so.0", "Debian package libmongoc-1.0-0)"},
  };
  for (const auto& c : cases) {
    TCliRun r = Run(c.Args);
    const std::string said = r.Out + r.Err;  // "info" tells its error with the rest of its report
    EXPECT_EQ(r.Code, 1) << c.Args << "\n" << said;
    EXPECT_NE(said.find("needs the library " + c.Library), std::string::npos) << c.Args << "\n"
                                                                              << said;
    EXPECT_NE(said.find(c.Package), std::string::npos) << c.Args << "\n" << said;
    EXPECT_NE(said.find("cannot be loaded"), std::string::npos) << c.Args << "\n" << said;
  }
}

// Each library on its own: with the media readers there and the player not, a file the readers
// cannot measure goes on to the player, and "probe" names the player's library.
TEST_F(LibrariesMissingCliTest, OnlyTheMissingLibraryIsNamed) {
  const std::string dir = Tmp.File("readers-only");
  fs::create_directories(dir);
  for (const char* soname : {"libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
                             "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR)}) {
    void* handle = dlopen(soname, RTLD_LAZY | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << soname;
    link_map* map = nullptr;
    ASSERT_EQ(dlinfo(handle, RTLD_DI_LINKMAP, &map), 0);
    fs::create_symlink(map->l_name, fs::path(dir) / soname);
  }
  TNoLibraries readersOnly(dir);
  TCliRun r = Run("probe --timeout 2000 clip.ts");
  EXPECT_EQ(r.Code, 1) << r.Err;
  EXPECT_NE(r.Err.find("Playing and measuring media needs the library libvlc.so.5 (Debian package "
                       "libvlc5), which cannot be loaded"),
            std::string::npos)
      << r.Err;
}
