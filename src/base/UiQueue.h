#pragma once
// Work posted from worker threads for the user-interface thread of a program without an event
// loop of its own (the command-line tool, tests, benchmarks): Post from any thread, Pump on the
// thread that plays the user-interface thread. Posting and pumping may overlap.
#include <functional>
#include <mutex>
#include <vector>

class TUiQueue {
public:
  void Post(std::function<void()> fn);
  // Runs what was posted so far, in order; work posted meanwhile waits for the next Pump.
  void Pump();

private:
  std::mutex FMutex;
  std::vector<std::function<void()>> FQueue;
};
