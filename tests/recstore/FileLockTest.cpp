// One writer per database file: the lock held from load to close, the check that the file on
// disk is still the one read or written, and the temporary files of saves.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct FileLockTest : ::testing::Test {
  TTempDir Tmp;
  TFakeOperator Op;
  std::string File = Tmp.File("p.pq2pr");

  void SetUp() override {
    auto db = CreateMainDatabase(&Op);
    db->New();
    db->SetFileName(File);
    ASSERT_TRUE(db->CollectionByName("Films").NewRecord("f0", {{"Name", "Zero"}}));
  }
  std::unique_ptr<TDbFile> Open(IOperator* op = nullptr, double wait = 0) {
    auto db = CreateMainDatabase(op ? op : &Op);
    db->SetLockWait(wait);
    db->SetFileName(File);
    db->Load();
    return db;
  }
  TJson OnDisk() { return ParseProjectBytes(ReadFileBytes(File)); }
};

// A child process that opens the project and holds it until told to go (or dies without
// letting go when Crash is set).
struct THolderProcess {
  pid_t Pid = -1;
  pid_t ChildPid = -1;  // kept after the child is joined
  int ToChild = -1;

  THolderProcess(const std::string& file, bool crash) {
    int ready[2], go[2];
    // Close-on-exec, so that no program started meanwhile keeps the child waiting.
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(go, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    Pid = ::fork();
    if (Pid == 0) {
      ::close(ready[0]);
      ::close(go[1]);
      TFakeOperator op;
      auto db = CreateMainDatabase(&op);
      db->SetFileName(file);
      db->Load();
      char c = db->HoldsLock() ? 'y' : 'n';
      (void)::write(ready[1], &c, 1);
      if (crash) ::_exit(0);  // no destructor: the lock goes with the process
      (void)::read(go[0], &c, 1);
      db.reset();
      ::_exit(0);
    }
    ChildPid = Pid;
    ::close(ready[1]);
    ::close(go[0]);
    ToChild = go[1];
    char c = 0;
    EXPECT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    ::close(ready[0]);
    if (crash) Join();
  }
  void Join() {
    if (ToChild >= 0) ::close(ToChild);
    ToChild = -1;
    if (Pid > 0) ::waitpid(Pid, nullptr, 0);
    Pid = -1;
  }
  ~THolderProcess() { Join(); }
};

}  // namespace

TEST_F(FileLockTest, SecondObjectInProcessIsWriteProtectedUntilTheFirstCloses) {
  auto first = Open();
  ASSERT_TRUE(first->HoldsLock());
  auto second = Open();
  ASSERT_TRUE(second->DbIsOpen());
  ASSERT_TRUE(second->LockedBy());
  EXPECT_TRUE(second->SaveDisabled());
  EXPECT_EQ(second->LockedBy()->Pid, ::getpid());
  EXPECT_TRUE(Op.Messages.empty());  // this process's own other object: no news

  // Both change; the first's change is kept, the second's fails loudly and writes nothing.
  ASSERT_TRUE(first->CollectionByName("Films").NewRecord("f1", {{"Name", "One"}}));
  EXPECT_FALSE(second->CollectionByName("Films").NewRecord("f2", {{"Name", "Two"}}));
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_NE(Op.Messages.back().Text.find("is in use by"), std::string::npos);
  EXPECT_TRUE(OnDisk()["Films"].contains("f1"));
  EXPECT_FALSE(OnDisk()["Films"].contains("f2"));

  // Closed by the first (another file name), the second loads again and may write.
  first->SetFileName("");
  EXPECT_FALSE(first->HoldsLock());
  ASSERT_TRUE(second->Load());
  EXPECT_FALSE(second->LockedBy());
  ASSERT_TRUE(second->CollectionByName("Films").NewRecord("f2", {{"Name", "Two"}}));
  EXPECT_TRUE(OnDisk()["Films"].contains("f1"));
  EXPECT_TRUE(OnDisk()["Films"].contains("f2"));
}

TEST_F(FileLockTest, LockFollowsTheFileAcrossSaves) {
  // Every save puts a new file in place; the lock must go with it, not stay on the old one.
  auto first = Open();
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(first->CollectionByName("Films").NewRecord("n" + std::to_string(i), {{"Name", "x"}}));
  auto second = Open();
  EXPECT_TRUE(second->LockedBy());
  // Nothing but the project and its change journal beside it: no lock file, no temporary file.
  int files = 0;
  for (const auto& e : fs::directory_iterator(Tmp.Path()))
    files += e.is_regular_file() && e.path().extension() != ".journal";
  EXPECT_EQ(files, 1);
}

