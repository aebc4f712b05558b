// pelmora-cli on a MongoDB database: every record command through --mongo HOST:PORT/DB.
#include <gtest/gtest.h>
#include <mongoc/mongoc.h>

#include <filesystem>
#include <set>

#include "integration/MongoTestServer.h"
#include "recstore/MongoAndSo.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "shell/ProjectArguments.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

using TRun = TCliRun;

const std::string DemoDir = std::string(PELMORA_TESTDATA_DIR) + "/../../examples/demo";

// Every file below Root, as paths relative to it.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    out.insert(fs::relative(e.path(), root).string());
  return out;
}

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

// A read that finds two documents under one identifier fails the command: nothing is stored and
// the record is not taken for missing.
TEST_F(MongoCliTest, TwoDocumentsUnderOneIdentifierFailTheCommand) {
  EnsureMongocInitialised();
  mongoc_client_t* client =
      mongoc_client_new(("mongodb://127.0.0.1:" + std::to_string(Server.Port())).c_str());
  mongoc_collection_t* films = mongoc_client_get_collection(client, "pelmora", "Films");
  for (int i = 0; i < 2; ++i) {
    bson_t doc = BSON_INITIALIZER, value;
    BSON_APPEND_UTF8(&doc, "_ID", "twice");
    BSON_APPEND_DOCUMENT_BEGIN(&doc, "Value", &value);
    BSON_APPEND_UTF8(&value, "Name", "Copy");
    bson_append_document_end(&doc, &value);
    bson_error_t err;
    EXPECT_TRUE(mongoc_collection_insert_one(films, &doc, nullptr, nullptr, &err)) << err.message;
    bson_destroy(&doc);
  }
  for (const std::string cmd : {"put Films twice", "get Films twice", "import -"}) {
    TRun r = Run(M() + cmd, cmd == "import -" ? R"({"Films":{"twice":{"Name":"Third"}}})"
                                               : R"({"Name":"Third"})");
    EXPECT_EQ(r.Code, 1) << cmd << ": " << r.Err;
    EXPECT_NE(r.Err.find("Two documents with _ID \"twice\" in collection pelmora.Films"),
              std::string::npos)
        << cmd << ": " << r.Err;
  }
  bson_t all = BSON_INITIALIZER;
  bson_error_t err;
  EXPECT_EQ(mongoc_collection_count_documents(films, &all, nullptr, nullptr, nullptr, &err), 2);
  bson_destroy(&all);
  mongoc_collection_destroy(films);
  mongoc_client_destroy(client);
}

