// Quenlow.so loaded by the real loader into the real daemon host, on a
// private bus, sending through the stand-in Google Voice service over TLS;
// driven through the host's control interface as the Messages app would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/names.h"
#include "outgoing/testing/quenlow_device.h"
#include "platform/property_list.h"
#include "platform/session_bus.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "service/testing/gv_service_process.h"

namespace pelorin::testing {
namespace {

using nlohmann::json;
using Service = service::testing::GvServiceProcess;

constexpr const char* kSmsPath = "/voice/m/x?m=sms";
constexpr const char* kAccessNumberPath = "/voice/m/x?m=call";

class QuenlowEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    ASSERT_TRUE(service_.running());
    setenv("PELORIN_GV_URL", service_.baseURL().c_str(), 1);
    setenv("PELORIN_GV_CACERT", service_.caFile().c_str(), 1);
  }
  void TearDown() override {
    host_.reset();
    unsetenv("PELORIN_GV_URL");
    unsetenv("PELORIN_GV_CACERT");
  }

  void writeSettings(platform::Dictionary extra = {}) {
    platform::Dictionary settings{{"username", Service::kUser},
                                  {"password", Service::kPassword},
                                  {"phoneNumber", "(415) 555-0100"},
                                  {"enableLogging", true}};
    for (auto& [key, value] : extra) settings[key] = value;
    write(kSettingsFile, platform::Value(settings));
  }
  void write(std::string_view file, const platform::Value& value) {
    ASSERT_TRUE(platform::writePropertyListAtomically(root_.path(std::string(file)), value));
  }

  // A device without a phone: its settings say so and the host has no carrier.
  void startDeviceWithoutAPhone() {
    writeSettings({{std::string(settings::kIsAniPhone), false}});
    startHost({"--no-iphone"});
  }

  void startHost(const std::vector<std::string>& options = {}) {
    host_ = std::make_unique<QuenlowDevice>(options);
    ASSERT_TRUE(host_->started());
  }

  // Sends a received-SMS record over the centre the daemon serves.
  void sendRecord(const std::string& sender, const std::string& text) {
    ASSERT_TRUE(bus_.waitForName(std::string(kSMSRecvCenterName)));
    const std::vector<std::string> argv{"busctl",
                                        "--user",
                                        "call",
                                        std::string(kSMSRecvCenterName),
                                        "/com/talvern/PelorinSMSRecvCenter",
                                        "com.talvern.platform.MessagingCenter",
                                        "Send",
                                        "sa{sv}",
                                        std::string(kSMSReceivedMessageName),
                                        "2",
                                        std::string(kSMSTextMessageKey),
                                        "s",
                                        text,
                                        std::string(kSMSSenderPhoneKey),
                                        "s",
                                        sender};
    ASSERT_EQ(platform::testing::runProgram(argv, nullptr), 0);
  }

  // The next stored incoming message, and every event seen before it.
  std::optional<json> nextIncoming(std::vector<json>* seen = nullptr) {
    return host_->nextEvent([&](const json& e) {
      if (seen) seen->push_back(e);
      return e["event"] == "added" && e["message"]["direction"] == "incoming";
    });
  }

  // The chat message `guid` once it left the sending state.
  std::optional<json> chatMessageSettles(const std::string& guid) {
    auto event = host_->nextEvent([&](const json& e) {
      return e.contains("message") && e["message"]["guid"] == guid &&
             e["message"]["state"] != "sending";
    });
    if (!event) return std::nullopt;
    return (*event)["message"];
  }

  std::string sendChatMessage(const std::string& service, const std::string& chat,
                              const std::string& text) {
    std::string reply;
    EXPECT_TRUE(
        host_->call("SendChatMessage", {"ssassas", service, chat, "1", chat, text, "0"}, &reply));
    // busctl answers `s "GUID"`.
    const auto open = reply.find('"');
    const auto close = reply.rfind('"');
    return open == std::string::npos || close <= open ? ""
                                                      : reply.substr(open + 1, close - open - 1);
  }

  void createChat(const std::string& service, const std::string& chat) {
    EXPECT_TRUE(host_->call("CreateChat", {"ssas", service, chat, "1", chat}));
  }

