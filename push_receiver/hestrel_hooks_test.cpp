// Hestrel's callbacks and push replacement in-process: the settings change
// with its alerts, the credential check against the stand-in service, and
// pushes through the home screen's receiver once the replacement is in place.
#include "push_receiver/hestrel_hooks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "platform/device_model.h"
#include "platform/messaging_center.h"
#include "platform/property_list.h"
#include "platform/run_loop.h"
#include "push_receiver/hestrel_test_support.h"
#include "voice/gv_test_fixture.h"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using platform::Dictionary;

void writeSettings(const Dictionary& settings) {
  ASSERT_TRUE(platform::writePropertyListAtomically(resolvedPath(kSettingsFile), settings));
}

// ---- Settings change and credential check ----

class HestrelCallbacksTest : public testing::GVServiceTest {
 protected:
  HestrelCallbacksTest() { platform::setDeviceModel("iPhone"); }
  ~HestrelCallbacksTest() override { platform::setDeviceModel("iPhone"); }

  HestrelSettings::Targets targets() { return {nullptr, &incoming_, &gv_, &intl_}; }

  testing::AlertRecorder alerts_;
  IncomingMessageHandler incoming_;
  std::atomic<bool> intl_{false};
};

TEST_F(HestrelCallbacksTest, AChangeShowsItsAlertsInOrderAndTheChecksRepeat) {
  writeSettings({{"enableReceiveOfficialGV", true},
                 {"intlSMSviaGV", true},
                 {"isAniPhone", false},
                 {"phoneNumber", "12345"}});
  HestrelHooks::settingsChanged(targets());
  EXPECT_TRUE(incoming_.enableReceiveOfficialGV());
  EXPECT_FALSE(incoming_.isAniPhone());
  EXPECT_TRUE(intl_.load());
  EXPECT_EQ(gv_.iPhoneNumber(), "12345");
  auto shown = alerts_.alerts();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].title, "SMS Receive via GV app");
  EXPECT_NE(shown[1].message->find("required to send International SMS"), std::string::npos);
  EXPECT_NE(shown[2].message->find("appears to be an iPhone"), std::string::npos);

  // Saved again: no mode alert, and the number check now complains of the
  // number itself; the device check repeats.
  alerts_.clear();
  HestrelHooks::settingsChanged(targets());
  EXPECT_EQ(alerts_.messages(),
            (std::vector<std::string>{"iPhone Number should be a valid US phone number.",
                                      shown[2].message.value()}));

  // Fixed, and the number key removed: the number is cleared, nothing alerts.
  alerts_.clear();
  writeSettings({{"enableReceiveOfficialGV", true}, {"isAniPhone", true}});
  HestrelHooks::settingsChanged(targets());
  EXPECT_EQ(gv_.iPhoneNumber(), std::nullopt);
  EXPECT_TRUE(intl_.load());  // absent keys keep their value
  EXPECT_TRUE(alerts_.alerts().empty());
}

TEST_F(HestrelCallbacksTest, CredentialCheckValidInvalidAndSignOut) {
  const std::string valid = "Username and Password are valid";
  const std::string invalid =
      "Invalid Username and/or Password Hint: Use application specific password in case of "
      "two-step authentication";
  struct Row {
    Dictionary settings;
    std::vector<std::string> alerts;
    std::optional<bool> signedIn;  // after a failed sign-in the session's own rules apply
  };
  const Row rows[] = {
      {{{"authcheck", true}, {"username", Service::kUser}, {"password", Service::kPassword}},
       {valid},
       true},
      {{{"authcheck", true}, {"username", Service::kUser}, {"password", "wrong"}}, {invalid}, {}},
      {{{"authcheck", "1"}, {"username", Service::kUser}}, {invalid}, {}},
      {{{"username", Service::kUser}, {"password", Service::kPassword}}, {}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.alerts.empty() ? "sign-out" : row.alerts[0]);
    ASSERT_TRUE(gv_.getAuthToken());  // signed in with the fixture's credentials
    alerts_.clear();
    writeSettings(row.settings);
    HestrelHooks::checkCredentials(targets());
    EXPECT_EQ(alerts_.messages(), row.alerts);
    for (const auto& alert : alerts_.alerts()) EXPECT_EQ(alert.title, "GV Authentication");
    if (row.signedIn) {
      EXPECT_EQ(gv_.authToken().has_value(), *row.signedIn);
    }
    gv_.setUserName(Service::kUser);
    gv_.setPassword(Service::kPassword);
  }

  // No settings file: nothing happens, not even a sign-out.
  std::filesystem::remove(resolvedPath(kSettingsFile));
  ASSERT_TRUE(gv_.getAuthToken());
  alerts_.clear();
  HestrelHooks::checkCredentials(targets());
  EXPECT_TRUE(alerts_.alerts().empty());
  EXPECT_TRUE(gv_.authToken().has_value());
}

