#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "recstore/mongoID.h"

TEST(NewObjectID, LayoutOfTheFourFields) {
  EXPECT_EQ(FormatObjectID(0x5649a6e0, 0xabcdef, 0x1234, 0x000001), "5649a6e0abcdef1234000001");
  // Each field keeps its width; wider values are cut to it.
  EXPECT_EQ(FormatObjectID(1, 0x1abcdef, 0x12345, 0x1000002), "00000001abcdef2345000002");
  uint32_t part = 0;
  EXPECT_TRUE(MachinePartFromMachineId("0f3a9c11e2d44b6c8a2f", part));
  EXPECT_EQ(part, 0x0f3a9cu);
  EXPECT_FALSE(MachinePartFromMachineId("0f3a9", part));
  EXPECT_FALSE(MachinePartFromMachineId("zz3a9c11", part));
}

TEST(NewObjectID, SameThreadSameSecondDiffersInTheCounterOnly) {
  std::string a, b;
  for (int attempt = 0; attempt < 10; ++attempt) {
    a = NewObjectID();
    b = NewObjectID();
    if (a.substr(0, 8) == b.substr(0, 8)) break;  // retry across a second boundary
  }
  ASSERT_EQ(a.size(), 24u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(a.substr(0, 18), b.substr(0, 18));
  EXPECT_EQ(std::stoul(b.substr(18), nullptr, 16), (std::stoul(a.substr(18), nullptr, 16) + 1) & 0xFFFFFF);
  // The seconds are the current UTC time.
  auto now = std::chrono::duration_cast<std::chrono::seconds>(
                 std::chrono::system_clock::now().time_since_epoch()).count();
  long secs = static_cast<long>(std::stoul(a.substr(0, 8), nullptr, 16));
  EXPECT_LE(std::labs(secs - static_cast<long>(now)), 2);
}

TEST(NewObjectID, CounterWrapsInTheLastSixDigits) {
  SetObjectIDCounter(0xFFFFFE);
  std::string a = NewObjectID();  // counter ffffff
  std::string b = NewObjectID();  // counter 1000000 -> 000000
  EXPECT_EQ(a.substr(18), "ffffff");
  EXPECT_EQ(b.substr(18), "000000");
  EXPECT_EQ(a.substr(8, 10), b.substr(8, 10));  // machine and thread parts untouched
}

TEST(NewObjectID, ThreadsNeverCollide) {
  std::vector<std::vector<std::string>> made(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&made, t] {
      for (int i = 0; i < 5000; ++i) made[static_cast<size_t>(t)].push_back(NewObjectID());
    });
  for (auto& th : threads) th.join();
  std::set<std::string> all;
  for (auto& v : made) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 20000u);
}
