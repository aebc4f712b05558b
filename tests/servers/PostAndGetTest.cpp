#include <gtest/gtest.h>

#include "servers/PostAndGet.h"
#include "servers/Servers.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace {

TJson J(const char* text) { return TJson::parse(text); }

std::string RequestText(const char* command, const std::string& target = "Hall 1") {
  return RpcRequestText(BuildRpcRequest(J(command), target));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Requests of the command table's rows

TEST(RpcRequest, SetTopBoxCommandsCarryGroupNullKeyAndArguments) {
  EXPECT_EQ(RequestText(R"({"stbpower":{"Method":"command","Value":"1","Delay":0}})"),
            R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"stbpower",["1"]]})");
  EXPECT_EQ(RequestText(R"({"channel":{"Method":"command","Value":"5f0c1a2b3c4d5e6f70819203"}})"),
            R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"channel",["5f0c1a2b3c4d5e6f70819203"]]})");
  // Show text: the element, the text, then the timeout in milliseconds.
  EXPECT_EQ(RequestText(R"({"showtext":{"Method":"command","Value":"ticker","Text":"Hello","Time":"0 00:00:10","Delay":0}})"),
            R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"showtext",["ticker","Hello","10000"]]})");
  // Show Web-page: the element, the page as compact JSON text, the timeout.
  EXPECT_EQ(RequestText(R"({"showpage":{"Method":"command","Value":"frame","WPage":{"url":"http://portal/a b","w":640},"Time":"0 00:01:00"}})"),
            R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"showpage",["frame","{\"url\":\"http://portal/a b\",\"w\":640}","60000"]]})");
}