  // The message with carrier id `id` once it reached `state` ("sent", "failed").
  std::optional<json> smsReaches(std::uint32_t id, const std::string& state) {
    auto event = host_->nextEvent([&](const json& e) {
      return e.contains("message") && e["message"]["messageId"] == id &&
             (e["message"]["state"] == state || e["message"]["state"] == "failed" ||
              (e["message"]["state"] == "sent" && state != "sent"));
    });
    if (!event || (*event)["message"]["state"] != state) {
      ADD_FAILURE() << "message " << id << " did not reach " << state << ": "
                    << (event ? event->dump() : "no event");
      return std::nullopt;
    }
    return (*event)["message"];
  }

  std::uint32_t sendSMS(const std::vector<std::string>& recipients, const std::string& text) {
    const auto id = host_->sendSMS(recipients, text);
    EXPECT_NE(id, 0u);
    return id;
  }

  // The texts the service received, once there is at least one (the
  // worker may still be sending when the message is marked sent).
  std::vector<service::testing::SentTextRecord> textsOnceSent() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto texts = service_.texts();
    while (texts.empty() && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      texts = service_.texts();
    }
    return texts;
  }

  // Sends `text` on `service` to +12125551212; the settled message once it was
  // sent, and the one text the service received was `expected`.
  std::optional<json> sendMovedChatMessage(const std::string& service, const std::string& text,
                                           const std::string& expected) {
    const auto guid = sendChatMessage(service, "+12125551212", text);
    auto settled = guid.empty() ? std::nullopt : chatMessageSettles(guid);
    if (!settled || (*settled)["state"] != "sent") {
      ADD_FAILURE() << guid << " not sent: " << (settled ? settled->dump() : "no event");
      return std::nullopt;
    }
    const auto texts = textsOnceSent();
    EXPECT_EQ(texts.size(), 1u);
    if (texts.empty()) return std::nullopt;
    EXPECT_TRUE(texts[0].to.ends_with("2125551212")) << texts[0].to;
    EXPECT_EQ(texts[0].text, expected);
    return settled;
  }

  std::size_t requests(const std::string& prefix) {
    const auto journal = service_.journal();
    return std::count_if(journal.begin(), journal.end(),
                         [&](const auto& r) { return r.target.starts_with(prefix); });
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
  Service service_;
  std::unique_ptr<QuenlowDevice> host_;
};

TEST_F(QuenlowEndToEndTest, AUSTextGoesThroughGoogleVoiceSigningInOnce) {
  writeSettings();
  startHost();
  const auto first = smsReaches(sendSMS({"2125551212"}, "hello via GV"), "sent");
  ASSERT_TRUE(first);
  EXPECT_TRUE((*first)["carrierRecipients"].is_null());  // never reached the carrier
  std::vector<std::string> targets;
  for (const auto& r : service_.journal()) targets.push_back(r.target);
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_EQ(targets[0], "/accounts/ClientLogin");
  EXPECT_TRUE(targets[2].starts_with(kSmsPath));

  service_.clearJournal();
  ASSERT_TRUE(smsReaches(sendSMS({"2125551212"}, "second"), "sent"));
  EXPECT_EQ(service_.journal().size(), 1u);
  const auto texts = service_.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].to, "2125551212");
  EXPECT_EQ(texts[0].text, "hello via GV");
}

TEST_F(QuenlowEndToEndTest, RulesDecideCarrierOrFailureAndTwoRecipientsFail) {
  writeSettings();
  write(kRulesFile, platform::Value(platform::Dictionary{{"1212", 0}, {"1310", -2}}));
  startHost();
  const auto carrier = smsReaches(sendSMS({"2125551212"}, "by carrier"), "sent");
  ASSERT_TRUE(carrier);
  EXPECT_EQ((*carrier)["carrierRecipients"], json::array({"2125551212"}));
  const auto failing = smsReaches(sendSMS({"3105551212"}, "never"), "failed");
  ASSERT_TRUE(failing);
  EXPECT_TRUE((*failing)["carrierRecipients"].is_null());
  ASSERT_TRUE(smsReaches(sendSMS({"2125551212", "2125551313"}, "two"), "failed"));
  EXPECT_TRUE(service_.journal().empty());
}

