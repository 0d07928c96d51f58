// A rule saved in the real editor changes the route of the next text in a
// running simulated device: Quenlow.so in the daemon host and pelorin-rules in
// tmux, sharing one private bus and one temporary root. No Google Voice
// service is reachable, so a text routed there fails.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/names.h"
#include "outgoing/testing/quenlow_device.h"
#include "platform/property_list.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "rules_editor/terminal/testing/editor_terminal.h"

namespace pelorin::rules_editor {
namespace {

using nlohmann::json;
using pelorin::testing::QuenlowDevice;

// What became of one sent SMS, read from the host's events.
struct Outcome {
  std::string state;  // "sent" or "failed"; "" when it reached neither
  int carrierSends = 0;
  int sendErrors = 0;
};

Outcome follow(QuenlowDevice& device, std::uint32_t id) {
  Outcome outcome;
  device.nextEvent([&](const json& e) {
    const std::string event = e.value("event", "");
    if (event == "carrierSendSMS" && e["messageId"] == id) ++outcome.carrierSends;
    if (event == "localNotification" && e["name"] == "kCTMessageSendErrorNotification" &&
        e.contains("userInfo") && e["userInfo"].value("kCTMessageIdKey", 0u) == id) {
      ++outcome.sendErrors;
    }
    if (e.contains("message") && e["message"]["messageId"] == id &&
        (e["message"]["state"] == "sent" || e["message"]["state"] == "failed")) {
      outcome.state = e["message"]["state"];
      return true;
    }
    return false;
  });
  return outcome;
}

class PelorinRulesDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    // A closed loopback port: nothing leaves the machine and Google Voice fails at once.
    setenv("PELORIN_GV_URL", "https://127.0.0.1:9", 1);
  }
  void TearDown() override { unsetenv("PELORIN_GV_URL"); }

  // Waits until the daemon log shows `text` past `offset` (its re-reads of the rules show there).
  bool logShowsAfter(std::size_t offset, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string log = root_.readFile(std::string(kLogFile));
      if (log.size() > offset && log.find(text, offset) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
};

TEST_F(PelorinRulesDeviceTest, ACarrierRuleSavedInTheEditorRoutesTheNextText) {
  // Default routing; logging only so that the daemon's re-read can be awaited.
  ASSERT_TRUE(platform::writePropertyListAtomically(
      root_.path(std::string(kSettingsFile)),
      platform::Value(platform::Dictionary{{"enableLogging", true}})));
  QuenlowDevice device;
  ASSERT_TRUE(device.started());

  const auto before = follow(device, device.sendSMS({"2125551212"}, "before the rule"));
  EXPECT_EQ(before.state, "failed");
  EXPECT_EQ(before.sendErrors, 1);
  EXPECT_EQ(before.carrierSends, 0);

  // A person adds a rule for (212), by carrier, and goes back to the list.
  testing::EditorTerminal editor(root_.folder(), bus_.address());
  ASSERT_TRUE(editor.started());
  ASSERT_TRUE(editor.waitFor("Dismiss")) << editor.screen();
  editor.keys({"Enter"});
  ASSERT_TRUE(editor.waitForGone("Dismiss")) << editor.screen();
  editor.keys({"a", "Enter"});
  ASSERT_TRUE(editor.waitFor("Edit Rule")) << editor.screen();
  editor.keys({"BSpace"});
  editor.type("(212)");
  editor.keys({"Tab", "Right", "Left"});
  ASSERT_TRUE(editor.waitFor("Send via  [*Carrier*| Google Voice ]")) << editor.screen();
  const std::size_t logSize = root_.readFile(std::string(kLogFile)).size();
  editor.keys({"Escape"});
  ASSERT_TRUE(editor.waitFor(" 1212 ")) << editor.screen();
  EXPECT_EQ(platform::readDictionary(root_.path(std::string(kRulesFile))),
            (platform::Dictionary{{"1212", 0}}));
  ASSERT_TRUE(logShowsAfter(logSize, "Array of keys")) << root_.readFile(std::string(kLogFile));

  const auto after = follow(device, device.sendSMS({"2125551212"}, "after the rule"));
  EXPECT_EQ(after.state, "sent");
  EXPECT_EQ(after.carrierSends, 1);
  EXPECT_EQ(after.sendErrors, 0);
}

}  // namespace
}  // namespace pelorin::rules_editor
