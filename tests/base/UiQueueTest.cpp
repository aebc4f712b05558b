#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/UiQueue.h"

TEST(UiQueue, WorkRunsInOrderOnlyWhenPumped) {
  TUiQueue q;
  std::vector<int> seen;
  q.Post([&] { seen.push_back(1); });
  q.Post([&] { seen.push_back(2); });
  EXPECT_TRUE(seen.empty());
  q.Pump();
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  q.Pump();
  EXPECT_EQ(seen.size(), 2u);
}

TEST(UiQueue, WorkPostedWhilePumpingWaitsForTheNextPump) {
  TUiQueue q;
  std::vector<int> seen;
  q.Post([&] {
    seen.push_back(1);
    q.Post([&] { seen.push_back(2); });
  });
  q.Pump();
  EXPECT_EQ(seen, (std::vector<int>{1}));
  q.Pump();
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(UiQueue, PostingFromAnotherThreadLosesNothing) {
  TUiQueue q;
  std::atomic<bool> done{false};
  int count = 0;  // touched only by the pumping thread
  std::thread worker([&] {
    for (int i = 0; i < 20000; ++i) q.Post([&] { ++count; });
    done = true;
  });
  while (!done) q.Pump();
  worker.join();
  q.Pump();
  EXPECT_EQ(count, 20000);
}