TEST_F(FileLockTest, LiveHolderIsNamedAndNothingIsOverwritten) {
  THolderProcess holder(File, false);
  const std::string before = ReadFileBytes(File);

  TFakeOperator op;
  auto db = Open(&op);
  ASSERT_TRUE(db->LockedBy());
  EXPECT_EQ(db->LockedBy()->Pid, holder.Pid);
  ASSERT_EQ(op.Messages.size(), 1u);
  EXPECT_EQ(op.Messages[0].Caption, "Warning");
  const std::string& text = op.Messages[0].Text;
  EXPECT_NE(text.find("is in use by"), std::string::npos) << text;
  EXPECT_NE(text.find("process " + std::to_string(holder.Pid)), std::string::npos) << text;
  EXPECT_NE(text.find(" since "), std::string::npos) << text;
  EXPECT_NE(text.find("write-protected"), std::string::npos) << text;
  EXPECT_FALSE(db->CollectionByName("Films").NewRecord("x", {{"Name", "x"}}));

  // The command line waits, then fails with the holder's name and changes nothing.
  auto start = std::chrono::steady_clock::now();
  TCliRun put = RunCliIn(Tmp, "--wait 0.5 --project '" + File + "' put Films x", "{\"Name\":\"X\"}");
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(put.Code, 1);
  EXPECT_GE(waited, 0.5);
  EXPECT_NE(put.Err.find("in use by"), std::string::npos) << put.Err;
  EXPECT_NE(put.Err.find("process " + std::to_string(holder.Pid)), std::string::npos) << put.Err;
  EXPECT_EQ(ReadFileBytes(File), before);

  // A holder that lets go while the command waits: the change goes through.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder.Join();
  });
  TCliRun late = RunCliIn(Tmp, "--wait 20 --project '" + File + "' put Films x", "{\"Name\":\"X\"}");
  release.join();
  EXPECT_EQ(late.Code, 0) << late.Err;
  EXPECT_EQ(OnDisk()["Films"]["x"]["Name"], "X");
}

TEST_F(FileLockTest, LockOfAProcessThatEndedIsTakenOverAndSaidSo) {
  pid_t gone;
  {
    THolderProcess crashed(File, true);
    gone = crashed.ChildPid;
  }
  TFakeOperator op;
  auto db = Open(&op);
  EXPECT_FALSE(db->LockedBy());
  EXPECT_TRUE(db->HoldsLock());
  ASSERT_EQ(op.Messages.size(), 1u);
  EXPECT_NE(op.Messages[0].Text.find("no longer runs"), std::string::npos) << op.Messages[0].Text;
  EXPECT_NE(op.Messages[0].Text.find("process " + std::to_string(gone)), std::string::npos)
      << op.Messages[0].Text;
  EXPECT_TRUE(db->CollectionByName("Films").NewRecord("x", {{"Name", "x"}}));
}

