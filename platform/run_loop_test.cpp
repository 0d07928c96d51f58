#include "platform/run_loop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace pelorin::platform {
namespace {

using namespace std::chrono_literals;

TEST(RunLoopConcurrencyTest, TasksFromOtherThreadsRunOnTheLoopThreadInOrder) {
  auto loop = RunLoop::current();
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  std::thread poster([loop, &order, &threads] {
    for (int i = 0; i < 3; ++i) {
      loop->perform([i, &order, &threads] {
        order.push_back(i);
        threads.push_back(std::this_thread::get_id());
      });
    }
    loop->perform([loop] { loop->stop(); });
  });
  loop->run();
  poster.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(RunLoopTest, RunUntilReportsTimeOutAndSourcesMayLeave) {
  auto loop = RunLoop::current();
  EXPECT_FALSE(loop->runUntil([] { return false; }, 20ms));

  // A source with a deadline and no descriptor runs until it asks to leave.
  struct Ticker final : RunLoop::Source {
    int ticks = 0;
    int fileDescriptor() override { return -1; }
    int events() override { return 0; }
    std::optional<std::chrono::steady_clock::time_point> deadline() override {
      return std::chrono::steady_clock::now();
    }
    bool dispatch() override { return ++ticks < 3; }
  };
  auto ticker = std::make_shared<Ticker>();
  loop->addSource(ticker);
  loop->runUntil([] { return false; }, 50ms);
  EXPECT_EQ(ticker->ticks, 3);
}

}  // namespace
}  // namespace pelorin::platform
