#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/run_loop.h"
#include "platform/session_bus.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"

namespace pelorin::platform {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

constexpr char kCenter[] = "com.talvern.PelorinSMSRecvCenter";

struct Received {
  std::string messageName;
  Dictionary userInfo;
  std::thread::id thread;
};

class BusMessagingCenterTest : public ::testing::Test {
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

TEST_F(BusMessagingCenterTest, ARecordFromAClientProcessReachesTheServingThread) {
  auto center = serve();
  ChildProcess client({BUS_PEER, "send", kCenter, "SMSReceived", "kSGSMSTextMessageKey=hello there",
                       "kSGSMSSenderPhoneKey=2125551212"});
  ASSERT_TRUE(runUntilReceived(1));
  EXPECT_EQ(client.readLine(), "sent");
  EXPECT_EQ(received_[0].messageName, "SMSReceived");
  EXPECT_EQ(received_[0].userInfo, (Dictionary{{"kSGSMSTextMessageKey", "hello there"},
                                               {"kSGSMSSenderPhoneKey", "2125551212"}}));
  EXPECT_EQ(received_[0].thread, std::this_thread::get_id());
}

TEST_F(BusMessagingCenterTest, ASendReachesAServerProcessAndFailsWhenNoneRuns) {
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

using BusMessagingCenterConcurrencyTest = BusMessagingCenterTest;

// Threads share the client connection and what it follows of the owner.
TEST_F(BusMessagingCenterConcurrencyTest, SendsFromManyThreadsAllArrive) {
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

TEST_F(BusMessagingCenterTest, BusctlCanDeliverARecord) {
  auto center = serve();
  std::string output;
  std::thread busctl([&] {
    testing::runProgram(
        {"busctl", "--user", "call", kCenter, "/com/talvern/PelorinSMSRecvCenter",
         "com.talvern.platform.MessagingCenter", "Send", "sa{sv}", "SMSReceived", "2",
         "kSGSMSTextMessageKey", "s", "hi", "kSGSMSSenderPhoneKey", "u", "2125551212"},
        &output);
  });
  const bool delivered = runUntilReceived(1);
  busctl.join();
  ASSERT_TRUE(delivered) << output;
  EXPECT_EQ(received_[0].userInfo,
            (Dictionary{{"kSGSMSTextMessageKey", "hi"},
                        {"kSGSMSSenderPhoneKey", std::int64_t{2125551212}}}));
}

TEST_F(BusMessagingCenterTest, EveryPropertyListKindTravels) {
  auto center = serve();
  const Dictionary info{{"text", "wörld"},
                        {"integer", std::int64_t{-4294901760}},
                        {"real", 2.5},
                        {"flag", true},
                        {"data", Data{0, 1, 255}},
                        {"date", Date{123.5}},
                        {"list", Array{"a", 1, Array{}}},
                        {"nested", Dictionary{{"inner", Dictionary{{"deep", false}}}}}};
  ASSERT_TRUE(centers_->centerNamed(kCenter)->sendMessageName("SMSReceived", info));
  ASSERT_TRUE(runUntilReceived(1));
  EXPECT_EQ(received_[0].userInfo, info);
}

TEST_F(BusMessagingCenterTest, OnlyOneProcessServesAName) {
  ChildProcess server({BUS_PEER, "serve", kCenter, "SMSReceived"});
  ASSERT_TRUE(server.waitForLine("ready"));
  EXPECT_FALSE(centers_->centerNamed(kCenter)->runServerOnCurrentThread());
  EXPECT_FALSE(centers_->centerNamed("not a valid name")->runServerOnCurrentThread());
}

}  // namespace
}  // namespace pelorin::platform
