// Hestrel.so in the real home-screen host and Quenlow.so in the real daemon
// host, on a private bus, with the stand-in Google Voice service: settings,
// pushes and alerts go through pelorinctl, as a person would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "platform/testing/tweak_host.h"
#include "service/testing/gv_service_process.h"

namespace pelorin::testing {
namespace {

using nlohmann::json;
using platform::testing::TweakHost;
using Service = service::testing::GvServiceProcess;

// pelorinctl's output (trimmed), its exit status checked.
std::string pelorinctl(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), PELORINCTL);
  std::string output;
  EXPECT_EQ(platform::testing::runProgram(arguments, &output), 0) << output;
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

TEST(HestrelEndToEndTest, PushesSettingsAndTheCredentialCheckOnOneDevice) {
  platform::testing::TemporaryRoot root;
  platform::testing::PrivateBus bus;
  Service service;
  ASSERT_TRUE(bus.started() && service.running());
  setenv("PELORIN_GV_URL", service.baseURL().c_str(), 1);
  setenv("PELORIN_GV_CACERT", service.caFile().c_str(), 1);
  TweakHost::install(root, {HESTREL_SO, HESTREL_PLIST, QUENLOW_SO, QUENLOW_PLIST});
  std::filesystem::create_directories(root.path("/usr/lib"));
  std::filesystem::copy_file(ROCKETBOOTSTRAP, root.path("/usr/lib/librocketbootstrap.so"));
  ASSERT_TRUE(platform::writePropertyListAtomically(
      root.path(std::string(kSettingsFile)),
      platform::Value(platform::Dictionary{{"username", Service::kUser},
                                           {"password", Service::kPassword},
                                           {"phoneNumber", "(415) 555-0100"},
                                           {"enableLogging", true}})));
  auto daemon = std::make_unique<TweakHost>(std::vector<std::string>{DAEMON_HOST}, "Quenlow");
  TweakHost springBoard({SPRINGBOARD_HOST}, "Hestrel");
  ASSERT_TRUE(daemon->ready() && springBoard.ready());
  auto nextAlert = [&] {
    auto alert = springBoard.nextEvent([](const json& e) { return e["event"] == "alert"; });
    return alert ? alert->value("title", "") + ": " + alert->value("message", "") : "(none)";
  };

  // Push receive switched on, then the credential check asked for.
  pelorinctl({"settings", "set", "enableReceiveOfficialGV", "true"});
  EXPECT_EQ(nextAlert(),
            "SMS Receive via GV app: Push Notification banners should be enabled for the Official "
            "GV App");
  pelorinctl({"settings", "set", "authcheck", "true"});
  pelorinctl({"notify", "post", std::string(kAuthCheckNotification)});
  EXPECT_EQ(nextAlert(), "GV Authentication: Username and Password are valid");

  // A text is forwarded to the daemon, another application's push is shown.
  EXPECT_EQ(pelorinctl({"push", "Text from (415) 555-0199:\nSee you at 6"}), "forwarded");
  auto event = daemon->nextEvent([](const json& e) {
    return e.contains("message") && e["message"]["direction"] == "incoming";
  });
  ASSERT_TRUE(event);
  EXPECT_EQ((*event)["message"]["sender"], "(415) 555-0199");
  EXPECT_EQ((*event)["message"]["text"], "See you at 6");
  EXPECT_EQ(pelorinctl({"push", "--topic", "com.example.chat", "Text from Bob:\nhi"}), "shown");

  // Without a daemon serving the received-SMS centre the text could go
  // nowhere: the push is left to the home screen, and the failure logged.
  daemon.reset();
  ASSERT_TRUE(bus.waitForNameGone(std::string(kSMSRecvCenterName)));
  EXPECT_EQ(pelorinctl({"push", "Text from (415) 555-0199:\nnobody home"}), "shown");
  EXPECT_NE(root.readFile(std::string(kLogFile)).find("Sending message failed"), std::string::npos);
}

}  // namespace
}  // namespace pelorin::testing
