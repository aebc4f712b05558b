#include <gtest/gtest.h>

#include <filesystem>

#include "shell/Databases.h"
#include "shell/Options.h"
#include "support/TestSupport.h"

namespace {

struct OptionsTest : ::testing::Test {
  TTempDir Tmp;
  TFakeOperator Op;
  std::unique_ptr<TDbFile> Db = CreateMainDatabase(&Op);
  OptionsTest() {
    Db->New();
    Db->SetFileName(Tmp.File("proj.pq2pr"));
  }
  std::string Dir() const { return Tmp.Path().string(); }
};

}  // namespace

TEST_F(OptionsTest, RootDirectoriesResolveAgainstTheProjectFolder) {
  EXPECT_EQ(GetOptionDir(*Db, odHTML), Dir() + "/HTML");
  EXPECT_EQ(GetOptionDir(*Db, odServers), Dir() + "/servers");
  EXPECT_EQ(GetOptionDir(*Db, odVideo), Dir() + "/video");
  // Reading a missing options record stores the default, so the record now exists.
  auto rec = Db->CollectionByName("Options").GetRecord("Options");
  ASSERT_TRUE(rec);
  EXPECT_EQ((*rec)["HTMLDir"], "..\\HTML");

  Db->CollectionByName("Options").UpdateRecord(
      "Options", {{"WinVideoDir", "..\\media\\films"}, {"ServersDir", "/srv/packages"}});
  EXPECT_EQ(GetOptionDir(*Db, odVideo), Dir() + "/media/films");
  EXPECT_EQ(GetOptionDir(*Db, odServers), "/srv/packages");
  // A record without the field still gives the default root, never an empty one.
  EXPECT_EQ(GetOptionDir(*Db, odHTML), Dir() + "/HTML");
  EXPECT_EQ((*Db->CollectionByName("Options").GetRecord("Options"))["WinVideoDir"], "..\\media\\films");
}

TEST_F(OptionsTest, ProjectRelativeForm) {
  EXPECT_EQ(MakeProjectRelative(*Db, Dir() + "/media"), "..\\media");
  EXPECT_EQ(MakeProjectRelative(*Db, Dir() + "/media/sub"), "..\\media\\sub");
  EXPECT_EQ(MakeProjectRelative(*Db, "/elsewhere/video"), "/elsewhere/video");
  EXPECT_EQ(MakeProjectRelative(*Db, Dir() + "x/media"), Dir() + "x/media");
  EXPECT_EQ(ExpandProjectPath(*Db, "..\\a\\b"), Dir() + "/a/b");
  EXPECT_EQ(ExpandProjectPath(*Db, "../a"), "../a");
  EXPECT_EQ(ExpandProjectPath(*Db, "/abs"), "/abs");
}

// Without a project file (MongoDB) "..\" means the path base: the working directory, or the
// folder set with SetPathBase (the CLI's --base). No result ever keeps a backslash.
TEST_F(OptionsTest, PathsWithoutAProjectFileResolveAgainstThePathBase) {
  TDbFile noFile(&Op);
  const std::string cwd = std::filesystem::current_path().string();
  struct TCase {
    std::string Base, Stored, Expected;
  };
  const std::vector<TCase> cases = {
      {"", "..\\servers", cwd + "/servers"},
      {"", "..\\HTML\\portal files", cwd + "/HTML/portal files"},
      {Dir(), "..\\servers", Dir() + "/servers"},
      {Dir() + "/", "..\\a\\b", Dir() + "/a/b"},
      {Dir(), "\\\\share\\video", "//share/video"},
      {Dir(), "/srv/packages", "/srv/packages"},
  };
  for (const auto& c : cases) {
    SetPathBase(c.Base);
    EXPECT_EQ(ExpandProjectPath(noFile, c.Stored), c.Expected) << c.Base << " " << c.Stored;
    EXPECT_EQ(ExpandProjectPath(noFile, c.Stored).find('\\'), std::string::npos);
  }
  SetPathBase(Dir());
  EXPECT_EQ(PathBase(), Dir());
  EXPECT_EQ(MakeProjectRelative(noFile, Dir() + "/media"), "..\\media");
  // A project file wins over the base.
  SetPathBase("/");
  EXPECT_EQ(ExpandProjectPath(*Db, "..\\x"), Dir() + "/x");
  EXPECT_EQ(ExpandProjectPath(noFile, "..\\x"), "/x");
  SetPathBase("");
  EXPECT_EQ(PathBase(), cwd);
}

