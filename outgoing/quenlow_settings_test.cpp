#include "outgoing/quenlow_settings.h"

#include <gtest/gtest.h>

#include "common/logger.h"
#include "outgoing/outgoing_test_fixture.h"

namespace pelorin::testing {
namespace {

using platform::Dictionary;

class QuenlowSettingsTest : public OutgoingTest {
 protected:
  ~QuenlowSettingsTest() override { logger_.setEnableLogging(false); }

  QuenlowSettings::Targets targets() {
    return {.logger = &logger_,
            .outgoing = &handler(),
            .autoRules = &autoRules_,
            .incoming = &incoming_,
            .gv = &gv_};
  }
  void read(const Dictionary& settings) {
    platform::writePropertyListAtomically(resolvedPath(kSettingsFile), platform::Value(settings));
    QuenlowSettings::readSettings(targets());
  }

  Logger logger_;
};

TEST_F(QuenlowSettingsTest, EveryKeyReachesItsSetter) {
  read({{"enableLogging", true},
        {"enableOmniSend", "YES"},
        {"evalSendRules", false},
        {"defaultSMSSend", "0"},
        {"intlSMSviaGV", 1},
        {"intliMsgviaGV", true},
        {"enableiMessageSendRules", 1},
        {"gvSMSviaCarrier", true},
        {"allGVasSMS", false},
        {"shortCodeviaGV", true},
        {"sendsig", "-- sent by me"},
        {"enableReceiveOfficialGV", true},
        {"enableMailReceive", true},
        {"recvsig", "(GV)"},
        {"username", "me@gmail.com"},
        {"password", "pw"},
        {"phoneNumber", "(415) 555-0100"}});
  EXPECT_TRUE(logger_.enableLogging());
  EXPECT_TRUE(handler().enableOmniDorvessa());
  EXPECT_FALSE(handler().enableSendRules());
  EXPECT_EQ(handler().defaultSMSSendMode(), 0);
  EXPECT_TRUE(handler().enableIntlSMSDorvessa());
  EXPECT_TRUE(handler().enableIntliMsgDorvessa());
  EXPECT_TRUE(handler().enableiMessageRules());
  EXPECT_TRUE(handler().gvSMSviaCarrier());
  EXPECT_FALSE(handler().allGVasSMS());
  EXPECT_TRUE(handler().enableShortCodeonGV());
  EXPECT_EQ(handler().sendSignature(), "-- sent by me");
  EXPECT_TRUE(incoming_.enableReceiveOfficialGV());
  EXPECT_TRUE(incoming_.enableReceiveByMail());
  EXPECT_EQ(incoming_.recvSignature(), "(GV)");
  EXPECT_EQ(gv_.iPhoneNumber(), "14155550100");
  EXPECT_TRUE(gv_.isiPhoneNumberValid());
}

TEST_F(QuenlowSettingsTest, NotAniPhoneOverridesTheFileAfterItWasApplied) {
  // The automatic rules are switched on (loading the file) before the device
  // kind turns them off again, which empties the file.
  platform::writePropertyListAtomically(resolvedPath(kAutoRulesFile),
                                        platform::Value(platform::Array{"12125551212"}));
  read({{"isAniPhone", false},
        {"enableiMessageSendRules", false},
        {"intliMsgviaGV", true},
        {"enableAutoRules", true}});
  EXPECT_FALSE(incoming_.isAniPhone());
  EXPECT_TRUE(handler().enableiMessageRules());
  EXPECT_FALSE(handler().enableIntliMsgDorvessa());
  EXPECT_FALSE(autoRules_.enableAutoRules());
  EXPECT_EQ(platform::readArray(resolvedPath(kAutoRulesFile)), platform::Array{});
  EXPECT_EQ(notifications_.darwinPosts(),
            std::vector<std::string>{std::string(kAutoRulesChangedNotification)});

  // The shortcut the route explainer takes agrees.
  EXPECT_FALSE(QuenlowSettings::autoRulesEnabledAfter(
      {{"isAniPhone", false}, {"enableAutoRules", true}}, false, true));
  EXPECT_TRUE(QuenlowSettings::autoRulesEnabledAfter({{"enableAutoRules", true}}, false, true));
  EXPECT_TRUE(QuenlowSettings::autoRulesEnabledAfter({}, true, true));
}

TEST_F(QuenlowSettingsTest, AlwaysKeysAreClearedOthersKeepTheirLastValue) {
  read({{"sendsig", "sig"}, {"shortCodeviaGV", true}, {"username", "u"}, {"recvsig", "r"}});
  read({{"sendsig", 5}});  // not a text: none
  EXPECT_EQ(handler().sendSignature(), std::nullopt);
  EXPECT_TRUE(handler().enableShortCodeonGV());
  EXPECT_EQ(incoming_.recvSignature(), std::nullopt);
}

TEST_F(QuenlowSettingsTest, AnUnreadableFileChangesNothing) {
  read({{"sendsig", "kept"}});
  root_.writeFile(std::string(kSettingsFile), "not a property list");
  QuenlowSettings::readSettings(targets());
  EXPECT_EQ(handler().sendSignature(), "kept");
}

}  // namespace
}  // namespace pelorin::testing
