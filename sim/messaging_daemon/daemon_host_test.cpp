// The real daemon host process, on a private bus, with the test tweak loaded
// by the real loader, driven through its control interface with busctl.
#include <gtest/gtest.h>
#include <signal.h>
#include <systemd/sd-bus.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/linux/bus_connection.h"
#include "platform/property_list.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "platform/tweak_loader.h"
#include "sim/messaging_daemon/message_store.h"

namespace pelorin::sim {
namespace {

using nlohmann::json;
using platform::testing::ChildProcess;

constexpr char kHostName[] = "com.talvern.sim.MessagingDaemon";
constexpr char kHostPath[] = "/com/talvern/sim/MessagingDaemon";

// CreateChat with `count` participants, built by hand: busctl cannot pass that many.
platform::bus::MessagePtr chatWith(sd_bus* bus, int count) {
  sd_bus_message* call = nullptr;
  sd_bus_message_new_method_call(bus, &call, kHostName, kHostPath, kHostName, "CreateChat");
  // A group's identifier may be longer than an address.
  sd_bus_message_append(call, "ss", "SMS", ("chat" + std::string(1000, ';')).c_str());
  sd_bus_message_open_container(call, 'a', "s");
  for (int i = 0; i < count; ++i) {
    sd_bus_message_append_basic(call, 's', std::to_string(2120000000 + i).c_str());
  }
  sd_bus_message_close_container(call);
  return platform::bus::MessagePtr(call);
}

class DaemonHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    installTweak();
  }

  // Starts the host with `options` and waits until it is ready.
  bool startHost(std::vector<std::string> options = {}) {
    std::vector<std::string> argv{DAEMON_HOST, "--json-events", "-"};
    argv.insert(argv.end(), options.begin(), options.end());
    host_ = std::make_unique<ChildProcess>(argv);
    return nextEvent([](const json& e) { return e["event"] == "ready"; }).has_value();
  }

  // The events seen so far named `name` that match `fields`.
  std::vector<json> seenEvents(const std::string& name, const json& fields = json::object()) {
    std::vector<json> found;
    for (const auto& e : seen_) {
      if (e.value("event", "") != name) continue;
      bool matches = true;
      for (const auto& [key, value] : fields.items()) matches &= e.contains(key) && e[key] == value;
      if (matches) found.push_back(e);
    }
    return found;
  }

