#pragma once
// How the core talks to the operator: message boxes, questions, status texts, opening a record
// for fixing, and running work on the user-interface thread. The GUI implements it with
// message boxes and status bars, the CLI with stderr and --yes/--no, tests with a scripted fake.
// Core code never opens a window or blocks on a terminal itself.
#include <functional>
#include <string>

class TDbCollectionItem;

enum class TMsgIcon { None, Error, Warning, Information, Question };
enum class TMsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class TMsgAnswer { Ok, Cancel, Yes, No };

class IOperator {
public:
  virtual ~IOperator() = default;
  // A modal message with one OK button.
  virtual void MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) = 0;
  // A question. SafeAnswer is the answer that loses and overwrites nothing; non-interactive
  // implementations fall back to it.
  virtual TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                         TMsgButtons buttons, TMsgAnswer safeAnswer) = 0;
  // A text for the status line of the calling window.
  virtual void StatusText(const std::string& text) = 0;
  // Shows record ID of collection Coll for fixing: an editor that already shows it comes to
  // the front, otherwise the collection's window opens on it.
  virtual void OpenRecord(TDbCollectionItem& coll, const std::string& id) = 0;
  // Runs Fn on the user-interface thread (worker threads report progress through it).
  virtual void RunOnUiThread(std::function<void()> fn) = 0;
};

// The operator of this process. Until one is set, a plain implementation that writes messages
// to stderr and answers every question with its safe answer.
IOperator& AppOperator();
void SetAppOperator(IOperator* op);

// Writes to stderr; answers questions from a fixed choice (--yes / --no) or the safe answer.
class TConsoleOperator : public IOperator {
public:
  enum class TAnswerMode { Safe, Yes, No };
  explicit TConsoleOperator(TAnswerMode mode = TAnswerMode::Safe) : FMode(mode) {}
  void MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) override;
  TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                 TMsgButtons buttons, TMsgAnswer safeAnswer) override;
  void StatusText(const std::string& text) override;
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override;
  void RunOnUiThread(std::function<void()> fn) override;

private:
  TAnswerMode FMode;
};
