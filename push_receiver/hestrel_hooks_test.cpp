// Hestrel's callbacks in-process: the settings change with its alerts and the
// credential check against the stand-in service; and the receiver's replacement.
#include "push_receiver/hestrel_hooks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "platform/alerts.h"
#include "platform/property_list.h"
#include "voice/gv_test_fixture.h"

namespace pelorin {
namespace {

using platform::Dictionary;

void writeSettings(const Dictionary& settings) {
  ASSERT_TRUE(platform::writePropertyListAtomically(resolvedPath(kSettingsFile), settings));
}

// The start of every alert's message, while it lives. Not locked: the
// callbacks show theirs one at a time.
class AlertRecorder final : public platform::AlertPresenter {
 public:
  AlertRecorder() { platform::setAlertPresenter(this); }
  ~AlertRecorder() override { platform::setAlertPresenter(nullptr); }
  void present(const platform::Alert& alert) override {
    shown.push_back(alert.message.value_or("-").substr(0, 16));
  }
  std::vector<std::string> take() { return std::exchange(shown, {}); }
  std::vector<std::string> shown;
};

using Alerts = std::vector<std::string>;

// The library's own international flag, false at load, is the one compared.
class HestrelCallbacksTest : public testing::GVServiceTest {
 protected:
  HestrelSettings::Targets targets() {
    return {nullptr, &incoming_, &gv_, &HestrelSettings::intlSMSviaGV()};
  }

  AlertRecorder alerts_;
  IncomingMessageHandler incoming_;
};

TEST_F(HestrelCallbacksTest, AChangeIsReadAndComparedWithTheLastOne) {
  writeSettings({{"enableReceiveOfficialGV", true},
                 {"intlSMSviaGV", true},
                 {"isAniPhone", false},
                 {"phoneNumber", "12345"}});
  HestrelHooks::settingsChanged(targets());
  EXPECT_EQ(alerts_.take(), (Alerts{"Push Notificatio", "iPhone number is", "Device appears t"}));
  EXPECT_EQ(gv_.iPhoneNumber(), "12345");

  // Saved again: no mode alert, and the number check complains of the number.
  HestrelHooks::settingsChanged(targets());
  EXPECT_EQ(alerts_.take(), (Alerts{"iPhone Number sh", "Device appears t"}));

  // Fixed, the number removed: it is cleared, absent keys keep their value.
  writeSettings({{"enableReceiveOfficialGV", true}, {"isAniPhone", true}});
  HestrelHooks::settingsChanged(targets());
  EXPECT_EQ(gv_.iPhoneNumber(), std::nullopt);
  EXPECT_TRUE(HestrelSettings::intlSMSviaGV().load());
  EXPECT_TRUE(incoming_.enableReceiveOfficialGV());
  EXPECT_TRUE(alerts_.take().empty());
}

TEST_F(HestrelCallbacksTest, CredentialCheckSignsInOrOut) {
  const std::string user(Service::kUser), pass(Service::kPassword);
  struct Row {
    std::optional<Dictionary> settings;  // none: no settings file
    const char* alert;
    std::optional<bool> signedIn;  // after a failed sign-in the session's own rules apply
  };
  const Row rows[] = {
      {{{{"authcheck", true}, {"username", user}, {"password", pass}}}, "Username and Pas", true},
      {{{{"authcheck", true}, {"username", user}, {"password", "bad"}}}, "Invalid Username", {}},
      {{{{"authcheck", "1"}, {"username", user}}}, "Invalid Username", {}},
      {{{{"username", user}, {"password", pass}}}, nullptr, false},
      {std::nullopt, nullptr, true},  // nothing happens, not even a sign-out
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.alert ? row.alert : "no alert");
    ASSERT_TRUE(gv_.getAuthToken());  // signed in with the fixture's credentials
    if (row.settings) writeSettings(*row.settings);
    if (!row.settings) std::filesystem::remove(resolvedPath(kSettingsFile));
    HestrelHooks::checkCredentials(targets());
    EXPECT_EQ(alerts_.take(), row.alert ? Alerts{row.alert} : Alerts{});
    EXPECT_TRUE(!row.signedIn || gv_.authToken().has_value() == *row.signedIn);
    gv_.setUserName(user);
    gv_.setPassword(pass);
  }
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
  // The check takes its turn, then waits on the sign-in.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  std::thread change([&] { HestrelHooks::settingsChanged(targets()); });
  check.join();
  change.join();
  EXPECT_EQ(alerts_.take(), (Alerts{"Username and Pas", "Default email ap", "iPhone Number sh"}));
}

// What the replacement does with a push is seen through the real home-screen
// host; here, that it goes in only where the home screen has its receiver,
// and never over itself.
TEST(HestrelPushTest, TheReceiverIsReplacedOnce) {
  EXPECT_FALSE(HestrelHooks::installHook());
  platform::SBRemoteNotificationServer::registerWithRuntime();
  EXPECT_TRUE(HestrelHooks::installHook());
  EXPECT_FALSE(HestrelHooks::installHook());
}

}  // namespace
}  // namespace pelorin
