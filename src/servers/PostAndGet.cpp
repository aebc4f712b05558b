#include "servers/PostAndGet.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <stdexcept>

#include "base/CommonProcedures.h"
#include "base/Operator.h"
#include "base/StrUtils.h"

// ---------------------------------------------------------------------------------------------
// Building requests

namespace {

// A member of the parameter object as a JSON string: strings as they are, numbers and other
// values as their compact text, a missing member as "".
std::string ParamText(const TJson& p, const char* key) {
  auto it = p.find(key);
  if (it == p.end() || it->is_null()) return "";
  if (it->is_string()) return it->get<std::string>();
  return it->dump(-1, ' ', true, TJson::error_handler_t::replace);
}

int64_t DurationUnits(const std::string& text, double unitsPerDay) {
  TDateTime d = StrToDeltaTime(text);
  // The texts carry whole milliseconds at most; the small bias keeps 1.5 s from becoming
  // 1499 ms through the binary fraction.
  double units = d * unitsPerDay;
  return static_cast<int64_t>(units < 0 ? std::ceil(units - 1e-6) : std::floor(units + 1e-6));
}

std::string TimeParam(const TJson& p) {
  auto it = p.find("Time");
  if (it == p.end() || !it->is_string())
    throw std::runtime_error("The command has no valid \"Time\"");
  return it->get<std::string>();
}

const TJson& ParamObject(const TJson& command) {
  if (!command.is_object() || command.size() != 1)
    throw std::runtime_error("A command must be an object with one key, not " +
                             command.dump(-1, ' ', true, TJson::error_handler_t::replace));
  const TJson& p = command.begin().value();
  if (!p.is_object())
    throw std::runtime_error("The parameters of the command \"" + command.begin().key() +
                             "\" are not an object");
  return p;
}

}  // namespace

int64_t DurationTextToMSecs(const std::string& text) {
  return DurationUnits(text, static_cast<double>(MSecsPerDay));
}

int64_t DurationTextToSeconds(const std::string& text) { return DurationUnits(text, 86400.0); }

TJson BuildRpcRequest(const TJson& command, const std::string& target) {
  const TJson& p = ParamObject(command);
  const TcmdTableRow& row = FindCmdTableRow(command);
  TJson req = TJson::object();
  req["jsonrpc"] = "2.0";
  req["method"] = std::string(row.meth);
  req["id"] = 123;
  TJson params = TJson::array();
  if (row.Has(opt_ToStb)) {
    TJson args = TJson::array();
    if (row.Has(opt_StbValue)) args.push_back(ParamText(p, "Value"));
    if (row.Has(opt_HtmlElement)) args.push_back(ParamText(p, "Value"));
    // The page as the dialog stores it: a path is sent as it is, not as JSON text.
    if (row.Has(opt_WebPage)) args.push_back(CmdWebPageText(p));
    if (row.Has(opt_Text)) args.push_back(ParamText(p, "Text"));
    if (row.Has(opt_Timeout)) args.push_back(std::to_string(DurationTextToMSecs(TimeParam(p))));
    params.push_back(target);
    params.push_back(nullptr);
    params.push_back(command.begin().key());
    params.push_back(std::move(args));
  } else {
    if (row.Has(opt_ServerValue)) params.push_back(ParamText(p, "Value"));
    if (row.Has(opt_StartTime)) params.push_back(std::to_string(DurationTextToSeconds(TimeParam(p))));
  }
  req["params"] = std::move(params);
  return req;
}

std::string RpcRequestText(const TJson& request) {
  return request.dump(-1, ' ', true, TJson::error_handler_t::replace);
}

std::string RpcDescription(const TJson& command, const std::string& target,
                           const std::string& prefix) {
  const TcmdTableRow& row = FindCmdTableRow(command);
  std::string d = prefix;
  if (row.Has(opt_ToStb)) d += ", Group: " + target;
  d += ", Command \"" + std::string(row.text) + "\"";
  return d;
}

std::string RpcUrl(const std::string& serverUrl) { return "http://" + serverUrl + "/rpc"; }

TJson RestartCommand() {
  TJson p = TJson::object();
  p["Method"] = "restart_pelmora";
  p["Value"] = "";
  p["Delay"] = 0;
  TJson c = TJson::object();
  c["none"] = std::move(p);
  return c;
}

// ---------------------------------------------------------------------------------------------
// Outcomes

namespace {

// A status line holds one line: line breaks and the blanks around them become one blank.
std::string OneLine(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    bool lineBreak = false;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t' || text[j] == '\r' || text[j] == '\n')) {
      lineBreak = lineBreak || text[j] == '\r' || text[j] == '\n';
      ++j;
    }
    if (j > i) {
      if (!out.empty() && j < text.size()) out += lineBreak ? std::string(" ") : text.substr(i, j - i);
      i = j;
      continue;
    }
    out += text[i++];
  }
  return out;
}

std::string ErrorMemberText(const TJson& answer);

}  // namespace

std::string RpcErrorText(const TJson& answer) { return OneLine(ErrorMemberText(answer)); }

