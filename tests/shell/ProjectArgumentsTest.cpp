// The command-line rule of the main database: a project file, or "host[:port]" and a database.
#include <gtest/gtest.h>

#include "shell/ProjectArguments.h"
#include "support/TestSupport.h"

namespace {

using K = TProjectArguments::TKind;

TProjectArguments Parse(std::vector<std::string> args, std::vector<std::string> files = {}) {
  return ParseProjectArguments(args, [files](const std::string& f) {
    return std::find(files.begin(), files.end(), f) != files.end();
  });
}

}  // namespace

TEST(ProjectArgumentsTest, AnExistingFileWins) {
  auto a = Parse({"a.pq2pr"}, {"a.pq2pr"});
  EXPECT_EQ(a.Kind, K::File);
  EXPECT_EQ(a.FileName, "a.pq2pr");
  // Also with a second argument present.
  a = Parse({"a.pq2pr", "pelmora"}, {"a.pq2pr"});
  EXPECT_EQ(a.Kind, K::File);
  // A missing file alone opens nothing.
  EXPECT_EQ(Parse({"missing.pq2pr"}).Kind, K::None);
  EXPECT_EQ(Parse({}).Kind, K::None);
}

TEST(ProjectArgumentsTest, HostPortAndDatabase) {
  auto a = Parse({"db.example:27018", "pelmora"});
  ASSERT_EQ(a.Kind, K::Mongo);
  EXPECT_EQ(a.Host, "db.example");
  EXPECT_EQ(a.Port, 27018);
  EXPECT_EQ(a.DbName, "pelmora");

  a = Parse({"10.0.0.5", "catalogue"});
  ASSERT_EQ(a.Kind, K::Mongo);
  EXPECT_EQ(a.Host, "10.0.0.5");
  EXPECT_EQ(a.Port, 27017);
  EXPECT_EQ(a.DbName, "catalogue");

  a = Parse({"[::1]:4000", "x"});
  ASSERT_EQ(a.Kind, K::Mongo);
  EXPECT_EQ(a.Host, "::1");
  EXPECT_EQ(a.Port, 4000);
}

TEST(ProjectArgumentsTest, MalformedPortsOpenNothing) {
  for (std::string hp : {"host:", "host:abc", "host:12x", "host:0", "host:65536", "host:-1",
                         "host:1:2", ":27017", "[::1", "[::1]x"}) {
    auto a = Parse({hp, "pelmora"});
    EXPECT_EQ(a.Kind, K::None) << hp;
    EXPECT_FALSE(a.Error.empty()) << hp;
  }
  EXPECT_EQ(Parse({"host:65535", "d"}).Port, 65535);
  EXPECT_EQ(Parse({"host", ""}).Kind, K::None);
}

TEST(ProjectArgumentsTest, CliAddressForm) {
  auto a = ParseMongoAddress("127.0.0.1:4567/pelmora");
  ASSERT_EQ(a.Kind, K::Mongo);
  EXPECT_EQ(a.Host, "127.0.0.1");
  EXPECT_EQ(a.Port, 4567);
  EXPECT_EQ(a.DbName, "pelmora");
  a = ParseMongoAddress("localhost/db1");
  ASSERT_EQ(a.Kind, K::Mongo);
  EXPECT_EQ(a.Port, 27017);
  for (std::string bad : {"127.0.0.1", "127.0.0.1/", "/db", "h:x/db", "h/db/more"}) {
    EXPECT_EQ(ParseMongoAddress(bad).Kind, K::None) << bad;
    EXPECT_FALSE(ParseMongoAddress(bad).Error.empty()) << bad;
  }
}

TEST(ProjectArgumentsTest, OpeningPointsTheDatabaseAtFileOrServer) {
  TTempDir tmp;
  TFakeOperator op;
  TDbFile db(&op);
  db.SetDBVersion("2.0.8.4");
  std::string file = tmp.File("p.pq2pr");
  WriteFileBytes(file, "{\"DBVersion\":\"2.0.8.4\"}");
  auto a = ParseProjectArguments({file});
  ASSERT_EQ(a.Kind, K::File);
  EXPECT_TRUE(OpenProjectArguments(db, a));
  EXPECT_FALSE(db.UseMongoDb());
  EXPECT_EQ(db.FileName(), file);
  EXPECT_TRUE(db.DbIsOpen());

  // Nothing named: the database is left as it was.
  EXPECT_FALSE(OpenProjectArguments(db, TProjectArguments{}));
  EXPECT_TRUE(db.DbIsOpen());
  EXPECT_FALSE(db.UseMongoDb());

  // A server that does not answer: MongoDB mode with the given address, not open.
  auto m = ParseProjectArguments({"127.0.0.1:1", "other"});
  ASSERT_EQ(m.Kind, K::Mongo);
  EXPECT_FALSE(OpenProjectArguments(db, m));
  EXPECT_TRUE(db.UseMongoDb());
  EXPECT_EQ(db.host(), "127.0.0.1");
  EXPECT_EQ(db.port(), 1);
  EXPECT_EQ(db.MongoDbName(), "other");
  EXPECT_FALSE(db.DbIsOpen());
  ASSERT_EQ(op.Messages.size(), 1u);
  EXPECT_EQ(op.Messages[0].Text.rfind("Connection Failed ", 0), 0u);
}
