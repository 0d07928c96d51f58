#include "outgoing/quenlow_settings.h"

#include "common/logger.h"
#include "outgoing/outgoing_test_fixture.h"

namespace pelorin::testing {
namespace {

class QuenlowSettingsTest : public OutgoingTest {
 protected:
  ~QuenlowSettingsTest() override { logger_.setEnableLogging(false); }

  void read(const platform::Dictionary& settings) {
    platform::writePropertyListAtomically(resolvedPath(kSettingsFile), platform::Value(settings));
    QuenlowSettings::readSettings({.logger = &logger_,
                                   .outgoing = &handler_,
                                   .autoRules = &autoRules_,
                                   .incoming = &incoming_,
                                   .gv = &gv_});
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
        {"phoneNumber", "(415) 555-0100"},
        {"enableAutoRules", true}});
  std::string switches;  // in the file's order
  for (bool on :
       {logger_.enableLogging(), handler_.enableOmniDorvessa(), handler_.enableSendRules(),
        handler_.enableIntlSMSDorvessa(), handler_.enableIntliMsgDorvessa(),
        handler_.enableiMessageRules(), handler_.gvSMSviaCarrier(), handler_.allGVasSMS(),
        handler_.enableShortCodeonGV(), incoming_.enableReceiveOfficialGV(),
        incoming_.enableReceiveByMail(), autoRules_.enableAutoRules()}) {
    switches += on ? '1' : '0';
  }
  EXPECT_EQ(switches, "110111101111");
  EXPECT_EQ(handler_.defaultSMSSendMode(), 0);
  EXPECT_EQ(Calls({*handler_.sendSignature(), *incoming_.recvSignature(), *gv_.iPhoneNumber()}),
            (Calls{"-- sent by me", "(GV)", "14155550100"}));

  // Texts are always set (another kind reads as none); switches keep their last value.
  read({{"sendsig", 5}});
  EXPECT_EQ(handler_.sendSignature(), std::nullopt);
  EXPECT_EQ(incoming_.recvSignature(), std::nullopt);
  EXPECT_EQ(gv_.iPhoneNumber(), std::nullopt);
  EXPECT_TRUE(handler_.enableShortCodeonGV());
  EXPECT_TRUE(autoRules_.enableAutoRules());
  // An unreadable file changes nothing.
  read({{"sendsig", "kept"}});
  root_.writeFile(std::string(kSettingsFile), "not a property list");
  QuenlowSettings::readSettings({.outgoing = &handler_});
  EXPECT_EQ(handler_.sendSignature(), "kept");
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
  EXPECT_TRUE(handler_.enableiMessageRules());
  EXPECT_FALSE(handler_.enableIntliMsgDorvessa());
  EXPECT_FALSE(autoRules_.enableAutoRules());
  EXPECT_EQ(platform::readArray(resolvedPath(kAutoRulesFile)), platform::Array{});
  EXPECT_EQ(notifications_.darwinPosts(), Calls{std::string(kAutoRulesChangedNotification)});

  // The shortcut the route explainer takes agrees.
  EXPECT_FALSE(QuenlowSettings::autoRulesEnabledAfter(
      {{"isAniPhone", false}, {"enableAutoRules", true}}, false, true));
  EXPECT_FALSE(QuenlowSettings::autoRulesEnabledAfter({{"enableAutoRules", false}}, true, true));
  EXPECT_TRUE(QuenlowSettings::autoRulesEnabledAfter({{"enableAutoRules", true}}, false, true));
  EXPECT_TRUE(QuenlowSettings::autoRulesEnabledAfter({{"isAniPhone", true}}, true, false));
}

}  // namespace
}  // namespace pelorin::testing
