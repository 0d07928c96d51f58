// Ombrin's settings reader: the switches, and which mail account and mailbox
// end up watched.
#include "mail_receiver/ombrin_settings.h"

#include <gtest/gtest.h>

#include "common/logger.h"
#include "incoming/incoming_message_handler.h"

namespace pelorin {
namespace {

TEST(OmbrinSettingsTest, SwitchesAccountAndMailboxFollowTheSettings) {
  struct Row {
    platform::Dictionary settings;
    std::int32_t startOption;
    Text startAccount;
    std::int32_t option;
    Text account, label;
    bool switches = true;  // mail receiving and logging, both on before
  };
  const Row rows[] = {
      {{{"monitorOptions", 1}, {"username", "ann"}}, 0, {}, 1, "ann@gmail.com", {}},
      {{{"monitorOptions", 1}, {"username", "ann@example.org"}}, 1, {}, 1, "ann@example.org", {}},
      {{{"username", "bob"}}, 1, {}, 1, "bob@gmail.com", {}},
      {{{"username", "   "}}, 1, "old@x.com", 1, {}, {}},
      {{{"username", 7}}, 1, "old@x.com", 1, {}, {}},
      {{{"monitorOptions", "2"}, {"monitoredAccount", "me@work.com"}}, 1, {}, 2, "me@work.com", {}},
      {{{"monitorOptions", 2}, {"monitoredAccount", ""}}, 2, "old@x.com", 2, {}, {}},
      {{{"monitorOptions", 0}, {"username", "ann"}}, 1, "old@x.com", 0, "old@x.com", {}},
      {{{"monitorOptions", 3}, {"username", "ann"}}, 1, "old@x.com", 3, "old@x.com", {}},
      {{{"monitoredLabel", "GV"}}, 0, {}, 0, {}, "GV"},
      {{{"monitoredLabel", " "}}, 0, {}, 0, {}, {}},
      {{{"enableMailReceive", false}, {"enableLogging", "NO"}}, 0, {}, 0, {}, {}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(platform::Value(row.settings).description());
    IncomingMessageHandler handler;
    Logger logger;
    handler.setEnableReceiveByMail(true);
    logger.setEnableLogging(true);
    handler.setAccountOption(row.startOption);
    handler.setRecvMailAccount(row.startAccount);
    handler.setRecvMailLabel("previous");
    OmbrinSettings::applySettings(row.settings, {.logger = &logger, .incoming = &handler});
    EXPECT_EQ(handler.accountOption(), row.option);
    EXPECT_EQ(handler.recvMailAccount(), row.account);
    EXPECT_EQ(handler.recvMailLabel(), row.label);
    EXPECT_EQ(handler.enableReceiveByMail(), row.switches);
    EXPECT_EQ(logger.enableLogging(), row.switches);
  }
}

}  // namespace
}  // namespace pelorin
