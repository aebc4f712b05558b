#include "base/UiQueue.h"

void TUiQueue::Post(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(FMutex);
  FQueue.push_back(std::move(fn));
}

void TUiQueue::Pump() {
  std::vector<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    work.swap(FQueue);
  }
  for (auto& fn : work) fn();
}