// "Create files" with its portal on a MongoDB database: the stored "..\" folders resolve against
// --base, or the working directory without it, and everything is written below the servers
// folder found so; no name holds a backslash.
TEST_F(MongoCliTest, CreateFilesWritesOnlyBelowTheResolvedServersFolder) {
  const fs::path base = Tmp.Path() / "base";
  const fs::path elsewhere = Tmp.Path() / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directories(base);
  fs::copy(DemoDir + "/HTML", base / "HTML", fs::copy_options::recursive);
  for (const char* f : {"video/city/city_lights.m2t", "video/city/night_city.m2t",
                        "video/nature/mountain_morning.m2t"}) {
    fs::create_directories((base / f).parent_path());
    WriteFileBytes((base / f).string(), "ts");
  }
  for (const char* f : {"records.json", "portal-records.json"}) {
    TRun imp = Run(M() + "import '" + DemoDir + "/" + f + "'");
    ASSERT_EQ(imp.Code, 0) << f << ": " << imp.Err;
  }
  struct TCase {
    const char* Name;
    fs::path Cwd;
    std::string Args;
  };
  const std::vector<TCase> cases = {
      {"--base from another folder", elsewhere, "--base '" + base.string() + "' "},
      {"working directory", base, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::set<std::string> before = FilesBelow(Tmp.Path());
    TRun r = RunCliIn(c.Cwd, M() + c.Args + "--yes build-package 'Playout 1'");
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_NE(r.Out.find("Web portal was successfully created!"), std::string::npos) << r.Out;
    const fs::path package = base / "servers" / "Playout 1";
    EXPECT_TRUE(fs::is_regular_file(package / "config.json"));
    EXPECT_TRUE(fs::is_regular_file(package / "portal" / "18991230T000000" / "Lobby boxes" /
                                    "index.html"));
    const std::string cwdPrefix = fs::relative(c.Cwd, Tmp.Path()).string() + "/";
    for (const std::string& f : FilesBelow(Tmp.Path())) {
      EXPECT_EQ(f.find('\\'), std::string::npos) << f;
      if (before.count(f)) continue;
      const bool written = f.rfind("base/servers", 0) == 0;
      const bool runFiles = f == cwdPrefix + "in" || f == cwdPrefix + "out" || f == cwdPrefix + "err";
      EXPECT_TRUE(written || runFiles) << "written outside the servers folder: " << f;
    }
  }
  EXPECT_EQ(Run(M() + "--base '" + (Tmp.Path() / "missing").string() + "' list Films").Code, 2);

  // Every server at once, the films read from the server once for both builds: a second server
  // of the same plan gets a package equal to the first one's, file for file.
  TRun server = RunCliIn(base, M() + "get Servers 'Playout 1'");
  ASSERT_EQ(server.Code, 0) << server.Err;
  TJson second = ParseJsonText(server.Out);
  second["Name"] = "Playout 2";
  WriteFileBytes(Tmp.File("second.json"), second.dump());
  ASSERT_EQ(Run(M() + "put Servers --new '" + Tmp.File("second.json") + "'").Code, 0);
  TRun all = RunCliIn(base, M() + "--yes build-package --all");
  ASSERT_EQ(all.Code, 0) << all.Out << all.Err;
  const fs::path one = base / "servers" / "Playout 1", two = base / "servers" / "Playout 2";
  std::set<std::string> files = FilesBelow(one);
  EXPECT_EQ(files, FilesBelow(two));
  EXPECT_GT(files.size(), 5u);
  for (const std::string& f : files) {
    if (!fs::is_regular_file(one / f)) continue;
    EXPECT_EQ(ReadFileBytes((one / f).string()), ReadFileBytes((two / f).string())) << f;
  }
}

// A MongoDB database written out as a project file and brought back into an empty database:
// the same records and trees, and the file reads as a project of its own.
TEST_F(MongoCliTest, ExportAndImportRoundTripTheWholeDatabase) {
  for (const char* part : {"records.json", "portal-records.json"}) {
    TRun imp = Run(M() + "import " + DemoDir + "/" + part);
    ASSERT_EQ(imp.Code, 0) << imp.Err;
  }
  ASSERT_EQ(Run(M() + "put Films --new", R"({"Name":"Кино \"quoted\"","N":25.5})").Code, 0);
  TRun exp = Run(M() + "export first.pq2pr");
  ASSERT_EQ(exp.Code, 0) << exp.Err;
  // The export is a project file: the commands read it as one.
  TRun info = Run("--project first.pq2pr --json info");
  ASSERT_EQ(info.Code, 0) << info.Err;
  EXPECT_GT(ParseJsonText(info.Out)["Collections"]["Films"].get<int>(), 1);

  const std::string other = "--mongo 127.0.0.1:" + std::to_string(Server.Port()) + "/restored ";
  TRun back = Run(other + "import first.pq2pr");
  ASSERT_EQ(back.Code, 0) << back.Err;
  ASSERT_EQ(Run(other + "export second.pq2pr").Code, 0);
  TRun diff = Run("diff first.pq2pr second.pq2pr");
  ASSERT_EQ(diff.Code, 0) << diff.Err;
  EXPECT_EQ(diff.Out, "no differences\n");
  EXPECT_EQ(Run(other + "list Films").Out, Run(M() + "list Films").Out);

  // Each change on the server is a line of the journal collection.
  TRun journal = Run(M() + "--json journal --collection Films");
  ASSERT_EQ(journal.Code, 0) << journal.Err;
  TJson lines = ParseJsonText(journal.Out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(JsonStr(lines.back(), "change"), "new");
  EXPECT_EQ(JsonStr(lines.back(), "Name"), "Кино \"quoted\"");
}

// Tree entries on a shared server: parallel writers each get their entry (a counter conflict
// on the tree document is retried), and a repeated put or import adds an entry that is missing.
TEST_F(MongoCliTest, EveryStoredRecordGetsItsTreeEntry) {
  // The tree document is there before the writers meet on it: its first creation relies on
  // the server's unique index on "_ID", which the test server does not keep.
  TRun first = Run(M() + "put Films first", R"({"Name":"First"})");
  ASSERT_EQ(first.Code, 0) << first.Err;
  const int writers = 20;
  std::string script;
  for (int i = 0; i < writers; ++i) {
    script += "(cd '" + Tmp.Path().string() + "' && '" + PELMORA_CLI_PATH + "' " + M() +
              "put Films --new <<< '{\"Name\":\"W" + std::to_string(i) + "\"}' > out" +
              std::to_string(i) + " 2>&1) & ";
  }
  script += "wait\n";
  WriteFileBytes(Tmp.File("writers.sh"), script);
  ASSERT_EQ(std::system(("bash '" + Tmp.File("writers.sh") + "'").c_str()), 0);
  std::set<std::string> printed;
  for (int i = 0; i < writers; ++i) {
    std::string out = ReadFileBytes(Tmp.File("out" + std::to_string(i)));
    EXPECT_EQ(out.size(), 25u) << out;
    printed.insert(out.substr(0, 24));
  }
  EXPECT_EQ(printed.size(), size_t(writers));
  printed.insert("first");
  auto treeIds = [&] {
    std::set<std::string> ids;
    TJson tree = ParseJsonText(Run(M() + "get Tree Films").Out);
    for (const auto& e : tree) ids.insert(e.value("_ID", ""));
    return ids;
  };
  EXPECT_EQ(treeIds(), printed);

  // Records whose entries were lost (an interrupted earlier command) get them back.
  ASSERT_EQ(Run(M() + "put Tree Films", "[]").Code, 0);
  const std::string one = *printed.begin();
  TRun again = Run(M() + "put Films " + one, R"({"Name":"Again"})");
  ASSERT_EQ(again.Code, 0) << again.Err;
  EXPECT_EQ(treeIds(), std::set<std::string>{one});
  TJson doc = {{"Films", TJson::object()}};
  for (const auto& id : printed) doc["Films"][id] = {{"Name", "Imported"}};
  TRun imp = Run(M() + "import -", doc.dump());
  ASSERT_EQ(imp.Code, 0) << imp.Err;
  EXPECT_EQ(treeIds(), printed);
  EXPECT_EQ(ParseJsonText(Run(M() + "get Tree Films").Out).size(), size_t(writers) + 1);
}

namespace {

// Starts pelmora-cli with Args in Dir (stdin from file "bg-in", output to "bg-out" and
// "bg-err", apart from the files of the runs made meanwhile) and gives its process id.
pid_t StartCli(const fs::path& dir, const std::string& args) {
  pid_t pid = fork();
  if (pid == 0) {
    std::string cmd = "cd '" + dir.string() + "' && exec '" + PELMORA_CLI_PATH + "' " + args +
                      " <bg-in >bg-out 2>bg-err";
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Records of collection Films stored on the server, counted by the command line.
size_t StoredFilms(MongoCliTest& t) {
  TJson info = ParseJsonText(t.Run(t.M() + "--json info").Out);
  return info["Collections"].value("Films", size_t(0));
}

}  // namespace

// An import cut short stores part of the records; repeated, it gives every record its tree
// entry. One that fails on the server's side says how many records it had stored.
TEST_F(MongoCliTest, InterruptedImportRepeatedGivesEveryRecordItsEntry) {
  const size_t n = 5000;
  TJson doc = {{"Films", TJson::object()}};
  std::set<std::string> ids;
  for (size_t i = 0; i < n; ++i) {
    std::string id = "film" + std::to_string(i);
    doc["Films"][id] = {{"Name", "F" + std::to_string(i)}};
    ids.insert(id);
  }
  WriteFileBytes(Tmp.File("bg-in"), doc.dump());
  WriteFileBytes(Tmp.File("import.json"), doc.dump());
  pid_t pid = StartCli(Tmp.Path(), M() + "import -");
  // Stopped once part of the records are there.
  for (int i = 0; i < 600 && StoredFilms(*this) < 200; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the import ended before it could be interrupted";
  size_t before = StoredFilms(*this);
  EXPECT_GT(before, 0u);
  EXPECT_LT(before, n);

  TRun again = Run(M() + "import import.json");
  ASSERT_EQ(again.Code, 0) << again.Err;
  TJson tree = ParseJsonText(Run(M() + "get Tree Films").Out);
  std::set<std::string> entered;
  for (const auto& e : tree) entered.insert(e.value("_ID", ""));
  EXPECT_EQ(entered, ids);
  EXPECT_EQ(tree.size(), n);  // one entry each
  EXPECT_EQ(StoredFilms(*this), n);

  // The server goes away during an import: the failure says how far it got.
  TJson more = {{"Films", TJson::object()}};
  for (size_t i = 0; i < n; ++i) more["Films"]["more" + std::to_string(i)] = {{"Name", "M"}};
  WriteFileBytes(Tmp.File("bg-in"), more.dump());
  pid = StartCli(Tmp.Path(), M() + "import -");
  for (int i = 0; i < 600 && StoredFilms(*this) < n + 200; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Server.Stop();
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::string err = ReadFileBytes(Tmp.File("bg-err"));
  EXPECT_NE(err.find(" records were stored before it"), std::string::npos) << err;
  EXPECT_NE(err.find("Repeat the import"), std::string::npos) << err;
}