TEST_F(OptionsTest, JoinAndRelativePaths) {
  EXPECT_EQ(JoinRootPath("/video/", "serials\\ep01.m2t"), "/video/serials/ep01.m2t");
  EXPECT_EQ(JoinRootPath("/video", "\\ep01.m2t"), "/video/ep01.m2t");
  EXPECT_EQ(JoinRootPath("/video\\", "ep01.m2t"), "/video/ep01.m2t");
  EXPECT_EQ(RelativeToRoot("/video", "/video/serials/ep01.m2t"), "serials/ep01.m2t");
  EXPECT_EQ(RelativeToRoot("/video/", "/video//x"), "x");
  EXPECT_EQ(RelativeToRoot("/video", "/other/x"), "/other/x");
  EXPECT_EQ(RelativeToRoot("/video", "/video2/x"), "/video2/x");
  EXPECT_EQ(ToStoredPath("serials/ep01.m2t"), "serials\\ep01.m2t");
  EXPECT_EQ(ToNativePath("serials\\ep01.m2t"), "serials/ep01.m2t");
}

TEST_F(OptionsTest, SettingsRecords) {
  std::string v;
  ReadSetting(*Db, "/home/op", "AutoChanged", v, "ProjectsDir", "Directories");
  EXPECT_EQ(v, "/home/op");
  WriteSetting(*Db, "/data/projects", "AutoChanged", "ProjectsDir", "Directories");
  EXPECT_EQ(ReadSetting(*Db, "/home/op", "AutoChanged", "ProjectsDir", "Directories"),
            "/data/projects");
  WriteSetting(*Db, "x", "AutoChanged", "Other", "Directories");
  auto rec = *Db->CollectionByName("AutoChanged").GetRecord("Directories");
  EXPECT_EQ(rec["ProjectsDir"], "/data/projects");  // other fields kept
  EXPECT_EQ(rec["Other"], "x");
  // An unknown collection still gives the default.
  EXPECT_EQ(ReadSetting(*Db, "def", "NoSuchCollection", "F", "R"), "def");
}

TEST_F(OptionsTest, ReadOptionsFillsEncoderDefaults) {
  TJson o = ReadOptions(*Db);
  EXPECT_EQ(o["Resolution"], "HD720");
  EXPECT_EQ(o["BitRate"], 12000);
  EXPECT_EQ(o["AspectRatio"], "16:9");
  EXPECT_EQ(o["FrameRate"], "25");
  EXPECT_EQ(o["MoveFile"], false);
  EXPECT_EQ(o["KeepExt"], false);
  Db->CollectionByName("Options").NewRecord(
      "Options", {{"Resolution", "PAL 720x576"}, {"BitRate", 6000}, {"KeepExt", true}});
  o = ReadOptions(*Db);
  EXPECT_EQ(o["Resolution"], "PAL 720x576");
  EXPECT_EQ(o["BitRate"], 6000);
  EXPECT_EQ(o["KeepExt"], true);
  EXPECT_EQ(o["FrameRate"], "25");
  ASSERT_EQ(VideoSizeTable().size(), 4u);
  EXPECT_EQ(VideoSizeItemText(VideoSizeTable()[2]), "HD720 1280x720");
  EXPECT_EQ(VideoRateTable()[1].val, "30000/1001");
}
