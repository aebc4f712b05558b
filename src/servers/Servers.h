#pragma once
// The deployment actions of a server record: copying its package and films to the server's
// share, restarting the server software, the address of the server's files, and running the
// commands of a control panel element.
#include <optional>
#include <stdexcept>
#include <string>

#include "recstore/Json.h"
#include "servers/PostAndGet.h"
#include "servers/ShareTransfer.h"

class TDbFile;

// Raised when a server record cannot be used for an action (missing, or packages of a
// satellite delivery system).
class EServerAction : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The Servers record Id (a record identifier or a record name); throws EServerAction.
TJson LoadServerRecord(TDbFile& db, const std::string& idOrName, std::string* id = nullptr);
// The server's local package folder: the servers directory + Name + "/". Every action that
// reads or writes a package takes its folder from here.
std::string ServerPackageDir(TDbFile& db, const TJson& server);
// A server Name that stays one folder below the servers directory: not blank, not "." or
// "..", without path separators.
bool SafeServerFolderName(const std::string& name);

// What "Copy files to server" needs of the server record: its share, package folder and
// ForceDisconnect. Throws EServerAction for a record that cannot be used (missing, a satellite
// delivery system, a Name that cannot be a folder).
TDeployRequest ServerDeployRequest(TDbFile& db, const std::string& serverIdOrName,
                                   std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

// "Copy files to server" for the server record. Throws EServerAction for a record that cannot
// be used (status texts and messages of the copy itself go through Op).
TDeployResult CopyServerFiles(TDbFile& db, const std::string& serverIdOrName, IOperator& op,
                              const TCopyProgressSink& progress = {},
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

// Sends the restart command to the server's "/rpc" through Sender; the outcome goes to Sink.
// Returns the description. Throws EServerAction for a record that cannot be used.
std::string RestartServer(TDbFile& db, const std::string& serverIdOrName, TRpcSender& sender,
                          TStatusSink sink);

// "Show server's files": the address of the server's share for the text of the address box,
// to be opened with the desktop's handler (xdg-open).
std::string ServerFilesAddress(const std::string& urlText);

// Runs the commands of a control panel element ({"Server", "Group", "Cmds", ...}): the checks
// ("Can't execute." followed by what is missing), then one request per command, all started
// at once. Messages go to Sink. Returns the number of requests started.
size_t RunElementCommands(TDbFile& db, const TJson& element, TRpcSender& sender,
                          const TStatusSink& sink);
// The text of the checks of an element; "" when it can be run.
std::string ElementCheckText(const TJson& element);
