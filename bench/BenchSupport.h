#pragma once
// Small helpers shared by the benchmark programs.
#include <algorithm>
#include <chrono>
#include <vector>

// Median wall time of Runs calls of F, in milliseconds.
template <typename F>
double MedianMs(F&& f, int runs) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    auto a = std::chrono::steady_clock::now();
    f();
    t.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}