// The page the command dialog stores (a path below the HTML root) goes out as that path: no
// quotes around it, no doubled backslashes. A page stored as quoted JSON text is sent unquoted.
TEST(RpcRequest, WebPagePathIsSentAsStored) {
  struct Case {
    const char* WPage;  // the stored member, as JSON
    const char* Sent;   // the page argument in the body, as JSON
  };
  for (const Case& c : {Case{R"("pages\\news.html")", R"("pages\\news.html")"},
                        Case{R"("\"pages\\\\news.html\"")", R"("pages\\news.html")"},
                        Case{R"("a.html")", R"("a.html")"},
                        Case{R"({"url":"x.html"})", R"("{\"url\":\"x.html\"}")"}}) {
    std::string cmd = std::string(R"({"showpage":{"Method":"command","Value":"frame","WPage":)") + c.WPage +
                      R"(,"Time":"0 00:00:05","Delay":0}})";
    EXPECT_EQ(RequestText(cmd.c_str()),
              std::string(R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"showpage",["frame",)") +
                  c.Sent + R"(,"5000"]]})")
        << c.WPage;
  }
  EXPECT_EQ(CmdWebPageText(J(R"({"Value":"frame"})")), "");
}

TEST(RpcRequest, ServerCommandsCarryOnlyTheirValues) {
  EXPECT_EQ(RequestText(R"({"none":{"Method":"stop_channel","Value":"ch42","Delay":0}})"),
            R"({"jsonrpc":"2.0","method":"stop_channel","id":123,"params":["ch42"]})");
  // Start channel: the channel and the start time in whole seconds (1 day 1 hour).
  EXPECT_EQ(RequestText(R"({"none":{"Method":"start_channel","Value":"ch42","Time":"1 01:00:00"}})"),
            R"({"jsonrpc":"2.0","method":"start_channel","id":123,"params":["ch42","90000"]})");
  EXPECT_EQ(RequestText(R"({"none":{"Method":"reboot_system","Value":""}})"),
            R"({"jsonrpc":"2.0","method":"reboot_system","id":123,"params":[]})");
  // The group is never sent to the server itself.
  EXPECT_EQ(RequestText(R"({"none":{"Method":"save_stats","Value":""}})", "Secret group"),
            R"({"jsonrpc":"2.0","method":"save_stats","id":123,"params":[]})");
}

TEST(RpcRequest, RestartCommandAndItsDescription) {
  EXPECT_EQ(RestartCommand().dump(),
            R"({"none":{"Method":"restart_pelmora","Value":"","Delay":0}})");
  EXPECT_EQ(RpcRequestText(BuildRpcRequest(RestartCommand(), restartTarget)),
            R"({"jsonrpc":"2.0","method":"restart_pelmora","id":123,"params":[]})");
  EXPECT_EQ(RpcDescription(RestartCommand(), restartTarget, "Server: Main"),
            "Server: Main, Command \"Restart Pelmora\"");
  EXPECT_EQ(RpcUrl("10.0.0.5"), "http://10.0.0.5/rpc");
  EXPECT_EQ(RpcUrl("127.0.0.1:8080"), "http://127.0.0.1:8080/rpc");
}

TEST(RpcRequest, NonAsciiIsEscapedAndTheBodyIsOneLine) {
  std::string text = RequestText(
      R"({"showtext":{"Method":"command","Value":"div","Text":"Привет — мир","Time":"0 00:00:01"}})",
      "Зал");
  EXPECT_EQ(text,
            R"({"jsonrpc":"2.0","method":"command","id":123,"params":["\u0417\u0430\u043b",null,"showtext",["div","\u041f\u0440\u0438\u0432\u0435\u0442 \u2014 \u043c\u0438\u0440","1000"]]})");
  for (unsigned char ch : text) EXPECT_LT(ch, 0x80);
}

TEST(RpcRequest, DescriptionNamesTheGroupOnlyForSetTopBoxes) {
  EXPECT_EQ(RpcDescription(J(R"({"stbmute":{"Method":"command","Value":"1"}})"), "Lobby", "Server: A"),
            "Server: A, Group: Lobby, Command \"STB mute\"");
  EXPECT_EQ(RpcDescription(J(R"({"stbmute":{"Method":"command","Value":"0"}})"), "Lobby", "Server: A"),
            "Server: A, Group: Lobby, Command \"STB unmute\"");
  EXPECT_EQ(RpcDescription(J(R"({"none":{"Method":"stop_channel","Value":"x"}})"), "Lobby", "Server: A"),
            "Server: A, Command \"Stop channel\"");
  // A command no row knows: empty method, no parameters, empty caption.
  EXPECT_EQ(RequestText(R"({"dance":{"Method":"now","Value":"1"}})"),
            R"({"jsonrpc":"2.0","method":"","id":123,"params":[]})");
  EXPECT_EQ(RpcDescription(J(R"({"dance":{"Method":"now"}})"), "Lobby", "Server: A"),
            "Server: A, Command \"\"");
}

TEST(RpcRequest, DurationsAndBadParameters) {
  EXPECT_EQ(DurationTextToMSecs("0 00:00:01,500"), 1500);
  EXPECT_EQ(DurationTextToMSecs("0 00:00:00,001"), 1);
  EXPECT_EQ(DurationTextToSeconds("0 00:00:01,999"), 1);
  EXPECT_EQ(DurationTextToSeconds("2 00:00:00"), 172800);
  EXPECT_EQ(DurationTextToMSecs("0 01:00:00"), 3600000);
  // Errors while building reach the caller, who shows them.
  EXPECT_THROW(BuildRpcRequest(J(R"({"stbpower":"on"})"), "g"), std::runtime_error);
  EXPECT_THROW(BuildRpcRequest(J(R"({"a":{},"b":{}})"), "g"), std::runtime_error);
  EXPECT_THROW(BuildRpcRequest(J(R"({"showtext":{"Method":"command","Value":"d","Text":"t"}})"), "g"),
               std::runtime_error);  // no "Time" for the timeout
  EXPECT_THROW(BuildRpcRequest(J(R"({"showtext":{"Method":"command","Value":"d","Text":"t","Time":"soon"}})"), "g"),
               std::exception);
}

// ---------------------------------------------------------------------------------------------
// Outcomes

TEST(RpcOutcome, AnswersBecomeStatusTexts) {
  const std::string d = "Server: A, Command \"Restart Pelmora\"";
  EXPECT_EQ(RpcOutcomeText(R"({"jsonrpc":"2.0","result":"ok","id":123})", d, "10.0.0.5"),
            d + "  is executed successfully");
  EXPECT_EQ(RpcOutcomeText(R"({"result":"OK"})", d, "10.0.0.5"), d + "  is executed successfully");
  EXPECT_EQ(RpcOutcomeText(R"({"result":"Ok"})", d, "10.0.0.5"), d + "  is executed successfully");
  EXPECT_EQ(RpcOutcomeText(R"({"result":"busy","error":"Channel is busy"})", d, "10.0.0.5"),
            d + ", IP:10.0.0.5 - Channel is busy");
  EXPECT_EQ(RpcOutcomeText(R"({"jsonrpc":"2.0","error":{"code":-32601,"message":"Method x not supported."},"id":123})",
                           d, "10.0.0.5"),
            d + ", IP:10.0.0.5 - Method x not supported. (code -32601)");
  EXPECT_EQ(RpcOutcomeText(R"({"result":"failed","error":"line one\n  line two"})", d, "h"),
            d + ", IP:h - line one line two");
  EXPECT_EQ(RpcOutcomeText(R"({"result":true})", d, "h"), d + ", IP:h - ");
  // Every failure names the server and the command.
  EXPECT_EQ(RpcOutcomeText("{broken", d, "h"), d + ", IP:h - The invalid answer is received");
  EXPECT_EQ(RpcOutcomeText("Done", d, "h"), d + ", IP:h - Done");
  EXPECT_EQ(RpcOutcomeText(" {\"result\":\"ok\"}", d, "h"), d + ", IP:h - {\"result\":\"ok\"}");
  EXPECT_EQ(RpcOutcomeText("", d, "h"), d + ", IP:h - The empty answer is received");
}

TEST(RpcOutcome, HostsAndTheNetworkCheck) {
  EXPECT_EQ(UrlHost("http://10.0.0.5/rpc"), "10.0.0.5");
  EXPECT_EQ(UrlHost("http://127.0.0.1:8080/rpc"), "127.0.0.1");
  EXPECT_EQ(UrlHost("http://[::1]:8080/rpc"), "::1");
  EXPECT_EQ(UrlHost("server.local"), "server.local");
  EXPECT_TRUE(IsLoopbackHost("127.0.0.1"));
  EXPECT_TRUE(IsLoopbackHost("127.1.2.3"));
  EXPECT_TRUE(IsLoopbackHost("::1"));
  EXPECT_TRUE(IsLoopbackHost("LocalHost"));
  EXPECT_FALSE(IsLoopbackHost("10.0.0.5"));
  EXPECT_FALSE(IsLoopbackHost("128.0.0.1"));
  EXPECT_FALSE(IsLoopbackHost("example.org"));
  EXPECT_TRUE(HasNetworkConnection("127.0.0.1"));  // loopback needs no network
}

TEST(RpcOutcome, WithoutNetworkNothingIsPosted) {
  TPostOptions o;
  std::vector<std::string> asked;
  o.NetworkCheck = [&](const std::string& host) {
    asked.push_back(host);
    return false;
  };
  // Posting to this address would end in a connection error text, not in this one.
  EXPECT_EQ(RunThreadGet("http://10.255.255.1:9/rpc", "{}", "d", "10.255.255.1:9", o),
            "No connection to network!");
  EXPECT_EQ(asked, std::vector<std::string>{"10.255.255.1"});
}

// ---------------------------------------------------------------------------------------------
// The sender: status first, outcome later on the user-interface thread

namespace {

TPostOptions Offline() {
  TPostOptions o;
  o.NetworkCheck = [](const std::string&) { return false; };
  return o;
}

}  // namespace

TEST(RpcSender, ShowsExecutingAtOnceAndDeliversOnTheUiThread) {
  TFakeOperator op;
  std::vector<std::string> status;
  {
    TRpcSender sender(op, Offline());
    std::string d = sender.SendCommand(RestartCommand(), restartTarget, "10.0.0.5",
                                       [&](const std::string& t) { status.push_back(t); },
                                       "Server: A");
    EXPECT_EQ(d, "Server: A, Command \"Restart Pelmora\"");
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0], d + " is executing ...");
    sender.WaitAll();
    EXPECT_EQ(sender.Running(), 0u);
    EXPECT_EQ(status.size(), 1u);  // nothing arrives off the user-interface thread
    ASSERT_EQ(op.Queued.size(), 1u);
    op.RunQueued();
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[1], "No connection to network!");
  }
}