  // The guid in busctl's reply to SendChatMessage.
  static std::string guidIn(const std::string& reply) {
    return reply.rfind("s \"", 0) == 0 ? reply.substr(3, reply.size() - 5) : "";
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

  // Every event reported within `window` of quiet.
  std::vector<json> eventsUntilQuiet(std::chrono::milliseconds window) {
    std::vector<json> events;
    while (auto line = host_->readLine(window)) {
      events.push_back(json::parse(*line, nullptr, false));
      seen_.push_back(events.back());
    }
    return events;
  }

  // The next change of the message matching `field` = `value` into `state`.
  std::optional<json> messageReaches(const std::string& field, const json& value,
                                     const std::string& state) {
    return nextEvent([&](const json& e) {
      return e.contains("message") && e["message"][field] == value &&
             e["message"]["state"] == state;
    });
  }

  // busctl's reply ("u 1", "s \"...\""), or the error it printed (a host that
  // does not answer within 10 s among them); `ok` tells which.
  std::string call(std::vector<std::string> arguments, bool* ok = nullptr) {
    const char* busctl = "exec busctl --user --timeout=10 call \"$@\" 2>&1";
    std::vector<std::string> argv{"sh", "-c", busctl, "sh", kHostName, kHostPath, kHostName};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    const auto status = platform::testing::runProgram(argv, &output);
    if (ok) *ok = status == 0;
    return output;
  }

  // One page of ListMessages, parsed.
  json page(std::uint32_t offset, std::uint32_t limit) {
    std::string output;
    platform::testing::runProgram(
        {"busctl", "--user", "--json=short", "call", kHostName, "/com/talvern/sim/MessagingDaemon",
         kHostName, "ListMessages", "uu", std::to_string(offset), std::to_string(limit)},
        &output);
    const json reply = json::parse(output, nullptr, false);
    return reply.contains("data") ? json::parse(reply["data"][0].get<std::string>()) : json();
  }

  // Kills the host as a crash would, and waits until its bus name is free.
  void killHost() {
    ::kill(host_->pid(), SIGKILL);
    host_->waitForExit();
    bool served = true;
    for (int i = 0; i < 100 && served; ++i) call({"ListMessages", "uu", "0", "1"}, &served);
    seen_.clear();
  }

  void post(const std::string& name, const std::string& id) {
    call({"PostLocalNotification", "sa{sv}", name, "2", "kCTMessageTypeKey", "i", "1",
          "kCTMessageIdKey", "u", id});
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
  ASSERT_TRUE(startHost());
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
}

TEST_F(DaemonHostTest, AChatMessageMovedByTheTweakLeavesOnTheOtherService) {
  ASSERT_TRUE(startHost());
  call({"CreateChat", "ssas", "SMS", "+12125551212", "1", "+12125551212"});
  const std::string guid = guidIn(call({"SendChatMessage", "ssassas", "iMessage", "+12125551212",
                                        "1", "+12125551212", "move to SMS", "0"}));
  auto sent = messageReaches("guid", guid, "sent");
  ASSERT_TRUE(sent);
  EXPECT_EQ((*sent)["message"]["service"], "SMS");
}

TEST_F(DaemonHostTest, BadControlInputIsRefusedAndTheHostCarriesOn) {
  ASSERT_TRUE(startHost());
  bool ok = true;
  call({"SendSMS", "assu", "1", "2125551212", "hello", "0"}, &ok);
  EXPECT_FALSE(ok);
  call({"SendChatMessage", "ssassas", "Carrier Pigeon", "x", "1", "x", "hi", "0"}, &ok);
  EXPECT_FALSE(ok);
  call({"SendSMS", "s", "wrong signature"}, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(page(0, 0), json::parse(R"({"items":[],"offset":0,"total":0,"more":false})"));
  std::string output;  // bad options
  EXPECT_EQ(platform::testing::runProgram({DAEMON_HOST, "--iphone", "--no-iphone"}, &output), 2);
}

TEST_F(DaemonHostTest, TheSMSSessionSendsThroughTheCarrierCentreAndItsOutcome) {
  ASSERT_TRUE(startHost());
  call({"CreateChat", "ssas", "SMS", "+12125551212", "1", "+12125551212"});
  const std::string guid = guidIn(call({"SendChatMessage", "ssassas", "SMS", "+12125551212", "1",
                                        "+12125551212", "hello chat", "0"}));
  ASSERT_FALSE(guid.empty());
  auto sent = messageReaches("guid", guid, "sent");
  ASSERT_TRUE(sent);
  const json carrierId = (*sent)["message"]["messageId"];
  ASSERT_TRUE(carrierId.is_number());
  EXPECT_EQ((*sent)["message"]["carrierRecipients"], json::array({"+12125551212"}));
  // It passed the tweak's replacement of the carrier's send, then the carrier itself.
  auto carrierCalls = seenEvents("carrierSendSMS", {{"messageId", carrierId}});
  ASSERT_EQ(carrierCalls.size(), 1u);
  EXPECT_EQ(carrierCalls[0]["text"], "hello chat");

  // Taken over by the tweak: the chat message waits for the outcome notification.
  const std::string swallowed = guidIn(call({"SendChatMessage", "ssassas", "SMS", "+12125551212",
                                             "1", "+12125551212", "swallow chat", "0"}));
  auto waiting = nextEvent([&](const json& e) {
    return e.contains("message") && e["message"]["guid"] == swallowed &&
           e["message"]["messageId"].is_number();
  });
  ASSERT_TRUE(waiting);
  const json id = (*waiting)["message"]["messageId"];
  post("kCTMessageSendErrorNotification", id.dump());
  auto failed = messageReaches("guid", swallowed, "failed");
  ASSERT_TRUE(failed);
  EXPECT_TRUE((*failed)["message"]["carrierRecipients"].is_null());
}

TEST_F(DaemonHostTest, ControlCallsAnswerWhileAHookWaits) {
  ASSERT_TRUE(startHost());
  bool ok = false;
  EXPECT_EQ(call({"SendSMS", "assu", "1", "2125551212", "slow text", "1"}, &ok), "u 1\n");
  // The hook is waiting: the bus still answers, and the message still waits.
  EXPECT_EQ(page(0, 0)["items"][0]["state"], "sending");
  EXPECT_EQ(call({"DeliverSMS", "ss", "3125550000", "meanwhile"}, &ok), "u 2\n");
  for (const auto& event : eventsUntilQuiet(std::chrono::milliseconds(300))) {
    EXPECT_NE(event["event"], "carrierSendSMS");  // the hook has not let it through
  }
  EXPECT_EQ(seenEvents("added").size(), 1u);

  root_.writeFile("/var/tmp/sim-test-tweak.release", "");
  EXPECT_TRUE(messageReaches("messageId", 1, "sent"));
  EXPECT_TRUE(messageReaches("direction", "incoming", "received"));
}

TEST_F(DaemonHostTest, EventsReportNotificationsCarrierCallsAndSessionUpdates) {
  ASSERT_TRUE(startHost());
  call({"CreateChat", "ssas", "iMessage", "+13125550000", "1", "+13125550000"});
  const std::string guid = guidIn(call({"SendChatMessage", "ssassas", "iMessage", "+13125550000",
                                        "1", "+13125550000", "report updates", "0"}));
  ASSERT_TRUE(nextEvent([](const json& e) { return e["event"] == "didReceiveMessage"; }));
  const json chat = "+13125550000";
  EXPECT_EQ(seenEvents("didSendMessage", {{"guid", guid}, {"forChat", chat}, {"style", 45}}).size(),
            1u);
  EXPECT_EQ(
      seenEvents("didReceiveError", {{"error", 7}, {"forMessageID", guid}, {"forceError", true}})
          .size(),
      1u);
  auto received = seenEvents("didReceiveMessage");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]["text"], "pong");
  EXPECT_EQ(received[0]["forChat"], chat);

  // A carrier SMS is looked up by the platform; an injected id is answered by the tweak alone.
  call({"DeliverSMS", "ss", "2125551212", "from the carrier"});
  auto carrier = messageReaches("sender", "2125551212", "received");
  ASSERT_TRUE(carrier);
  EXPECT_EQ((*carrier)["message"]["text"], "from the carrier [seen by tweak]");
  post("kCTMessageReceivedNotification", "4294901761");
  auto injected = messageReaches("messageId", 4294901761u, "received");
  ASSERT_TRUE(injected);
  EXPECT_EQ((*injected)["message"]["sender"], "8005550100");
  EXPECT_EQ(seenEvents("carrierIncomingLookup").size(), 1u);
  EXPECT_EQ(seenEvents("carrierIncomingLookup", {{"messageId", 1}, {"found", true}}).size(), 1u);
}

TEST_F(DaemonHostTest, AHostWithoutAServiceOrAMethodLeavesThatPathAlone) {
  ASSERT_TRUE(
      startHost({"--no-imessage-session", "--without-method", "sendSMS:withMoreToFollow:"}));
  bool ok = true;
  call({"SendChatMessage", "ssassas", "iMessage", "+12125551212", "1", "+12125551212", "hi", "0"},
       &ok);
  EXPECT_FALSE(ok);
  // Nothing replaced the carrier's send: a "takeover" text reaches the carrier.
  EXPECT_EQ(call({"SendSMS", "assu", "1", "2125551212", "takeover", "1"}), "u 1\n");
  auto sent = messageReaches("messageId", 1, "sent");
  ASSERT_TRUE(sent);
  EXPECT_EQ((*sent)["message"]["carrierRecipients"], json::array({"2125551212"}));
  EXPECT_EQ(tweakLog().at(0), "skipped CTMessageCenter sendSMS:withMoreToFollow:");
}

TEST_F(DaemonHostTest, AKilledHostsHistoryAndChatsSurviveAndWhatWasSendingFailsOnce) {
  ASSERT_TRUE(startHost());
  call({"SendSMS", "assu", "1", "2125551212", "hello", "1"});
  ASSERT_TRUE(messageReaches("messageId", 1, "sent"));
  call({"DeliverSMS", "ss", "3125550000", "hi"});
  ASSERT_TRUE(messageReaches("messageId", 2, "received"));
  call({"CreateChat", "ssas", "SMS", "chat", "1", "+12125551212"});
  call({"SendSMS", "assu", "1", "2125551212", "swallow me", "1"});  // the tweak never answers
  ASSERT_TRUE(messageReaches("messageId", 3, "sending"));
  json history = page(0, 0)["items"];
  ASSERT_EQ(history.size(), 3u);

  killHost();
  ASSERT_TRUE(startHost());
  const auto posts = seenEvents("localNotification");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0]["name"], "kCTMessageSendErrorNotification");
  EXPECT_EQ(posts[0]["userInfo"]["kCTMessageIdKey"], 3);
  history[2]["state"] = "failed";
  EXPECT_EQ(page(0, 0)["items"], history);

  // The chat kept its participant: a message to it goes to them, under the next carrier id.
  const std::string guid = guidIn(
      call({"SendChatMessage", "ssassas", "SMS", "chat", "1", "+13125550000", "to the chat", "0"}));
  auto sent = messageReaches("guid", guid, "sent");
  ASSERT_TRUE(sent);
  EXPECT_EQ((*sent)["message"]["carrierRecipients"], json::array({"+12125551212"}));
  EXPECT_EQ((*sent)["message"]["messageId"], 4);
  EXPECT_EQ((*sent)["message"]["serial"], 4);
}