namespace {

std::string ErrorMemberText(const TJson& answer) {
  if (!answer.is_object()) return "";
  auto it = answer.find("error");
  if (it == answer.end() || it->is_null()) return "";
  if (it->is_string()) return it->get<std::string>();
  if (it->is_object() && it->contains("message") && (*it)["message"].is_string()) {
    std::string text = (*it)["message"].get<std::string>();
    if (it->contains("code") && (*it)["code"].is_number_integer())
      text += " (code " + std::to_string((*it)["code"].get<int64_t>()) + ")";
    return text;
  }
  return it->dump(-1, ' ', false, TJson::error_handler_t::replace);
}

}  // namespace

std::string RpcOutcomeText(const std::string& answer, const std::string& description,
                           const std::string& ip) {
  const std::string failed = description + ", IP:" + ip + " - ";
  if (answer.empty()) return failed + "The empty answer is received";
  if (answer[0] != '{') return failed + OneLine(answer);
  TJson j;
  try {
    j = TJson::parse(answer);
  } catch (const std::exception&) {
    return failed + invalidAnswerText;
  }
  std::string result;
  if (auto it = j.find("result"); it != j.end() && it->is_string()) result = it->get<std::string>();
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (result == "OK") return description + " " + " is executed successfully";
  return description + ", IP:" + ip + " - " + RpcErrorText(j);
}

// ---------------------------------------------------------------------------------------------
// Network check

std::string UrlHost(const std::string& url) {
  std::string s = url;
  if (auto p = s.find("://"); p != std::string::npos) s = s.substr(p + 3);
  if (auto p = s.find('/'); p != std::string::npos) s = s.substr(0, p);
  if (auto p = s.rfind('@'); p != std::string::npos) s = s.substr(p + 1);
  if (!s.empty() && s[0] == '[') {
    auto close = s.find(']');
    return close == std::string::npos ? s.substr(1) : s.substr(1, close - 1);
  }
  // One colon: host and port; more: a bare IPv6 address.
  if (std::count(s.begin(), s.end(), ':') == 1) s = s.substr(0, s.find(':'));
  return s;
}

bool IsLoopbackHost(const std::string& host) {
  std::string h = LowerCase(host);
  if (h == "localhost" || h.ends_with(".localhost")) return true;
  in_addr a4{};
  if (inet_pton(AF_INET, h.c_str(), &a4) == 1) return (ntohl(a4.s_addr) >> 24) == 127;
  in6_addr a6{};
  if (inet_pton(AF_INET6, h.c_str(), &a6) == 1) return IN6_IS_ADDR_LOOPBACK(&a6);
  return false;
}

bool HasNetworkConnection(const std::string& host) {
  if (IsLoopbackHost(host)) return true;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return true;  // cannot tell: let the request itself decide
  bool found = false;
  for (ifaddrs* i = list; i && !found; i = i->ifa_next) {
    if (!i->ifa_addr) continue;
    int family = i->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    unsigned flags = i->ifa_flags;
    if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK)) found = true;
  }
  freeifaddrs(list);
  return found;
}

// ---------------------------------------------------------------------------------------------
// Posting

namespace {

struct TCurlGlobal {
  TCurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

void EnsureCurl() {
  static TCurlGlobal once;  // thread-safe initialisation, before the first worker uses curl
}

// Where the answer goes: never more than Cap bytes, so an answer that does not end cannot
// take the memory. Nothing may be thrown through the HTTP client's C code: a failure stops
// the transfer instead and is reported after it.
struct TAnswerBuffer {
  std::string Text;
  size_t Cap = 0;
  bool TooLarge = false;
  bool OutOfMemory = false;
};

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
  auto* buffer = static_cast<TAnswerBuffer*>(user);
  const size_t n = size * count;
  if (buffer->Text.size() + n > buffer->Cap) {
    buffer->TooLarge = true;
    return 0;  // the client stops with a write error
  }
  try {
    buffer->Text.append(data, n);
  } catch (...) {
    buffer->OutOfMemory = true;
    return 0;
  }
  return n;
}

int AbortProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* abort = static_cast<const std::atomic<bool>*>(user);
  return abort && abort->load() ? 1 : 0;
}

}  // namespace