TEST(RpcSender, OutcomesForAClosedWindowAreDropped) {
  TFakeOperator op;
  auto status = std::make_shared<std::vector<std::string>>();
  {
    TRpcSender sender(op, Offline());
    for (int i = 0; i < 3; ++i)
      sender.SendCommand(RestartCommand(), restartTarget, "10.0.0.5",
                         [status](const std::string& t) { status->push_back(t); }, "Server: A");
    sender.WaitAll();
    sender.DetachSinks();  // the window closes before the outcomes are delivered
    // A later request of a new window delivers again.
    sender.SendCommand(RestartCommand(), restartTarget, "10.0.0.5",
                       [status](const std::string& t) { status->push_back("new: " + t); },
                       "Server: A");
    sender.WaitAll();
    EXPECT_EQ(op.Queued.size(), 4u);
    op.RunQueued();
    ASSERT_EQ(status->size(), 5u);  // three "executing", one "executing" and one outcome
    EXPECT_EQ(status->back(), "new: No connection to network!");
    // One more outcome waits when the sender (the window's) goes away.
    sender.SendCommand(RestartCommand(), restartTarget, "10.0.0.5",
                       [status](const std::string& t) { status->push_back("late: " + t); },
                       "Server: A");
  }
  // Posted work of a destroyed sender must still be safe to run, and delivers nothing.
  EXPECT_EQ(op.Queued.size(), 1u);
  op.RunQueued();
  ASSERT_EQ(status->size(), 6u);
  EXPECT_EQ(status->back(), "late: Server: A, Command \"Restart Pelmora\" is executing ...");
}

