// Deployment commands: deploy, restart, send, share-url.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <mutex>

#include "app/cli/CliCommon.h"
#include "servers/Servers.h"

namespace {

struct TDeployArgs {
  std::string Server;
  std::string Group;
  std::string Command;
  double Timeout = 15;
};

std::string ServerId(TCliContext& ctx, TDbFile& db, const std::string& arg) {
  TDbCollectionItem* coll = db.FindCollection("Servers");
  if (!coll) throw ECliError(ExitFailed, "the project has no collection \"Servers\"");
  return RequireRecord(db, *coll, arg, "no server \"" + arg + "\" in Servers");
}

// The longest --timeout: an hour is far beyond any answer or copy step worth waiting for.
constexpr double MaxTimeoutSeconds = 3600;

// --timeout as a duration; anything but a number of seconds above 0 and up to the maximum
// (0, negative, nan, inf, huge) is a usage error, so no request or copy ever waits unbounded.
std::chrono::milliseconds TimeoutOption(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0 || seconds > MaxTimeoutSeconds)
    throw ECliError(ExitUsage, "--timeout must be a number of seconds above 0 and at most " +
                                   std::to_string(static_cast<int>(MaxTimeoutSeconds)));
  return std::max(std::chrono::milliseconds(1),
                  std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000)));
}

TPostOptions PostOptions(double seconds) {
  TPostOptions o;
  o.TotalTimeout = TimeoutOption(seconds);
  o.ConnectTimeout = std::min(o.ConnectTimeout, o.TotalTimeout);
  return o;
}

std::string MegaBytes(uint64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return buf;
}

void CmdDeploy(TCliContext& ctx, const TDeployArgs& a) {
  const std::chrono::milliseconds timeout = TimeoutOption(a.Timeout);
  TDbFile& db = ctx.OpenMain();
  std::string id = ServerId(ctx, db, a.Server);
  bool tty = isatty(STDERR_FILENO) != 0;
  bool shown = false;
  auto progress = [&](const TCopyProgress& p) {
    std::string line = "Copying " + std::to_string(p.FilesDone) + " of " +
                       std::to_string(p.FilesTotal) + " files, " + MegaBytes(p.BytesDone) +
                       " of " + MegaBytes(p.BytesTotal) + " MB";
    if (tty) {
      std::cerr << "\r" << line << "\x1b[K" << std::flush;
      shown = true;
    } else if (p.FilesDone == p.FilesTotal || p.BytesDone == 0) {
      std::cerr << line << "\n";  // one line per file when nobody watches a terminal
    }
    return true;
  };
  TDeployResult r;
  try {
    r = CopyServerFiles(db, id, *ctx.Op, progress, timeout);
  } catch (const EServerAction& e) {
    throw ECliError(ExitFailed, e.what());
  }
  if (shown) std::cerr << "\n";
  std::cout << r.Status << std::endl;
  if (!r.Ok) throw ECliError(ExitFailed, "copying to the server failed");
}

// Waits for the outcome of the requests started through Sender and prints it.
class TCollectingSink {
public:
  TStatusSink Sink() {
    return [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(FMutex);
      FLast = text;
    };
  }
  std::string Last() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FLast;
  }

private:
  std::mutex FMutex;
  std::string FLast;
};

// Starts one request through a sender of its own, prints its description, waits for the
// outcome and prints it; anything but success is exit code 1.
void RunRequest(TCliContext& ctx, double timeout,
                const std::function<std::string(TRpcSender&, TStatusSink)>& start) {
  TRpcSender sender(*ctx.Op, PostOptions(timeout));
  TCollectingSink sink;
  std::string description;
  try {
    description = start(sender, sink.Sink());
  } catch (const std::exception& e) {
    throw ECliError(ExitFailed, e.what());
  }
  std::cout << description << std::endl;
  sender.WaitAll();
  std::string outcome = sink.Last();
  std::cout << outcome << std::endl;
  if (outcome != description + "  is executed successfully")
    throw ECliError(ExitFailed, "the command was not executed");
}

