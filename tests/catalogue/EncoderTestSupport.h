#pragma once
// Pieces shared by the encoder's unit and integration tests.
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/UiQueue.h"
#include "support/TestSupport.h"

// A scripted operator whose "user-interface thread" is the test's thread: work posted from the
// encoder's worker waits until Pump runs it (posting and pumping may overlap).
class TUiQueueOperator : public TFakeOperator {
public:
  void RunOnUiThread(std::function<void()> fn) override { FQueue.Post(std::move(fn)); }
  void Pump() { FQueue.Pump(); }
  // Pumps until Done or TimeoutMs passed; true when Done.
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      Pump();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Pump();
    return done();
  }

private:
  TUiQueue FQueue;
};
