// The real daemon host process, on a private bus, with the test tweak loaded
// by the real loader, driven through its control interface with busctl.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/property_list.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "platform/tweak_loader.h"

namespace pelorin::sim {
namespace {

using nlohmann::json;
using platform::testing::ChildProcess;

constexpr char kHostName[] = "com.talvern.sim.MessagingDaemon";

class DaemonHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    installTweak();
    host_ =
        std::make_unique<ChildProcess>(std::vector<std::string>{DAEMON_HOST, "--json-events", "-"});
    ASSERT_TRUE(nextEvent([](const json& e) { return e["event"] == "ready"; }));
  }

  void installTweak() {
    const std::string folder = root_.path(std::string(platform::kTweakFolder));
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(root_.path("/var/tmp"));
    std::filesystem::copy_file(SIM_TEST_TWEAK, folder + "/SimTestTweak.so");
    platform::Dictionary filter{{"Executables", platform::Array{"imagent"}}};
    platform::writePropertyListAtomically(
        folder + "/SimTestTweak.plist", platform::Value(platform::Dictionary{{"Filter", filter}}));
  }

  // The next event the host reports that satisfies `wanted` (earlier ones
  // are kept in seen_).
  std::optional<json> nextEvent(const std::function<bool(const json&)>& wanted) {
    while (auto line = host_->readLine()) {
      json event = json::parse(*line, nullptr, false);
      seen_.push_back(event);
      if (wanted(event)) return event;
    }
    return std::nullopt;
  }

  // The next change of the message matching `field` = `value` into `state`.
  std::optional<json> messageReaches(const std::string& field, const json& value,
                                     const std::string& state) {
    return nextEvent([&](const json& e) {
      return e.contains("message") && e["message"][field] == value &&
             e["message"]["state"] == state;
    });
  }

  // busctl's reply ("u 1", "s \"...\""), or the error it printed; `ok` tells which.
  std::string call(std::vector<std::string> arguments, bool* ok = nullptr) {
    std::vector<std::string> argv{
        "busctl", "--user", "call", kHostName, "/com/talvern/sim/MessagingDaemon", kHostName};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    const auto status = platform::testing::runProgram(argv, &output);
    if (ok) *ok = status == 0;
    return output;
  }

  std::vector<std::string> tweakLog() {
    std::ifstream in(root_.path("/var/tmp/sim-test-tweak.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
  std::unique_ptr<ChildProcess> host_;
  std::vector<json> seen_;
};

TEST_F(DaemonHostTest, TheTweakSeesSendsCallsThroughAndTakesOneOver) {
  EXPECT_EQ(call({"SendSMS", "assu", "1", "2125551212", "hello", "1"}), "u 1\n");
  auto carried = messageReaches("messageId", 1, "sent");
  ASSERT_TRUE(carried);
  EXPECT_EQ((*carried)["message"]["carrierRecipients"], json::array({"2125551212"}));

  EXPECT_EQ(call({"SendSMS", "assu", "1", "2125551212", "takeover now", "1"}), "u 2\n");
  auto takenOver = messageReaches("messageId", 2, "sent");
  ASSERT_TRUE(takenOver);
  EXPECT_TRUE((*takenOver)["message"]["carrierRecipients"].is_null());  // never reached the carrier

  const std::vector<std::string> expected{
      "replaced CTMessageCenter sendSMS:withMoreToFollow:",
      "replaced CTMessageCenter incomingMessageWithId:",
      "replaced IMDServiceSession sendMessage:toChatID:identifier:style:",
      "skipped NoSuchClass sendSMS:withMoreToFollow:",
      "skipped CTMessageCenter noSuchMethod:",
      "sendSMS id=1 more=0 text=hello",
      "carrier returned 1",
      "sendSMS id=2 more=0 text=takeover now"};
  EXPECT_EQ(tweakLog(), expected);
  EXPECT_EQ(seen_.front()["event"], "tweak");
  EXPECT_EQ(seen_.front()["loaded"], true);
}

TEST_F(DaemonHostTest, AnnouncedIncomingIdsAreAskedForAndStored) {
  // A carrier SMS: the tweak calls the platform's lookup and rewrites the text.
  EXPECT_EQ(call({"DeliverSMS", "ss", "2125551212", "hi there"}), "u 1\n");
  auto carrier = messageReaches("direction", "incoming", "received");
  ASSERT_TRUE(carrier);
  EXPECT_EQ((*carrier)["message"]["text"], "hi there [seen by tweak]");
  EXPECT_EQ((*carrier)["message"]["sender"], "2125551212");

  // An injected id, announced the way the system's tweak announces it.
  call({"PostLocalNotification", "sa{sv}", "kCTMessageReceivedNotification", "2",
        "kCTMessageTypeKey", "i", "1", "kCTMessageIdKey", "u", "4294901760"});
  auto injected = messageReaches("messageId", 4294901760u, "received");
  ASSERT_TRUE(injected);
  EXPECT_EQ((*injected)["message"]["text"], "injected 4294901760");
  EXPECT_EQ((*injected)["message"]["sender"], "8005550100");
}

TEST_F(DaemonHostTest, LocalNotificationsMarkMessagesSentOrFailed) {
  call({"SendSMS", "assu", "1", "2125551212", "swallow this", "1"});
  call({"SendSMS", "assu", "1", "2125551313", "swallow that", "1"});
  call({"PostLocalNotification", "sa{sv}", "kCTMessageSendErrorNotification", "2",
        "kCTMessageTypeKey", "i", "1", "kCTMessageIdKey", "u", "1"});
  call({"PostLocalNotification", "sa{sv}", "kCTMessageSentNotification", "2", "kCTMessageTypeKey",
        "i", "1", "kCTMessageIdKey", "x", "2"});
  EXPECT_TRUE(messageReaches("messageId", 1, "failed"));
  EXPECT_TRUE(messageReaches("messageId", 2, "sent"));
}

TEST_F(DaemonHostTest, AChatMessageMovedByTheTweakLeavesOnTheOtherService) {
  call({"CreateChat", "ssas", "SMS", "+12125551212", "1", "+12125551212"});
  const std::string reply = call({"SendChatMessage", "ssassas", "iMessage", "+12125551212", "1",
                                  "+12125551212", "move to SMS", "0"});
  ASSERT_EQ(reply.rfind("s \"", 0), 0u) << reply;
  const std::string guid = reply.substr(3, reply.size() - 5);
  auto sent = messageReaches("guid", guid, "sent");
  ASSERT_TRUE(sent);
  EXPECT_EQ((*sent)["message"]["service"], "SMS");
}

TEST_F(DaemonHostTest, BadControlInputIsRefusedAndTheHostCarriesOn) {
  bool ok = true;
  call({"SendSMS", "assu", "1", "2125551212", "hello", "0"}, &ok);
  EXPECT_FALSE(ok);
  call({"SendChatMessage", "ssassas", "Carrier Pigeon", "x", "1", "x", "hi", "0"}, &ok);
  EXPECT_FALSE(ok);
  call({"SendSMS", "s", "wrong signature"}, &ok);
  EXPECT_FALSE(ok);
  const std::string list = call({"ListMessages"}, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(list, "s \"[]\"\n");
}

}  // namespace
}  // namespace pelorin::sim