TEST_F(QuenlowEndToEndTest, TheAccessNumberRoadIsLearntOnceThenCached) {
  writeSettings({{"gvSMSviaCarrier", true}});
  service_.setAccessNumber("16465550100", "+14155553999");
  startHost();
  const auto first = smsReaches(sendSMS({"(646) 555-0100"}, "via access number"), "sent");
  ASSERT_TRUE(first);
  EXPECT_EQ((*first)["carrierRecipients"], json::array({"14155553999"}));
  EXPECT_EQ(requests(kAccessNumberPath), 1u);

  service_.clearJournal();
  const auto second = smsReaches(sendSMS({"6465550100"}, "again"), "sent");
  ASSERT_TRUE(second);
  EXPECT_EQ((*second)["carrierRecipients"], json::array({"14155553999"}));
  EXPECT_TRUE(service_.journal().empty());
  EXPECT_TRUE(service_.texts().empty());  // the carrier carried both
  const auto cache = platform::readDictionary(root_.path(std::string(kAccessNumberCacheFile)));
  ASSERT_TRUE(cache);
  EXPECT_EQ(cache->at("16465550100"), platform::Value("14155553999"));
}

TEST_F(QuenlowEndToEndTest, ADeclinedSendIsReportedFailed) {
  writeSettings();
  service_.addFault({.path = kSmsPath, .count = 9, .sendSmsResponse = 1});
  startHost();
  ASSERT_TRUE(smsReaches(sendSMS({"2125551212"}, "declined"), "failed"));
  EXPECT_GE(requests(kSmsPath), 1u);  // however often the client tried
  EXPECT_TRUE(service_.texts().empty());
}

TEST_F(QuenlowEndToEndTest, ARulesChangeTakesEffectWithItsNotificationOnly) {
  writeSettings();
  startHost();
  // Written without the notification: still through Google Voice.
  write(kRulesFile, platform::Value(platform::Dictionary{{"1212", 0}}));
  auto unchanged = smsReaches(sendSMS({"2125551212"}, "one"), "sent");
  ASSERT_TRUE(unchanged);
  EXPECT_TRUE((*unchanged)["carrierRecipients"].is_null());

  ASSERT_EQ(root_.readFile(std::string(kLogFile)).find("Array of keys"), std::string::npos);
  platform::newBusDarwinNotifyCenter()->postNotification(std::string(kRulesChangedNotification));
  // Delivered on the host's notification thread: wait for the re-read's log line.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (root_.readFile(std::string(kLogFile)).find("Array of keys") == std::string::npos &&
         std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  auto changed = smsReaches(sendSMS({"2125551212"}, "two"), "sent");
  ASSERT_TRUE(changed);
  EXPECT_EQ((*changed)["carrierRecipients"], json::array({"2125551212"}));
  EXPECT_EQ(service_.texts().size(), 1u);
}

TEST_F(QuenlowEndToEndTest, ARecordOverTheCentreBecomesAnIncomingSMS) {
  writeSettings();
  startHost();
  sendRecord("2125551212", "hello from GV");
  std::vector<json> seen;
  const auto incoming = nextIncoming(&seen);
  ASSERT_TRUE(incoming);
  const auto& message = (*incoming)["message"];
  EXPECT_EQ(message["service"], "SMS");
  EXPECT_EQ(message["text"], "hello from GV");
  EXPECT_NE(message["sender"].get<std::string>().find("2125551212"), std::string::npos)
      << message.dump();
  const auto injected = message["messageId"];
  ASSERT_TRUE(injected.is_number());
  EXPECT_GE(injected.get<std::uint64_t>(), 4294901760u);
  for (const auto& e : seen) {
    EXPECT_FALSE(e["event"] == "carrierIncomingLookup" && e["messageId"] == injected)
        << "the injected id reached the platform's lookup";
  }
}

TEST_F(QuenlowEndToEndTest, WithoutAPhoneARecordBecomesAnIMessageInTheInternationalChat) {
  startDeviceWithoutAPhone();
  sendRecord("2125551212", "hello as iMessage");
  const auto received =
      host_->nextEvent([](const json& e) { return e["event"] == "didReceiveMessage"; });
  ASSERT_TRUE(received);
  EXPECT_EQ((*received)["service"], "iMessage");
  EXPECT_EQ((*received)["forChat"], "+12125551212");
  EXPECT_EQ((*received)["style"], 45);
  EXPECT_EQ((*received)["text"], "hello as iMessage");
}

