// Quenlow.so loaded by the real loader into the real daemon host, on a
// private bus, sending through the stand-in Google Voice service over TLS;
// driven through the host's control interface as the Messages app would.
// Each test starts one device and walks its road's cases in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <regex>

#include "common/names.h"
#include "outgoing/testing/quenlow_device.h"
#include "platform/property_list.h"
#include "platform/session_bus.h"
#include "platform/testing/messaging_doubles.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "service/testing/gv_service_process.h"

namespace pelorin::testing {
namespace {

using nlohmann::json;
using namespace platform::testing;
using Calls = std::vector<std::string>;
using Service = service::testing::GvServiceProcess;

constexpr const char* kSmsPath = "/voice/m/x?m=sms";
constexpr const char* kInboxPath = "/voice/inbox/recent/sms";

class QuenlowEndToEndTest : public ::testing::Test {
 protected:
  QuenlowEndToEndTest() {
    setenv("PELORIN_GV_URL", service_.baseURL().c_str(), 1);
    setenv("PELORIN_GV_CACERT", service_.caFile().c_str(), 1);
  }

  // Starts the device with the account's settings and `extra` ones.
  void start(platform::Dictionary extra, const std::vector<std::string>& options = {}) {
    ASSERT_TRUE(bus_.started());
    ASSERT_TRUE(service_.running());
    extra.merge(platform::Dictionary{{"username", Service::kUser},
                                     {"password", Service::kPassword},
                                     {"phoneNumber", "(415) 555-0100"},
                                     {"enableLogging", true}});
    write(kSettingsFile, extra);
    host_ = std::make_unique<QuenlowDevice>(options);
    ASSERT_TRUE(host_->started());
  }
  void write(std::string_view file, const platform::Dictionary& contents) {
    ASSERT_TRUE(platform::writePropertyListAtomically(root_.path(std::string(file)),
                                                      platform::Value(contents)));
  }

  // Sends an SMS; "STATE CARRIER-RECIPIENTS" once it was sent or failed.
  std::string sms(const std::vector<std::string>& recipients, const std::string& text) {
    const auto id = host_->sendSMS(recipients, text);
    const auto event = host_->nextEvent([&](const json& e) {
      return e.contains("message") && e["message"]["messageId"] == id &&
             (e["message"]["state"] == "sent" || e["message"]["state"] == "failed");
    });
    if (!id || !event) return "no message";
    return (*event)["message"]["state"].get<std::string>() + " " +
           (*event)["message"]["carrierRecipients"].dump();
  }
  // Sends a chat message to `chat` on `service`; the message once it settled.
  json chatMessage(const std::string& service, const std::string& chat, const std::string& text) {
    std::string reply;  // busctl answers `s "GUID"`
    EXPECT_TRUE(
        host_->call("SendChatMessage", {"ssassas", service, chat, "1", chat, text, "0"}, &reply));
    const auto open = reply.find('"'), close = reply.rfind('"');
    const std::string guid = close > open ? reply.substr(open + 1, close - open - 1) : "";
    const auto event = host_->nextEvent([&](const json& e) {
      return e.contains("message") && e["message"]["guid"] == guid &&
             e["message"]["state"] != "sending";
    });
    return event ? (*event)["message"] : json();
  }
  void createChats(const std::string& chat) {
    for (const char* service : {"SMS", "iMessage"}) {
      EXPECT_TRUE(host_->call("CreateChat", {"ssas", service, chat, "1", chat}));
    }
  }
  // Sends a received-SMS record over the centre the daemon serves.
  void sendRecord(const std::string& sender, const std::string& text) {
    ASSERT_TRUE(bus_.waitForName(std::string(kSMSRecvCenterName)));
    ASSERT_TRUE(centres_->centerNamed(std::string(kSMSRecvCenterName))
                    ->sendMessageName(std::string(kSMSReceivedMessageName),
                                      {{std::string(kSMSTextMessageKey), text},
                                       {std::string(kSMSSenderPhoneKey), sender}}));
  }
  // The next stored incoming message as "SENDER: TEXT".
  std::string nextIncoming() {
    const auto event = host_->nextEvent([&](const json& e) {
      return e["event"] == "added" && e["message"]["direction"] == "incoming";
    });
    if (!event) return "none";
    return (*event)["message"]["sender"].get<std::string>() + ": " +
           (*event)["message"]["text"].get<std::string>();
  }
  // The texts the service took, as "TO: TEXT", once there are `count`.
  Calls texts(std::size_t count) {
    eventually([&] { return service_.texts().size() >= count; });
    Calls out;
    for (const auto& t : service_.texts()) out.push_back(t.to + ": " + t.text);
    return out;
  }
  std::size_t requests(const std::string& prefix) {
    const auto journal = service_.journal();
    return std::count_if(journal.begin(), journal.end(),
                         [&](const auto& r) { return r.target.starts_with(prefix); });
  }
  // Posts that the rules changed and waits until the daemon read them again.
  void announceRules() {
    const std::regex reread("Array of keys");
    auto reads = [&] {
      const std::string log = root_.readFile(std::string(kLogFile));
      return std::distance(std::sregex_iterator(log.begin(), log.end(), reread), {});
    };
    const auto before = reads();
    platform::newBusDarwinNotifyCenter()->postNotification(std::string(kRulesChangedNotification));
    EXPECT_TRUE(eventually([&] { return reads() > before; }));
  }
  // The access-number cache file: target number to access number.
  platform::Dictionary cachedAccessNumbers() {
    return platform::readDictionary(root_.path(std::string(kAccessNumberCacheFile)))
        .value_or(platform::Dictionary());
  }

