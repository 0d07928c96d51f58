#include "voice/gv_interface.h"

#include <gtest/gtest.h>

#include <functional>

#include "voice/gv_test_fixture.h"

namespace pelorin::testing {
namespace {

using GVSessionTest = GVServiceTest;

// One service, the session's steps in turn; each starts from the one before.
TEST_F(GVSessionTest, SignInFormTokenCookieAccountAndTheGates) {
  // Both credentials are escaped: the stand-in signs in only on the exact name.
  service_.addAccount("first+last&source=x@gmail.com", "p&ss %+ wörd", "(415) 555-0177", "$1.00");
  gv_.setUserName("first+last&source=x@gmail.com");
  gv_.setPassword("p&ss %+ wörd");
  ASSERT_TRUE(gv_.getAuthToken());
  const Text held = gv_.authToken();
  ASSERT_TRUE(held);
  const auto journal = service_.journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].method, "POST");
  EXPECT_EQ(journal[0].target, "/accounts/ClientLogin");
  EXPECT_EQ(journal[0].body,
            "Email=first%2Blast%26source%3Dx%40gmail.com&Passwd=p%26ss%20%25%2B%20w%C3%B6rd"
            "&service=grandcentral&source=Brenmoor");
  EXPECT_FALSE(journal[0].header("authorization") || journal[0].header("user-agent"));

  // Without a password nothing is sent and the token stays.
  gv_.setPassword(std::nullopt);
  EXPECT_FALSE(gv_.getAuthToken());
  EXPECT_EQ(gv_.authToken(), held);
  EXPECT_EQ(service_.journal().size(), 1u);

  // A 200 without "Auth=" passes but leaves the session signed out.
  gv_.setUserName(Service::kUser);
  gv_.setPassword(Service::kPassword);
  service_.addFault({.path = "/accounts/ClientLogin", .body = "SID=x\n"});
  EXPECT_TRUE(gv_.getAuthToken());
  EXPECT_EQ(gv_.authToken(), std::nullopt);

  // Refused credentials: false, and signed out.
  ASSERT_TRUE(gv_.getAuthToken());
  gv_.setPassword("wrong");
  EXPECT_FALSE(gv_.getAuthToken());
  EXPECT_EQ(gv_.authToken(), std::nullopt);

  // Not signed in: the number is fetched after a sign-in.
  gv_.setPassword(Service::kPassword);
  service_.clearJournal();
  EXPECT_EQ(gv_.gvPhoneNumber(), "14155550142");
  EXPECT_EQ(gv_.gvBalance(), "$4.20");
  EXPECT_EQ(requestTargets(),
            (std::vector<std::string>{"/accounts/ClientLogin", "/voice/b/0/m/billing"}));
  // A failed page keeps the balance but has cleared the number.
  service_.addFault({.path = "/voice/b/0/m/billing", .status = 500});
  EXPECT_FALSE(gv_.getGVNumberOnline());
  EXPECT_EQ(gv_.gvBalance(), "$4.20");
  gv_.setUseDataforAccessNumbers(false);
  service_.clearJournal();
  EXPECT_EQ(gv_.offlineGVPhoneNumber(), std::nullopt);
  EXPECT_TRUE(service_.journal().empty());
  gv_.setUseDataforAccessNumbers(true);

  // A page that sets no cookie, before any was stored.
  service_.addFault({.path = "/voice/m", .body = "<html></html>"});
  EXPECT_FALSE(gv_.getGVXCookie());
  ASSERT_TRUE(gv_.getGVXCookie());
  EXPECT_EQ(service_.journal().back().target, "/voice/m?initialauth&pli=1");
  EXPECT_TRUE(gv_.gvxCookie()->starts_with("gvx"));
  // A failed fetch drops the cookie held.
  service_.addFault({.path = "/voice/m", .status = 503});
  EXPECT_FALSE(gv_.getGVXCookie());
  EXPECT_EQ(gv_.gvxCookie(), std::nullopt);

  ASSERT_TRUE(gv_.getRNRSE());
  const auto request = service_.journal().back();
  EXPECT_EQ(request.target, "/voice/request/unread");
  EXPECT_EQ(request.header("authorization"), "GoogleLogin auth=" + *gv_.authToken());
  // The service's token carries "/", "+" and "=", stored escaped.
  EXPECT_TRUE(gv_.rnrseToken()->starts_with("AH%2Fr%2B"));
  EXPECT_TRUE(gv_.rnrseToken()->ends_with("%3D"));
  service_.addFault({.path = "/voice/request/unread", .status = 500});
  EXPECT_FALSE(gv_.getRNRSE());
  EXPECT_EQ(gv_.rnrseToken(), std::nullopt);

