// Remote commands against a JSON-RPC 2.0 endpoint on 127.0.0.1 that a library we did not write
// serves (python3-jsonrpclib-pelix), so a badly framed request is refused by a real peer.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <mutex>

#include "Peers.h"
#include "servers/PostAndGet.h"
#include "servers/Servers.h"
#include "shell/Databases.h"

namespace {

using namespace std::chrono_literals;

struct RpcTest : ::testing::Test {
  TRpcPeer Peer;
  TFakeOperator Op;
  std::mutex M;
  std::vector<std::string> Status;

  TStatusSink Sink() {
    return [this](const std::string& t) {
      std::lock_guard<std::mutex> lock(M);
      Status.push_back(t);
    };
  }
  TPostOptions Options(std::chrono::milliseconds total = 5000ms) {
    TPostOptions o;
    o.ConnectTimeout = 2000ms;
    o.TotalTimeout = total;
    return o;
  }
  // Sends one command and returns its outcome as the status line shows it at the end.
  std::string Send(const TJson& command, const std::string& group = "Hall 1",
                   std::chrono::milliseconds total = 5000ms) {
    TRpcSender sender(Op, Options(total));
    Status.clear();
    sender.SendCommand(command, group, Peer.Address(), Sink(), "Server: Main");
    sender.WaitAll();
    Op.RunQueued();
    return Status.empty() ? "" : Status.back();
  }
};

struct TExample {
  const char* Command;
  const char* Request;
  const char* Description;
};

}  // namespace

TEST_F(RpcTest, EveryExampleIsAcceptedByAJsonRpc2Peer) {
  const TExample examples[] = {
      {R"({"stbpower":{"Method":"command","Value":"1","Delay":0}})",
       R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"stbpower",["1"]]})",
       "Server: Main, Group: Hall 1, Command \"STB power on\""},
      {R"({"channel":{"Method":"command","Value":"5f0c1a2b3c4d5e6f70819203","Delay":0}})",
       R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"channel",["5f0c1a2b3c4d5e6f70819203"]]})",
       "Server: Main, Group: Hall 1, Command \"Set channel\""},
      {R"({"showtext":{"Method":"command","Value":"ticker","Text":"Сегодня — кино","Time":"0 00:00:30","Delay":0}})",
       R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"showtext",["ticker","\u0421\u0435\u0433\u043e\u0434\u043d\u044f \u2014 \u043a\u0438\u043d\u043e","30000"]]})",
       "Server: Main, Group: Hall 1, Command \"Show text\""},
      {R"({"showpage":{"Method":"command","Value":"frame","WPage":{"url":"http://portal/x.html"},"Time":"0 00:02:00"}})",
       R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"showpage",["frame","{\"url\":\"http://portal/x.html\"}","120000"]]})",
       "Server: Main, Group: Hall 1, Command \"Show Web-page\""},
      {R"({"none":{"Method":"stop_channel","Value":"ch42","Delay":0}})",
       R"({"jsonrpc":"2.0","method":"stop_channel","id":123,"params":["ch42"]})",
       "Server: Main, Command \"Stop channel\""},
      {R"({"none":{"Method":"start_channel","Value":"ch42","Time":"0 06:00:00","Delay":0}})",
       R"({"jsonrpc":"2.0","method":"start_channel","id":123,"params":["ch42","21600"]})",
       "Server: Main, Command \"Start channel\""},
      {R"({"none":{"Method":"reboot_system","Value":"","Delay":0}})",
       R"({"jsonrpc":"2.0","method":"reboot_system","id":123,"params":[]})",
       "Server: Main, Command \"Reboot server\""},
      {R"({"none":{"Method":"restart_pelmora","Value":"","Delay":0}})",
       R"({"jsonrpc":"2.0","method":"restart_pelmora","id":123,"params":[]})",
       "Server: Main, Command \"Restart Pelmora\""},
  };
  Peer.SetMode("ok");
  size_t n = 0;
  for (const auto& e : examples) {
    // The peer answers "ok" only to a request it accepts as JSON-RPC 2.0 with these params.
    EXPECT_EQ(Send(TJson::parse(e.Command)), std::string(e.Description) + "  is executed successfully");
    ASSERT_EQ(Status.size(), 2u);
    EXPECT_EQ(Status[0], std::string(e.Description) + " is executing ...");
    auto bodies = Peer.Bodies();
    ASSERT_EQ(bodies.size(), ++n);
    EXPECT_EQ(bodies.back(), e.Request);
    EXPECT_EQ(Peer.Paths().back(), "/rpc");
  }
}

