#include "platform/messaging_center.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/run_loop.h"

namespace pelorin::platform {
namespace {

using namespace std::chrono_literals;

TEST(InProcessMessagingCenterTest, DeliversOnTheServingThreadAndFailsWithoutAServer) {
  auto centers = newInProcessMessagingCenters();
  setMessagingCenters(centers.get());
  auto client = CPDistributedMessagingCenter::centerNamed("com.talvern.Test");
  EXPECT_FALSE(client->sendMessageName("Hello", {}));

  auto server = CPDistributedMessagingCenter::centerNamed("com.talvern.Test");
  std::vector<std::pair<std::string, std::thread::id>> received;
  server->registerForMessageName("Hello", [&](const std::string& name, const Dictionary& info) {
    received.emplace_back(name + "=" + *info.at("who").asString(), std::this_thread::get_id());
  });
  ASSERT_TRUE(server->runServerOnCurrentThread());
  EXPECT_FALSE(
      CPDistributedMessagingCenter::centerNamed("com.talvern.Test")->runServerOnCurrentThread());

  std::thread sender([&] { EXPECT_TRUE(client->sendMessageName("Hello", {{"who", "client"}})); });
  sender.join();
  EXPECT_TRUE(client->sendMessageName("Unregistered", {}));
  EXPECT_TRUE(RunLoop::current()->runUntil([&] { return !received.empty(); }, 5s));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].first, "Hello=client");
  EXPECT_EQ(received[0].second, std::this_thread::get_id());
  setMessagingCenters(nullptr);
}

}  // namespace
}  // namespace pelorin::platform
