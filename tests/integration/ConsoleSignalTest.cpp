// The console ended by a signal (logout, kill, Ctrl+C) closes its project normally: the lock
// note goes with it, so the next console finds no stale holder to take over.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/TestSupport.h"

#ifdef PELMORA_GUI_PATH
namespace {

bool HasLockNote(const std::string& file) {
  char buf[512];
  return ::getxattr(file.c_str(), "user.pelmora.lock", buf, sizeof buf) >= 0;
}

}  // namespace

TEST(ConsoleSignalTest, TerminationSignalsCloseTheProjectAndReleaseItsLock) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    TTempDir tmp;
    const std::string project = tmp.File("p.pq2pr");
    ASSERT_EQ(RunCliIn(tmp, "new '" + project + "'").Code, 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ::execl(PELMORA_GUI_PATH, PELMORA_GUI_PATH, project.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    using namespace std::chrono;
    auto until = steady_clock::now() + seconds(30);
    while (!HasLockNote(project) && steady_clock::now() < until)
      std::this_thread::sleep_for(milliseconds(50));
    ASSERT_TRUE(HasLockNote(project)) << "the console did not open the project";
    ::kill(pid, sig);
    int status = 0;
    pid_t done = 0;
    until = steady_clock::now() + seconds(30);
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && steady_clock::now() < until)
      std::this_thread::sleep_for(milliseconds(50));
    if (done == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      FAIL() << "the console did not end after the signal";
    }
    EXPECT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    EXPECT_FALSE(HasLockNote(project));
  }
}
#endif