TEST_F(RpcTest, AnswersOfEveryKind) {
  const std::string d = "Server: Main, Command \"Restart Pelmora\"";
  const std::string failed = d + ", IP:" + Peer.Address() + " - ";
  Peer.SetMode("OK");
  EXPECT_EQ(Send(RestartCommand()), d + "  is executed successfully");
  Peer.SetMode("busy");
  EXPECT_EQ(Send(RestartCommand()), failed + "Channel is busy");
  Peer.SetMode("fault");  // the library's own error object
  std::string fault = Send(RestartCommand());
  EXPECT_EQ(fault.rfind(failed, 0), 0u) << fault;
  EXPECT_NE(fault.find("Unknown group"), std::string::npos) << fault;
  EXPECT_NE(fault.find("(code -32603)"), std::string::npos) << fault;
  EXPECT_EQ(fault.find('\n'), std::string::npos);
  // Every other answer is a failure that names server and command, and the reason.
  struct {
    const char* Mode;
    const char* Reason;
  } failures[] = {
      {"plain", "Done"},
      {"broken", "The invalid answer is received"},
      {"redirect", "HTTP status 302"},
      {"error500", "HTTP error 500"},
      {"endless", "larger than 1 MiB"},
  };
  for (const auto& f : failures) {
    Peer.SetMode(f.Mode);
    std::string outcome = Send(RestartCommand());
    EXPECT_EQ(outcome.rfind(failed, 0), 0u) << f.Mode << ": " << outcome;
    EXPECT_NE(outcome.find(f.Reason), std::string::npos) << f.Mode << ": " << outcome;
  }
  EXPECT_EQ(Peer.Bodies().size(), 8u);

  // An error status of the HTTP server is a failure with its code.
  Peer.SetMode("ok");
  TRpcSender sender(Op, Options());
  Status.clear();
  sender.StartRequest("http://" + Peer.Address() + "/other", d, Peer.Address(), Sink(), "{}");
  sender.WaitAll();
  Op.RunQueued();
  ASSERT_EQ(Status.size(), 2u);
  EXPECT_EQ(Status[1], failed + "HTTP error 404");
}

TEST_F(RpcTest, RefusedAndSilentServersEndWithinTheTimeOut) {
  int closed = FreeLoopbackPort();
  TRpcSender sender(Op, Options(1500ms));
  Status.clear();
  std::string addr = "127.0.0.1:" + std::to_string(closed);
  sender.SendCommand(RestartCommand(), restartTarget, addr, Sink(), "Server: Gone");
  sender.WaitAll();
  Op.RunQueued();
  ASSERT_EQ(Status.size(), 2u);
  std::string prefix = "Server: Gone, Command \"Restart Pelmora\", IP:" + addr + " - ";
  EXPECT_EQ(Status[1].rfind(prefix, 0), 0u) << Status[1];
  EXPECT_GT(Status[1].size(), prefix.size());  // the client's reason follows

  Peer.SetMode("silent");
  auto start = std::chrono::steady_clock::now();
  std::string outcome = Send(RestartCommand(), "g", 1500ms);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(outcome.rfind("Server: Main, Command \"Restart Pelmora\", IP:" + Peer.Address() + " - ", 0), 0u)
      << outcome;
  EXPECT_NE(outcome.find("timed out"), std::string::npos) << outcome;
  EXPECT_LT(took, 10s);
  EXPECT_GE(took, 1400ms);
}

TEST_F(RpcTest, ClosingTheWindowDuringARequestAbortsItSafely) {
  Peer.SetMode("silent");
  auto start = std::chrono::steady_clock::now();
  {
    TRpcSender sender(Op, Options(60000ms));
    sender.SendCommand(RestartCommand(), restartTarget, Peer.Address(), Sink(), "Server: Main");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sender.Running(), 1u);
  }  // the window's sender goes away with the request still waiting
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  Op.RunQueued();  // what was posted must not reach the closed window
  EXPECT_EQ(Status.size(), 1u);
}

