// The stand-in bootstrap unlock library, installed as
// <root>/usr/lib/librocketbootstrap.so. On Linux the session bus already lets
// any process reach a centre, so both functions only count their calls (and
// remember the last name unlocked) for tests to read.
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/rocketbootstrap.h"

namespace {

std::atomic<unsigned> applyCalls{0};
std::atomic<unsigned> unlockCalls{0};
std::mutex lastNameMutex;
std::string lastUnlocked;  // guarded by lastNameMutex

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void rocketbootstrap_distributedmessagingcenter_apply(
    pelorin::platform::CPDistributedMessagingCenter*) {
  ++applyCalls;
}

__attribute__((visibility("default"))) int rocketbootstrap_unlock(const char* serviceName) {
  ++unlockCalls;
  std::lock_guard lock(lastNameMutex);
  lastUnlocked = serviceName ? serviceName : "";
  return 0;
}

// How often "apply" or "unlock" was called in this process.
__attribute__((visibility("default"))) unsigned pelorin_rocketbootstrap_calls(
    const char* function) {
  if (function && std::strcmp(function, "apply") == 0) return applyCalls.load();
  if (function && std::strcmp(function, "unlock") == 0) return unlockCalls.load();
  return 0;
}

// Copies the last name unlocked (NUL-terminated, cut to `size`).
__attribute__((visibility("default"))) void pelorin_rocketbootstrap_last_unlocked(char* out,
                                                                                  unsigned size) {
  if (out == nullptr || size == 0) return;
  std::lock_guard lock(lastNameMutex);
  std::strncpy(out, lastUnlocked.c_str(), size - 1);
  out[size - 1] = '\0';
}
}
