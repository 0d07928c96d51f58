// Hestrel.so in the real home-screen host and Quenlow.so in the real daemon
// host, on a private bus, with the stand-in Google Voice service: pushes are
// delivered and alerts read through pelorinctl, as a person would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "platform/tweak_loader.h"
#include "service/testing/gv_service_process.h"

namespace pelorin::testing {
namespace {

using nlohmann::json;
using platform::testing::ChildProcess;
using Service = service::testing::GvServiceProcess;

class HestrelEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    ASSERT_TRUE(service_.running());
    setenv("PELORIN_GV_URL", service_.baseURL().c_str(), 1);
    setenv("PELORIN_GV_CACERT", service_.caFile().c_str(), 1);
    const std::string folder = root_.path(std::string(platform::kTweakFolder));
    std::filesystem::create_directories(folder);
    for (const char* file : {HESTREL_SO, HESTREL_PLIST, QUENLOW_SO, QUENLOW_PLIST}) {
      std::filesystem::copy_file(file,
                                 folder + "/" + std::filesystem::path(file).filename().string());
    }
    std::filesystem::create_directories(root_.path("/usr/lib"));
    std::filesystem::copy_file(ROCKETBOOTSTRAP, root_.path("/usr/lib/librocketbootstrap.so"));
  }
  void TearDown() override {
    springBoard_.reset();
    daemon_.reset();
    unsetenv("PELORIN_GV_URL");
    unsetenv("PELORIN_GV_CACERT");
  }

  void writeSettings(platform::Dictionary extra = {}) {
    platform::Dictionary settings{{"username", Service::kUser},
                                  {"password", Service::kPassword},
                                  {"phoneNumber", "(415) 555-0100"},
                                  {"enableLogging", true}};
    for (auto& [key, value] : extra) settings[key] = value;
    ASSERT_TRUE(platform::writePropertyListAtomically(root_.path(std::string(kSettingsFile)),
                                                      platform::Value(settings)));
  }

  static std::unique_ptr<ChildProcess> startHost(std::vector<std::string> argv,
                                                 const std::string& tweak) {
    argv.insert(argv.end(), {"--json-events", "-"});
    auto host = std::make_unique<ChildProcess>(argv);
    auto loaded = nextEvent(
        *host, [&](const json& e) { return e["event"] == "tweak" && e["name"] == tweak; });
    EXPECT_TRUE(loaded && (*loaded)["loaded"] == true) << (loaded ? loaded->dump() : "no event");
    EXPECT_TRUE(nextEvent(*host, [](const json& e) { return e["event"] == "ready"; }));
    return host;
  }
  void startDaemon(std::vector<std::string> options = {}) {
    options.insert(options.begin(), DAEMON_HOST);
    daemon_ = startHost(options, "Quenlow");
  }
  void startSpringBoard(std::vector<std::string> options = {}) {
    options.insert(options.begin(), SPRINGBOARD_HOST);
    springBoard_ = startHost(options, "Hestrel");
  }

  static std::optional<json> nextEvent(ChildProcess& host,
                                       const std::function<bool(const json&)>& wanted) {
    while (auto line = host.readLine(std::chrono::seconds(20))) {
      json event = json::parse(*line, nullptr, false);
      if (wanted(event)) return event;
    }
    return std::nullopt;
  }

  // The next message the daemon stored as received.
  std::optional<json> nextReceived() {
    auto event = nextEvent(*daemon_, [](const json& e) {
      return e.contains("message") && e["message"]["direction"] == "incoming";
    });
    return event ? std::optional<json>((*event)["message"]) : std::nullopt;
  }

  // pelorinctl's output (trimmed), with its exit status checked.
  std::string pelorinctl(const std::vector<std::string>& arguments, int expectedStatus = 0) {
    std::vector<std::string> argv{PELORINCTL};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    EXPECT_EQ(platform::testing::runProgram(argv, &output), expectedStatus) << output;
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
  }

  // The alerts as pelorinctl lists them, without their host and kind.
  json alerts() {
    json list = json::array();
    std::istringstream lines(pelorinctl({"alerts", "--json"}));
    for (std::string line; std::getline(lines, line);) {
      json alert = json::parse(line, nullptr, false);
      if (alert.value("kind", "") != "alert") continue;
      alert.erase("host");
      alert.erase("kind");
      list.push_back(alert);
    }
    return list;
  }

  std::string logText() const { return root_.readFile(std::string(kLogFile)); }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
  Service service_;
  std::unique_ptr<ChildProcess> daemon_;
  std::unique_ptr<ChildProcess> springBoard_;
};