  // Every operation refuses, sending nothing, while the session lacks what it
  // needs: the sign-in token, then the cookie or form token (both dropped
  // now), then an argument.
  using G = GVInterface;
  enum Lacking { kToken, kCookie, kArgument };
  const std::vector<std::pair<Lacking, std::function<bool(G&)>>> rows = {
      {kToken, [](G& g) { return g.getRNRSE(); }},
      {kToken, [](G& g) { return g.getGVXCookie(); }},
      {kToken, [](G& g) { return g.getGVNumberOnline(); }},
      {kToken, [](G& g) { return g.recvSMS().has_value(); }},
      {kCookie, [](G& g) { return g.sendSMS("hi", "14155550123"); }},
      {kCookie, [](G& g) { return g.getGVDirectAccessNumber("14155550123").has_value(); }},
      {kCookie, [](G& g) { return g.getVoiceMailList().has_value(); }},
      {kCookie, [](G& g) { return g.setupGVCallback("12125550199"); }},
      {kCookie, [](G& g) { return g.cancelGVCallback(); }},
      {kArgument, [](G& g) { return g.sendSMS(std::nullopt, "14155550123"); }},
      {kArgument, [](G& g) { return g.sendSMS("hi", std::nullopt); }},
      {kArgument, [](G& g) { return g.sendSMSwithRetry(std::nullopt, "14155550123"); }},
      {kArgument, [](G& g) { return g.getGVDirectAccessNumber(std::nullopt).has_value(); }},
      {kArgument, [](G& g) { return g.setupGVCallback(std::nullopt); }},
  };
  auto expectRefused = [&](Lacking lacking) {
    service_.clearJournal();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].first < lacking) continue;
      EXPECT_FALSE(rows[i].second(gv_)) << "row " << i << " lacking " << lacking;
      EXPECT_TRUE(service_.journal().empty()) << "row " << i << " lacking " << lacking;
    }
  };
  expectRefused(kCookie);
  ASSERT_TRUE(gv_.getGVXCookie() && gv_.getRNRSE());
  gv_.setCallbackNumber("");
  expectRefused(kArgument);

  // Signing out drops only the sign-in token; signed out, it sends nothing.
  const Text cookie = gv_.gvxCookie();
  service_.clearJournal();
  gv_.logOut();
  gv_.logOut();
  EXPECT_EQ(gv_.authToken(), std::nullopt);
  EXPECT_EQ(gv_.gvxCookie(), cookie);
  EXPECT_EQ(requestsTo("/voice/account/signout"), 1u);
  expectRefused(kToken);
}

// The call-back target and the own number as the settings give them, walked
// through one instance so that each row starts from the one before.
TEST(GVFieldsTest, CallBackTargetAndOwnNumber) {
  struct Row {
    bool talk;
    Text user, own, callback, ownAfter, target;
    bool ownValid, targetValid, thisPhone;  // 1 or 0
    const char* phoneType;
  };
  const Row rows[] = {
      {false, "me", "415 555 0100", "", "14155550100", "14155550100", 1, 1, 1, ""},
      {false, "me", "415 555 0100", "2125550199", "14155550100", "12125550199", 1, 1, 0, ""},
      {false, "me", "415 555 0100", "+44 20 7946", "14155550100", "01144207946", 1, 0, 0, ""},
      {true, "me", "  ", "2125550199", std::nullopt, "me%40gmail.com", 0, 1, 0, "9"},
      {true, "me+x@example.com", "", "", std::nullopt, "me%2Bx%40example.com", 0, 1, 0, "9"},
      {true, std::nullopt, "", "2125550199", std::nullopt, std::nullopt, 0, 0, 0, "9"},
      {false, "me", "+44 20 7946", " ", "01144207946", std::nullopt, 0, 0, 0, ""},
  };
  GVInterface gv("https://127.0.0.1:9");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.callback.value_or("(absent)") + " user " + row.user.value_or("(absent)"));
    gv.setUseGoogleTalk(row.talk);
    gv.setUserName(row.user);
    gv.setiPhoneNumber(row.own);
    gv.setCallbackNumber(row.callback);
    EXPECT_EQ(gv.iPhoneNumber(), row.ownAfter);
    EXPECT_EQ(gv.isiPhoneNumberValid(), row.ownValid);
    EXPECT_EQ(gv.callbackNumber(), row.target);
    EXPECT_EQ(gv.isCallbackNumberValid(), row.targetValid);
    EXPECT_EQ(gv.callThisPhone(), row.thisPhone);
    EXPECT_EQ(gv.phoneType(), row.phoneType);
  }
}

}  // namespace
}  // namespace pelorin::testing
