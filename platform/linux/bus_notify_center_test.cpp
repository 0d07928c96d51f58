#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/run_loop.h"
#include "platform/session_bus.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::platform {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

// Names observed by a centre of this process, and the threads they arrived on.
class Arrivals {
 public:
  DarwinNotifyCenter::Callback recorder() {
    return [this](const std::string& name) {
      std::lock_guard lock(mutex_);
      names_.push_back(name);
      threads_.push_back(std::this_thread::get_id());
      changed_.notify_all();
    };
  }

  bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return names_.size() >= count; });
  }

  std::vector<std::string> names() {
    std::lock_guard lock(mutex_);
    return names_;
  }
  std::vector<std::thread::id> threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> names_;
  std::vector<std::thread::id> threads_;
};

class BusNotifyCenterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bus_.started()) << "dbus-daemon could not be started"; }
  testing::PrivateBus bus_;
};

TEST_F(BusNotifyCenterTest, OtherProcessesReceiveOnlyTheNamesTheyObserve) {
  ChildProcess watcher({BUS_PEER, "watch", "test.a", "test.b"});
  ASSERT_TRUE(watcher.waitForLine("ready"));
  auto center = newBusDarwinNotifyCenter();
  for (const char* name : {"test.unobserved", "test.a", "test.b", "test.a"}) {
    center->postNotification(name);
  }
  // One sender's signals arrive in order, so an unobserved name delivered
  // would have come first.
  EXPECT_EQ(watcher.readLine(), "test.a");
  EXPECT_EQ(watcher.readLine(), "test.b");
  EXPECT_EQ(watcher.readLine(), "test.a");
}

TEST_F(BusNotifyCenterTest, NotificationsCrossBothWaysAndArriveOnTheNotificationThread) {
  Arrivals arrivals;
  auto center = newBusDarwinNotifyCenter();
  center->addObserver("test.pong", arrivals.recorder());
  ChildProcess echo({BUS_PEER, "echo", "test.ping", "test.pong"});
  ASSERT_TRUE(echo.waitForLine("ready"));

  center->postNotification("test.ping");

  ASSERT_TRUE(arrivals.waitFor(1));
  EXPECT_EQ(arrivals.names(), std::vector<std::string>{"test.pong"});
  EXPECT_NE(arrivals.threads()[0], std::this_thread::get_id());
}

TEST_F(BusNotifyCenterTest, ASignalPostedByDbusSendArrives) {
  Arrivals arrivals;
  auto center = newBusDarwinNotifyCenter();
  center->addObserver("com.talvern.PelorinSettingsNotification", arrivals.recorder());
  const auto status = testing::runProgram(
      {"dbus-send", "--session", "--type=signal", "/com/talvern/platform/Notify",
       "com.talvern.platform.Notify.Post", "string:com.talvern.PelorinSettingsNotification"});
  ASSERT_EQ(status, 0);
  ASSERT_TRUE(arrivals.waitFor(1));
  EXPECT_EQ(arrivals.names()[0], "com.talvern.PelorinSettingsNotification");
}

TEST_F(BusNotifyCenterTest, ACallbackMayPostAndObserveWithoutDeadlock) {
  Arrivals arrivals;
  auto center = newBusDarwinNotifyCenter();
  auto* raw = center.get();
  center->addObserver("test.first", [raw, &arrivals](const std::string&) {
    raw->addObserver("test.second", arrivals.recorder());
    raw->postNotification("test.second");
  });
  center->postNotification("test.first");
  ASSERT_TRUE(arrivals.waitFor(1));
  EXPECT_EQ(arrivals.names()[0], "test.second");
}

TEST(BusWithoutSessionTest, CentresDegradeQuietlyWithoutABus) {
  testing::TemporaryRoot emptyRuntimeDir;
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  ::setenv("XDG_RUNTIME_DIR", emptyRuntimeDir.folder().c_str(), 1);
  EXPECT_FALSE(busReachable());

  int calls = 0;
  auto center = newBusDarwinNotifyCenter();
  center->addObserver("test.name", [&](const std::string&) { ++calls; });
  center->postNotification("test.name");

  auto centers = newBusMessagingCenters();
  auto messaging = centers->centerNamed("com.talvern.TestCenter");
  EXPECT_FALSE(messaging->runServerOnCurrentThread());
  EXPECT_FALSE(messaging->sendMessageName("Message", {}));
  RunLoop::current()->runUntil([] { return false; }, 20ms);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace pelorin::platform
