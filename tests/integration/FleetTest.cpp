// Every server from one plan against two real smbd shares on 127.0.0.1: deploy --all, the dry
// run that equals the next copy, the drift check, a copy interrupted by a stopped server, and
// the rollback to the package the last copy replaced.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include "Peers.h"
#include "recstore/Json.h"
#include "servers/ShareTransfer.h"
#include "servers/ShareVerify.h"

namespace fs = std::filesystem;

namespace {

void SetMTime(const std::string& path, int64_t t) {
  utimbuf u{static_cast<time_t>(t), static_cast<time_t>(t)};
  ASSERT_EQ(::utime(path.c_str(), &u), 0);
}

int64_t MTimeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

// Two servers, "Main" and "Second", each with a package of its own and a share of its own.
struct FleetTest : ::testing::Test {
  TTempDir Local;
  TSmbdPeer SmbA, SmbB;
  std::unique_ptr<TCliProject> Cli;
  std::string Video = Local.File("video");

  FleetTest() {
    Cli = std::make_unique<TCliProject>(Local, SmbA.Address());
    WriteFileBytes(Local.File("second.json"),
                   TJson{{"Name", "Second"}, {"URL", SmbB.Address()}}.dump());
    EXPECT_EQ(Cli->Run("put Servers second '" + Local.File("second.json") + "'"), 0) << Cli->Err();
    fs::create_directories(Video);
    WriteFileBytes(Video + "/a.ts", std::string(300000, 'a'));
    WriteFileBytes(Video + "/b.ts", std::string(2000000, 'b'));
    MakePackage("Main", "main", {"a.ts", "b.ts"});
    MakePackage("Second", "second", {"a.ts"});
  }

  std::string Pkg(const std::string& server) const { return Local.File("servers/" + server); }

  void MakePackage(const std::string& server, const std::string& schedule,
                   const std::vector<std::string>& films) {
    std::string pkg = Pkg(server);
    fs::create_directories(pkg + "/json/20151116T060000");
    WriteFileBytes(pkg + "/update-index.txt", "");
    WriteFileBytes(pkg + "/json/20151116T060000/" + schedule + ".json",
                   R"([{"type":"stream","intervals":[{"playlist":"0.pls"}]}])");
    WriteFileBytes(pkg + "/json/20151116T060000/0.pls", "/inbox/a.ts\t5400.0\n");
    WriteConfig(server, "v1");
    TJson list = TJson::array();
    for (const auto& f : films) list.push_back({{"win", Video + "/" + f}, {"srv", f}});
    WriteFileBytes(pkg + "/UsedFilms.json", list.dump());
  }

  void WriteConfig(const std::string& server, const std::string& version) {
    std::string schedule = server == "Main" ? "main" : "second";
    WriteFileBytes(Pkg(server) + "/config.json",
                   R"([{"start":"20151116T000000","version":")" + version +
                       R"(","file":"/inbox/json/20151116T060000/)" + schedule + R"(.json"}])");
  }

  // pelmora-cli ARGS --json, parsed; the exit code in Code.
  TJson RunJson(const std::string& args, int& code) {
    std::string out;
    code = Cli->Run("--json " + args + " --timeout 5", &out);
    TJson j = TJson::parse(out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << args << ": " << out << Cli->Err();
    return j;
  }

  static std::vector<std::string> Queued(const TJson& server) {
    std::vector<std::string> out;
    for (const TJson& e : server["plan"])
      if (e["action"] != "leave") out.push_back(e["file"]);
    return out;
  }
  static std::vector<std::string> Copied(const TJson& server) {
    return server["copied"].get<std::vector<std::string>>();
  }
};

}  // namespace