// A settings change delivered while a sign-in is under way waits for it:
// its alerts follow the credential check's, in order.
TEST_F(HestrelCallbacksTest, ConcurrencyOfASettingsChangeDuringTheCredentialCheck) {
  writeSettings({{"authcheck", true},
                 {"username", Service::kUser},
                 {"password", Service::kPassword},
                 {"enableMailReceive", true},
                 {"phoneNumber", "12345"}});
  service_.addFault({.path = "/accounts/ClientLogin", .delayMs = 600});
  std::thread check([&] { HestrelHooks::checkCredentials(targets()); });
  // The check takes its turn at once and then waits on the slow sign-in.
  std::this_thread::sleep_for(150ms);
  std::thread change([&] { HestrelHooks::settingsChanged(targets()); });
  check.join();
  change.join();
  auto shown = alerts_.alerts();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].message, "Username and Password are valid");
  EXPECT_EQ(shown[1].message,
            "Default email app should be restarted and SMS from GV should be forwarded to your "
            "email account");
  EXPECT_EQ(shown[2].message, "iPhone Number should be a valid US phone number.");
}

// ---- Pushes through the replacement ----

class RecordingServer final : public platform::SBRemoteNotificationServer {
 public:
  std::vector<std::shared_ptr<const platform::APSIncomingMessage>> banners;
  platform::APSConnection* lastConnection = nullptr;

 protected:
  void platformConnection(
      platform::APSConnection& connection,
      const std::shared_ptr<const platform::APSIncomingMessage>& message) override {
    lastConnection = &connection;
    banners.push_back(message);
  }
};

// The received-SMS centre in-process for the whole program: the shared
// client, once made, keeps its centre for the life of the process.
class PushReplacementTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static auto centres = platform::newInProcessMessagingCenters();
    platform::setMessagingCenters(centres.get());
    static auto server =
        platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName));
    static bool serving = [] {
      server->registerForMessageName(
          std::string(kSMSReceivedMessageName),
          [](const std::string&, const Dictionary& record) { received().push_back(record); });
      return server->runServerOnCurrentThread();
    }();
    ASSERT_TRUE(serving);
    platform::SBRemoteNotificationServer::registerWithRuntime();
    ASSERT_TRUE(HestrelHooks::installHook());
    EXPECT_FALSE(HestrelHooks::installHook());  // never over itself
  }

  static std::vector<Dictionary>& received() {
    static std::vector<Dictionary> records;
    return records;
  }

  PushReplacementTest() { received().clear(); }
  ~PushReplacementTest() override {
    IncomingMessageHandler::sharedInstance().setEnableReceiveOfficialGV(false);
  }

  // Delivers one push; true when the home screen showed it.
  bool deliver(const Text& topic, std::optional<Dictionary> userInfo) {
    const auto before = server_.banners.size();
    auto message = std::make_shared<const platform::APSIncomingMessage>(topic, std::move(userInfo));
    server_.connection(connection_, message);
    const bool shown = server_.banners.size() > before;
    if (shown) {
      EXPECT_EQ(server_.banners.back(), message);  // passed on unchanged
      EXPECT_EQ(server_.lastConnection, &connection_);
    }
    return shown;
  }

  static Dictionary alertInfo(platform::Value alert) {
    return {{"aps", Dictionary{{"alert", std::move(alert)}, {"sound", "default"}}}};
  }

  // Waits for `count` records to reach the server.
  bool waitForRecords(std::size_t count) {
    return platform::RunLoop::current()->runUntil([&] { return received().size() >= count; }, 2s);
  }

  platform::testing::TemporaryRoot root_;
  RecordingServer server_;
  platform::APSConnection connection_{"production"};
};

TEST_F(PushReplacementTest, GoogleVoiceTextsAreForwardedAndSwallowedEverythingElseIsShown) {
  IncomingMessageHandler::sharedInstance().setEnableReceiveOfficialGV(true);
  const std::string gv = "com.google.GVDialer";
  struct Row {
    Text topic;
    std::optional<Dictionary> userInfo;
    bool shown;
    std::string sender, text;  // of the forwarded record
  };
  const Row rows[] = {
      {gv, alertInfo("Text from (415) 555-0199:\nSee you at 6"), false, "(415) 555-0199",
       "See you at 6"},
      {gv, alertInfo("Text from hello"), false, "10000000000", "hello"},
      {gv, alertInfo("New: Text from (415) 555-0199:\nhi"), true, "", ""},
      {gv, alertInfo(Dictionary{{"body", "Text from Bob:\nhi"}}), true, "", ""},
      {gv, Dictionary{{"aps", "Text from Bob:\nhi"}}, true, "", ""},
      {gv, std::nullopt, true, "", ""},
      {std::nullopt, alertInfo("Text from Bob:\nhi"), true, "", ""},
  };
  std::size_t forwarded = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text.empty() ? row.topic.value_or("(no topic)") : row.text);
    EXPECT_EQ(deliver(row.topic, row.userInfo), row.shown);
    if (row.shown) continue;
    ++forwarded;
    ASSERT_TRUE(waitForRecords(forwarded));
    const auto& record = received().back();
    EXPECT_EQ(*record.at(std::string(kSMSSenderPhoneKey)).asString(), row.sender);
    EXPECT_EQ(*record.at(std::string(kSMSTextMessageKey)).asString(), row.text);
  }
  EXPECT_EQ(received().size(), forwarded);
}

TEST_F(PushReplacementTest, WithPushReceiveOffEveryPushIsShown) {
  EXPECT_TRUE(deliver("com.google.GVDialer", alertInfo("Text from (415) 555-0199:\nhi")));
  platform::RunLoop::current()->runUntil([] { return false; }, 50ms);
  EXPECT_TRUE(received().empty());
}

}  // namespace
}  // namespace pelorin