  TemporaryRoot root_;
  PrivateBus bus_;
  Service service_;
  std::unique_ptr<QuenlowDevice> host_;
  std::unique_ptr<platform::MessagingCenterProvider> centres_ = platform::newBusMessagingCenters();
};

TEST_F(QuenlowEndToEndTest, APhoneSendsByItsRulesAndTakesInRecords) {
  start({{"enableiMessageSendRules", true}, {"sendsig", "-- via GV"}});
  // Through Google Voice, signing in once; signed; never at the carrier.
  EXPECT_EQ(sms({"2125551212"}, "hello via GV"), "sent null");
  EXPECT_EQ(sms({"2125551212"}, "second"), "sent null");
  EXPECT_EQ(requests("/accounts/ClientLogin"), 1u);
  EXPECT_EQ(requests(kSmsPath), 2u);
  EXPECT_EQ(texts(2),
            (Calls{"2125551212: hello via GV\n-- via GV", "2125551212: second\n-- via GV"}));

  // Rules count from their notification on: carrier, failure; two recipients fail.
  write(kRulesFile, {{"1212", 0}, {"1310", -2}, {"1415", 1}});
  EXPECT_EQ(sms({"2125551212"}, "still via GV"), "sent null");
  announceRules();
  service_.clearJournal();
  EXPECT_EQ(sms({"2125551212"}, "by carrier"), "sent [\"2125551212\"]");
  EXPECT_EQ(sms({"3105551212"}, "never"), "failed null");
  EXPECT_EQ(sms({"2125551212", "2125551313"}, "two"), "failed null");
  EXPECT_TRUE(service_.journal().empty());
  // An iMessage that a rule sends by Google Voice moves to SMS and is signed once.
  createChats("+14155550123");
  EXPECT_EQ(chatMessage("iMessage", "+14155550123", "moved")["service"], "SMS");
  EXPECT_EQ(texts(4),
            (Calls{"2125551212: hello via GV\n-- via GV", "2125551212: second\n-- via GV",
                   "2125551212: still via GV\n-- via GV", "+14155550123: moved\n-- via GV"}));

  // A record over the centre becomes an incoming SMS.
  sendRecord("2125551212", "hello from GV");
  EXPECT_EQ(nextIncoming(), "2125551212: hello from GV");
}

TEST_F(QuenlowEndToEndTest, AccessNumbersAreLearntOnceAndASlowLookupHoldsNothingUp) {
  service_.setAccessNumber("16465550100", "+14155553999");
  start({{"gvSMSviaCarrier", true}});
  EXPECT_EQ(sms({"(646) 555-0100"}, "via access number"), "sent [\"14155553999\"]");
  EXPECT_EQ(requests("/voice/m/x?m=call"), 1u);
  service_.clearJournal();
  EXPECT_EQ(sms({"6465550100"}, "again"), "sent [\"14155553999\"]");
  EXPECT_TRUE(service_.journal().empty());
  EXPECT_TRUE(service_.texts().empty());  // the carrier carried both
  EXPECT_EQ(cachedAccessNumbers(), (platform::Dictionary{{"16465550100", "14155553999"}}));
  // A carrier SMS forwarded from the access number is rewritten to its sender.
  ASSERT_TRUE(host_->call("DeliverSMS", {"ss", "+14155553999", "2125551212 - hello"}));
  EXPECT_EQ(nextIncoming(), "2125551212: hello");
  EXPECT_EQ(cachedAccessNumbers()["12125551212"], platform::Value("14155553999"));

  // While a name is looked up on a slow service, the main loop answers (a
  // carrier SMS delivered meanwhile is stored first) and records keep their order.
  service_.addInboxEntry("Bob Example", "+12125550123", "earlier text");
  service_.addFault({.path = kInboxPath, .delayMs = 6000});
  sendRecord("Bob Example", "first");
  sendRecord("2125551212", "second");
  ASSERT_TRUE(host_->call("DeliverSMS", {"ss", "3125550000", "by the carrier meanwhile"}));
  EXPECT_EQ(nextIncoming(), "3125550000: by the carrier meanwhile");
  EXPECT_EQ(nextIncoming(), "+12125550123: first");
  EXPECT_EQ(nextIncoming(), "2125551212: second");
}

TEST_F(QuenlowEndToEndTest, WithoutAPhoneTextsTravelAsIMessages) {
  start({{std::string(settings::kIsAniPhone), false}}, {"--no-iphone"});
  sendRecord("2125551212", "hello as iMessage");
  const auto received =
      host_->nextEvent([](const json& e) { return e["event"] == "didReceiveMessage"; });
  ASSERT_TRUE(received);
  EXPECT_EQ((*received)["service"], "iMessage");
  EXPECT_EQ((*received)["forChat"], "+12125551212");
  EXPECT_EQ((*received)["style"], 45);
  EXPECT_EQ((*received)["text"], "hello as iMessage");
  // An SMS moves to iMessage, which sends it through Google Voice.
  createChats("+12125551212");
  EXPECT_EQ(chatMessage("SMS", "+12125551212", "moved")["state"], "sent");
  EXPECT_EQ(texts(1), Calls{"2125551212: moved"});
}

}  // namespace
}  // namespace pelorin::testing
