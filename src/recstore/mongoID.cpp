#include "recstore/mongoID.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>

#include "base/StrUtils.h"

namespace {

uint32_t ReadMachinePart() {
  for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::ifstream f(file);
    std::string text;
    if (f && std::getline(f, text)) {
      uint32_t part;
      if (MachinePartFromMachineId(text, part)) return part;
    }
  }
  // No stable machine identifier: a random value keeps identifiers of this process apart
  // from other machines' all the same.
  std::random_device rd;
  return rd() & 0xFFFFFFu;
}

uint32_t CounterStart() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return static_cast<uint32_t>(ms) & 0x0FFFFFFFu;
}

const uint32_t GMachinePart = ReadMachinePart();
std::atomic<uint32_t> GCounter{CounterStart()};

uint32_t ThreadPart() { return static_cast<uint32_t>(::syscall(SYS_gettid)) & 0xFFFFu; }

}  // namespace

bool MachinePartFromMachineId(const std::string& text, uint32_t& part) {
  if (text.size() < 6) return false;
  uint32_t v = 0;
  for (int i = 0; i < 6; ++i) {
    int d = HexValue(text[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  part = v;
  return true;
}

std::string FormatObjectID(uint32_t seconds, uint32_t machine, uint32_t thread, uint32_t counter) {
  static const char hex[] = "0123456789abcdef";
  std::string out(24, '0');
  auto put = [&](int pos, int width, uint32_t value) {
    for (int i = width - 1; i >= 0; --i) {
      out[static_cast<size_t>(pos + i)] = hex[value & 15];
      value >>= 4;
    }
  };
  put(0, 8, seconds);
  put(8, 6, machine & 0xFFFFFFu);
  put(14, 4, thread & 0xFFFFu);
  put(18, 6, counter & 0xFFFFFFu);
  return out;
}

uint32_t ObjectIDMachinePart() { return GMachinePart; }

void SetObjectIDCounter(uint32_t value) { GCounter.store(value); }

std::string NewObjectID() {
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
  uint32_t counter = GCounter.fetch_add(1) + 1;
  return FormatObjectID(static_cast<uint32_t>(secs), GMachinePart, ThreadPart(), counter);
}