TEST(RpcSender, BuildErrorsReachTheCallerAndStartNothing) {
  TFakeOperator op;
  TRpcSender sender(op, Offline());
  int calls = 0;
  EXPECT_THROW(sender.SendCommand(J(R"({"stbpower":[1]})"), "g", "10.0.0.5",
                                  [&](const std::string&) { ++calls; }, "Server: A"),
               std::runtime_error);
  EXPECT_EQ(calls, 0);
  sender.WaitAll();
  EXPECT_TRUE(op.Queued.empty());
}

// ---------------------------------------------------------------------------------------------
// Control panel elements

TEST(ElementCommands, ChecksComeInOrderAndStopTheSending) {
  TJson srv = {{"_ID", "s1"}, {"_CL", "Servers"}};
  TJson grp = {{"_ID", "g1"}, {"_CL", "Groups"}};
  TJson empty = {{"_ID", ""}, {"_CL", ""}};
  TJson cmds = J(R"([{"stbpower":{"Method":"command","Value":"1"}}])");
  EXPECT_EQ(ElementCheckText({{"Server", srv}, {"Group", empty}, {"Cmds", TJson::array()}}),
            "Can't execute. Not defined group. Not specified command.");
  EXPECT_EQ(ElementCheckText({{"Server", srv}, {"Cmds", cmds}}), "Can't execute. Not defined group.");
  EXPECT_EQ(ElementCheckText(TJson::object()),
            "Can't execute. Not defined server. Not defined group. Not specified command.");
  EXPECT_EQ(ElementCheckText({{"Group", grp}, {"Server", srv}}), "Can't execute. Not specified command.");
  EXPECT_EQ(ElementCheckText({{"Group", grp}, {"Server", srv}, {"Cmds", cmds}}), "");
}

