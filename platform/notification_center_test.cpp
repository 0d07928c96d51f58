#include "platform/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/testing/notification_recorder.h"

namespace pelorin::platform {
namespace {

TEST(NotificationCenterTest, ObserversSeeOnlyTheirNamesAndMayPostFromACallback) {
  auto center = newInProcessDarwinNotifyCenter();
  std::vector<std::string> seen;
  center->addObserver("a", [&](const std::string& name) {
    seen.push_back(name);
    center->postNotification("b");
  });
  center->addObserver("b", [&](const std::string& name) { seen.push_back(name); });
  center->addObserver("b", [&](const std::string&) { seen.push_back("b again"); });
  center->postNotification("a");
  center->postNotification("c");
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "b again"}));
}

TEST(NotificationCenterTest, LocalCentreDeliversTheUserInfoOnThePostingThread) {
  auto center = newInProcessLocalNotifyCenter();
  Dictionary received;
  std::thread::id where;
  center->addObserver("kCTMessageSentNotification",
                      [&](const std::string&, const Dictionary& info) {
                        received = info;
                        where = std::this_thread::get_id();
                      });
  std::thread poster([&] {
    center->postNotification("kCTMessageSentNotification", {{"kCTMessageIdKey", 7}});
  });
  const auto posterId = poster.get_id();
  poster.join();
  EXPECT_EQ(received, (Dictionary{{"kCTMessageIdKey", 7}}));
  EXPECT_EQ(where, posterId);
}

struct Carried final : NotificationObject {
  explicit Carried(int v) : value(v) {}
  int value;
};

// Observers of both kinds see one post; the objects reach the object-aware
// ones unchanged and shared.
TEST(NotificationCenterTest, LocalPostsCarryObjectsToObserversThatTakeThem) {
  testing::NotificationRecorder recorder;
  auto object = std::make_shared<Carried>(5);
  std::vector<std::string> seen;
  localNotifyCenter().addObserver("n", [&](const std::string&, const Dictionary& info) {
    seen.push_back("plain " + info.at("k").description());
  });
  localNotifyCenter().addObserverWithObjects(
      "n", [&](const std::string&, const Dictionary&, const NotificationObjects& objects) {
        auto it = objects.find("messages");
        if (it == objects.end()) {
          seen.push_back("none");
          return;
        }
        auto carried = std::dynamic_pointer_cast<Carried>(it->second.at(0));
        seen.push_back("objects " + std::to_string(carried ? carried->value : -1) +
                       (carried == object ? " shared" : " copied"));
      });
  localNotifyCenter().postNotificationWithObjects("n", {{"k", "v"}}, {{"messages", {object}}});
  localNotifyCenter().postNotification("n", {{"k", "w"}});
  EXPECT_EQ(seen, (std::vector<std::string>{"plain v", "objects 5 shared", "plain w", "none"}));
}

TEST(NotificationCenterTest, RecorderReplacesTheProcessCentresForItsLifetime) {
  int calls = 0;
  {
    testing::NotificationRecorder recorder;
    darwinNotifyCenter().addObserver("x", [&](const std::string&) { ++calls; });
    darwinNotifyCenter().postNotification("x");
    localNotifyCenter().postNotification("y", {{"k", "v"}});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(recorder.darwinPosts(), std::vector<std::string>{"x"});
    ASSERT_EQ(recorder.localPosts().size(), 1u);
    EXPECT_EQ(recorder.localPosts()[0].second, (Dictionary{{"k", "v"}}));
  }
  testing::NotificationRecorder another;
  darwinNotifyCenter().postNotification("x");
  EXPECT_EQ(calls, 1);
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
