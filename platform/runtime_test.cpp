#include "platform/runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace pelorin::platform::runtime {
namespace {

// A host class with one replaceable method, as hosts declare theirs.
struct Counter {
  using Add = int(Counter&, int);
  int base = 0;
  static int originalAdd(Counter& self, int amount) { return self.base + amount; }
};

std::atomic<Counter::Add*> savedAdd{nullptr};
int doublingAdd(Counter& self, int amount) {
  return 2 * savedAdd.load()(self, amount);
}

// Lookups give nothing for what is missing or mistyped; a replacement sees
// the host's calls and calls through to the implementation it replaced.
TEST(RuntimeTest, ReplacementSeesHostCallsAndCallsThroughToTheSavedImplementation) {
  MethodSlot<Counter::Add> slot;
  Counter counter{10};
  EXPECT_EQ(slot.call(&Counter::originalAdd, counter, 1), 11);  // not registered yet: direct
  slot.registerIn("RuntimeTestHook", "add:", &Counter::originalAdd);
  Method* method = getInstanceMethod(getClass("RuntimeTestHook"), "add:");
  ASSERT_NE(method, nullptr);
  EXPECT_EQ(getClass("RuntimeTestNoSuchClass"), nullptr);
  EXPECT_EQ(getInstanceMethod(nullptr, "add:"), nullptr);
  EXPECT_EQ(getInstanceMethod(getClass("RuntimeTestHook"), "subtract:"), nullptr);
  EXPECT_EQ(getImplementation(nullptr), nullptr);
  EXPECT_EQ(setImplementation(nullptr, getImplementation(method)), nullptr);
  EXPECT_EQ(setImplementation(method, nullptr), nullptr);
  // A replacement of another C++ type is refused rather than called.
  EXPECT_FALSE((TypedMethod<long(Counter&, long)>::find("RuntimeTestHook", "add:")));
  std::atomic<Counter::Add*> unused{nullptr};
  EXPECT_FALSE(hookMethod<Counter::Add>("RuntimeTestNoSuchClass", "add:", &doublingAdd, unused));
  EXPECT_EQ(unused.load(), nullptr);

  ASSERT_TRUE(hookMethod<Counter::Add>("RuntimeTestHook", "add:", &doublingAdd, savedAdd));
  EXPECT_EQ(savedAdd.load(), &Counter::originalAdd);
  EXPECT_EQ(slot.call(&Counter::originalAdd, counter, 1), 22);
  // Registering again (a second host object) keeps the replacement.
  slot.registerIn("RuntimeTestHook", "add:", &Counter::originalAdd);
  EXPECT_EQ(slot.call(&Counter::originalAdd, counter, 1), 22);
  // The untyped operations: set returns the previous implementation.
  EXPECT_EQ(setImplementation(method, reinterpret_cast<Implementation>(&Counter::originalAdd)),
            reinterpret_cast<Implementation>(&doublingAdd));
  EXPECT_EQ(slot.call(&Counter::originalAdd, counter, 1), 11);
}

std::atomic<Counter::Add*> savedConcurrentAdd{nullptr};
int plusThousandAdd(Counter& self, int amount) {
  return 1000 + savedConcurrentAdd.load()(self, amount);
}

TEST(RuntimeConcurrencyTest, ReplacingWhileOtherThreadsCallNeverLosesOrTearsACall) {
  MethodSlot<Counter::Add> slot;
  slot.registerIn("RuntimeTestConcurrent", "add:", &Counter::originalAdd);
  std::atomic<bool> replaced{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 3; ++t) {
    callers.emplace_back([&] {
      Counter counter{0};
      for (int i = 0; i < 20000; ++i) {
        const bool hookedBefore = replaced.load();
        const int result = slot.call(&Counter::originalAdd, counter, 1);
        if (result != 1 && result != 1001) ++wrong;
        if (hookedBefore && result != 1001) ++wrong;
      }
    });
  }
  ASSERT_TRUE(hookMethod<Counter::Add>("RuntimeTestConcurrent", "add:", &plusThousandAdd,
                                       savedConcurrentAdd));
  replaced.store(true);
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace pelorin::platform::runtime
