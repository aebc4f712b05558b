// pelmora-cli on a MongoDB database: every record command through --mongo HOST:PORT/DB.
#include <gtest/gtest.h>

#include "integration/MongoTestServer.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "shell/ProjectArguments.h"
#include "support/TestSupport.h"

namespace {

using TRun = TCliRun;

struct MongoCliTest : ::testing::Test {
  TMongoTestServer Server;
  TTempDir Tmp;

  void SetUp() override { ASSERT_NO_THROW(Server.Start()); }

  std::string M() const { return "--mongo 127.0.0.1:" + std::to_string(Server.Port()) + "/pelmora "; }

  TRun Run(const std::string& args, const std::string& input = "") {
    return RunCliIn(Tmp, args, input);
  }
};

}  // namespace

TEST_F(MongoCliTest, RecordCommandsWorkOnTheServer) {
  TRun put = Run(M() + "put Films --new", R"({"Name":"Кино","Year":1999})");
  ASSERT_EQ(put.Code, 0) << put.Err;
  std::string id = put.Out.substr(0, put.Out.find('\n'));
  EXPECT_EQ(id.size(), 24u);
  ASSERT_EQ(Run(M() + "put Films second", R"({"Name":"Second"})").Code, 0);

  TRun list = Run(M() + "list Films");
  ASSERT_EQ(list.Code, 0) << list.Err;
  EXPECT_EQ(list.Out, id + "\tКино\nsecond\tSecond\n");

  TRun get = Run(M() + "get Films Кино");
  ASSERT_EQ(get.Code, 0) << get.Err;
  EXPECT_EQ(ParseJsonText(get.Out), TJson({{"Name", "Кино"}, {"Year", 1999}}));

  // Replacing an existing record keeps one document and advances its counter.
  ASSERT_EQ(Run(M() + "put Films Second", R"({"Name":"Second","Extra":1})").Code, 0);
  EXPECT_EQ(ParseJsonText(Run(M() + "get Films second").Out)["Extra"], 1);

  TRun imp = Run(M() + "import -", R"({"Films":{"f3":{"Name":"Third"}},"Channels":{"c1":{"Name":"One"}}})");
  ASSERT_EQ(imp.Code, 0) << imp.Err;
  EXPECT_EQ(Run(M() + "list Channels").Out, "c1\tOne\n");

  EXPECT_EQ(Run(M() + "del Films second").Code, 0);
  EXPECT_EQ(Run(M() + "get Films second").Code, 3);
  EXPECT_EQ(Run(M() + "list Films").Out, id + "\tКино\nf3\tThird\n");

  TRun info = Run(M() + "--json info");
  ASSERT_EQ(info.Code, 0) << info.Err;
  TJson j = ParseJsonText(info.Out);
  EXPECT_EQ(j["Open"], true);
  EXPECT_EQ(j["Collections"]["Films"], 2);
  EXPECT_EQ(j["Collections"]["Channels"], 1);
  EXPECT_EQ(j["Collections"]["Tree"], 2);  // the tree documents of Films and Channels

  // The server holds what a console opening it sees.
  auto db = CreateMainDatabase();
  ASSERT_TRUE(OpenProjectArguments(
      *db, ParseProjectArguments({"127.0.0.1:" + std::to_string(Server.Port()), "pelmora"})));
  auto tree = db->CollectionByName("Tree").GetRecord("Films");
  ASSERT_TRUE(tree);
  EXPECT_EQ(*tree, TJson::parse(R"([{"_ID":")" + id + R"("},{"_ID":"f3"}])"));
}

TEST_F(MongoCliTest, BadAddressesAndUnreachableServers) {
  TRun bad = Run("--mongo 127.0.0.1:x/pelmora list Films");
  EXPECT_EQ(bad.Code, 2);
  EXPECT_NE(bad.Err.find("invalid port"), std::string::npos) << bad.Err;
  EXPECT_EQ(Run("--mongo 127.0.0.1 list Films").Code, 2);
  EXPECT_EQ(Run("--mongo 127.0.0.1:1/p --project x.pq2pr list Films").Code, 2);

  Server.Stop();
  TRun down = Run("--mongo 127.0.0.1:1/pelmora list Films");
  EXPECT_EQ(down.Code, 1);
  EXPECT_NE(down.Err.find("Connection Failed "), std::string::npos) << down.Err;
}
