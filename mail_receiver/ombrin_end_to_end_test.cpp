// Ombrin.so in the real Mail host and Quenlow.so in the real daemon host, on
// a private bus: the sample text mails delivered to the Mail host end as
// incoming texts in the daemon's store, from their real senders.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "platform/testing/tweak_host.h"

namespace pelorin::testing {
namespace {

using nlohmann::json;
using platform::testing::TweakHost;

constexpr char kMail[] = "com.talvern.sim.Mail";
constexpr char kAccount[] = "mobile.user@gmail.com";

TEST(OmbrinEndToEndTest, TextMailsOfTheWatchedMailboxBecomeTextsFromTheirSenders) {
  platform::testing::TemporaryRoot root;
  platform::testing::PrivateBus bus;
  ASSERT_TRUE(bus.started());
  // Nothing here needs the voice service; should anything ask, it meets a closed port.
  setenv("PELORIN_GV_URL", "https://127.0.0.1:9", 1);
  ASSERT_TRUE(platform::writePropertyListAtomically(
      root.path(std::string(kSettingsFile)),
      platform::Value(platform::Dictionary{{"enableMailReceive", true},
                                           {"monitorOptions", 1},
                                           {"username", "mobile.user"},
                                           {"monitoredLabel", "inbox"}})));
  TweakHost::install(root, {QUENLOW_SO, QUENLOW_PLIST, OMBRIN_SO, OMBRIN_PLIST});
  TweakHost daemon({DAEMON_HOST}, "Quenlow");
  TweakHost mail({MAIL_HOST, "--account", kAccount, "--account", "other@gmail.com"}, "Ombrin");
  ASSERT_TRUE(daemon.ready() && mail.ready());

  // A row without a text must reach nothing, so the next text received is
  // always the next row's. Each sample goes once: the store keeps its id.
  struct Row {
    const char *sample, *mailbox, *account, *text;
  };
  const Row rows[] = {
      {"not-text-mail.eml", "INBOX", kAccount, nullptr},
      {"gv-plain.eml", "Archive", kAccount, nullptr},
      {"gv-utf8-base64.eml", "INBOX", "other@gmail.com", nullptr},
      {"gv-latin1-qp.eml", "INBOX", kAccount,
       "13105550199: Caf\xc3\xa9 cr\xc3\xa8me \xc3\xa0 5h? \xc2\xbfS\xc3\xad?"},
      {"gv-multipart-alternative.eml", "INBOX", kAccount,
       "16175550177: Both parts say hi, but the HTML one wins"},
      {"gv-entities-markup.eml", "INBOX", kAccount,
       "12065550110: Tom & Jerry say \"hi\" <3<b>bold</b> <tag>\nline two"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.sample);
    EXPECT_EQ(platform::testing::runProgram(
                  {"busctl", "--user", "call", kMail, "/com/talvern/sim/Mail", kMail, "DeliverMail",
                   "sss", row.account, row.mailbox, std::string(SAMPLES_DIR) + "/" + row.sample}),
              0);
    if (!row.text) continue;
    auto event = daemon.nextEvent(
        [](const json& e) { return e.contains("message") && e["message"]["state"] == "received"; });
    ASSERT_TRUE(event);
    const auto& m = (*event)["message"];
    EXPECT_EQ(m["sender"].get<std::string>() + ": " + m["text"].get<std::string>(), row.text);
  }
}

}  // namespace
}  // namespace pelorin::testing
