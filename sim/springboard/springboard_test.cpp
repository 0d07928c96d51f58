// The home screen: its own handling of pushes in-process, and the host that
// pelorin-sim brings up beside the daemon host.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/alerts.h"
#include "platform/device_model.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temporary_root.h"
#include "sim/springboard/springboard.h"

namespace pelorin::sim {
namespace {

using platform::Dictionary;
using platform::testing::runProgram;

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
  struct Row {
    Dictionary userInfo;
    nlohmann::json alert;
  };
  const Row rows[] = {
      {{{"aps", Dictionary{{"alert", "Text from Bob:\nhi"}}}}, "Text from Bob:\nhi"},
      {{{"aps", Dictionary{{"alert", Dictionary{{"body", "structured"}, {"title", "T"}}}}}},
       "structured"},
      {{{"aps", Dictionary{{"alert", Dictionary{{"title", "no body"}}}}}}, nullptr},
      {{{"aps", "not a dictionary"}}, nullptr},
      {{}, nullptr},
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(springBoard_.deliverPush("com.example.chat", row.userInfo));
    EXPECT_EQ(springBoard_.banners().items().back(),
              (nlohmann::json{{"topic", "com.example.chat"}, {"alert", row.alert}}));
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

// ---- pelorin-sim ----

int pidIn(const std::string& file) {
  std::ifstream in(file);
  int pid = 0;
  in >> pid;
  return pid;
}

bool running(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (pid <= 0 || !std::getline(in, stat)) return false;
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// A file of NUL-separated entries (a process's command line or environment).
std::vector<std::string> entriesOf(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> entries;
  for (std::string entry; std::getline(in, entry, '\0');) entries.push_back(entry);
  return entries;
}

bool contains(const std::vector<std::string>& entries, const std::string& entry) {
  return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

class PelorinSimSpringBoardTest : public ::testing::Test {
 protected:
  ~PelorinSimSpringBoardTest() override {
    runProgram({PELORIN_SIM, "down", "--root", root_.folder()});
  }
  std::string state(const std::string& name) const {
    return root_.path("/var/run/pelorin-sim/" + name);
  }

  platform::testing::TemporaryRoot root_;
};

TEST_F(PelorinSimSpringBoardTest, UpStartsTheHomeScreenBesideTheDaemonAndDownStopsIt) {
  std::string output;
  ASSERT_EQ(runProgram({PELORIN_SIM, "up", "--root", root_.folder(), "--no-tweaks", "--model",
                        "iPad", "--no-iphone"},
                       &output),
            0)
      << output;
  const int daemon = pidIn(state("host.pid"));
  const int springBoard = pidIn(state("springboard.pid"));
  ASSERT_TRUE(running(daemon));
  ASSERT_TRUE(running(springBoard));

  // The daemon keeps its own options; the model goes to the home screen only.
  const auto daemonArgs = entriesOf("/proc/" + std::to_string(daemon) + "/cmdline");
  EXPECT_TRUE(contains(daemonArgs, "--no-iphone"));
  EXPECT_FALSE(contains(daemonArgs, "--model"));
  EXPECT_TRUE(contains(entriesOf("/proc/" + std::to_string(springBoard) + "/cmdline"), "iPad"));
  // Same bus and same root.
  const auto springBoardEnv = entriesOf("/proc/" + std::to_string(springBoard) + "/environ");
  for (const auto& entry : entriesOf("/proc/" + std::to_string(daemon) + "/environ")) {
    if (entry.starts_with("DBUS_SESSION_BUS_ADDRESS=") || entry.starts_with("PELORIN_ROOT=")) {
      EXPECT_TRUE(contains(springBoardEnv, entry)) << entry;
    }
  }

  ASSERT_EQ(runProgram({PELORIN_SIM, "down", "--root", root_.folder()}), 0);
  EXPECT_FALSE(running(springBoard));
  EXPECT_FALSE(running(daemon));
}

TEST_F(PelorinSimSpringBoardTest, NoSpringboardLeavesTheHomeScreenOut) {
  std::string output;
  ASSERT_EQ(
      runProgram({PELORIN_SIM, "up", "--root", root_.folder(), "--no-tweaks", "--no-springboard"},
                 &output),
      0)
      << output;
  EXPECT_TRUE(running(pidIn(state("host.pid"))));
  EXPECT_FALSE(std::filesystem::exists(state("springboard.pid")));
}

}  // namespace
}  // namespace pelorin::sim
