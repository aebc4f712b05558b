// Copying packages and films to a real smbd's "inbox" share on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>

#include <filesystem>
#include <map>

#include "Peers.h"
#include "recstore/Json.h"
#include "servers/ShareTransfer.h"

namespace fs = std::filesystem;

namespace {

int64_t MTimeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return st.st_mtim.tv_sec;
}

void SetMTime(const std::string& path, int64_t t) {
  utimbuf u{static_cast<time_t>(t), static_cast<time_t>(t)};
  ASSERT_EQ(::utime(path.c_str(), &u), 0);
}

// Every file below Dir, relative, "/" separated.
std::vector<std::string> FilesBelow(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

struct DeployTest : ::testing::Test {
  TTempDir Local;
  std::string Pkg = Local.File("servers/Main");
  std::string Video = Local.File("video");
  TFakeOperator Op;

  DeployTest() {
    fs::create_directories(Pkg + "/json/20151116T060000");
    fs::create_directories(Video + "/news");
    WriteFileBytes(Pkg + "/update-index.txt", "");
    WriteFileBytes(Pkg + "/config.json", R"([{"start":"20151116T000000"}])");
    WriteFileBytes(Pkg + "/json/20151116T060000/0.pls", "/inbox/a.ts\t5400.0\n");
    WriteFileBytes(Video + "/a.ts", std::string(300000, 'a'));
    WriteFileBytes(Video + "/news/Новости.ts", std::string(1500000, 'n'));
    SetMTime(Video + "/a.ts", 1447653600);
    // What the package export writes: the film's path here and its name on the server.
    TJson films = TJson::array();
    films.push_back({{"win", Video + "/a.ts"}, {"srv", "a.ts"}});
    films.push_back({{"win", Video + "/news/Новости.ts"}, {"srv", "news\\novosti.ts"}});
    WriteFileBytes(Pkg + "/UsedFilms.json", films.dump(1, ' ', true));
  }

  TDeployResult Deploy(const TSmbdPeer& smb, const TCopyProgressSink& progress = {},
                       bool force = false) {
    TDeployRequest r;
    r.Share = smb.Share();
    r.PackageDir = Pkg;
    r.ForceDisconnect = force;
    r.Credentials = TSmbCredentials{};
    r.Timeout = std::chrono::milliseconds(10000);
    Op.Statuses.clear();
    Op.Messages.clear();
    return CopyFilesToShare(r, Op, progress);
  }
};

}  // namespace

TEST_F(DeployTest, FirstCopiesEverythingSecondNothingTouchedFilmAlone) {
  TSmbdPeer smb;
  TDeployResult r = Deploy(smb);
  ASSERT_TRUE(r.Ok) << r.Status;
  EXPECT_EQ(r.FilesCopied, 6u);
  EXPECT_EQ(r.Status, "6- files copied");
  EXPECT_EQ(Op.Statuses, (std::vector<std::string>{"Connecting to server", "Checking of files for copy",
                                                   "Checking of films for copy", "Copying of files",
                                                   "6- files copied"}));
  EXPECT_TRUE(Op.Messages.empty());
  std::string in = smb.InboxDir();
  // "srv" is joined to the share with one separator; nothing else, no temporary names.
  EXPECT_EQ(FilesBelow(in), (std::vector<std::string>{"UsedFilms.json", "a.ts", "config.json",
                                                      "json/20151116T060000/0.pls",
                                                      "news/novosti.ts", "update-index.txt"}));
  EXPECT_EQ(ReadFileBytes(in + "/news/novosti.ts"), std::string(1500000, 'n'));
  EXPECT_EQ(ReadFileBytes(in + "/json/20151116T060000/0.pls"), "/inbox/a.ts\t5400.0\n");
  // The copies carry the sources' modification times.
  EXPECT_EQ(MTimeOf(in + "/a.ts"), 1447653600);
  EXPECT_EQ(MTimeOf(in + "/config.json"), MTimeOf(Pkg + "/config.json"));

  r = Deploy(smb);
  ASSERT_TRUE(r.Ok);
  EXPECT_EQ(r.FilesCopied, 0u);
  EXPECT_EQ(r.Status, "No new files to copy!");
  EXPECT_EQ(Op.Statuses.back(), "No new files to copy!");
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Text, "No new files to copy!");

  // Touching one film copies exactly that film; a package file of another size is copied too.
  SetMTime(Video + "/a.ts", 1447653600 + 3600);
  r = Deploy(smb);
  ASSERT_TRUE(r.Ok);
  EXPECT_EQ(r.Status, "1- files copied");
  EXPECT_EQ(MTimeOf(in + "/a.ts"), 1447653600 + 3600);
  int64_t configTime = MTimeOf(in + "/config.json");
  WriteFileBytes(Pkg + "/config.json", "[]");
  SetMTime(Pkg + "/config.json", configTime);  // same time, other size
  r = Deploy(smb);
  EXPECT_EQ(r.Status, "1- files copied");
  EXPECT_EQ(ReadFileBytes(in + "/config.json"), "[]");
}