TEST_F(HestrelEndToEndTest, AGoogleVoicePushBecomesAnIncomingTextFromTheRealSender) {
  writeSettings();
  startDaemon();
  startSpringBoard();

  // Push receive switched on through the settings: the home screen explains it.
  pelorinctl({"settings", "set", "enableReceiveOfficialGV", "true"});
  ASSERT_TRUE(nextEvent(*springBoard_, [](const json& e) { return e["event"] == "alert"; }));
  EXPECT_EQ(alerts(), json::parse(R"([{"title": "SMS Receive via GV app",
      "message": "Push Notification banners should be enabled for the Official GV App",
      "buttons": ["Dismiss"]}])"));

  struct Row {
    std::string alert, sender, text;
  };
  const Row rows[] = {
      {"Text from (415) 555-0199:\nSee you at 6", "(415) 555-0199", "See you at 6"},
      // A display name is turned into the number through the recent texts.
      {"Text from Ann O'Brien:\nrunning late", "+14155550101", "running late"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.alert);
    EXPECT_EQ(pelorinctl({"push", row.alert}), "forwarded");
    auto message = nextReceived();
    ASSERT_TRUE(message);
    EXPECT_EQ((*message)["service"], "SMS");
    EXPECT_EQ((*message)["sender"], row.sender);
    EXPECT_EQ((*message)["text"], row.text);
  }
  // Nothing reached the home screen's own handling.
  std::string banners;
  EXPECT_EQ(
      platform::testing::runProgram({"busctl", "--user", "call", "com.talvern.sim.SpringBoard",
                                     "/com/talvern/sim/SpringBoard", "com.talvern.sim.SpringBoard",
                                     "ListBanners", "uu", "0", "0"},
                                    &banners),
      0);
  EXPECT_EQ(banners, R"(s "{\"items\":[],\"more\":false,\"offset\":0,\"total\":0}")"
                     "\n");

  // Another application's push, and a voicemail banner, are shown.
  EXPECT_EQ(pelorinctl({"push", "--topic", "com.example.chat", "Text from Bob:\nhi"}), "shown");
  EXPECT_EQ(pelorinctl({"push", "Voicemail from (415) 555-0199"}), "shown");
}

TEST_F(HestrelEndToEndTest, OnADeviceWithoutAPhoneThePushBecomesAnIMessage) {
  writeSettings({{"enableReceiveOfficialGV", true}, {"isAniPhone", false}});
  startDaemon({"--no-iphone"});
  startSpringBoard({"--model", "iPad"});
  EXPECT_EQ(pelorinctl({"push", "Text from 4155550199:\nfrom the iPad"}), "forwarded");
  auto message = nextReceived();
  ASSERT_TRUE(message);
  EXPECT_EQ((*message)["service"], "iMessage");
  EXPECT_EQ((*message)["sender"], "4155550199");
  EXPECT_EQ((*message)["chatIdentifier"], "+14155550199");
  EXPECT_EQ((*message)["text"], "from the iPad");
}

// Without a daemon serving the received-SMS centre the text could go nowhere:
// the push is left to the home screen, which shows it, and the failure is logged.
TEST_F(HestrelEndToEndTest, WithoutTheCentreThePushIsShownAndTheFailureLogged) {
  writeSettings({{"enableReceiveOfficialGV", true}});
  startSpringBoard();
  EXPECT_EQ(pelorinctl({"push", "Text from (415) 555-0199:\nnobody home"}), "shown");
  EXPECT_NE(logText().find("Sending message failed"), std::string::npos) << logText();
}

TEST_F(HestrelEndToEndTest, BadInputIsRefusedAndTheHostCarriesOn) {
  startSpringBoard();
  const std::string longText(65'537, 'x');
  std::vector<std::string> manyEntries{"sa{sv}", "com.example.chat", "257"};
  for (int i = 0; i < 257; ++i)
    manyEntries.insert(manyEntries.end(), {std::to_string(i), "i", "1"});
  struct Row {
    std::vector<std::string> arguments;
    std::string reason;
  };
  const Row rows[] = {
      {{"sa{sv}", "", "0"}, "a push needs a topic"},
      {{"s", "x"}, "expecting 'sa{sv}'"},
      {{"sa{sv}", std::string(256, 't'), "0"}, "topic: longer than 255 bytes"},
      {{"sa{sv}", "com.example.chat", "1", "aps", "a{sv}", "1", "alert", "s", longText},
       "userInfo: a text longer than 65536 bytes"},
      {manyEntries, "userInfo: more than 256 entries"},
  };
  const std::string service = "com.talvern.sim.SpringBoard";
  const std::string object = "/com/talvern/sim/SpringBoard";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reason);
    std::vector<std::string> argv{"sh", "-c", "exec busctl --user call \"$@\" 2>&1", "sh"};
    argv.insert(argv.end(), {service, object, service, "DeliverPush"});
    argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
    std::string output;
    EXPECT_NE(platform::testing::runProgram(argv, &output), 0);
    EXPECT_NE(output.find(row.reason), std::string::npos) << output;
  }
  // At the limits, a push is shown (its events, read here, fill the pipe).
  EXPECT_EQ(pelorinctl({"push", "--topic", std::string(255, 't'), std::string(65'536, 'x')}),
            "shown");
  EXPECT_TRUE(nextEvent(*springBoard_, [](const json& e) { return e["event"] == "push"; }));
  EXPECT_EQ(alerts(), json::array());
}

}  // namespace
}  // namespace pelorin::testing