void CmdRestart(TCliContext& ctx, const TDeployArgs& a) {
  TimeoutOption(a.Timeout);
  TDbFile& db = ctx.OpenMain();
  std::string id = ServerId(ctx, db, a.Server);
  RunRequest(ctx, a.Timeout, [&](TRpcSender& sender, TStatusSink sink) {
    return RestartServer(db, id, sender, std::move(sink));
  });
}

void CmdSend(TCliContext& ctx, const TDeployArgs& a) {
  TimeoutOption(a.Timeout);
  TDbFile& db = ctx.OpenMain();
  std::string id = ServerId(ctx, db, a.Server);
  TJson command;
  try {
    command = TJson::parse(a.Command);
  } catch (const std::exception& e) {
    throw ECliError(ExitUsage, std::string("--command is not valid JSON: ") + e.what());
  }
  if (!command.is_object() || command.size() != 1 || !command.begin().value().is_object())
    throw ECliError(ExitUsage,
                    "--command must be one command object: {\"KEY\": {\"Method\": ..., ...}}");
  if (FindCmdTableRowIndex(command) < 0)
    throw ECliError(ExitUsage, "--command matches no known command (key, \"Method\" and "
                               "\"Value\" must be those of a command of the table)");
  if (FindCmdTableRow(command).Has(opt_ToStb) && a.Group.empty())
    throw ECliError(ExitUsage, "--group is needed: the command goes to the set-top boxes of a group");
  TJson server = LoadServerRecord(db, id);
  RunRequest(ctx, a.Timeout, [&](TRpcSender& sender, TStatusSink sink) {
    return sender.SendCommand(command, a.Group, JsonStr(server, "URL"), std::move(sink),
                              "Server: " + JsonStr(server, "Name"));
  });
}

void CmdShareUrl(TCliContext& ctx, const TDeployArgs& a) {
  TDbFile& db = ctx.OpenMain();
  std::string id = ServerId(ctx, db, a.Server);
  TJson server = LoadServerRecord(db, id);
  std::cout << ServerFilesAddress(JsonStr(server, "URL")) << std::endl;
}

void RegisterDeployCommands(CLI::App& app, TCliContext& ctx) {
  static TDeployArgs a;

  auto* cDeploy = app.add_subcommand(
      "deploy", "Copy the server's package and changed films to its inbox share");
  cDeploy->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cDeploy->add_option("--timeout", a.Timeout, "Seconds an SMB operation may take (default 20)")
      ->default_val(20);
  cDeploy->callback([&ctx] { CmdDeploy(ctx, a); });

  auto* cRestart = app.add_subcommand("restart", "Restart the server software (JSON-RPC)");
  cRestart->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cRestart->add_option("--timeout", a.Timeout, "Seconds to wait for the answer (default 15)")
      ->default_val(15);
  cRestart->callback([&ctx] { CmdRestart(ctx, a); });

  auto* cSend = app.add_subcommand("send", "Send one command object to a server (JSON-RPC)");
  cSend->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cSend->add_option("--group", a.Group, "STB group name the command addresses");
  cSend->add_option("--command", a.Command,
                    "Command object, e.g. {\"stbpower\":{\"Method\":\"command\",\"Value\":\"1\"}}")
      ->required();
  cSend->add_option("--timeout", a.Timeout, "Seconds to wait for the answer (default 15)")
      ->default_val(15);
  cSend->callback([&ctx] { CmdSend(ctx, a); });

  auto* cShare = app.add_subcommand("share-url", "The address of the server's inbox share");
  cShare->add_option("SERVER", a.Server, "Servers record: identifier or Name")->required();
  cShare->callback([&ctx] { CmdShareUrl(ctx, a); });
}

TCliRegistration registration(RegisterDeployCommands);

}  // namespace
