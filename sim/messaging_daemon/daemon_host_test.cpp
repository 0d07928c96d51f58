// The real daemon host process, on a private bus, with the test tweak loaded
// by the real loader, driven through its control interface: one host per
// road, its cases walked in order.
#include <gtest/gtest.h>
#include <signal.h>
#include <systemd/sd-bus.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/bus_connection.h"
#include "platform/property_list.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "platform/tweak_loader.h"
#include "sim/messaging_daemon/message_store.h"
#include "sim/testing/host_process.h"

namespace pelorin::sim {
namespace {

using testing::HostProcess;
using testing::json;

constexpr char kHostName[] = "com.talvern.sim.MessagingDaemon";

// CreateChat with `count` participants, built by hand: busctl cannot pass that many.
platform::bus::MessagePtr chatWith(sd_bus* bus, int count) {
  sd_bus_message* call = nullptr;
  sd_bus_message_new_method_call(bus, &call, kHostName, "/com/talvern/sim/MessagingDaemon",
                                 kHostName, "CreateChat");
  // A group's identifier may be longer than an address.
  sd_bus_message_append(call, "ss", "SMS", ("chat" + std::string(1000, ';')).c_str());
  sd_bus_message_open_container(call, 'a', "s");
  for (int i = 0; i < count; ++i) {
    sd_bus_message_append_basic(call, 's', std::to_string(2120000000 + i).c_str());
  }
  sd_bus_message_close_container(call);
  return platform::bus::MessagePtr(call);
}

// The number or text in a busctl reply ("u 7", "s \"guid\"").
std::string replied(const std::string& reply) {
  const std::string value = reply.substr(2, reply.size() - 3);
  return value.starts_with('"') ? value.substr(1, value.size() - 2) : value;
}

class DaemonHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    const std::string folder = root_.path(std::string(platform::kTweakFolder));
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(root_.path("/var/tmp"));
    std::filesystem::copy_file(SIM_TEST_TWEAK, folder + "/SimTestTweak.so");
    platform::Dictionary filter{{"Executables", platform::Array{"imagent"}}};
    platform::writePropertyListAtomically(
        folder + "/SimTestTweak.plist", platform::Value(platform::Dictionary{{"Filter", filter}}));
  }

  HostProcess& start(std::vector<std::string> options = {}) {
    options.insert(options.begin(), DAEMON_HOST);
    host_ = std::make_unique<HostProcess>(kHostName, options);
    return *host_;
  }

  // The message sent (or delivered) with `arguments`, once it is in `state`.
  json settles(const std::string& method, const std::vector<std::string>& arguments,
               const std::string& state) {
    const std::string reply = replied(host_->call(method, arguments));
    const json message =
        method == "SendChatMessage"
            ? host_->message("guid", reply, state)
            : host_->message("messageId", std::strtoul(reply.c_str(), nullptr, 10), state);
    EXPECT_TRUE(message.is_object()) << method << " " << reply << " never " << state;
    return message;
  }

  void post(const std::string& name, const json& id) {
    host_->call("PostLocalNotification", {"sa{sv}", name, "2", "kCTMessageTypeKey", "i", "1",
                                          "kCTMessageIdKey", "u", id.dump()});
  }

