#pragma once
// Shared pieces of the unit tests: a scripted operator that records what it was told and asked,
// and a temporary folder that removes itself.
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/Operator.h"

struct TRecordedMessage {
  std::string Caption;
  std::string Text;
  TMsgIcon Icon;
  bool Question;
};

class TFakeOperator : public IOperator {
public:
  std::vector<TRecordedMessage> Messages;
  std::vector<std::string> Statuses;
  std::vector<std::pair<std::string, std::string>> Opened;  // collection name, id
  std::deque<TMsgAnswer> Answers;  // answers to the next questions; safe answer when empty
  std::vector<std::function<void()>> Queued;  // work posted to the "UI thread"

  void MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) override;
  TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                 TMsgButtons buttons, TMsgAnswer safeAnswer) override;
  void StatusText(const std::string& text) override;
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override;
  void RunOnUiThread(std::function<void()> fn) override;
  void RunQueued();
  // Texts of every message and question so far.
  std::vector<std::string> Texts() const;
};

// Installs a fake operator as the process operator for the lifetime of the object.
class TScopedFakeOperator : public TFakeOperator {
public:
  TScopedFakeOperator();
  ~TScopedFakeOperator() override;
};

class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  const std::filesystem::path& Path() const { return FPath; }
  std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
  std::filesystem::path FPath;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// One run of pelmora-cli in folder Dir with Args (shell words) and Input on stdin.
struct TCliRun {
  int Code;
  std::string Out;
  std::string Err;
};
TCliRun RunCliIn(const std::filesystem::path& dir, const std::string& args,
                 const std::string& input = "");
inline TCliRun RunCliIn(const TTempDir& dir, const std::string& args,
                        const std::string& input = "") {
  return RunCliIn(dir.Path(), args, input);
}

// The demo head-end in the source tree: its records and its portal templates.
std::string DemoRecordsDir();
// A new project file Project holding the demo's records and portal records, with the demo's
// portal templates copied into Dir (the project's folder): "" or what failed.
std::string ImportDemoProject(const TTempDir& dir, const std::string& project);

// While one lives, every file write of this process beyond a few bytes fails with "File too
// large" (a file size limit, SIGXFSZ ignored): the real write path meets a real error, as on a
// full disk, with no hook in the program.
struct TFailingWrites {
  TFailingWrites();
  ~TFailingWrites();
  TFailingWrites(const TFailingWrites&) = delete;
  TFailingWrites& operator=(const TFailingWrites&) = delete;
  // The reason a failed write gives.
  static std::string Reason();

private:
  unsigned long long FSoft = 0;
};

// Noon (local time) of a day, for tests that inject a clock.
std::time_t LocalNoon(int year, int month, int day);
