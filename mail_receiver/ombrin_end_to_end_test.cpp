// Ombrin.so in the real Mail host and Quenlow.so in the real daemon host, on
// a private bus: the sample text mails delivered to the Mail host end as
// incoming texts in the daemon's store, from their real senders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "platform/tweak_loader.h"

namespace pelorin::testing {
namespace {

using nlohmann::json;
using platform::testing::ChildProcess;

constexpr char kMail[] = "com.talvern.sim.Mail";
constexpr char kAccount[] = "mobile.user@gmail.com";

std::string samplePath(const std::string& name) {
  return std::string(SAMPLES_DIR) + "/" + name;
}

class OmbrinEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    // Nothing here needs the voice service; should anything ask, it meets a closed port.
    setenv("PELORIN_GV_URL", "https://127.0.0.1:9", 1);
  }
  void TearDown() override {
    mail_.reset();
    daemon_.reset();
    unsetenv("PELORIN_GV_URL");
  }

  void startHosts(platform::Dictionary settings) {
    settings["enableMailReceive"] = true;
    settings["enableLogging"] = true;
    ASSERT_TRUE(platform::writePropertyListAtomically(root_.path(std::string(kSettingsFile)),
                                                      platform::Value(settings)));
    const std::string folder = root_.path(std::string(platform::kTweakFolder));
    std::filesystem::create_directories(folder);
    for (const char* file : {QUENLOW_SO, QUENLOW_PLIST, OMBRIN_SO, OMBRIN_PLIST}) {
      std::filesystem::copy_file(file,
                                 folder + "/" + std::filesystem::path(file).filename().string());
    }
    daemon_ = start(DAEMON_HOST, "Quenlow");
    mail_ = start(MAIL_HOST, "Ombrin", {"--account", kAccount, "--account", "other@gmail.com"});
  }

  std::unique_ptr<ChildProcess> start(const char* host, const std::string& tweak,
                                      std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{host, "--json-events", "-"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto child = std::make_unique<ChildProcess>(argv);
    auto loaded = nextEvent(*child, [](const json& e) { return e["event"] == "tweak"; });
    EXPECT_TRUE(loaded && (*loaded)["name"] == tweak && (*loaded)["loaded"] == true)
        << (loaded ? loaded->dump() : "no tweak event");
    EXPECT_TRUE(nextEvent(*child, [](const json& e) { return e["event"] == "ready"; }));
    return child;
  }

  static std::optional<json> nextEvent(
      ChildProcess& host, const std::function<bool(const json&)>& wanted,
      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    while (auto line = host.readLine(timeout)) {
      json event = json::parse(*line, nullptr, false);
      if (wanted(event)) return event;
    }
    return std::nullopt;
  }

  std::string callMail(std::vector<std::string> arguments) {
    std::vector<std::string> argv{"busctl", "--user", "call", kMail, "/com/talvern/sim/Mail",
                                  kMail};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    EXPECT_EQ(platform::testing::runProgram(argv, &output), 0) << output;
    return output;
  }

  // Delivers a sample and waits until the store set its body (so Ombrin has
  // seen it); the message id.
  std::string deliver(const std::string& sample, const std::string& mailbox = "INBOX",
                      const std::string& account = kAccount) {
    const std::string reply =
        callMail({"DeliverMail", "sss", account, mailbox, samplePath(sample)});
    // busctl writes: s "ID"
    const std::string id = reply.size() > 4 ? reply.substr(3, reply.size() - 5) : "";
    EXPECT_TRUE(bodySet(id)) << sample;
    return id;
  }

  bool bodySet(const std::string& id) {
    return nextEvent(*mail_,
                     [&](const json& e) { return e["event"] == "bodySet" && e["messageID"] == id; })
        .has_value();
  }

  // The next text the daemon received: "sender: text".
  std::string nextIncoming(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    auto event = nextEvent(
        *daemon_,
        [](const json& e) {
          return e.contains("message") && e["message"]["direction"] == "incoming" &&
                 e["message"]["state"] == "received";
        },
        timeout);
    if (!event) return "(nothing)";
    const auto& m = (*event)["message"];
    return m["sender"].get<std::string>() + ": " + m["text"].get<std::string>();
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
  std::unique_ptr<ChildProcess> daemon_;
  std::unique_ptr<ChildProcess> mail_;
};

TEST_F(OmbrinEndToEndTest, EachSampleMailEndsAsATextFromItsSender) {
  startHosts({{"monitorOptions", 1}, {"username", "mobile.user"}});
  // The mail not from the text-mail domain first: it must reach nothing, so
  // the first text received is the next sample's.
  deliver("not-text-mail.eml");
  const std::pair<const char*, const char*> samples[] = {
      {"gv-plain.eml", "12125550123: Running late, see you at 8"},
      {"gv-latin1-qp.eml", "13105550199: Caf\xc3\xa9 cr\xc3\xa8me \xc3\xa0 5h? \xc2\xbfS\xc3\xad?"},
      {"gv-utf8-base64.eml",
       "14155550142: \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82! \xf0\x9f\x98\x80 \xc3\x87"
       "a va? \xe6\x9d\xb1\xe4\xba\xac"},
      {"gv-multipart-alternative.eml", "16175550177: Both parts say hi, but the HTML one wins"},
      {"gv-entities-markup.eml",
       "12065550110: Tom & Jerry say \"hi\" <3<b>bold</b> <tag>\nline two"},
  };
  for (const auto& [file, expected] : samples) {
    deliver(file);
    EXPECT_EQ(nextIncoming(), expected) << file;
  }
}

TEST_F(OmbrinEndToEndTest, MailOfAnotherMailboxOrAccountIsDropped) {
  startHosts({{"monitorOptions", 1}, {"username", "mobile.user"}, {"monitoredLabel", "inbox"}});
  const std::string archived = deliver("gv-plain.eml", "Archive");
  deliver("gv-utf8-base64.eml", "INBOX", "other@gmail.com");
  deliver("gv-latin1-qp.eml");
  EXPECT_EQ(nextIncoming().substr(0, 11), "13105550199");
  // Moved to the right mailbox later (its body set again): still dropped.
  callMail({"SetBody", "s", archived});
  ASSERT_TRUE(bodySet(archived));
  EXPECT_EQ(nextIncoming(std::chrono::milliseconds(1500)), "(nothing)");
}

}  // namespace
}  // namespace pelorin::testing