TEST_F(DaemonHostTest, ListMessagesPagesAndSplitsLargeTextsOverPagesWithNoneLost) {
  ASSERT_TRUE(startHost());
  // Control characters take six bytes each in JSON: twelve such texts are
  // more than one reply may carry.
  const std::string large(60'000, '\x01');
  for (int i = 1; i <= 12; ++i) {
    call({"DeliverSMS", "ss", std::to_string(i), large});
    ASSERT_TRUE(messageReaches("messageId", i, "received"));
  }
  const json middle = page(10, 5);
  EXPECT_EQ(middle["items"].size(), 2u);
  EXPECT_EQ(middle["items"][0]["serial"], 11);
  EXPECT_EQ(middle["offset"], 10);
  EXPECT_EQ(middle["total"], 12);
  EXPECT_EQ(middle["more"], false);
  std::vector<int> serials;
  int pages = 0;
  for (bool more = true; more && pages < 12; ++pages) {
    const json reply = page(static_cast<std::uint32_t>(serials.size()), 0);
    for (const auto& item : reply["items"]) {
      serials.push_back(item["serial"]);
      EXPECT_EQ(item["text"], large + " [seen by tweak]");
    }
    more = reply["more"];
  }
  EXPECT_EQ(serials, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_GE(pages, 2);
}

TEST_F(DaemonHostTest, AnUnreadableDatabaseIsSetAsideAndTheHostServes) {
  root_.writeFile(MessageStore::kDatabasePath, "not a database");
  ASSERT_TRUE(startHost());
  EXPECT_EQ(call({"SendSMS", "assu", "1", "2125551212", "hello", "1"}), "u 1\n");
  EXPECT_EQ(page(0, 0)["total"], 1);
  const auto folder = std::filesystem::path(root_.path(MessageStore::kDatabasePath)).parent_path();
  // The one set aside, and the new one with its -wal.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3);
}

// Input beyond the limits is refused at once, naming the limit; a call made
// meanwhile is answered, nothing refused is stored or posted, and the host
// carries on.
TEST_F(DaemonHostTest, InputBeyondTheLimitsIsRefusedAtOnce) {
  ASSERT_TRUE(startHost());
  auto bus = platform::bus::openBus(std::nullopt);
  ASSERT_TRUE(bus);
  std::string hugeError;
  auto keepError = [](sd_bus_message* reply, void* kept, sd_bus_error*) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    *static_cast<std::string*>(kept) =
        error ? error->name + std::string(": ") + error->message : "-";
    return 0;
  };
  ASSERT_GE(sd_bus_call_async(bus.get(), nullptr, chatWith(bus.get(), 200'000).get(), keepError,
                              &hugeError, 0),
            0);
  ASSERT_GE(sd_bus_flush(bus.get()), 0);
  EXPECT_EQ(call({"DeliverSMS", "ss", "3125550000", "meanwhile"}), "u 1\n");
  for (int i = 0; hugeError.empty() && i < 100; ++i) {
    if (sd_bus_process(bus.get(), nullptr) == 0) sd_bus_wait(bus.get(), 100'000);
  }
  EXPECT_EQ(hugeError, "com.talvern.sim.Error.Refused: participants: more than 10000 texts");
  sd_bus_message* reply = nullptr;
  EXPECT_GE(sd_bus_call(bus.get(), chatWith(bus.get(), 10'000).get(), 0, nullptr, &reply), 0);
  sd_bus_message_unref(reply);

  const std::string longText(65'537, 'x');
  const std::string path(4'097, 'p');
  std::vector<std::string> manyAttachments{
      "SendChatMessage", "ssassas", "SMS", "+1", "1", "+1", "hi", "101"};
  manyAttachments.resize(manyAttachments.size() + 101, "/tmp/a.jpg");
  std::vector<std::string> manyEntries{"PostLocalNotification", "sa{sv}", "n", "257"};
  for (int i = 0; i < 257; ++i)
    manyEntries.insert(manyEntries.end(), {std::to_string(i), "i", "1"});
  struct Row {
    std::vector<std::string> arguments;
    std::string reason;
  };
  const Row rows[] = {
      {{"SendSMS", "assu", "1", "2125551212", longText, "1"}, "text: longer than 65536 bytes"},
      {{"SendSMS", "assu", "1", std::string(257, '1'), "hi", "1"},
       "recipients: a text longer than 256 bytes"},
      {{"DeliverSMS", "ss", "2125551212", longText}, "text: longer than 65536 bytes"},
      {manyAttachments, "attachments: more than 100 texts"},
      {{"SendChatMessage", "ssassas", "SMS", "+1", "1", "+1", "hi", "1", path},
       "attachments: a text longer than 4096 bytes"},
      {{"PostLocalNotification", "sa{sv}", std::string(256, 'n'), "0"},
       "name: longer than 255 bytes"},
      {manyEntries, "userInfo: more than 256 entries"},
      {{"PostLocalNotification", "sa{sv}", "n", "1", "k", "s", longText},
       "userInfo: a text longer than 65536 bytes"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments[0] + " " + row.reason);
    bool ok = true;
    EXPECT_NE(call(row.arguments, &ok).find(row.reason), std::string::npos);
    EXPECT_FALSE(ok);
  }
  // At the limits: taken, and only the second message stored (no carrier
  // reaches 256 digits). Nothing refused was posted.
  EXPECT_EQ(call({"SendSMS", "assu", "1", std::string(256, '1'), std::string(65'536, 'x'), "1"}),
            "u 2\n");
  ASSERT_TRUE(messageReaches("messageId", 2, "failed"));
  for (const auto& event : seenEvents("localNotification")) {
    EXPECT_FALSE(event["name"].get<std::string>().starts_with("n")) << event;
  }
}

// A host whose bus goes away says so and leaves, instead of lingering unreachable.
TEST_F(DaemonHostTest, AHostThatLosesItsBusSaysSoAndExits) {
  ChildProcess host({"sh", "-c", "exec \"$0\" 2>&1", DAEMON_HOST});
  ASSERT_TRUE(bus_.waitForName(kHostName));
  bus_.stop();
  EXPECT_TRUE(
      host.waitForLine("pelorin-daemon-host: lost the session bus: the connection was closed"));
  EXPECT_EQ(host.waitForExit(), 1);
}

}  // namespace
}  // namespace pelorin::sim
