#include "base/Operator.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>

namespace {
std::atomic<IOperator*> GOperator{nullptr};

const char* IconWord(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Error: return "error";
    case TMsgIcon::Warning: return "warning";
    case TMsgIcon::Information: return "information";
    case TMsgIcon::Question: return "question";
    default: return "message";
  }
}

std::mutex GConsoleMutex;
}  // namespace

IOperator& AppOperator() {
  static TConsoleOperator fallback;
  IOperator* op = GOperator.load();
  return op ? *op : fallback;
}

void SetAppOperator(IOperator* op) { GOperator.store(op); }

void TConsoleOperator::MessageBox(const std::string& caption, const std::string& text,
                                  TMsgIcon icon) {
  std::lock_guard<std::mutex> lock(GConsoleMutex);
  if (caption.empty() || caption == text)
    std::cerr << IconWord(icon) << ": " << text << std::endl;
  else
    std::cerr << caption << ": " << text << std::endl;
}

TMsgAnswer TConsoleOperator::Ask(const std::string& caption, const std::string& text,
                                 TMsgIcon icon, TMsgButtons buttons, TMsgAnswer safeAnswer) {
  TMsgAnswer answer = safeAnswer;
  bool yesNo = buttons == TMsgButtons::YesNo || buttons == TMsgButtons::YesNoCancel;
  if (FMode == TAnswerMode::Yes) answer = yesNo ? TMsgAnswer::Yes : TMsgAnswer::Ok;
  if (FMode == TAnswerMode::No) answer = yesNo ? TMsgAnswer::No : TMsgAnswer::Cancel;
  static const char* names[] = {"OK", "Cancel", "Yes", "No"};
  std::lock_guard<std::mutex> lock(GConsoleMutex);
  std::cerr << (caption.empty() ? "question" : caption) << ": " << text << " -> "
            << names[static_cast<int>(answer)] << std::endl;
  return answer;
}

void TConsoleOperator::StatusText(const std::string& text) {
  std::lock_guard<std::mutex> lock(GConsoleMutex);
  std::cerr << text << std::endl;
}

void TConsoleOperator::OpenRecord(TDbCollectionItem&, const std::string&) {
  // Nothing to open without windows; the message already named the record.
}

void TConsoleOperator::RunOnUiThread(std::function<void()> fn) {
  // The console has no event loop of its own: run the work at once, one caller at a time.
  static std::recursive_mutex uiMutex;
  std::lock_guard<std::recursive_mutex> lock(uiMutex);
  fn();
}