TEST_F(DeployTest, MissingFilmListAsksAndUnreadableOneStops) {
  TSmbdPeer smb;
  fs::remove(Pkg + "/UsedFilms.json");
  TDeployResult r = Deploy(smb);  // no answer given: the safe answer is No
  EXPECT_FALSE(r.Ok);
  std::string text = "Film " + Pkg + "/UsedFilms.json not found!";
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_TRUE(Op.Messages[0].Question);
  EXPECT_EQ(Op.Messages[0].Caption, "IO Error");
  EXPECT_EQ(Op.Messages[0].Text, text + ". Continue?");
  EXPECT_EQ(r.Status, text);
  EXPECT_TRUE(FilesBelow(smb.InboxDir()).empty());

  Op.Answers.push_back(TMsgAnswer::Yes);  // go on without films
  r = Deploy(smb);
  ASSERT_TRUE(r.Ok) << r.Status;
  EXPECT_EQ(r.Status, "3- files copied");
  EXPECT_EQ(FilesBelow(smb.InboxDir()).size(), 3u);

  WriteFileBytes(Pkg + "/UsedFilms.json", "[{\"win\": \"x\", ");
  r = Deploy(smb);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Status, "Error of loading of the file " + Pkg + "/UsedFilms.json");
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Text, r.Status);
  EXPECT_FALSE(Op.Messages[0].Caption.empty());  // the parser's message
  EXPECT_EQ(r.FilesCopied, 0u);
  EXPECT_EQ(FilesBelow(smb.InboxDir()).size(), 3u);  // nothing new was copied
}

TEST_F(DeployTest, FilmPathsLeavingTheShareAreRefused) {
  TSmbdPeer smb;
  for (const char* bad : {"../outside.ts", "/etc/outside.ts", "news\\..\\..\\outside.ts"}) {
    TJson films = TJson::array();
    films.push_back({{"win", Video + "/a.ts"}, {"srv", bad}});
    WriteFileBytes(Pkg + "/UsedFilms.json", films.dump());
    TDeployResult r = Deploy(smb);
    EXPECT_FALSE(r.Ok) << bad;
    EXPECT_NE(r.Status.find("outside the share"), std::string::npos) << r.Status;
    EXPECT_EQ(r.FilesCopied, 0u);
  }
  EXPECT_TRUE(FilesBelow(smb.InboxDir()).empty());
  EXPECT_FALSE(fs::exists(fs::path(smb.InboxDir()).parent_path() / "outside.ts"));
}

TEST_F(DeployTest, RefusedWritesFailClearlyAndClaimNothing) {
  TSmbdPeer smb(/*readOnly=*/true);
  TDeployResult r = Deploy(smb);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.FilesCopied, 0u);
  EXPECT_NE(r.Status.find(smb.Share()), std::string::npos) << r.Status;
  EXPECT_NE(r.Status.find("denied"), std::string::npos) << r.Status;
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_EQ(Op.Messages.back().Caption, "Copying of files");
  EXPECT_EQ(Op.Messages.back().Icon, TMsgIcon::Error);
  EXPECT_EQ(Op.Statuses.back(), r.Status);
  EXPECT_TRUE(FilesBelow(smb.InboxDir()).empty());
}

TEST_F(DeployTest, ProgressCountsBytesAndFilesAndCanCancel) {
  TSmbdPeer smb;
  std::vector<TCopyProgress> seen;
  TDeployResult r = Deploy(smb, [&](const TCopyProgress& p) {
    seen.push_back(p);
    return true;
  }, /*force=*/true);
  ASSERT_TRUE(r.Ok) << r.Status;
  ASSERT_FALSE(seen.empty());
  uint64_t total = 0;
  for (const auto& f : FilesBelow(Pkg)) total += fs::file_size(Pkg + "/" + f);
  total += 300000 + 1500000;
  EXPECT_EQ(seen.back().BytesTotal, total);
  EXPECT_EQ(seen.back().BytesDone, total);
  EXPECT_EQ(seen.back().FilesDone, 6u);
  EXPECT_EQ(seen.back().FilesTotal, 6u);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i].BytesDone, seen[i - 1].BytesDone);

  // Cancelling in the middle of the big film leaves no file under its name.
  fs::remove_all(smb.InboxDir() + "/news");
  r = Deploy(smb, [&](const TCopyProgress& p) {
    return !(p.CurrentFile.find("Новости") != std::string::npos && p.BytesDone > 0);
  });
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.Status.find("The operation was cancelled by the user"), std::string::npos) << r.Status;
  EXPECT_FALSE(fs::exists(smb.InboxDir() + "/news/novosti.ts"));
  EXPECT_FALSE(fs::exists(smb.InboxDir() + "/news/novosti.ts.pelmora-part"));
  // The next run copies it.
  r = Deploy(smb);
  EXPECT_EQ(r.Status, "1- files copied");
}

