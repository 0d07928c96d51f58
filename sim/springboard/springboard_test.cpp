// The home screen in-process: its own handling of pushes, its banners and
// alerts (sim_tools_test runs the host with pelorin-sim).
#include <gtest/gtest.h>

#include <thread>

#include "platform/alerts.h"
#include "platform/device_model.h"
#include "sim/springboard/springboard.h"

namespace pelorin::sim {
namespace {

using platform::Dictionary;

class SpringBoardTest : public ::testing::Test {
 protected:
  SpringBoardTest() { springBoard_.start(); }
  ~SpringBoardTest() override { platform::setDeviceModel("iPhone"); }

  std::vector<nlohmann::json> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

  std::mutex mutex_;
  std::vector<nlohmann::json> events_;  // guarded by mutex_
  SpringBoard springBoard_{{.model = "iPad"}, [this](const nlohmann::json& event) {
                             std::lock_guard lock(mutex_);
                             events_.push_back(event);
                           }};
};

TEST_F(SpringBoardTest, EveryPushNoTweakTakesIsShownAsABanner) {
  EXPECT_EQ(platform::deviceModel(), "iPad");
  const std::pair<Dictionary, nlohmann::json> rows[] = {
      {{{"aps", Dictionary{{"alert", "Text from Bob:\nhi"}}}}, "Text from Bob:\nhi"},
      {{{"aps", Dictionary{{"alert", Dictionary{{"body", "structured"}, {"title", "T"}}}}}},
       "structured"},
      {{{"aps", Dictionary{{"alert", Dictionary{{"title", "no body"}}}}}}, nullptr},
      {{{"aps", "not a dictionary"}}, nullptr},
      {{}, nullptr},
  };
  for (const auto& [userInfo, alert] : rows) {
    EXPECT_TRUE(springBoard_.deliverPush("com.example.chat", userInfo));
    EXPECT_EQ(springBoard_.banners().items().back(),
              (nlohmann::json{{"topic", "com.example.chat"}, {"alert", alert}}));
  }
  EXPECT_EQ(springBoard_.banners().items().size(), std::size(rows));
  EXPECT_EQ(events().size(), 2 * std::size(rows));  // a banner and its push each
}

// The newest thousand banners are kept, and listed in pages.
TEST_F(SpringBoardTest, BannersKeepTheNewestThousandListedInPages) {
  for (int i = 0; i < 1002; ++i) {
    const Dictionary aps{{"alert", std::to_string(i)}};
    ASSERT_TRUE(springBoard_.deliverPush("com.example.chat", {{"aps", aps}})) << i;
  }
  struct Row {
    std::uint32_t offset, limit;
    std::size_t count;
    const char* first;
    bool more;
  };
  const Row rows[] = {
      {0, 0, 100, "2", true},
      {0, 5000, 1000, "2", false},
      {990, 0, 10, "992", false},
      {998, 1, 1, "1000", true},
      {999, 1, 1, "1001", false},
      {1000, 5, 0, nullptr, false},
      {4000000000u, 1, 0, nullptr, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.offset) + "+" + std::to_string(row.limit));
    const auto page = nlohmann::json::parse(springBoard_.banners().page(row.offset, row.limit));
    EXPECT_EQ(page["offset"], row.offset);
    EXPECT_EQ(page["total"], 1000);
    EXPECT_EQ(page["more"], row.more);
    ASSERT_EQ(page["items"].size(), row.count);
    if (row.first) {
      EXPECT_EQ(page["items"][0]["alert"], row.first);
    }
  }
}

// Alerts come from any thread (the notification thread among them) and are
// kept whole, each thread's in its order.
TEST_F(SpringBoardTest, ConcurrencyOfAlertsFromManyThreads) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) {
        platform::showAlert({"T" + std::to_string(t), std::to_string(i), {"Dismiss"}});
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto alerts = springBoard_.alerts().items();
  ASSERT_EQ(alerts.size(), 200u);
  std::map<std::string, int> next;
  for (const auto& alert : alerts) {
    EXPECT_EQ(alert["message"], std::to_string(next[alert["title"]]++));
  }
  EXPECT_EQ(events().size(), 200u);
}

}  // namespace
}  // namespace pelorin::sim
