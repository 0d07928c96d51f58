// The whole road of a text typed by hand: pelorinctl send, the Messages host
// with Pelorin7 (and Hestrel), the daemon host with Quenlow, the stand-in
// Google Voice service; and the switch panel turning "everything through
// Google Voice" on. One device, its cases in order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/session_bus.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "platform/tweak_loader.h"
#include "service/testing/gv_service_process.h"
#include "sim/testing/host_process.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;
using platform::testing::runProgram;
using Service = service::testing::GvServiceProcess;
using sim::testing::HostProcess;
using sim::testing::json;

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class MessagesHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    ASSERT_TRUE(service_.running());
    setenv("PELORIN_GV_URL", service_.baseURL().c_str(), 1);
    setenv("PELORIN_GV_CACERT", service_.caFile().c_str(), 1);
  }
  void TearDown() override {
    unsetenv("PELORIN_GV_URL");
    unsetenv("PELORIN_GV_CACERT");
  }

  // Installs the tweaks and the switch as pelorin-sim does.
  void install() {
    const fs::path tweaks = root_.path(std::string(platform::kTweakFolder));
    fs::create_directories(tweaks);
    for (const fs::path file : {QUENLOW_SO, QUENLOW_PLIST, PELORIN7_SO, PELORIN7_PLIST}) {
      fs::copy_file(file, tweaks / file.filename());
    }
#ifdef HESTREL_SO
    fs::copy_file(HESTREL_SO, tweaks / "Hestrel.so");
#endif
    const fs::path switches = root_.path("/Library/Switches/Dorvessa.bundle");
    fs::create_directories(switches);
    fs::copy(DORVESSA_BUNDLE, switches, fs::copy_options::recursive);
  }

  // pelorinctl send ARGS...; its output, after checking its exit status.
  std::string send(std::vector<std::string> arguments, int status = 0) {
    arguments.insert(arguments.begin(), {PELORINCTL, "send"});
    std::string output;
    EXPECT_EQ(runProgram(arguments, &output), status) << output;
    return output;
  }

  // The daemon's message once it left the "sending" state.
  json settled(const std::string& text) {
    const auto event = daemon_->next([&](const json& e) {
      return e.contains("message") && e["message"]["text"] == text &&
             e["message"]["state"] != "sending";
    });
    EXPECT_TRUE(event) << "no outcome for " << text;
    return event ? (*event)["message"] : json();
  }

  std::string log() const {
    return root_.readFile(std::string(kLogFile));
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
  Service service_;
  std::unique_ptr<HostProcess> daemon_;
};

TEST_F(MessagesHostTest, TextsTypedByHandTakeTheirRoutesAndTheSwitchChangesOne) {
  // Logging off in the file, and 212 numbers by carrier.
  ASSERT_TRUE(platform::writePropertyListAtomically(
      root_.path(std::string(kSettingsFile)),
      platform::Value(platform::Dictionary{{"username", Service::kUser},
                                           {"password", Service::kPassword},
                                           {"phoneNumber", "(415) 555-0100"},
                                           {"enableLogging", false}})));
  ASSERT_TRUE(platform::writePropertyListAtomically(
      root_.path(std::string(kRulesFile)), platform::Value(platform::Dictionary{{"1212", 0}})));
  install();
  daemon_ = std::make_unique<HostProcess>("com.talvern.sim.MessagingDaemon",
                                          std::vector<std::string>{DAEMON_HOST});
  ASSERT_TRUE(daemon_->ready());
  HostProcess messages("com.talvern.sim.Messages", {MESSAGES_HOST, "--model", "iPad"});
  ASSERT_TRUE(messages.ready());
  EXPECT_EQ(messages.seen("tweak", {{"name", "Pelorin7"}, {"loaded", true}}).size(), 1u);

  // The Messages application logs all the same; the text goes through Google Voice.
  EXPECT_EQ(send({"--to", "3125550000", "hello from Messages"}), "sent\n");
  EXPECT_EQ(count(log(),
                  "CKConversation_sendMessage_newComposition entered with SMS "
                  "\n\ncom.apple.MobileSMS\n\n"),
            1u)
      << log();
  const json viaVoice = settled("hello from Messages");
  EXPECT_EQ(viaVoice["service"], "SMS");
  EXPECT_EQ(viaVoice["state"], "sent");
  EXPECT_TRUE(viaVoice.at("carrierRecipients").is_null());  // never reached the carrier
  ASSERT_EQ(service_.texts().size(), 1u);
  EXPECT_EQ(service_.texts()[0].to, "3125550000");
#ifdef HESTREL_SO
  // Hestrel came in with Pelorin7, though no filter names the Messages application.
  std::ifstream maps("/proc/" + std::to_string(messages.process().pid()) + "/maps");
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(maps), {}).find("/Hestrel.so"),
            std::string::npos);