// Films of the list that this computer does not have are named, the rest is copied, and the
// copy ends as a failure.
TEST_F(DeployTest, FilmsMissingHereFailTheCopyByNameAndStoredSlashesAccepted) {
  TSmbdPeer smb;
  TJson films = TJson::array();
  // A path written with the stored separators still names the local file.
  films.push_back({{"win", Video + "\\news\\Новости.ts"}, {"srv", "news/novosti.ts"}});
  films.push_back({{"win", Video + "/gone.ts"}, {"srv", "gone.ts"}});
  films.push_back({{"win", Video + "/lost.ts"}, {"srv", "lost.ts"}});
  WriteFileBytes(Pkg + "/UsedFilms.json", films.dump());
  TDeployResult r = Deploy(smb);
  EXPECT_FALSE(r.Ok);
  std::string missing = "Films not found on this computer, not copied: " + Video + "/gone.ts, " +
                        Video + "/lost.ts";
  EXPECT_EQ(r.Status, "5- files copied. " + missing);
  EXPECT_EQ(r.FilesCopied, 5u);
  EXPECT_EQ(r.Warnings, (std::vector<std::string>{Video + "/gone.ts", Video + "/lost.ts"}));
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption, "Copying of files");
  EXPECT_EQ(Op.Messages[0].Icon, TMsgIcon::Error);
  EXPECT_EQ(ReadFileBytes(smb.InboxDir() + "/news/novosti.ts"), std::string(1500000, 'n'));
  EXPECT_TRUE(fs::exists(smb.InboxDir() + "/config.json"));
  EXPECT_FALSE(fs::exists(smb.InboxDir() + "/gone.ts"));
  // Nothing new to copy still fails while films are missing.
  r = Deploy(smb);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Status, missing);
}

// The films reach the share first, then the schedule files, and "config.json" and
// "update-index.txt" last: what the share holds when each file starts is observed on smbd.
TEST_F(DeployTest, FilmsFirstConfigAndIndexLast) {
  TSmbdPeer smb;
  fs::create_directories(Pkg + "/portal/20151116T060000/Hall");
  WriteFileBytes(Pkg + "/portal/20151116T060000/Hall/index.html", "<html></html>");
  WriteFileBytes(Pkg + "/groups.json", "{}");
  std::string in = smb.InboxDir();
  std::vector<std::string> order;
  std::map<std::string, std::vector<std::string>> onShareAtStart;
  TDeployResult r = Deploy(smb, [&](const TCopyProgress& p) {
    // The first report of a file comes before any of its bytes are written.
    if (order.empty() || order.back() != p.CurrentFile) {
      order.push_back(p.CurrentFile);
      onShareAtStart[p.CurrentFile] = FilesBelow(in);
    }
    return true;
  });
  ASSERT_TRUE(r.Ok) << r.Status;
  ASSERT_EQ(order.size(), 8u);
  EXPECT_EQ(order[0], Video + "/a.ts");
  EXPECT_EQ(order[1], Video + "/news/Новости.ts");
  EXPECT_EQ(order[6], Pkg + "/config.json");
  EXPECT_EQ(order[7], Pkg + "/update-index.txt");
  // When "config.json" starts, every film and schedule and portal file is on the share.
  EXPECT_EQ(onShareAtStart[Pkg + "/config.json"],
            (std::vector<std::string>{"UsedFilms.json", "a.ts", "groups.json",
                                      "json/20151116T060000/0.pls", "news/novosti.ts",
                                      "portal/20151116T060000/Hall/index.html"}));
  auto last = onShareAtStart[Pkg + "/update-index.txt"];
  EXPECT_NE(std::find(last.begin(), last.end(), "config.json"), last.end());
  EXPECT_EQ(last.size(), 7u);
}

TEST_F(DeployTest, UnreachableShareAndMissingPackage) {
  TDeployRequest r;
  int port = FreeLoopbackPort();
  r.Share = "smb://127.0.0.1:" + std::to_string(port) + "/inbox";
  r.PackageDir = Pkg;
  r.Credentials = TSmbCredentials{};
  r.Timeout = std::chrono::milliseconds(5000);
  TDeployResult res = CopyFilesToShare(r, Op);
  EXPECT_FALSE(res.Ok);
  EXPECT_EQ(res.Status, r.Share + ". Connection refused");

  TSmbdPeer smb;
  r.Share = smb.Share();
  r.PackageDir = Local.File("servers/Nobody");
  Op.Messages.clear();
  res = CopyFilesToShare(r, Op);
  EXPECT_FALSE(res.Ok);
  EXPECT_EQ(res.Status, "Error of opening of the directory " + Local.File("servers/Nobody"));
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_EQ(Op.Messages[0].Caption, "IO Error");
}

