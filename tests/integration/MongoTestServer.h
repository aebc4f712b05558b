#pragma once
// Starts and stops the in-memory MongoDB wire-protocol server of the integration tests (set up
// by scripts/install-deps in .deps/mongo-test-server) on 127.0.0.1. The server runs as a child
// process and stops when told or when the test process ends (its standard input closes).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

class TMongoTestServer {
public:
  TMongoTestServer() = default;
  ~TMongoTestServer() { Stop(); }
  TMongoTestServer(const TMongoTestServer&) = delete;
  TMongoTestServer& operator=(const TMongoTestServer&) = delete;

  // This header's folder (tests/integration), so benchmarks can use the server too. The build
  // names it; __FILE__ is only the fallback, as a compiler cache may make it a relative path.
  static std::string IntegrationDir() {
#ifdef PELMORA_SOURCE_DIR
    return std::string(PELMORA_SOURCE_DIR) + "/tests/integration";
#else
    std::string here = __FILE__;
    return here.substr(0, here.rfind('/'));
#endif
  }
  static std::string RootDir() { return IntegrationDir() + "/../.."; }
  static std::string InstallDir() { return RootDir() + "/.deps/mongo-test-server"; }
  static std::string Script() { return IntegrationDir() + "/mongo-server/server.mjs"; }

  // Starts the server on Port (0: a free port) and waits until it accepts connections. Raises
  // std::runtime_error with the reason when it does not come up within 30 seconds.
  void Start(int port = 0) {
    Stop();
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
      throw std::runtime_error("cannot create pipes for the MongoDB test server");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("cannot start the MongoDB test server");
    if (pid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      std::string portText = std::to_string(port);
      execlp("node", "node", Script().c_str(), InstallDir().c_str(), portText.c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    FPid = pid;
    FStdin = in[1];
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (line.find('\n') == std::string::npos) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count());
      pollfd p{out[0], POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) <= 0) break;
      char buf[256];
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    if (line.rfind("PORT ", 0) != 0) {
      Stop();
      throw std::runtime_error("the MongoDB test server did not start (run scripts/install-deps;"
                               " node " + Script() + " " + InstallDir() + ")");
    }
    FPort = std::stoi(line.substr(5));
  }

  void Stop() {
    if (FPid <= 0) return;
    if (FStdin >= 0) close(FStdin);
    FStdin = -1;
    kill(FPid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
        FPid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

  int Port() const { return FPort; }
  bool Running() const { return FPid > 0; }

private:
  pid_t FPid = -1;
  int FStdin = -1;
  int FPort = 0;
};
