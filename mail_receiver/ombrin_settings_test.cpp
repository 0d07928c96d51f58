// Ombrin's settings reader: which mail account and mailbox end up watched.
#include "mail_receiver/ombrin_settings.h"

#include <gtest/gtest.h>

#include "common/logger.h"
#include "incoming/incoming_message_handler.h"

namespace pelorin {
namespace {

using platform::Dictionary;

TEST(OmbrinSettingsTest, WatchedAccountAndMailboxFollowTheOption) {
  struct Case {
    const char* what;
    Dictionary settings;
    std::int32_t startOption;
    Text startAccount;
    std::int32_t option;
    Text account;
    Text label;
  };
  const Case cases[] = {
      {"bare user name gets the provider's domain",
       {{"monitorOptions", 1}, {"username", "ann"}},
       1,
       {},
       1,
       "ann@gmail.com",
       {}},
      {"user name with @ unchanged",
       {{"monitorOptions", 1}, {"username", "ann@example.org"}},
       1,
       {},
       1,
       "ann@example.org",
       {}},
      {"option absent keeps 1", {{"username", "bob"}}, 1, {}, 1, "bob@gmail.com", {}},
      {"blank user name: none", {{"username", "   "}}, 1, "old@x.com", 1, {}, {}},
      {"option 2, chosen account",
       {{"monitorOptions", "2"}, {"monitoredAccount", "me@work.com"}},
       1,
       {},
       2,
       "me@work.com",
       {}},
      {"option 0 leaves the account",
       {{"monitorOptions", 0}, {"username", "ann"}},
       1,
       "old@x.com",
       0,
       "old@x.com",
       {}},
      {"label set", {{"monitoredLabel", "GV"}}, 0, {}, 0, {}, "GV"},
      {"label empty: every mailbox", {{"monitoredLabel", ""}}, 0, {}, 0, {}, {}},
  };
  for (const auto& c : cases) {
    IncomingMessageHandler handler;
    handler.setAccountOption(c.startOption);
    handler.setRecvMailAccount(c.startAccount);
    handler.setRecvMailLabel("previous");
    OmbrinSettings::applySettings(c.settings, {.incoming = &handler});
    EXPECT_EQ(handler.accountOption(), c.option) << c.what;
    EXPECT_EQ(handler.recvMailAccount(), c.account) << c.what;
    EXPECT_EQ(handler.recvMailLabel(), c.label) << c.what;
  }
}

TEST(OmbrinSettingsTest, SwitchesApplyOnlyWhenPresent) {
  IncomingMessageHandler handler;
  Logger logger;
  OmbrinSettings::applySettings({{"enableMailReceive", true}, {"enableLogging", "YES"}},
                                {.logger = &logger, .incoming = &handler});
  EXPECT_TRUE(handler.enableReceiveByMail());
  EXPECT_TRUE(logger.enableLogging());
  OmbrinSettings::applySettings({}, {.logger = &logger, .incoming = &handler});
  EXPECT_TRUE(handler.enableReceiveByMail());
  EXPECT_TRUE(logger.enableLogging());
}

}  // namespace
}  // namespace pelorin
