#include "platform/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace pelorin::platform {
namespace {

// Observers see only their names, in the order added, and may post from a
// callback. Local posts deliver their user info on the posting thread, and
// their objects, shared, to the observers that take them.
TEST(NotificationCenterTest, ObserversSeeTheirNamesUserInfoAndObjects) {
  auto darwin = newInProcessDarwinNotifyCenter();
  std::vector<std::string> seen;
  darwin->addObserver("a", [&](const std::string& name) {
    seen.push_back(name);
    darwin->postNotification("b");
  });
  darwin->addObserver("b", [&](const std::string& name) { seen.push_back(name); });
  darwin->addObserver("b", [&](const std::string&) { seen.push_back("b again"); });
  darwin->postNotification("a");
  darwin->postNotification("c");
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "b again"}));

  auto local = newInProcessLocalNotifyCenter();
  const auto object = std::make_shared<NotificationObject>();
  std::vector<std::thread::id> threads;
  seen.clear();
  local->addObserver("n", [&](const std::string&, const Dictionary& info) {
    seen.push_back("plain " + info.at("k").description());
    threads.push_back(std::this_thread::get_id());
  });
  local->addObserverWithObjects(
      "n", [&](const std::string&, const Dictionary&, const NotificationObjects& objects) {
        const auto it = objects.find("messages");
        seen.push_back(it == objects.end() ? "none" : it->second.at(0) == object ? "shared" : "?");
      });
  std::thread poster([&] {
    local->postNotificationWithObjects("n", {{"k", "v"}}, {{"messages", {object}}});
    local->postNotification("n", {{"k", "w"}});
  });
  const auto posterId = poster.get_id();
  poster.join();
  EXPECT_EQ(seen, (std::vector<std::string>{"plain v", "shared", "plain w", "none"}));
  EXPECT_EQ(threads, (std::vector<std::thread::id>{posterId, posterId}));
}

TEST(NotificationCenterConcurrencyTest, PostsAndObserversFromManyThreads) {
  auto center = newInProcessDarwinNotifyCenter();
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        center->addObserver("n", [&](const std::string&) { ++calls; });
        center->postNotification("n");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_GE(calls.load(), 800);
}

}  // namespace
}  // namespace pelorin::platform
