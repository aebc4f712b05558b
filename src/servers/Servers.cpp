#include "servers/Servers.h"

#include "recstore/JrecClasses.h"
#include "shell/Options.h"
#include "shell/TreeDocument.h"

namespace {

std::string RefId(const TJson& element, const char* key) {
  auto it = element.find(key);
  if (it == element.end() || !it->is_object()) return "";
  return JsonStr(*it, "_ID");
}

}  // namespace

TJson LoadServerRecord(TDbFile& db, const std::string& idOrName, std::string* id) {
  TDbCollectionItem* coll = db.FindCollection("Servers");
  if (!coll) throw EServerAction("The database has no collection \"Servers\"");
  // The identifier, or the first server in tree order with that name, in files and MongoDB.
  std::string found = FindRecordByIdOrName(db, *coll, idOrName);
  std::optional<TJson> rec;
  if (!found.empty()) rec = coll->GetRecord(found);
  if (!rec || !rec->is_object()) throw EServerAction("Server \"" + idOrName + "\" not found");
  if (id) *id = found;
  return *rec;
}

std::string ServerPackageDir(TDbFile& db, const TJson& server) {
  std::string root = GetOptionDir(db, odServers);
  return JoinRootPath(root, JsonStr(server, "Name")) + "/";
}

bool SafeServerFolderName(const std::string& name) {
  return name.find_first_not_of(" \t") != std::string::npos && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

TDeployRequest ServerDeployRequest(TDbFile& db, const std::string& serverIdOrName,
                                   std::chrono::milliseconds timeout) {
  TJson server = LoadServerRecord(db, serverIdOrName);
  if (JsonBool(server, "SatelliteSys"))
    throw EServerAction("Server \"" + JsonStr(server, "Name") +
                        "\" uses a satellite delivery system: its packages are not copied");
  if (!SafeServerFolderName(JsonStr(server, "Name")))
    throw EServerAction("The server has no usable name for its package folder");
  TDeployRequest request;
  request.Share = ShareUrl(JsonStr(server, "URL"));
  request.PackageDir = ServerPackageDir(db, server);
  request.ForceDisconnect = JsonBool(server, "ForceDisconnect");
  request.Timeout = timeout;
  return request;
}

TDeployResult CopyServerFiles(TDbFile& db, const std::string& serverIdOrName, IOperator& op,
                              const TCopyProgressSink& progress,
                              std::chrono::milliseconds timeout) {
  return CopyFilesToShare(ServerDeployRequest(db, serverIdOrName, timeout), op, progress);
}

std::string RestartServer(TDbFile& db, const std::string& serverIdOrName, TRpcSender& sender,
                          TStatusSink sink) {
  TJson server = LoadServerRecord(db, serverIdOrName);
  if (JsonBool(server, "SatelliteSys"))
    throw EServerAction("Server \"" + JsonStr(server, "Name") +
                        "\" uses a satellite delivery system: it is not restarted from here");
  return sender.SendCommand(RestartCommand(), restartTarget, JsonStr(server, "URL"),
                            std::move(sink), "Server: " + JsonStr(server, "Name"));
}

std::string ServerFilesAddress(const std::string& urlText) { return ShareUrl(urlText); }

std::string ElementCheckText(const TJson& element) {
  std::string text;
  auto fail = [&](const std::string& why) {
    text += text.empty() ? "Can't execute. " + why : " " + why;
  };
  if (RefId(element, "Server").empty()) fail("Not defined server.");
  if (RefId(element, "Group").empty()) fail("Not defined group.");
  auto cmds = element.find("Cmds");
  if (cmds == element.end() || !cmds->is_array() || cmds->empty()) fail("Not specified command.");
  return text;
}

size_t RunElementCommands(TDbFile& db, const TJson& element, TRpcSender& sender,
                          const TStatusSink& sink) {
  try {
    if (!element.is_object()) throw std::runtime_error("The element is not an object");
    std::string check = ElementCheckText(element);
    if (!check.empty()) {
      if (sink) sink(check);
      return 0;
    }
    // A record deleted after the element named it is as good as none.
    auto server = db.get(TrefID{RefId(element, "Server"), "Servers"});
    auto group = db.get(TrefID{RefId(element, "Group"), "Groups"});
    bool noServer = !server || !server->is_object(), noGroup = !group || !group->is_object();
    if (noServer || noGroup) {
      std::string text = "Can't execute.";
      if (noServer) text += " Not defined server.";
      if (noGroup) text += " Not defined group.";
      if (sink) sink(text);
      return 0;
    }
    std::string prefix = "Server: " + JsonStr(*server, "Name");
    size_t sent = 0;
    for (const auto& cmd : element["Cmds"]) {
      sender.SendCommand(cmd, JsonStr(*group, "Name"), JsonStr(*server, "URL"), sink, prefix);
      ++sent;
    }
    return sent;
  } catch (const std::exception& e) {
    if (sink) sink(e.what());
    return 0;
  }
}
