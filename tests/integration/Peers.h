#pragma once
// Real servers for the deployment tests, started on 127.0.0.1 by the test and stopped with it:
// Samba's smbd with a guest share "inbox", and a JSON-RPC 2.0 endpoint at "/rpc" built on
// python3-jsonrpclib-pelix. Starting fails the test (throws) when the server does not come up.
#include <sys/types.h>

#include <string>

#include "support/TestSupport.h"

// A free TCP port on 127.0.0.1 (the kernel's choice; released again at once).
int FreeLoopbackPort();
// True when something accepts TCP connections on 127.0.0.1:Port within TimeoutMs.
bool WaitForPort(int port, int timeoutMs);

class TSmbdPeer {
public:
  // Share "inbox" backed by a folder of the temporary directory; ReadOnly refuses writes.
  // Without GuestForUnknownUsers a logon with an unknown user name fails instead of becoming
  // the guest's.
  explicit TSmbdPeer(bool readOnly = false, bool guestForUnknownUsers = true);
  ~TSmbdPeer();
  int Port() const { return FPort; }
  // "127.0.0.1:port", what a server record's URL holds.
  std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
  std::string Share() const { return "smb://" + Address() + "/inbox"; }
  // The folder behind the share.
  std::string InboxDir() const { return FDir.File("inbox"); }
  // Stops the server (the share stays on disk), and starts it again on the same port.
  void Stop();
  void Start();

private:
  TTempDir FDir;
  int FPort = 0;
  pid_t FPid = -1;
};

class TRpcPeer {
public:
  TRpcPeer();
  ~TRpcPeer();
  int Port() const { return FPort; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
  // How the next requests are answered: ok, OK, busy, fault, plain, broken, silent.
  void SetMode(const std::string& mode);
  // The request bodies received so far, in order, and their paths.
  std::vector<std::string> Bodies() const;
  std::vector<std::string> Paths() const;

private:
  TTempDir FDir;
  int FPort = 0;
  pid_t FPid = -1;
};

// A project made with pelmora-cli holding one Servers record "Main" (identifier "main"), and
// runs of pelmora-cli on it.
class TCliProject {
public:
  TCliProject(const TTempDir& dir, const std::string& serverUrl);
  // Replaces the server's URL.
  void SetServerUrl(const std::string& url);
  // Exit code of pelmora-cli --project P ARGS; its stdout in Out.
  int Run(const std::string& args, std::string* out = nullptr);
  std::string Err() const { return ReadFileBytes(FDir.File("cli.err")); }

private:
  const TTempDir& FDir;
  std::string FProject;
};