// A deploy of both servers, and a dry run whose list is exactly what the next deploy copies:
// first everything, then one changed file, then nothing.
TEST_F(FleetTest, DeployAllAndDryRunListsWhatTheNextDeployCopies) {
  int code = 0;
  for (int round = 0; round < 3; ++round) {
    if (round == 1) {
      WriteConfig("Main", "v2-longer");  // another size
      SetMTime(Video + "/a.ts", 1447653600);  // another time, on both servers' lists
    }
    TJson dry = RunJson("deploy --all --dry-run", code);
    ASSERT_EQ(code, 0) << Cli->Err();
    // Writing nothing: a dry run after a dry run lists the same.
    TJson dry2 = RunJson("deploy --all --dry-run", code);
    TJson real = RunJson("deploy --all", code);
    ASSERT_EQ(code, 0) << Cli->Err();
    ASSERT_EQ(real["servers"].size(), 2u);
    for (size_t s = 0; s < 2; ++s) {
      SCOPED_TRACE("round " + std::to_string(round) + ", server " + std::to_string(s));
      EXPECT_EQ(Queued(dry["servers"][s]), Queued(dry2["servers"][s]));
      EXPECT_EQ(Queued(dry["servers"][s]), Copied(real["servers"][s]));
      EXPECT_EQ(real["servers"][s]["state"], round == 2 ? "unchanged" : "copied");
    }
    if (round == 0) {
      EXPECT_EQ(Copied(real["servers"][0]).size(), 7u);  // 2 films, 5 package files
      EXPECT_EQ(Copied(real["servers"][1]).size(), 6u);
      EXPECT_EQ(ReadFileBytes(SmbB.InboxDir() + "/a.ts"), std::string(300000, 'a'));
      EXPECT_FALSE(fs::exists(SmbB.InboxDir() + "/b.ts"));
    }
    if (round == 1) {
      // Why each file goes: the film's time, the configuration's size.
      std::map<std::string, std::string> why;
      for (const TJson& e : dry["servers"][0]["plan"])
        if (e["action"] != "leave") why[e["file"]] = e["why"];
      EXPECT_EQ(why, (std::map<std::string, std::string>{{"a.ts", "time differs"},
                                                         {"config.json", "size differs"}}));
      EXPECT_EQ(dry["servers"][0]["totals"]["replace"], 2);
    }
  }
  // The text form: a summary line per server.
  std::string out;
  ASSERT_EQ(Cli->Run("deploy --all", &out), 0) << Cli->Err();
  EXPECT_NE(out.find("Summary\nMain: unchanged\nSecond: unchanged\n"), std::string::npos) << out;

  // A server that fails does not stop the others; the run exits 1 and names why.
  WriteConfig("Main", "v3");
  Cli->SetServerUrl("127.0.0.1:" + std::to_string(FreeLoopbackPort()));
  WriteConfig("Second", "v3-second");
  EXPECT_EQ(Cli->Run("deploy --all --timeout 5", &out), 1);
  EXPECT_NE(out.find("Main: failed: smb://127.0.0.1:"), std::string::npos) << out;
  EXPECT_NE(out.find("Second: copied 1 files"), std::string::npos) << out;
}

