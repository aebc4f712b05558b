// The demo head-end from a small set of records: a clip that cannot be made leaves its film's
// length as the records give it, and a demo that cannot be made leaves nothing behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "catalogue/DemoProject.h"
#include "recstore/JsonText.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

const char* const Films =
    R"("Films": {"f1": {"Name": "One", "FileName": "a\\one.m2t", "Duration": "00:00:04,600"},
                 "f2": {"Name": "Two", "FileName": "two.m2t", "Duration": "00:00:03,300"}})";

// A demo source: records.json with Extra added, an empty portal file, one template.
std::string Source(const TTempDir& tmp, const std::string& extra) {
  fs::create_directories(tmp.Path() / "src" / "HTML");
  WriteFileBytes(tmp.File("src/records.json"), std::string("{") + Films + extra + "}");
  WriteFileBytes(tmp.File("src/portal-records.json"), "{}");
  WriteFileBytes(tmp.File("src/HTML/start.html"), "<html></html>");
  return tmp.File("src");
}

}  // namespace

TEST(DemoProject, AClipThatCannotBeMadeKeepsTheFilmsLength) {
  TTempDir tmp;
  TScopedFakeOperator op;
  const std::string dir = tmp.File("demo");
  TDemoResult r = MakeDemoProject(dir, &op, {}, Source(tmp, ""), "/bin/false");
  EXPECT_FALSE(r.FfmpegMissing);
  EXPECT_TRUE(r.Clips.empty());
  ASSERT_EQ(r.Notes.size(), 2u);
  EXPECT_NE(r.Notes[0].find("\"One\" could not be made"), std::string::npos) << r.Notes[0];
  EXPECT_NE(r.Notes[1].find("\"Two\" could not be made"), std::string::npos) << r.Notes[1];
  TJson project = ParseProjectBytes(ReadFileBytes(r.ProjectFile));
  EXPECT_EQ(project["Films"]["f1"]["Duration"], "00:00:04,600");
  EXPECT_EQ(project["Films"]["f2"]["Duration"], "00:00:03,300");
  EXPECT_EQ(project["Options"]["Options"]["WinVideoDir"], "..\\video");
  // No half-made clip is left under the video root.
  if (fs::exists(dir + "/video"))
    for (const auto& e : fs::recursive_directory_iterator(dir + "/video"))
      EXPECT_FALSE(e.is_regular_file()) << e.path();
}

TEST(DemoProject, ADemoThatFailsLeavesNothing) {
  for (bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "an empty folder" : "a new folder");
    TTempDir tmp;
    TScopedFakeOperator op;
    const std::string dir = tmp.File("demo");
    if (existed) fs::create_directories(dir);
    const std::string src = Source(tmp, R"(, "NoSuchCollection": {"x": {"Name": "X"}})");
    EXPECT_THROW(MakeDemoProject(dir, &op, {}, src, "/bin/false"), std::runtime_error);
    EXPECT_EQ(fs::exists(dir), existed);
    if (existed) EXPECT_TRUE(fs::is_empty(dir));
  }
}
