// Hestrel.so in the real home-screen host and Quenlow.so in the real daemon
// host, on a private bus, with the stand-in Google Voice service: settings,
// pushes and alerts go through pelorinctl, as a person would.
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

std::optional<json> nextEvent(ChildProcess& host, const std::function<bool(const json&)>& wanted) {
  while (auto line = host.readLine(std::chrono::seconds(20))) {
    json event = json::parse(*line, nullptr, false);
    if (event.is_object() && wanted(event)) return event;
  }
  return std::nullopt;
}

std::unique_ptr<ChildProcess> startHost(std::vector<std::string> argv, const std::string& tweak) {
  argv.insert(argv.end(), {"--json-events", "-"});
  auto host = std::make_unique<ChildProcess>(argv);
  auto loaded =
      nextEvent(*host, [&](const json& e) { return e["event"] == "tweak" && e["name"] == tweak; });
  EXPECT_TRUE(loaded && (*loaded)["loaded"] == true) << (loaded ? loaded->dump() : "no event");
  EXPECT_TRUE(nextEvent(*host, [](const json& e) { return e["event"] == "ready"; }));
  return host;
}

// pelorinctl's output with its errors (trimmed), its exit status checked.
std::string pelorinctl(std::vector<std::string> arguments, int expectedStatus = 0) {
  arguments.insert(arguments.begin(), {"sh", "-c", "exec \"$@\" 2>&1", "sh", PELORINCTL});
  std::string output;
  EXPECT_EQ(platform::testing::runProgram(arguments, &output), expectedStatus) << output;
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

// The alerts and banners as pelorinctl lists them, without their host.
json shown() {
  json list = json::array();
  std::istringstream lines(pelorinctl({"alerts", "--json"}));
  for (std::string line; std::getline(lines, line);) {
    json item = json::parse(line, nullptr, false);
    if (!item.is_object()) continue;
    item.erase("host");
    list.push_back(item);
  }
  return list;
}

TEST(HestrelEndToEndTest, PushesSettingsAndTheCredentialCheckOnOneDevice) {
  platform::testing::TemporaryRoot root;
  platform::testing::PrivateBus bus;
  Service service;
  ASSERT_TRUE(bus.started());
  ASSERT_TRUE(service.running());
  setenv("PELORIN_GV_URL", service.baseURL().c_str(), 1);
  setenv("PELORIN_GV_CACERT", service.caFile().c_str(), 1);
  const std::string folder = root.path(std::string(platform::kTweakFolder));
  std::filesystem::create_directories(folder);
  for (const char* file : {HESTREL_SO, HESTREL_PLIST, QUENLOW_SO, QUENLOW_PLIST}) {
    std::filesystem::copy_file(file,
                               folder + "/" + std::filesystem::path(file).filename().string());
  }
  std::filesystem::create_directories(root.path("/usr/lib"));
  std::filesystem::copy_file(ROCKETBOOTSTRAP, root.path("/usr/lib/librocketbootstrap.so"));
  ASSERT_TRUE(platform::writePropertyListAtomically(
      root.path(std::string(kSettingsFile)),
      platform::Value(platform::Dictionary{{"username", Service::kUser},
                                           {"password", Service::kPassword},
                                           {"phoneNumber", "(415) 555-0100"},
                                           {"enableLogging", true}})));
  auto daemon = startHost({DAEMON_HOST}, "Quenlow");
  auto springBoard = startHost({SPRINGBOARD_HOST}, "Hestrel");
  auto nextAlert = [&] {
    return nextEvent(*springBoard, [](const json& e) { return e["event"] == "alert"; });
  };

  // Push receive switched on, then the credential check asked for.
  pelorinctl({"settings", "set", "enableReceiveOfficialGV", "true"});
  ASSERT_TRUE(nextAlert());
  pelorinctl({"settings", "set", "authcheck", "true"});
  pelorinctl({"notify", "post", std::string(kAuthCheckNotification)});
  ASSERT_TRUE(nextAlert());

  // A display name is turned into the number through the recent texts.
  const std::pair<std::string, std::string> texts[] = {
      {"Text from (415) 555-0199:\nSee you at 6", "SMS (415) 555-0199: See you at 6"},
      {"Text from Ann O'Brien:\nrunning late", "SMS +14155550101: running late"},
  };
  for (const auto& [alert, received] : texts) {
    EXPECT_EQ(pelorinctl({"push", alert}), "forwarded");
    auto event = nextEvent(*daemon, [](const json& e) {
      return e.contains("message") && e["message"]["direction"] == "incoming";
    });
    ASSERT_TRUE(event) << alert;
    const auto& m = (*event)["message"];
    EXPECT_EQ(m["service"].get<std::string>() + " " + m["sender"].get<std::string>() + ": " +
                  m["text"].get<std::string>(),
              received);
  }
  // Another application's push and a voicemail are shown; the texts are not.
  EXPECT_EQ(pelorinctl({"push", "--topic", "com.example.chat", "Text from Bob:\nhi"}), "shown");
  EXPECT_EQ(pelorinctl({"push", "Voicemail from (415) 555-0199"}), "shown");
  EXPECT_EQ(shown(), json::parse(R"([
      {"kind": "alert", "title": "SMS Receive via GV app", "buttons": ["Dismiss"],
       "message": "Push Notification banners should be enabled for the Official GV App"},
      {"kind": "alert", "title": "GV Authentication", "buttons": ["Dismiss"],
       "message": "Username and Password are valid"},
      {"kind": "banner", "topic": "com.example.chat", "alert": "Text from Bob:\nhi"},
      {"kind": "banner", "topic": "com.google.GVDialer", "alert": "Voicemail from (415) 555-0199"}
    ])"));

  // The home screen refuses a push without a topic or with a long one; at
  // the limits it shows it (its events, read here, would fill the pipe).
  EXPECT_NE(pelorinctl({"push", "--topic", "", "x"}, 1).find("a push needs a topic"),
            std::string::npos);
  EXPECT_NE(pelorinctl({"push", "--topic", std::string(256, 't'), "x"}, 1)
                .find("topic: longer than 255 bytes"),
            std::string::npos);
  EXPECT_EQ(pelorinctl({"push", "--topic", std::string(255, 't'), std::string(65'536, 'x')}),
            "shown");
  EXPECT_TRUE(nextEvent(*springBoard, [](const json& e) {
    return e["event"] == "push" && e["topic"].get<std::string>().size() == 255;
  }));

  // Without a daemon serving the received-SMS centre the text could go
  // nowhere: the push is left to the home screen, and the failure logged.
  daemon.reset();
  ASSERT_TRUE(bus.waitForNameGone(std::string(kSMSRecvCenterName)));
  EXPECT_EQ(pelorinctl({"push", "Text from (415) 555-0199:\nnobody home"}), "shown");
  EXPECT_NE(root.readFile(std::string(kLogFile)).find("Sending message failed"), std::string::npos);
}

}  // namespace
}  // namespace pelorin::testing
