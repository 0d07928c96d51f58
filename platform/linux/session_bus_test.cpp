#include "platform/session_bus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/run_loop.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::platform {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

constexpr char kCenter[] = "com.talvern.PelorinSMSRecvCenter";

struct Received {
  std::string messageName;
  Dictionary userInfo;
  std::thread::id thread;
  bool operator==(const Received&) const = default;
};

class SessionBusTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bus_.started()) << "dbus-daemon could not be started"; }

  // Serves kCenter on this thread, recording every "SMSReceived".
  std::shared_ptr<CPDistributedMessagingCenter> serve() {
    auto center = centers_->centerNamed(kCenter);
    center->registerForMessageName("SMSReceived",
                                   [this](const std::string& name, const Dictionary& info) {
                                     received_.push_back({name, info, std::this_thread::get_id()});
                                   });
    EXPECT_TRUE(center->runServerOnCurrentThread());
    return center;
  }

  bool runUntilReceived(std::size_t count) {
    return RunLoop::current()->runUntil([&] { return received_.size() >= count; }, 10s);
  }

  testing::PrivateBus bus_;
  std::unique_ptr<MessagingCenterProvider> centers_ = newBusMessagingCenters();
  std::vector<Received> received_;
};

// Records from another process, from busctl (integers of any width) and
// from this process (every property-list kind) reach the serving thread.
TEST_F(SessionBusTest, MessagingCentreServedHere) {
  auto center = serve();
  EXPECT_FALSE(centers_->centerNamed(kCenter)->runServerOnCurrentThread());  // one owner
  EXPECT_FALSE(centers_->centerNamed("not a valid name")->runServerOnCurrentThread());
  const auto main = std::this_thread::get_id();

  ChildProcess client({BUS_PEER, "send", kCenter, "SMSReceived", "kSGSMSTextMessageKey=hello there",
                       "kSGSMSSenderPhoneKey=2125551212"});
  ASSERT_TRUE(runUntilReceived(1));
  EXPECT_EQ(client.readLine(), "sent");
  EXPECT_EQ(
      received_[0],
      (Received{"SMSReceived",
                {{"kSGSMSTextMessageKey", "hello there"}, {"kSGSMSSenderPhoneKey", "2125551212"}},
                main}));

  ChildProcess busctl({"busctl", "--user", "call", kCenter, "/com/talvern/PelorinSMSRecvCenter",
                       "com.talvern.platform.MessagingCenter", "Send", "sa{sv}", "SMSReceived", "2",
                       "kSGSMSTextMessageKey", "s", "hi", "kSGSMSSenderPhoneKey", "u",
                       "2125551212"});
  ASSERT_TRUE(runUntilReceived(2));
  EXPECT_EQ(received_[1].userInfo,
            (Dictionary{{"kSGSMSTextMessageKey", "hi"},
                        {"kSGSMSSenderPhoneKey", std::int64_t{2125551212}}}));

  const Dictionary info{{"text", "wörld"},
                        {"integer", std::int64_t{-4294901760}},
                        {"real", 2.5},
                        {"flag", true},
                        {"data", Data{0, 1, 255}},
                        {"date", Date{123.5}},
                        {"list", Array{"a", 1, Array{}}},
                        {"nested", Dictionary{{"inner", Dictionary{{"deep", false}}}}}};
  ASSERT_TRUE(centers_->centerNamed(kCenter)->sendMessageName("SMSReceived", info));
  ASSERT_TRUE(runUntilReceived(3));
  EXPECT_EQ(received_[2], (Received{"SMSReceived", info, main}));
}