TEST(ElementCommands, OneRequestPerCommandWithGroupAndServerNames) {
  TTempDir tmp;
  TFakeOperator op;
  auto db = CreateMainDatabase(&op);
  db->New();
  db->SetFileName(tmp.File("p.pq2pr"));
  ASSERT_TRUE(db->CollectionByName("Servers").NewRecord("s1", {{"Name", "Main"}, {"URL", "10.0.0.5"}}));
  ASSERT_TRUE(db->CollectionByName("Groups").NewRecord("g1", {{"Name", "Lobby"}}));
  TJson element = {{"Server", {{"_ID", "s1"}, {"_CL", "Servers"}}},
                   {"Group", {{"_ID", "g1"}, {"_CL", "Groups"}}},
                   {"Cmds", J(R"([{"stbpower":{"Method":"command","Value":"1"}},
                                  {"tvmute":{"Method":"command","Value":"1"}},
                                  {"none":{"Method":"stop_channel","Value":"c"}}])")}};
  std::vector<std::string> status;
  TRpcSender sender(op, Offline());
  EXPECT_EQ(RunElementCommands(*db, element, sender, [&](const std::string& t) { status.push_back(t); }), 3u);
  EXPECT_EQ(status, (std::vector<std::string>{
                        "Server: Main, Group: Lobby, Command \"STB power on\" is executing ...",
                        "Server: Main, Group: Lobby, Command \"TV mute\" is executing ...",
                        "Server: Main, Command \"Stop channel\" is executing ..."}));
  sender.WaitAll();
  EXPECT_EQ(op.Queued.size(), 3u);

  // Without a group nothing is sent.
  status.clear();
  element["Group"]["_ID"] = "";
  EXPECT_EQ(RunElementCommands(*db, element, sender, [&](const std::string& t) { status.push_back(t); }), 0u);
  EXPECT_EQ(status, std::vector<std::string>{"Can't execute. Not defined group."});
  // A command whose parameters cannot be read: its message goes to the status line.
  status.clear();
  element["Group"]["_ID"] = "g1";
  element["Cmds"] = J(R"([{"stbpower":"1"}])");
  EXPECT_EQ(RunElementCommands(*db, element, sender, [&](const std::string& t) { status.push_back(t); }), 0u);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0], "The parameters of the command \"stbpower\" are not an object");
}

// A server or group deleted after the element named it is reported like a missing one:
// "Can't execute." and what is missing, and nothing is sent.
TEST(ElementCommands, DeletedServerOrGroupCannotExecute) {
  TTempDir tmp;
  TFakeOperator op;
  auto db = CreateMainDatabase(&op);
  db->New();
  db->SetFileName(tmp.File("p.pq2pr"));
  ASSERT_TRUE(db->CollectionByName("Servers").NewRecord("s1", {{"Name", "Main"}, {"URL", "10.0.0.5"}}));
  ASSERT_TRUE(db->CollectionByName("Groups").NewRecord("g1", {{"Name", "Lobby"}}));
  struct TCase {
    std::string Server, Group, Want;
  } cases[] = {
      {"gone", "g1", "Can't execute. Not defined server."},
      {"s1", "gone", "Can't execute. Not defined group."},
      {"gone", "gone", "Can't execute. Not defined server. Not defined group."},
  };
  TRpcSender sender(op, Offline());
  for (const TCase& c : cases) {
    TJson element = {{"Server", {{"_ID", c.Server}, {"_CL", "Servers"}}},
                     {"Group", {{"_ID", c.Group}, {"_CL", "Groups"}}},
                     {"Cmds", J(R"([{"stbpower":{"Method":"command","Value":"1"}}])")}};
    std::vector<std::string> status;
    EXPECT_EQ(RunElementCommands(*db, element, sender, [&](const std::string& t) { status.push_back(t); }), 0u);
    EXPECT_EQ(status, std::vector<std::string>{c.Want}) << c.Server << "|" << c.Group;
  }
  sender.WaitAll();
  EXPECT_TRUE(op.Queued.empty());
}