TEST_F(RpcTest, ButtonElementsSendOneRequestPerCommandOrNothing) {
  TTempDir tmp;
  auto db = CreateMainDatabase(&Op);
  db->New();
  db->SetFileName(tmp.File("p.pq2pr"));
  ASSERT_TRUE(db->CollectionByName("Servers").NewRecord("s1", {{"Name", "Main"}, {"URL", Peer.Address()}}));
  ASSERT_TRUE(db->CollectionByName("Groups").NewRecord("g1", {{"Name", "Lobby"}}));
  TJson element = {{"Server", {{"_ID", "s1"}, {"_CL", "Servers"}}},
                   {"Group", {{"_ID", "g1"}, {"_CL", "Groups"}}},
                   {"Cmds", TJson::parse(R"([{"stbpower":{"Method":"command","Value":"1"}},
                                            {"tvpower":{"Method":"command","Value":"1"}},
                                            {"channel":{"Method":"command","Value":"c7"}}])")}};
  Peer.SetMode("ok");
  {
    TRpcSender sender(Op, Options());
    EXPECT_EQ(RunElementCommands(*db, element, sender, Sink()), 3u);
    sender.WaitAll();
    Op.RunQueued();
  }
  auto bodies = Peer.Bodies();
  ASSERT_EQ(bodies.size(), 3u);
  std::sort(bodies.begin(), bodies.end());  // they run at once; arrival order is free
  EXPECT_EQ(bodies[0], R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Lobby",null,"channel",["c7"]]})");
  EXPECT_EQ(bodies[1], R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Lobby",null,"stbpower",["1"]]})");
  EXPECT_EQ(bodies[2], R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Lobby",null,"tvpower",["1"]]})");
  ASSERT_EQ(Status.size(), 6u);
  EXPECT_NE(Status.back().find("  is executed successfully"), std::string::npos);

  // Server set, no group, no commands: the message, and no request at all.
  Status.clear();
  TJson bare = {{"Server", {{"_ID", "s1"}, {"_CL", "Servers"}}}, {"Cmds", TJson::array()}};
  {
    TRpcSender sender(Op, Options());
    EXPECT_EQ(RunElementCommands(*db, bare, sender, Sink()), 0u);
    EXPECT_EQ(sender.Running(), 0u);
  }
  Op.RunQueued();
  EXPECT_EQ(Status, std::vector<std::string>{"Can't execute. Not defined group. Not specified command."});
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Peer.Bodies().size(), 3u);
}

TEST_F(RpcTest, CommandLineSendAndRestart) {
  TTempDir tmp;
  TCliProject cli(tmp, Peer.Address());
  Peer.SetMode("ok");
  std::string out;
  ASSERT_EQ(cli.Run("restart Main", &out), 0) << cli.Err();
  EXPECT_EQ(out, "Server: Main, Command \"Restart Pelmora\"\n"
                 "Server: Main, Command \"Restart Pelmora\"  is executed successfully\n");
  ASSERT_EQ(cli.Run("send Main --group Lobby --command '{\"stbmute\":{\"Method\":\"command\",\"Value\":\"1\"}}'", &out), 0);
  EXPECT_EQ(out, "Server: Main, Group: Lobby, Command \"STB mute\"\n"
                 "Server: Main, Group: Lobby, Command \"STB mute\"  is executed successfully\n");
  EXPECT_EQ(Peer.Bodies().back(),
            R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Lobby",null,"stbmute",["1"]]})");
  Peer.SetMode("busy");
  EXPECT_EQ(cli.Run("restart Main", &out), 1);
  EXPECT_NE(out.find(", IP:" + Peer.Address() + " - Channel is busy"), std::string::npos) << out;
  EXPECT_EQ(cli.Run("send Main --command 'not json'"), 2);
  EXPECT_EQ(cli.Run("send Main --command '{\"stbmute\":{\"Method\":\"command\",\"Value\":\"1\"}}'"), 2);
  EXPECT_EQ(cli.Run("send Main --command '{\"x\":{\"Method\":\"y\"}}'"), 2);
  EXPECT_EQ(cli.Run("send Nobody --command '{\"stbmute\":{\"Method\":\"command\",\"Value\":\"1\"}}'"), 3);
  EXPECT_EQ(Peer.Bodies().size(), 3u);
}