#endif

  // An iMessage on its service with an attachment reaches the daemon, not the service.
  const std::string picture = root_.folder() + "/picture.jpg";
  std::ofstream(picture) << "jpeg";
  EXPECT_EQ(send({"--imessage", "--on-service", "--attach", picture, "--to", "someone@example.com",
                  "look"}),
            "sent\n");
  EXPECT_NE(log().find("CKConversation_sendMessage_onService_newComposition entered with "
                       "iMessage \n\ncom.apple.MobileSMS"),
            std::string::npos);
  const json iMessage = settled("look");
  EXPECT_EQ(iMessage["service"], "iMessage");
  EXPECT_EQ(iMessage["attachments"], json::array({picture}));
  EXPECT_EQ(service_.texts().size(), 1u);

  // Refused before anything is composed: an unreadable attachment, an
  // unknown service, sends beyond the limits (naming the limit).
  send({"--to", "2125551212", "--attach", root_.folder() + "/missing.jpg", "x"}, 2);
  std::vector<std::string> manyRecipients{"sassasb", "SMS", "10001"};
  manyRecipients.resize(manyRecipients.size() + 10'001, "2125551212");
  manyRecipients.insert(manyRecipients.end(), {"hi", "0", "false"});
  std::vector<std::string> manyAttachments{"sassasb", "SMS", "1", "2125551212", "hi", "101"};
  manyAttachments.resize(manyAttachments.size() + 101, "/tmp/a.jpg");
  manyAttachments.push_back("false");
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"sassasb", "Fax", "1", "2125551212", "x", "0", "false"}, "no service Fax"},
      {manyRecipients, "recipients: more than 10000 texts"},
      {{"sassasb", "SMS", "1", "2125551212", std::string(65'537, 'x'), "0", "false"},
       "text: longer than 65536 bytes"},
      {manyAttachments, "attachments: more than 100 texts"},
  };
  for (const auto& [arguments, reason] : refused) {
    bool ok = true;
    EXPECT_NE(messages.call("Send", arguments, &ok).find(reason), std::string::npos) << reason;
    EXPECT_FALSE(ok) << reason;
  }

  // The rule sends a 212 number by carrier.
  EXPECT_EQ(send({"--to", "2125551212", "by carrier"}), "sent\n");
  EXPECT_EQ(settled("by carrier")["carrierRecipients"], json::array({"2125551212"}));

  // Hestrel reads the model the host was given: on an iPad that says it has
  // a phone, its alert says so, and the host lists it.
  ASSERT_EQ(runProgram({PELORINCTL, "settings", "set", "enableLogging", "true"}), 0);
  const std::string notAPhone =
      "Device appears not to be an iPhone. The \"Device is iPhone\" toggle should be OFF in "
      "settings.";
  ASSERT_TRUE(messages.next([&](const json& e) { return e.value("message", "") == notAPhone; }));
  const json alerts = messages.page("ListAlerts");
  EXPECT_EQ(alerts["total"], 1);
  EXPECT_EQ(alerts["items"][0]["message"], notAPhone);

  // The switch sends the carrier rule's number through Google Voice. The
  // daemon reads the settings on its notification thread; a rules
  // notification posted afterwards is handled after it there, and its re-read
  // leaves a log line: once that appears, the new settings hold.
  std::string output;
  ASSERT_EQ(runProgram({PELORIN_SWITCHES, "set", "com.talvern.dorvessa", "on"}, &output), 0)
      << output;
  const std::size_t reads = count(log(), "Array of keys");
  platform::newBusDarwinNotifyCenter()->postNotification(std::string(kRulesChangedNotification));
  for (int i = 0; i < 1000 && count(log(), "Array of keys") == reads; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(send({"--to", "2125551212", "through Google Voice"}), "sent\n");
  EXPECT_TRUE(settled("through Google Voice").at("carrierRecipients").is_null());
  EXPECT_EQ(service_.texts().size(), 2u);
}

}  // namespace
}  // namespace pelorin::testing