TEST_F(SessionBusTest, MessagingCentreServedElsewhere) {
  auto client = centers_->centerNamed(kCenter);
  EXPECT_FALSE(client->sendMessageName("SMSReceived", {{"kSGSMSTextMessageKey", "lost"}}));

  ChildProcess server({BUS_PEER, "serve", kCenter, "SMSReceived"});
  ASSERT_TRUE(server.waitForLine("ready"));
  // A message without a handler is dropped; the next one still arrives.
  EXPECT_TRUE(client->sendMessageName("Unregistered", {}));
  EXPECT_TRUE(client->sendMessageName("SMSReceived", {{"kSGSMSTextMessageKey", "found"}}));
  EXPECT_EQ(server.readLine(), "SMSReceived kSGSMSTextMessageKey=found");

  // The owner is followed, not asked each time: gone, and back again.
  server.terminate();
  ASSERT_TRUE(bus_.waitForNameGone(kCenter));
  EXPECT_FALSE(client->sendMessageName("SMSReceived", {{"kSGSMSTextMessageKey", "lost"}}));
  ChildProcess again({BUS_PEER, "serve", kCenter, "SMSReceived"});
  ASSERT_TRUE(again.waitForLine("ready"));
  EXPECT_TRUE(client->sendMessageName("SMSReceived", {{"kSGSMSTextMessageKey", "back"}}));
  EXPECT_EQ(again.readLine(), "SMSReceived kSGSMSTextMessageKey=back");
}

using SessionBusConcurrencyTest = SessionBusTest;

// Threads share the client connection and what it follows of the owner.
TEST_F(SessionBusConcurrencyTest, MessagingCentreSendsFromManyThreadsAllArrive) {
  auto center = serve();
  std::atomic<int> sent{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      auto client = centers_->centerNamed(kCenter);
      for (int i = 0; i < 10; ++i) sent += client->sendMessageName("SMSReceived", {{"i", i}});
    });
  }
  const bool arrived = runUntilReceived(40);
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(arrived);
  EXPECT_EQ(sent.load(), 40);
}

// Other processes (and dbus-send) receive only the names they observe, in
// the order posted, and a callback may post and observe; each step shows in
// the watching process's output.
TEST_F(SessionBusTest, NotificationsReachTheObserversOfTheirName) {
  ChildProcess watcher({BUS_PEER, "watch", "test.a", "test.b", "test.c"});
  ChildProcess echo({BUS_PEER, "echo", "test.ping", "test.pong"});
  ASSERT_TRUE(watcher.waitForLine("ready") && echo.waitForLine("ready"));
  auto center = newBusDarwinNotifyCenter();
  auto* raw = center.get();
  const auto postC = [raw](const std::string&) { raw->postNotification("test.c"); };
  center->addObserver("test.pong", postC);
  center->addObserver("test.first", [raw, postC](const std::string&) {
    raw->addObserver("test.second", postC);
    raw->postNotification("test.second");
  });

  for (const char* name : {"test.unobserved", "test.a", "test.b"}) center->postNotification(name);
  ASSERT_EQ(testing::runProgram({"dbus-send", "--session", "--type=signal",
                                 "/com/talvern/platform/Notify", "com.talvern.platform.Notify.Post",
                                 "string:test.a"}),
            0);
  // One sender's signals arrive in order: an unobserved name would come first.
  EXPECT_EQ(watcher.readLine(), "test.a");
  EXPECT_EQ(watcher.readLine(), "test.b");
  EXPECT_EQ(watcher.readLine(), "test.a");
  center->postNotification("test.ping");  // the echo's pong comes back here
  EXPECT_EQ(watcher.readLine(), "test.c");
  center->postNotification("test.first");
  EXPECT_EQ(watcher.readLine(), "test.c");
}

TEST(SessionBusWithoutABusTest, EverythingDegradesQuietly) {
  testing::TemporaryRoot emptyRuntimeDir;
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  ::setenv("XDG_RUNTIME_DIR", emptyRuntimeDir.folder().c_str(), 1);
  EXPECT_FALSE(busReachable());

  int calls = 0;
  auto center = newBusDarwinNotifyCenter();
  center->addObserver("test.name", [&](const std::string&) { ++calls; });
  center->postNotification("test.name");
  auto messaging = newBusMessagingCenters()->centerNamed("com.talvern.TestCenter");
  EXPECT_FALSE(messaging->runServerOnCurrentThread());
  EXPECT_FALSE(messaging->sendMessageName("Message", {}));
  RunLoop::current()->runUntil([] { return false; }, 20ms);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace pelorin::platform