std::string HttpPost(const std::string& url, const std::string& body, const TPostOptions& options,
                     const std::atomic<bool>* abort) {
  EnsureCurl();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) throw std::runtime_error("Cannot start the HTTP client");
  TAnswerBuffer answer;
  answer.Cap = options.MaxAnswerBytes;
  char errbuf[CURL_ERROR_SIZE] = {0};
  // Only the client's own headers go out; "Expect: 100-continue" is switched off because
  // simple servers never answer it and every larger request would stall for a second.
  curl_slist* headers = curl_slist_append(nullptr, "Expect:");
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerGuard(headers,
                                                                          &curl_slist_free_all);
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &AppendBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_PROXY, "");  // servers are on the local network
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.ConnectTimeout.count()));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(options.TotalTimeout.count()));
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &AbortProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, abort);
  CURLcode rc = curl_easy_perform(c);
  if (answer.TooLarge)
    throw std::runtime_error(
        "The answer is larger than " +
        (options.MaxAnswerBytes % (1024 * 1024) == 0
             ? std::to_string(options.MaxAnswerBytes / (1024 * 1024)) + " MiB"
             : std::to_string(options.MaxAnswerBytes) + " bytes") +
        "; it was not read");
  if (answer.OutOfMemory) throw std::runtime_error("There is no memory for the answer");
  if (rc != CURLE_OK) {
    if (rc == CURLE_ABORTED_BY_CALLBACK) throw std::runtime_error("The request was cancelled");
    throw std::runtime_error(errbuf[0] ? std::string(errbuf) : curl_easy_strerror(rc));
  }
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 400) throw std::runtime_error("HTTP error " + std::to_string(status));
  if (status >= 300) {
    // Redirects are not followed: a command goes to the address the server record names.
    char* where = nullptr;
    curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &where);
    throw std::runtime_error("HTTP status " + std::to_string(status) + " (a redirect" +
                             (where ? std::string(" to ") + where : std::string()) +
                             ", not followed)");
  }
  if (status < 200) throw std::runtime_error("HTTP status " + std::to_string(status));
  return std::move(answer.Text);
}

std::string RunThreadGet(const std::string& url, const std::string& body,
                         const std::string& description, const std::string& ip,
                         const TPostOptions& options, const std::atomic<bool>* abort) {
  std::string host = UrlHost(url);
  bool online = options.NetworkCheck ? options.NetworkCheck(host) : HasNetworkConnection(host);
  if (!online) return noNetworkText;
  std::string answer;
  try {
    // The body is UTF-8 already: the core keeps every text as UTF-8.
    answer = HttpPost(url, body, options, abort);
  } catch (const std::exception& e) {
    return description + ", IP:" + ip + " - " + e.what();
  }
  return RpcOutcomeText(answer, description, ip);
}

// ---------------------------------------------------------------------------------------------
// TRpcSender

struct TRpcSender::TWorker {
  std::thread Thread;
  std::atomic<bool> Finished{false};
};

TRpcSender::TRpcSender(IOperator& op, TPostOptions options)
    : FOp(op), FOptions(std::move(options)),
      FSinksAlive(std::make_shared<std::atomic<bool>>(true)) {
  EnsureCurl();
}

TRpcSender::~TRpcSender() {
  FAbort = true;
  DetachSinks();
  std::list<std::shared_ptr<TWorker>> workers;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    workers.swap(FWorkers);
  }
  for (auto& w : workers)
    if (w->Thread.joinable()) w->Thread.join();
}

std::string TRpcSender::SendCommand(const TJson& command, const std::string& target,
                                    const std::string& serverUrl, TStatusSink sink,
                                    const std::string& prefix) {
  TJson request = BuildRpcRequest(command, target);
  std::string description = RpcDescription(command, target, prefix);
  StartRequest(RpcUrl(serverUrl), description, serverUrl, std::move(sink), RpcRequestText(request));
  return description;
}

void TRpcSender::StartRequest(const std::string& url, const std::string& description,
                              const std::string& ip, TStatusSink sink, const std::string& body) {
  if (sink) sink(description + " is executing ...");
  ReapFinished();
  auto worker = std::make_shared<TWorker>();
  std::shared_ptr<std::atomic<bool>> alive;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    alive = FSinksAlive;
    FWorkers.push_back(worker);
  }
  // The worker owns copies of everything it reads; it reaches back only through the operator,
  // which lives for the whole process, and delivers only while the sinks are attached.
  IOperator* op = &FOp;
  TPostOptions options = FOptions;
  const std::atomic<bool>* abort = &FAbort;
  TWorker* self = worker.get();
  worker->Thread = std::thread([=, sink = std::move(sink)]() mutable {
    std::string outcome = RunThreadGet(url, body, description, ip, options, abort);
    if (sink) {
      op->RunOnUiThread([alive, sink, outcome]() {
        if (alive->load()) sink(outcome);
      });
    }
    self->Finished = true;  // the owner joins the thread; TWorker outlives it
  });
}

void TRpcSender::ReapFinished() {
  std::list<std::shared_ptr<TWorker>> done;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    for (auto it = FWorkers.begin(); it != FWorkers.end();) {
      if ((*it)->Finished.load()) {
        done.push_back(*it);
        it = FWorkers.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& w : done)
    if (w->Thread.joinable()) w->Thread.join();
}

void TRpcSender::DetachSinks() {
  std::lock_guard<std::mutex> lock(FMutex);
  FSinksAlive->store(false);
  FSinksAlive = std::make_shared<std::atomic<bool>>(true);
}

void TRpcSender::WaitAll() {
  std::list<std::shared_ptr<TWorker>> workers;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    workers.swap(FWorkers);
  }
  for (auto& w : workers)
    if (w->Thread.joinable()) w->Thread.join();
}

size_t TRpcSender::Running() {
  std::lock_guard<std::mutex> lock(FMutex);
  return static_cast<size_t>(std::count_if(FWorkers.begin(), FWorkers.end(),
                                           [](const auto& w) { return !w->Finished.load(); }));
}