TEST_F(FileLockTest, FileChangedBehindTheProgramIsNotOverwritten) {
  struct TCase {
    const char* Name;
    std::function<void(const std::string& file, const std::string& bytes)> Change;
  };
  const TCase cases[] = {
      {"replaced by rename (restore from a backup)",
       [](const std::string& file, const std::string& bytes) {
         WriteFileBytes(file + ".new", bytes);
         fs::rename(file + ".new", file);
       }},
      {"rewritten in place, same size",
       [](const std::string& file, const std::string& bytes) { WriteFileBytes(file, bytes); }},
      {"rewritten in place, other size",
       [](const std::string& file, const std::string& bytes) { WriteFileBytes(file, bytes + " "); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFakeOperator op;
    auto db = Open(&op);
    // The other program's version: same length, another name.
    std::string other = ReadFileBytes(File);
    size_t at = other.find("Zero");
    ASSERT_NE(at, std::string::npos);
    other.replace(at, 4, "Nine");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    c.Change(File, other);
    const std::string theirs = ReadFileBytes(File);

    EXPECT_FALSE(db->CollectionByName("Films").NewRecord("mine", {{"Name", "Mine"}}));
    ASSERT_FALSE(op.Messages.empty());
    EXPECT_EQ(op.Messages.back().Caption, "IO Error");
    EXPECT_NE(op.Messages.back().Text.find("was not saved: another program"), std::string::npos)
        << op.Messages.back().Text;
    EXPECT_EQ(ReadFileBytes(File), theirs);
    // Loaded again, the other program's change is there and the next change is written.
    ASSERT_TRUE(db->Load());
    ASSERT_TRUE(db->CollectionByName("Films").NewRecord("mine", {{"Name", "Mine"}}));
    TJson now = OnDisk();
    EXPECT_TRUE(now["Films"].contains("mine"));
    EXPECT_EQ(now["Films"]["f0"]["Name"], "Nine");
    // Back to the starting point for the next case.
    db->CollectionByName("Films").DelRecord("mine");
    db->CollectionByName("Films").NewRecord("f0", {{"Name", "Zero"}});
  }
}

TEST_F(FileLockTest, SavesRemoveTemporaryFilesOfWritersThatEnded) {
  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string host = ThisHost();
  const std::string stale = Tmp.File(".p.pq2pr." + host + "." + std::to_string(dead) + ".7.tmp");
  const std::string live =
      Tmp.File(".p.pq2pr." + host + "." + std::to_string(::getppid()) + ".8.tmp");
  const std::string otherHost = Tmp.File(".p.pq2pr.elsewhere." + std::to_string(dead) + ".9.tmp");
  const std::string otherFile = Tmp.File(".q.pq2pr." + host + "." + std::to_string(dead) + ".1.tmp");
  for (const auto& f : {stale, live, otherHost, otherFile}) WriteFileBytes(f, "partial");

  auto db = Open();
  ASSERT_TRUE(db->CollectionByName("Films").NewRecord("x", {{"Name", "x"}}));
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));       // its writer still runs
  EXPECT_TRUE(fs::exists(otherHost));  // another computer's writer: cannot tell
  EXPECT_TRUE(fs::exists(otherFile));  // another project's
  // The name of a save's own temporary file carries the host and the process.
  EXPECT_EQ(TempFileNameFor(File, 5),
            Tmp.File(".p.pq2pr." + host + "." + std::to_string(::getpid()) + ".5.tmp"));
}

TEST_F(FileLockTest, TenParallelCommandLinePutsAllEndInTheFile) {
  // A project of some size, so that loads and saves of the ten overlap.
  {
    auto db = Open();
    auto& films = db->CollectionByName("Films");
    for (int i = 0; i < 3000; ++i)
      films.SetRecordNo1("bulk" + std::to_string(i),
                         {{"Name", "Bulk film " + std::to_string(i)},
                          {"Description", std::string(200, 'd')}});
    db->Save();
  }
  std::string script = "cd '" + Tmp.Path().string() + "' || exit 1; ";
  for (int i = 0; i < 10; ++i) {
    std::string n = std::to_string(i);
    WriteFileBytes(Tmp.File("in" + n), "{\"Name\":\"Parallel " + n + "\"}");
    script += "( '" + std::string(PELMORA_CLI_PATH) + "' --project p.pq2pr put Films par" + n +
              " in" + n + " >out" + n + " 2>err" + n + "; echo $? >rc" + n + " ) & ";
  }
  script += "wait";
  ASSERT_EQ(std::system(script.c_str()), 0);
  TJson doc = OnDisk();
  for (int i = 0; i < 10; ++i) {
    std::string n = std::to_string(i);
    EXPECT_EQ(ReadFileBytes(Tmp.File("rc" + n)), "0\n") << ReadFileBytes(Tmp.File("err" + n));
    EXPECT_EQ(doc["Films"]["par" + n]["Name"], "Parallel " + n);
  }
  EXPECT_EQ(doc["Films"].size(), 3011u);
  size_t treeEntries = 0;
  for (const auto& e : doc["Tree"]["Films"]) treeEntries += e["_ID"].get<std::string>().rfind("par", 0) == 0;
  EXPECT_EQ(treeEntries, 10u);
  for (const auto& e : fs::directory_iterator(Tmp.Path()))
    EXPECT_NE(e.path().extension(), ".tmp") << "temporary file left: " << e.path();
}

TEST_F(FileLockTest, CoarseTimeStampsAreBackedByTheContent) {
  // A file system that keeps whole seconds: a rewrite of the same size within the same second
  // leaves size and time as they were; only the content tells.
  const std::string f = Tmp.File("coarse.json");
  WriteFileBytes(f, "{\"A\":1}");
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = ::time(nullptr);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
  struct stat st;
  ASSERT_EQ(::stat(f.c_str(), &st), 0);
  TFileIdentity known = TFileIdentity::FromStat(st, "{\"A\":1}");
  ASSERT_TRUE(known.Unsure);
  EXPECT_EQ(FileChangeReason(known, f), "");
  WriteFileBytes(f, "{\"A\":2}");
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
  EXPECT_EQ(FileChangeReason(known, f), "another program changed it");
}