TEST_F(QuenlowEndToEndTest, ADisplayNameIsResolvedOnceThroughTheContactCache) {
  writeSettings();
  service_.addInboxEntry("Bob Example", "+12125550123", "earlier text");
  startHost();
  for (const char* text : {"first from Bob", "second from Bob"}) {
    sendRecord("Bob Example", text);
    const auto incoming = nextIncoming();
    ASSERT_TRUE(incoming) << text;
    EXPECT_EQ((*incoming)["message"]["text"], text);
    EXPECT_NE((*incoming)["message"]["sender"].get<std::string>().find("2125550123"),
              std::string::npos)
        << incoming->dump();
  }
  EXPECT_EQ(requests("/voice/inbox/recent/sms"), 1u);
}

// While a display name is looked up on a slow service, the daemon's main loop
// answers control calls (a carrier SMS delivered meanwhile is stored first),
// and the records keep the order in which they came.
TEST_F(QuenlowEndToEndTest, ASlowNameLookupHoldsNeitherTheMainLoopNorTheOrder) {
  writeSettings();
  service_.addInboxEntry("Bob Example", "+12125550123", "earlier text");
  service_.addFault({.path = "/voice/inbox/recent/sms", .delayMs = 6000});
  startHost();
  sendRecord("Bob Example", "first");
  sendRecord("2125551212", "second");
  ASSERT_TRUE(host_->call("DeliverSMS", {"ss", "3125550000", "by the carrier meanwhile"}));
  for (const char* text : {"by the carrier meanwhile", "first", "second"}) {
    const auto incoming = nextIncoming();
    ASSERT_TRUE(incoming) << text;
    EXPECT_EQ((*incoming)["message"]["text"], text);
    if (std::string_view(text) == "first") {
      EXPECT_NE((*incoming)["message"]["sender"].get<std::string>().find("2125550123"),
                std::string::npos)
          << incoming->dump();
    }
  }
}

TEST_F(QuenlowEndToEndTest, AForwardedCarrierSMSIsRewrittenToItsSender) {
  writeSettings();
  startHost();
  std::string reply;
  ASSERT_TRUE(host_->call("DeliverSMS", {"ss", "+14155553999", "2125551212 - hello"}, &reply));
  const auto incoming = nextIncoming();
  ASSERT_TRUE(incoming);
  const auto& message = (*incoming)["message"];
  EXPECT_EQ(message["text"], "hello");
  EXPECT_NE(message["sender"].get<std::string>().find("2125551212"), std::string::npos)
      << message.dump();
  EXPECT_EQ(message["sender"].get<std::string>().find("4155553999"), std::string::npos);
  const auto cache = platform::readDictionary(root_.path(std::string(kAccessNumberCacheFile)));
  ASSERT_TRUE(cache);
  ASSERT_TRUE(cache->contains("12125551212"));
  EXPECT_EQ(cache->at("12125551212"), platform::Value("14155553999"));
}

TEST_F(QuenlowEndToEndTest, AnIMessageMovedToSMSIsSentOnceWithOneSignature) {
  constexpr const char* kSignature = "-- via GV";
  writeSettings({{std::string(settings::kEnableiMessageSendRules), true},
                 {std::string(settings::kSendSig), platform::Value(kSignature)}});
  // On a phone an iMessage leaves its service only when a rule sends the number by Google Voice.
  write(kRulesFile, platform::Value(platform::Dictionary{{"1212", 1}}));
  startHost();
  createChat("SMS", "+12125551212");
  createChat("iMessage", "+12125551212");
  const auto settled =
      sendMovedChatMessage("iMessage", "moved to SMS",
                           std::string("moved to SMS\n") + kSignature);  // signed once
  ASSERT_TRUE(settled);
  EXPECT_EQ((*settled)["service"], "SMS");
}

TEST_F(QuenlowEndToEndTest, WithoutAPhoneAnSMSIsMovedToIMessageAndSentThroughGoogleVoice) {
  startDeviceWithoutAPhone();
  createChat("iMessage", "+12125551212");
  createChat("SMS", "+12125551212");
  EXPECT_TRUE(sendMovedChatMessage("SMS", "moved to iMessage", "moved to iMessage"));
}

}  // namespace
}  // namespace pelorin::testing
