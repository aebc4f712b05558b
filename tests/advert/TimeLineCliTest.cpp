// pelmora-cli timeline add|delete|show on a real contracts.json / timeline.json pair.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace {

using TRun = TCliRun;

struct TimeLineCli : ::testing::Test {
  TTempDir Tmp;

  TRun Run(const std::string& args, const std::string& input = "") {
    return RunCliIn(Tmp.Path(), args, input);
  }
  TJson TimeLineFile() { return ParseProjectBytes(ReadFileBytes(Tmp.File("timeline.json"))); }

  void SetUp() override {
    // contracts.json as the contracts window writes it.
    auto db = CreateContractsDatabase(Tmp.Path().string());
    db->New();
    db->CollectionByName("Places").SetRecordNo1("p1", {{"Name", "Mall"}, {"Table", TJson::array()}});
    db->CollectionByName("Contracts")
        .SetRecordNo1("c1", TJson::parse(R"({"Name":"Shop","Table":[[{"_ID":"p1","_CL":"Places"},
            {"_ID":"f1","_CL":"Films"},"29.01.2024","04.02.2024",
            [{"Start":10,"Stop":12,"Times":2},{"Start":18,"Stop":18,"Times":1}],31]]})"));
    db->Save();
  }
};

}  // namespace

TEST_F(TimeLineCli, AddShowAndDeleteByName) {
  TRun add = Run("timeline add Shop");
  ASSERT_EQ(add.Code, 0) << add.Err;
  EXPECT_NE(add.Out.find("1 file write"), std::string::npos) << add.Out;
  TJson line = TimeLineFile();
  EXPECT_EQ(line["p1"]["OneHour"][0]["Cntr"], 15);
  EXPECT_EQ(line["p1"]["OneHour"][1]["Cntr"], 5);
  EXPECT_TRUE(line["Contracts"].contains("c1"));

  TRun show = Run("timeline show Mall --from 20240201 --to 20240201");
  ASSERT_EQ(show.Code, 0) << show.Err;
  EXPECT_EQ(show.Out,
            "Place p1 (Mall)\n"
            "01.02.2024\n"
            "  10:00  mix 0  c1 (Shop) film f1 x2\n"
            "  11:00  mix 0  c1 (Shop) film f1 x2\n"
            "  12:00  mix 0  c1 (Shop) film f1 x2\n"
            "  18:00  mix 1  c1 (Shop) film f1 x1\n"
            "Hour mixes (2):\n"
            "  0  Cntr 15  c1 (Shop) film f1 x2\n"
            "  1  Cntr 5  c1 (Shop) film f1 x1\n");

  TRun json = Run("--json timeline show p1");
  ASSERT_EQ(json.Code, 0);
  TJson shown = ParseJsonText(json.Out);
  EXPECT_EQ(shown["Days"].size(), 5u);
  EXPECT_EQ(shown["Days"]["20240129"][18], 1);

  TRun del = Run("timeline delete c1");
  ASSERT_EQ(del.Code, 0) << del.Err;
  line = TimeLineFile();
  EXPECT_EQ(line["p1"], TJson::parse(R"({"OneHour":[]})"));
  EXPECT_FALSE(line["Contracts"].contains("c1"));
}

TEST_F(TimeLineCli, ErrorsAndExitCodes) {
  EXPECT_EQ(Run("timeline add Nobody").Code, 3);
  EXPECT_EQ(Run("timeline delete Nobody").Code, 3);
  EXPECT_EQ(Run("timeline show Nowhere").Code, 3);
  EXPECT_EQ(Run("timeline show Mall --from 2024-01-01").Code, 2);
  EXPECT_EQ(Run("timeline").Code, 2);

  // With the project, the film must exist: the reference error is shown and nothing written.
  ASSERT_EQ(Run("new m.pq2pr").Code, 0);
  TRun add = Run("--project m.pq2pr timeline add Shop");
  EXPECT_EQ(add.Code, 1);
  EXPECT_NE(add.Err.find("Error in record: Contracts Shop. Invalid reference."), std::string::npos)
      << add.Err;
  EXPECT_FALSE(std::filesystem::exists(Tmp.File("timeline.json")));
  ASSERT_EQ(Run("--project m.pq2pr put Films f1", R"({"Name":"Spot","Duration":"00:00:20,000"})").Code, 0);
  EXPECT_EQ(Run("--project m.pq2pr timeline add Shop").Code, 0);
}

TEST_F(TimeLineCli, AContractGoneFromContractsIsDeletedByItsBookedCopy) {
  ASSERT_EQ(Run("timeline add Shop").Code, 0);
  ASSERT_EQ(Run("--db contracts del Contracts c1").Code, 0);
  TRun del = Run("timeline delete Shop");
  ASSERT_EQ(del.Code, 0) << del.Err;
  EXPECT_EQ(TimeLineFile()["p1"]["OneHour"], TJson::array());
}
