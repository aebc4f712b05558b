#include "support/TestSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "recstore/JrecClasses.h"

void TFakeOperator::MessageBox(const std::string& caption, const std::string& text,
                               TMsgIcon icon) {
  Messages.push_back({caption, text, icon, false});
}

TMsgAnswer TFakeOperator::Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                              TMsgButtons, TMsgAnswer safeAnswer) {
  Messages.push_back({caption, text, icon, true});
  if (Answers.empty()) return safeAnswer;
  TMsgAnswer a = Answers.front();
  Answers.pop_front();
  return a;
}

void TFakeOperator::StatusText(const std::string& text) { Statuses.push_back(text); }

void TFakeOperator::OpenRecord(TDbCollectionItem& coll, const std::string& id) {
  Opened.emplace_back(coll.Name(), id);
}

namespace {
// Guards every fake operator's queue: worker threads post while the test thread runs the work.
std::mutex GQueueMutex;
}  // namespace

void TFakeOperator::RunOnUiThread(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(GQueueMutex);
  Queued.push_back(std::move(fn));
}

void TFakeOperator::RunQueued() {
  std::vector<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> lock(GQueueMutex);
    work.swap(Queued);
  }
  for (auto& fn : work) fn();
}

std::vector<std::string> TFakeOperator::Texts() const {
  std::vector<std::string> out;
  for (const auto& m : Messages) out.push_back(m.Text);
  return out;
}

TScopedFakeOperator::TScopedFakeOperator() { SetAppOperator(this); }
TScopedFakeOperator::~TScopedFakeOperator() { SetAppOperator(nullptr); }

TTempDir::TTempDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (int i = 0; i < 100; ++i) {
    auto p = base / ("pelmora-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(p)) {
      FPath = p;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
}

TCliRun RunCliIn(const std::filesystem::path& dir, const std::string& args,
                 const std::string& input) {
  const std::string d = dir.string();
  WriteFileBytes(d + "/in", input);
  std::string cmd = std::string("cd '") + d + "' && '" + PELMORA_CLI_PATH + "' " + args +
                    " <in >out 2>err";
  int status = std::system(cmd.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(d + "/out"),
          ReadFileBytes(d + "/err")};
}

TFailingWrites::TFailingWrites() {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit lim{};
  getrlimit(RLIMIT_FSIZE, &lim);
  FSoft = lim.rlim_cur;
  lim.rlim_cur = 8;
  setrlimit(RLIMIT_FSIZE, &lim);
}

TFailingWrites::~TFailingWrites() {
  rlimit lim{};
  getrlimit(RLIMIT_FSIZE, &lim);
  lim.rlim_cur = static_cast<rlim_t>(FSoft);
  setrlimit(RLIMIT_FSIZE, &lim);
}

std::string TFailingWrites::Reason() { return std::strerror(EFBIG); }

std::time_t LocalNoon(int year, int month, int day) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

std::string DemoRecordsDir() { return std::string(PELMORA_SOURCE_DIR) + "/examples/demo/"; }

std::string ImportDemoProject(const TTempDir& dir, const std::string& project) {
  TCliRun r = RunCliIn(dir, "new '" + project + "'");
  if (r.Code != 0) return "new: " + r.Err;
  for (const char* f : {"records.json", "portal-records.json"}) {
    r = RunCliIn(dir, "--project '" + project + "' import '" + DemoRecordsDir() + f + "'");
    if (r.Code != 0) return std::string("import ") + f + ": " + r.Err;
  }
  std::error_code ec;
  std::filesystem::copy(DemoRecordsDir() + "HTML", dir.File("HTML"),
                        std::filesystem::copy_options::recursive, ec);
  return ec ? "HTML: " + ec.message() : "";
}
