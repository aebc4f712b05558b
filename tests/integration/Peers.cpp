#include "Peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "recstore/Json.h"

extern char** environ;

namespace fs = std::filesystem;

int FreeLoopbackPort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

bool WaitForPort(int port, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

namespace {

// Each server runs in a process group of its own: smbd signals its whole group when it stops,
// which must not reach the test.
pid_t Spawn(const std::vector<std::string>& args, const std::string& logFile) {
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
  return pid;
}

// SIGTERM to the server's group, then SIGKILL when it has not ended within two seconds.
void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(-pid, SIGTERM);
  for (int i = 0; i < 40; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

bool Exited(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid;
}

std::string UserName() {
  passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : "root";
}

}  // namespace

TSmbdPeer::TSmbdPeer(bool readOnly, bool guestForUnknownUsers) {
  for (const char* d : {"inbox", "private", "lock", "state", "cache", "log"})
    fs::create_directories(FDir.Path() / d);
  FPort = FreeLoopbackPort();
  std::string root = FDir.Path().string();
  std::ostringstream conf;
  conf << "[global]\n"
       << "  smb ports = " << FPort << "\n"
       << "  interfaces = lo\n  bind interfaces only = yes\n"
       << "  private dir = " << root << "/private\n"
       << "  lock directory = " << root << "/lock\n"
       << "  state directory = " << root << "/state\n"
       << "  cache directory = " << root << "/cache\n"
       << "  pid directory = " << root << "\n"
       << "  ncalrpc dir = " << root << "/lock/ncalrpc\n"
       << "  log file = " << root << "/log/smbd.log\n"
       << "  server role = standalone server\n  map to guest = "
       << (guestForUnknownUsers ? "Bad User" : "Never") << "\n"
       << "  guest account = " << UserName() << "\n"
       << "  disable netbios = yes\n  load printers = no\n  printing = bsd\n"
       << "  printcap name = /dev/null\n  disable spoolss = yes\n"
       << "[inbox]\n  path = " << root << "/inbox\n  guest ok = yes\n  guest only = yes\n"
       << "  read only = " << (readOnly ? "yes" : "no") << "\n";
  WriteFileBytes(FDir.File("smb.conf"), conf.str());
  Start();
}

void TSmbdPeer::Stop() {
  ::Stop(FPid);
  FPid = -1;
}

void TSmbdPeer::Start() {
  FPid = Spawn({"/usr/sbin/smbd", "--foreground", "--no-process-group", "-s", FDir.File("smb.conf")},
               FDir.File("log/stdout.log"));
  if (!WaitForPort(FPort, 15000) || Exited(FPid)) {
    ::Stop(FPid);
    FPid = -1;
    throw std::runtime_error("smbd did not start on port " + std::to_string(FPort) + ": " +
                             ReadFileBytes(FDir.File("log/stdout.log")));
  }
}

TSmbdPeer::~TSmbdPeer() { ::Stop(FPid); }

TRpcPeer::TRpcPeer() {
  std::string script = std::string(PELMORA_INTEGRATION_DIR) + "/rpc_server.py";
  FPid = Spawn({"/usr/bin/python3", script, FDir.File("port"), FDir.File("requests.log"),
                FDir.File("mode")},
               FDir.File("stdout.log"));
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!fs::exists(FDir.File("port")) && std::chrono::steady_clock::now() < end && !Exited(FPid))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (fs::exists(FDir.File("port"))) FPort = std::stoi(ReadFileBytes(FDir.File("port")));
  if (FPort <= 0 || !WaitForPort(FPort, 5000)) {
    Stop(FPid);
    FPid = -1;
    throw std::runtime_error("the JSON-RPC endpoint did not start: " +
                             ReadFileBytes(FDir.File("stdout.log")));
  }
}

TRpcPeer::~TRpcPeer() { Stop(FPid); }

void TRpcPeer::SetMode(const std::string& mode) { WriteFileBytes(FDir.File("mode"), mode); }

namespace {

std::vector<TJson> LogLines(const std::string& text) {
  std::vector<TJson> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(TJson::parse(line));
  return out;
}

}  // namespace

std::vector<std::string> TRpcPeer::Bodies() const {
  std::vector<std::string> out;
  for (const auto& j : LogLines(ReadFileBytes(FDir.File("requests.log"))))
    out.push_back(j["body"].get<std::string>());
  return out;
}

std::vector<std::string> TRpcPeer::Paths() const {
  std::vector<std::string> out;
  for (const auto& j : LogLines(ReadFileBytes(FDir.File("requests.log"))))
    out.push_back(j["path"].is_string() ? j["path"].get<std::string>() : "");
  return out;
}

TCliProject::TCliProject(const TTempDir& dir, const std::string& serverUrl)
    : FDir(dir), FProject(dir.File("cli.pq2pr")) {
  std::string cmd = std::string("'") + PELMORA_CLI_PATH + "' new '" + FProject + "' >/dev/null";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("pelmora-cli new failed");
  SetServerUrl(serverUrl);
}

void TCliProject::SetServerUrl(const std::string& url) {
  WriteFileBytes(FDir.File("cli-server.json"), TJson{{"Name", "Main"}, {"URL", url}}.dump());
  if (Run("put Servers main '" + FDir.File("cli-server.json") + "'") != 0)
    throw std::runtime_error("pelmora-cli put failed: " + Err());
}

int TCliProject::Run(const std::string& args, std::string* out) {
  std::string cmd = std::string("'") + PELMORA_CLI_PATH + "' --project '" + FProject + "' " + args +
                    " >'" + FDir.File("cli.out") + "' 2>'" + FDir.File("cli.err") + "'";
  int status = std::system(cmd.c_str());
  if (out) *out = ReadFileBytes(FDir.File("cli.out"));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