TEST_F(DeployTest, CommandLineDeployAndShareUrl) {
  TSmbdPeer smb;
  TCliProject cli(Local, smb.Address());
  std::string out;
  ASSERT_EQ(cli.Run("deploy Main", &out), 0) << cli.Err();
  EXPECT_EQ(out, "6- files copied\n");
  EXPECT_NE(cli.Err().find("Copying 6 of 6 files"), std::string::npos);
  ASSERT_EQ(cli.Run("deploy main", &out), 0);
  EXPECT_EQ(out, "No new files to copy!\n");
  ASSERT_EQ(cli.Run("share-url Main", &out), 0);
  EXPECT_EQ(out, smb.Share() + "\n");
  EXPECT_EQ(cli.Run("deploy Nobody"), 3);
  // A film of the package missing on this computer: named, exit code 1.
  fs::rename(Video + "/a.ts", Video + "/a.ts.away");
  EXPECT_EQ(cli.Run("deploy Main", &out), 1);
  EXPECT_NE(out.find("Films not found on this computer, not copied: " + Video + "/a.ts"),
            std::string::npos) << out;
  fs::rename(Video + "/a.ts.away", Video + "/a.ts");

  TSmbdPeer readOnly(true);
  cli.SetServerUrl(readOnly.Address());
  EXPECT_EQ(cli.Run("deploy Main", &out), 1);
  EXPECT_NE(out.find("denied"), std::string::npos) << out;
}

// Credentials the server refuses: the failure says the logon failed and for whom.
TEST_F(DeployTest, RefusedLogonNamesTheUser) {
  TSmbdPeer smb(false, false);
  TDeployRequest r;
  r.Share = smb.Share();
  r.PackageDir = Pkg;
  r.Credentials = TSmbCredentials{"stranger", "wrong", "WORK"};
  r.Timeout = std::chrono::milliseconds(10000);
  TDeployResult res = CopyFilesToShare(r, Op);
  EXPECT_FALSE(res.Ok);
  EXPECT_NE(res.Status.find("logon failed"), std::string::npos) << res.Status;
  EXPECT_NE(res.Status.find("WORK\\stranger"), std::string::npos) << res.Status;
  EXPECT_TRUE(FilesBelow(smb.InboxDir()).empty());
}

// A copy sends one package: it waits for "Create files" to finish replacing the folder, holds
// the folder while it copies, and fails naming every file the copied configuration names that
// the share does not hold.
TEST_F(DeployTest, OnePackagePerCopyAndEveryNamedFileOnTheShare) {
  TSmbdPeer smb;
  TDeployRequest r;
  r.Share = smb.Share();
  r.PackageDir = Pkg;
  r.Credentials = TSmbCredentials{};
  r.Timeout = std::chrono::milliseconds(10000);
  r.PackageLockWait = std::chrono::milliseconds(300);
  {
    TPackageLock building;  // what "Create files" holds while it swaps the folder
    ASSERT_TRUE(building.Acquire(Pkg, true, std::chrono::milliseconds(0)));
    TDeployResult res = CopyFilesToShare(r, Op);
    EXPECT_FALSE(res.Ok);
    EXPECT_NE(res.Status.find("is being replaced"), std::string::npos) << res.Status;
    EXPECT_TRUE(FilesBelow(smb.InboxDir()).empty());
  }
  // While the copy runs, a build cannot take the folder.
  bool buildCouldSwap = true;
  TDeployResult res = CopyFilesToShare(r, Op, [&](const TCopyProgress&) {
    TPackageLock building;
    buildCouldSwap = buildCouldSwap && building.Acquire(Pkg, true, std::chrono::milliseconds(50));
    return true;
  });
  EXPECT_TRUE(res.Ok) << res.Status;
  EXPECT_FALSE(buildCouldSwap);

  // A configuration naming a schedule file and playlists the package lacks.
  WriteFileBytes(Pkg + "/config.json",
                 R"([{"start":"20151116T000000","file":"/inbox/json/20151116T060000/main.json",)"
                 R"("groups":"/inbox/groups.json"}])");
  WriteFileBytes(Pkg + "/json/20151116T060000/main.json",
                 R"([{"type":"stream","intervals":[{"playlist":"0.pls"},{"playlist":"7.pls"}]}])");
  res = CopyFilesToShare(r, Op);
  EXPECT_FALSE(res.Ok);
  EXPECT_NE(res.Status.find("the share lacks files the package names: groups.json, "
                            "json/20151116T060000/7.pls"),
            std::string::npos)
      << res.Status;
}