// A file changed on the share behind the program's back (same size and time): the next
// comparison cannot see it, the check of the share by MD5 names it; and a copy whose bytes
// change on the share before it is put in place fails naming the file and leaves nothing
// under its name.
TEST_F(FleetTest, DriftFoundByVerifyAndByTheDigestCheck) {
  int code = 0;
  RunJson("deploy Main", code);
  ASSERT_EQ(code, 0) << Cli->Err();
  std::string onShare = SmbA.InboxDir() + "/json/20151116T060000/0.pls";
  int64_t t = MTimeOf(onShare);
  WriteFileBytes(onShare, "/inbox/X.ts\t5400.0\n");
  SetMTime(onShare, t);
  fs::remove(SmbA.InboxDir() + "/b.ts");
  TJson v = RunJson("deploy Main --verify", code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(v["drift"], TJson::parse(R"([{"file":"json/20151116T060000/0.pls","why":"digest differs","film":false},
                                         {"file":"b.ts","why":"missing","film":true}])"));
  std::string out;
  EXPECT_EQ(Cli->Run("deploy Main --verify", &out), 1);
  EXPECT_NE(out.find("digest differs\tjson/20151116T060000/0.pls\n"), std::string::npos) << out;
  ASSERT_EQ(Cli->Run("deploy Main", &out), 0) << Cli->Err();  // the film comes back
  WriteFileBytes(onShare, "/inbox/a.ts\t5400.0\n");
  SetMTime(onShare, t);
  EXPECT_EQ(Cli->Run("deploy Main --verify", &out), 0) << out;

  // The digest check of the copy itself: the share's bytes change while the copy is written.
  WriteConfig("Main", "version-2");
  TDeployRequest r;
  r.Share = SmbA.Share();
  r.PackageDir = Pkg("Main");
  r.Credentials = TSmbCredentials{};
  r.Timeout = std::chrono::milliseconds(5000);
  TFakeOperator op;
  const std::string part = SmbA.InboxDir() + "/config.json.pelmora-part";
  TDeployResult res = CopyFilesToShare(r, op, [&](const TCopyProgress& p) {
    if (p.CurrentFile == Pkg("Main") + "/config.json" && p.BytesDone > 0 && fs::exists(part)) {
      std::string bytes = ReadFileBytes(part);
      if (!bytes.empty()) bytes[0] = '{';
      std::FILE* f = std::fopen(part.c_str(), "r+");
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return true;
  });
  EXPECT_FALSE(res.Ok);
  EXPECT_NE(res.Status.find("config.json. The copy on the share differs from"), std::string::npos)
      << res.Status;
  EXPECT_NE(res.Status.find("MD5"), std::string::npos) << res.Status;
  EXPECT_NE(ReadFileBytes(SmbA.InboxDir() + "/config.json").find("\"v1\""), std::string::npos);
  EXPECT_FALSE(fs::exists(part));
}

// smbd stops in the middle of a film: the copy fails, nothing half-written carries a name, and
// a second deploy after the restart finishes and the share checks out.
TEST_F(FleetTest, ServerStoppedDuringCopyThenSecondDeployFinishesAndVerifies) {
  TDeployRequest r;
  r.Share = SmbA.Share();
  r.PackageDir = Pkg("Main");
  r.Credentials = TSmbCredentials{};
  r.Timeout = std::chrono::milliseconds(3000);
  TFakeOperator op;
  bool stopped = false;
  TDeployResult res = CopyFilesToShare(r, op, [&](const TCopyProgress& p) {
    if (!stopped && p.CurrentFile == Video + "/b.ts" && p.BytesDone > 400000) {
      SmbA.Stop();
      stopped = true;
    }
    return true;
  });
  ASSERT_TRUE(stopped);
  EXPECT_FALSE(res.Ok);
  EXPECT_FALSE(fs::exists(SmbA.InboxDir() + "/b.ts"));
  EXPECT_FALSE(fs::exists(SmbA.InboxDir() + "/config.json"));
  SmbA.Start();
  int code = 0;
  TJson d = RunJson("deploy Main", code);
  ASSERT_EQ(code, 0) << Cli->Err();
  EXPECT_EQ(ReadFileBytes(SmbA.InboxDir() + "/b.ts"), std::string(2000000, 'b'));
  TJson v = RunJson("deploy Main --verify", code);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(v["drift"].empty());
  EXPECT_EQ(v["checked"], 7);
}

// A package file rewritten within the same second with the same size: the comparison sees its
// time to the microsecond, so the dry run lists it and the copy sends it.
TEST_F(FleetTest, SameSizeWithinTheSameSecondIsStillCopied) {
  int code = 0;
  const std::string config = Pkg("Main") + "/config.json";
  timespec first[2] = {{1447653600, 100000000}, {1447653600, 100000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, config.c_str(), first, 0), 0);
  RunJson("deploy Main", code);
  ASSERT_EQ(code, 0) << Cli->Err();
  TJson dry = RunJson("deploy Main --dry-run", code);
  EXPECT_TRUE(Queued(dry).empty());
  WriteConfig("Main", "v2");  // the same size as "v1"
  timespec second[2] = {{1447653600, 700000000}, {1447653600, 700000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, config.c_str(), second, 0), 0);
  dry = RunJson("deploy Main --dry-run", code);
  EXPECT_EQ(Queued(dry), std::vector<std::string>{"config.json"});
  EXPECT_EQ(dry["plan"][0]["why"], "time differs");
  TJson real = RunJson("deploy Main", code);
  ASSERT_EQ(code, 0) << Cli->Err();
  EXPECT_EQ(Copied(real), std::vector<std::string>{"config.json"});
  EXPECT_NE(ReadFileBytes(SmbA.InboxDir() + "/config.json").find("\"v2\""), std::string::npos);
  EXPECT_TRUE(Queued(RunJson("deploy Main --dry-run", code)).empty());
}

// The copy keeps the package it replaces; rollback puts it back, configuration last, and
// checks it.
TEST_F(FleetTest, RollbackRestoresThePreviousConfigAndVerifies) {
  int code = 0;
  RunJson("rollback Main", code);
  EXPECT_EQ(code, 1);  // nothing kept yet
  RunJson("deploy Main", code);
  ASSERT_EQ(code, 0);
  const std::string v1 = ReadFileBytes(SmbA.InboxDir() + "/config.json");
  const int64_t v1Time = MTimeOf(SmbA.InboxDir() + "/config.json");
  WriteConfig("Main", "version-2");
  WriteFileBytes(Pkg("Main") + "/json/20151116T060000/0.pls", "/inbox/b.ts\t60.0\n");
  TJson d = RunJson("deploy Main", code);
  ASSERT_EQ(code, 0) << Cli->Err();
  std::string kept = d["kept"];
  ASSERT_EQ(kept.rfind(keptPackagesFolder + "/", 0), 0u) << kept;
  EXPECT_NE(ReadFileBytes(SmbA.InboxDir() + "/config.json").find("\"version-2\""), std::string::npos);
  EXPECT_EQ(ReadFileBytes(SmbA.InboxDir() + "/" + kept + "/config.json"), v1);

  TJson rb = RunJson("rollback Main", code);
  ASSERT_EQ(code, 0) << Cli->Err();
  EXPECT_EQ(rb["kept"], kept);
  EXPECT_EQ(rb["restored"], TJson::parse(R"(["json/20151116T060000/0.pls","config.json"])"));
  EXPECT_EQ(ReadFileBytes(SmbA.InboxDir() + "/config.json"), v1);
  EXPECT_EQ(MTimeOf(SmbA.InboxDir() + "/config.json"), v1Time);
  EXPECT_EQ(ReadFileBytes(SmbA.InboxDir() + "/json/20151116T060000/0.pls"), "/inbox/a.ts\t5400.0\n");
  // The share now differs from the local package, and the next deploy copies it again.
  TJson dry = RunJson("deploy Main --dry-run", code);
  EXPECT_EQ(Queued(dry), (std::vector<std::string>{"json/20151116T060000/0.pls", "config.json"}));

  // A kept copy damaged on the share is refused before anything is put back.
  std::string keptConfig = SmbA.InboxDir() + "/" + kept + "/config.json";
  WriteFileBytes(keptConfig, ReadFileBytes(keptConfig) + " ");
  std::string out;
  EXPECT_EQ(Cli->Run("rollback Main", &out), 1);
  EXPECT_NE(out.find("differs from its manifest"), std::string::npos) << out << Cli->Err();

  // The newest kept packages stay, the oldest go; rollback takes the newest.
  for (size_t i = 0; i < keptPackagesCount + 1; ++i) {
    WriteConfig("Main", "v" + std::string(i + 10, 'x'));  // a size of its own each
    d = RunJson("deploy Main", code);
    ASSERT_EQ(code, 0) << Cli->Err();
  }
  std::vector<std::string> folders;
  for (auto& e : fs::directory_iterator(SmbA.InboxDir() + "/" + keptPackagesFolder))
    folders.push_back(e.path().filename().string());
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders.size(), keptPackagesCount);
  EXPECT_EQ(keptPackagesFolder + "/" + folders.back(), d["kept"].get<std::string>());
  EXPECT_EQ(std::find(folders.begin(), folders.end(), fs::path(kept).filename().string()),
            folders.end());
}