  std::vector<std::string> tweakLog() {
    std::ifstream in(root_.path("/var/tmp/sim-test-tweak.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
  std::unique_ptr<HostProcess> host_;
};

TEST_F(DaemonHostTest, OneHostThroughTheTweakItsEventsLimitsARestartAndPaging) {
  HostProcess& host = start();
  ASSERT_TRUE(host.ready());
  EXPECT_EQ(host.page("ListMessages"), json::parse(R"({"items":[],"offset":0,"total":0,
                                                       "more":false})"));

  // The tweak sees a send and calls the carrier through; it takes another over.
  EXPECT_EQ(host.call("SendSMS", {"assu", "1", "2125551212", "hello", "1"}), "u 1\n");
  EXPECT_EQ(host.message("messageId", 1, "sent")["carrierRecipients"], json::array({"2125551212"}));
  EXPECT_EQ(host.call("SendSMS", {"assu", "1", "2125551212", "takeover now", "1"}), "u 2\n");
  EXPECT_TRUE(host.message("messageId", 2, "sent").at("carrierRecipients").is_null());
  EXPECT_EQ(tweakLog(),
            (std::vector<std::string>{
                "replaced CTMessageCenter sendSMS:withMoreToFollow:",
                "replaced CTMessageCenter incomingMessageWithId:",
                "replaced IMDServiceSession sendMessage:toChatID:identifier:style:",
                "skipped NoSuchClass sendSMS:withMoreToFollow:",
                "skipped CTMessageCenter noSuchMethod:", "sendSMS id=1 more=0 text=hello",
                "carrier returned 1", "sendSMS id=2 more=0 text=takeover now"}));

  // While a hook waits, control calls answer and the delivered text waits its turn.
  const auto added = host.seen("added").size();
  EXPECT_EQ(host.call("SendSMS", {"assu", "1", "2125551212", "slow text", "1"}), "u 3\n");
  EXPECT_EQ(host.page("ListMessages")["items"][2]["state"], "sending");
  EXPECT_EQ(host.call("DeliverSMS", {"ss", "3125550000", "meanwhile"}), "u 4\n");
  host.readUntilQuiet(std::chrono::milliseconds(300));
  EXPECT_EQ(host.seen("carrierSendSMS", {{"messageId", 3}}).size(), 0u);
  EXPECT_EQ(host.seen("added").size(), added + 1);  // the slow text only
  root_.writeFile("/var/tmp/sim-test-tweak.release", "");
  EXPECT_TRUE(host.message("messageId", 3, "sent").is_object());
  // A carrier SMS is looked up through the tweak, which marks it.
  EXPECT_EQ(host.message("messageId", 4, "received")["text"], "meanwhile [seen by tweak]");

  // A session reports every update the tweak makes; an injected id is answered by the tweak alone.
  host.call("CreateChat", {"ssas", "iMessage", "+13125550000", "1", "+13125550000"});
  const std::string guid =
      replied(host.call("SendChatMessage", {"ssassas", "iMessage", "+13125550000", "1",
                                            "+13125550000", "report updates", "0"}));
  ASSERT_TRUE(host.next("didReceiveMessage"));
  const json chat = "+13125550000";
  EXPECT_EQ(host.seen("didSendMessage", {{"guid", guid}, {"forChat", chat}, {"style", 45}}).size(),
            1u);
  EXPECT_EQ(
      host.seen("didReceiveError", {{"error", 7}, {"forMessageID", guid}, {"forceError", true}})
          .size(),
      1u);
  EXPECT_EQ(host.seen("didReceiveMessage", {{"text", "pong"}, {"forChat", chat}}).size(), 1u);
  post("kCTMessageReceivedNotification", 4294901761u);
  EXPECT_EQ(host.message("messageId", 4294901761u, "received")["sender"], "8005550100");
  EXPECT_EQ(host.seen("carrierIncomingLookup").size(), 1u);
  EXPECT_EQ(host.seen("carrierIncomingLookup", {{"messageId", 4}, {"found", true}}).size(), 1u);

  // A chat message the tweak moves leaves on the other service; the SMS
  // session sends through the carrier centre (and its replacement).
  host.call("CreateChat", {"ssas", "SMS", "+12125551212", "1", "+12125551212"});
  EXPECT_EQ(
      settles("SendChatMessage",
              {"ssassas", "iMessage", "+12125551212", "1", "+12125551212", "move to SMS", "0"},
              "sent")["service"],
      "SMS");
  const json chatSent =
      settles("SendChatMessage",
              {"ssassas", "SMS", "+12125551212", "1", "+12125551212", "hello chat", "0"}, "sent");
  EXPECT_EQ(chatSent["carrierRecipients"], json::array({"+12125551212"}));
  EXPECT_EQ(
      host.seen("carrierSendSMS", {{"messageId", chatSent["messageId"]}, {"text", "hello chat"}})
          .size(),
      1u);
  // Taken over by the tweak: the chat message waits for the outcome notification.
  const std::string swallowed =
      replied(host.call("SendChatMessage", {"ssassas", "SMS", "+12125551212", "1", "+12125551212",
                                            "swallow chat", "0"}));
  auto waiting = host.next([&](const json& e) {
    return e.contains("message") && e["message"]["guid"] == swallowed &&
           e["message"]["messageId"].is_number();
  });
  ASSERT_TRUE(waiting);
  post("kCTMessageSendErrorNotification", (*waiting)["message"]["messageId"]);
  EXPECT_TRUE(host.message("guid", swallowed, "failed").at("carrierRecipients").is_null());

  // Bad input, and input beyond the limits, is refused at once, naming the
  // limit; a call made meanwhile is answered, and nothing refused is stored
  // or posted.
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
  EXPECT_TRUE(settles("DeliverSMS", {"ss", "3125550000", "during"}, "received").is_object());
  for (int i = 0; hugeError.empty() && i < 100; ++i) {
    if (sd_bus_process(bus.get(), nullptr) == 0) sd_bus_wait(bus.get(), 100'000);
  }
  EXPECT_EQ(hugeError, "com.talvern.sim.Error.Refused: participants: more than 10000 texts");
  sd_bus_message* reply = nullptr;
  EXPECT_GE(sd_bus_call(bus.get(), chatWith(bus.get(), 10'000).get(), 0, nullptr, &reply), 0);
  sd_bus_message_unref(reply);
  const std::string longText(65'537, 'x');
  std::vector<std::string> manyAttachments{"ssassas", "SMS", "+1", "1", "+1", "hi", "101"};
  manyAttachments.resize(manyAttachments.size() + 101, "/tmp/a.jpg");
  std::vector<std::string> manyEntries{"sa{sv}", "n", "257"};
  for (int i = 0; i < 257; ++i)
    manyEntries.insert(manyEntries.end(), {std::to_string(i), "i", "1"});
  const std::tuple<std::string, std::vector<std::string>, std::string> rows[] = {
      {"SendSMS", {"assu", "1", "2125551212", "hello", "0"}, ""},
      {"SendChatMessage", {"ssassas", "Carrier Pigeon", "x", "1", "x", "hi", "0"}, ""},
      {"SendSMS", {"s", "wrong signature"}, ""},
      {"SendSMS", {"assu", "1", "2125551212", longText, "1"}, "text: longer than 65536 bytes"},
      {"SendSMS",
       {"assu", "1", std::string(257, '1'), "hi", "1"},
       "recipients: a text longer than 256 bytes"},
      {"DeliverSMS", {"ss", "2125551212", longText}, "text: longer than 65536 bytes"},
      {"SendChatMessage", manyAttachments, "attachments: more than 100 texts"},
      {"SendChatMessage",
       {"ssassas", "SMS", "+1", "1", "+1", "hi", "1", std::string(4'097, 'p')},
       "attachments: a text longer than 4096 bytes"},
      {"PostLocalNotification",
       {"sa{sv}", std::string(256, 'n'), "0"},
       "name: longer than 255 bytes"},
      {"PostLocalNotification", manyEntries, "userInfo: more than 256 entries"},
      {"PostLocalNotification",
       {"sa{sv}", "n", "1", "k", "s", longText},
       "userInfo: a text longer than 65536 bytes"},
  };
  const auto stored = host.page("ListMessages", 0, 1)["total"];
  for (const auto& [method, arguments, reason] : rows) {
    bool ok = true;
    EXPECT_NE(host.call(method, arguments, &ok).find(reason), std::string::npos) << reason;
    EXPECT_FALSE(ok) << reason;
  }
  EXPECT_EQ(host.page("ListMessages", 0, 1)["total"], stored);
  // At the limits: taken (no carrier reaches 256 digits).
  settles("SendSMS", {"assu", "1", std::string(256, '1'), std::string(65'536, 'x'), "1"}, "failed");
  for (const auto& event : host.seen("localNotification")) {
    EXPECT_FALSE(event["name"].get<std::string>().starts_with("n")) << event;
  }

  // Killed as a crash would: the history and the chats survive, and what was
  // sending fails once.
  host.call("CreateChat", {"ssas", "SMS", "chat", "1", "+12125551212"});
  const std::string lost =
      replied(host.call("SendSMS", {"assu", "1", "2125551212", "swallow", "1"}));
  ASSERT_TRUE(host.message("messageId", std::stoul(lost), "sending").is_object());
  json history = host.page("ListMessages", 0, 1000)["items"];
  ::kill(host.process().pid(), SIGKILL);
  host.process().waitForExit();
  ASSERT_TRUE(bus_.waitForNameGone(kHostName));
  HostProcess& again = start();
  ASSERT_TRUE(again.ready());
  const auto posts = again.seen("localNotification");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0]["name"], "kCTMessageSendErrorNotification");
  EXPECT_EQ(posts[0]["userInfo"]["kCTMessageIdKey"], std::stoul(lost));
  history.back()["state"] = "failed";
  EXPECT_EQ(again.page("ListMessages", 0, 1000)["items"], history);
  // The chat kept its participant, and carrier ids go on after the largest
  // one the daemon gave (ids injected by tweaks do not count).
  const json toChat = settles("SendChatMessage",
                              {"ssassas", "SMS", "chat", "1", "+1999", "to the chat", "0"}, "sent");
  EXPECT_EQ(toChat["carrierRecipients"], json::array({"+12125551212"}));
  EXPECT_EQ(toChat["messageId"], std::stoul(lost) + 1);
  EXPECT_EQ(toChat["serial"], history.size() + 1);

  // Large texts are split over pages, none lost: control characters take six
  // bytes each in JSON, so twelve such texts are more than one reply carries.
  const std::string large(60'000, '\x01');
  for (int i = 0; i < 12; ++i) settles("DeliverSMS", {"ss", std::to_string(i), large}, "received");
  const std::size_t total = history.size() + 13;
  const json last = again.page("ListMessages", total - 2, 5);
  EXPECT_EQ(last["items"].size(), 2u);
  EXPECT_EQ(last["items"][0]["serial"], total - 1);
  EXPECT_EQ(last["offset"], total - 2);
  EXPECT_EQ(last["total"], total);
  EXPECT_EQ(last["more"], false);
  std::size_t read = 0, pages = 0;
  for (bool more = true; more && pages < 20; ++pages) {
    const json page = again.page("ListMessages", read, 0);
    for (const auto& item : page["items"]) EXPECT_EQ(item["serial"], ++read);
    more = page["more"];
  }
  EXPECT_EQ(read, total);
  EXPECT_GE(pages, 2u);
}

// A host without a service, or a replaceable method, leaves that path alone;
// an unreadable database is set aside; a lost bus ends the host.
TEST_F(DaemonHostTest, AHostWithoutPartsAnUnreadableDatabaseAndALostBus) {
  root_.writeFile(MessageStore::kDatabasePath, "not a database");
  HostProcess& host =
      start({"--no-imessage-session", "--without-method", "sendSMS:withMoreToFollow:"});
  ASSERT_TRUE(host.ready());
  bool ok = true;
  host.call("SendChatMessage", {"ssassas", "iMessage", "+1212", "1", "+1212", "hi", "0"}, &ok);
  EXPECT_FALSE(ok);
  // Nothing replaced the carrier's send: a "takeover" text reaches the carrier.
  EXPECT_EQ(
      settles("SendSMS", {"assu", "1", "2125551212", "takeover", "1"}, "sent")["carrierRecipients"],
      json::array({"2125551212"}));
  EXPECT_EQ(tweakLog().at(0), "skipped CTMessageCenter sendSMS:withMoreToFollow:");
  EXPECT_EQ(host.page("ListMessages")["total"], 1);
  const auto folder = std::filesystem::path(root_.path(MessageStore::kDatabasePath)).parent_path();
  // The one set aside, and the new one with its -wal.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3);

  bus_.stop();
  EXPECT_EQ(host.process().waitForExit(), 1);
  EXPECT_EQ(platform::testing::runProgram({DAEMON_HOST, "--iphone", "--no-iphone"}), 2);
}

}  // namespace
}  // namespace pelorin::sim
