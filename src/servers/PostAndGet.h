#pragma once
// Commands to playout servers and their set-top boxes: JSON-RPC 2.0 requests posted over HTTP
// to "http://" + server address + "/rpc", each on its own short-lived worker thread
// (ThreadGet) that reports one line of outcome text back on the user-interface thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "recstore/Json.h"
#include "schedule/ScheduleClasses.h"

class IOperator;

// Where the outcome of a request goes (a window's status line). Called on the user-interface
// thread only.
using TStatusSink = std::function<void(const std::string& text)>;

// ---------------------------------------------------------------------------------------------
// Building requests

// The JSON-RPC 2.0 request object of one command object {Cmd: {"Method", "Value", ...}}:
// "jsonrpc", "method", "id" 123 and "params" chosen by the option bits of the command's row.
// Target is the STB group's name (commands to set-top boxes). Throws std::runtime_error when
// the command's parameters cannot be read (for instance a parameter object that is not an
// object, or a "Time" that is not a duration text).
TJson BuildRpcRequest(const TJson& command, const std::string& target);
// Compact text without blanks, every non-ASCII character escaped as \uXXXX.
std::string RpcRequestText(const TJson& request);
// Prefix, then ", Group: " + target for set-top box commands, then ", Command "text"".
std::string RpcDescription(const TJson& command, const std::string& target,
                           const std::string& prefix);
// "http://" + URL + "/rpc"
std::string RpcUrl(const std::string& serverUrl);
// The command object that restarts the server software:
// {"none":{"Method":"restart_pelmora","Value":"","Delay":0}}
TJson RestartCommand();
// The target group name the restart command is sent with.
inline const std::string restartTarget = "default";

// Milliseconds and whole seconds of a duration text ("q hh:nn:ss"), fractions dropped.
int64_t DurationTextToMSecs(const std::string& text);
int64_t DurationTextToSeconds(const std::string& text);

// ---------------------------------------------------------------------------------------------
// Outcomes

// The status text for what a server answered: a JSON object whose "result", upper-cased, is
// "OK" gives description + "  is executed successfully" (whatever its "id": servers in the
// field may not echo it). Every other answer is a failure, description + ", IP:" + ip + " - "
// followed by: a JSON object's "error"; "The invalid answer is received" for text starting
// with "{" that is no JSON; "The empty answer is received"; any other text as one line.
std::string RpcOutcomeText(const std::string& answer, const std::string& description,
                           const std::string& ip);
// The "error" member of an answer as a line of text: a string as it is, an object by its
// "message" (and "code"), anything else as compact JSON; "" when missing.
std::string RpcErrorText(const TJson& answer);

inline const std::string noNetworkText = "No connection to network!";
inline const std::string invalidAnswerText = "The invalid answer is received";

// True when Host is a loopback name or address ("localhost", 127.x.x.x, ::1).
bool IsLoopbackHost(const std::string& host);
// The host part of "http://host[:port]/path" or of "host[:port]".
std::string UrlHost(const std::string& url);
// Whether the machine has a network to reach Host by: a loopback host always counts as
// reachable; otherwise some interface other than loopback must be up with an address.
bool HasNetworkConnection(const std::string& host);

// ---------------------------------------------------------------------------------------------
// Posting

struct TPostOptions {
  // A server that does not accept the connection within this time is reported as unreachable;
  // a request not answered completely within the total time is abandoned. So a dead server
  // never holds a worker thread for longer than TotalTimeout.
  std::chrono::milliseconds ConnectTimeout{5000};
  std::chrono::milliseconds TotalTimeout{15000};
  // A longer answer is not read (a server's answer is a line of JSON).
  size_t MaxAnswerBytes = 1024 * 1024;
  // Replaces HasNetworkConnection (tests simulate a machine without network).
  std::function<bool(const std::string& host)> NetworkCheck;
};

// One POST of Body (UTF-8) to Url with libcurl. Returns the answer text; throws
// std::runtime_error with the client's message on a refused connection, a time-out, an answer
// longer than MaxAnswerBytes, or an HTTP status other than 2xx (a redirect is not followed).
// Abort, when given, is polled while the request runs and ends it early.
std::string HttpPost(const std::string& url, const std::string& body, const TPostOptions& options,
                     const std::atomic<bool>* abort = nullptr);

// The full work of one ThreadGet, without the thread: network check, POST, outcome text.
std::string RunThreadGet(const std::string& url, const std::string& body,
                         const std::string& description, const std::string& ip,
                         const TPostOptions& options, const std::atomic<bool>* abort = nullptr);

// Starts and owns the ThreadGet workers. The caller never waits: each request runs on its own
// thread and hands its outcome through IOperator::RunOnUiThread to the status sink. Outcomes
// that arrive after DetachSinks (the window closed) or after the sender is gone are dropped,
// so no worker touches a freed window. The destructor aborts running requests and joins their
// threads.
class TRpcSender {
public:
  explicit TRpcSender(IOperator& op, TPostOptions options = {});
  ~TRpcSender();
  TRpcSender(const TRpcSender&) = delete;
  TRpcSender& operator=(const TRpcSender&) = delete;

  // Builds the request and description of one command and starts it. Errors while building
  // propagate to the caller; nothing is started then. Returns the description.
  std::string SendCommand(const TJson& command, const std::string& target,
                          const std::string& serverUrl, TStatusSink sink,
                          const std::string& prefix);
  // Shows description + " is executing ..." in the sink at once and starts one worker.
  void StartRequest(const std::string& url, const std::string& description, const std::string& ip,
                    TStatusSink sink, const std::string& body);

  // Outcomes not yet delivered are dropped from now on; new requests deliver again.
  void DetachSinks();
  // Waits until every started request has ended and handed its outcome to the operator.
  void WaitAll();
  // Requests still running.
  size_t Running();
  const TPostOptions& Options() const { return FOptions; }

private:
  struct TWorker;
  void ReapFinished();

  IOperator& FOp;
  TPostOptions FOptions;
  std::mutex FMutex;
  std::list<std::shared_ptr<TWorker>> FWorkers;
  std::shared_ptr<std::atomic<bool>> FSinksAlive;
  std::atomic<bool> FAbort{false};
};
