#include "voice/gv_interface.h"

#include <gtest/gtest.h>

#include "voice/gv_test_fixture.h"

namespace pelorin::testing {
namespace {

using service::testing::FaultOrder;

using GVSessionTest = GVServiceTest;

// Both credentials are escaped: a "+" or "&" in the user name reaches the
// service as typed (the stand-in signs in only on the exact name).
TEST_F(GVSessionTest, SignInSendsTheUserNameAndThePasswordEscaped) {
  service_.addAccount("first+last&source=x@gmail.com", "p&ss %+ wörd", "(415) 555-0177", "$1.00");
  gv_.setUserName("first+last&source=x@gmail.com");
  gv_.setPassword("p&ss %+ wörd");
  ASSERT_TRUE(gv_.getAuthToken());
  ASSERT_TRUE(gv_.getAuthToken());
  EXPECT_TRUE(gv_.authToken());

  const auto journal = service_.journal();
  ASSERT_EQ(journal.size(), 2u);
  const std::string expected =
      "Email=first%2Blast%26source%3Dx%40gmail.com&Passwd=p%26ss%20%25%2B%20w%C3%B6rd"
      "&service=grandcentral&source=Brenmoor";
  for (const auto& record : journal) {
    EXPECT_EQ(record.method, "POST");
    EXPECT_EQ(record.target, "/accounts/ClientLogin");
    EXPECT_EQ(record.body, expected);
    EXPECT_FALSE(record.header("authorization"));
    EXPECT_FALSE(record.header("user-agent"));
  }
}

TEST_F(GVSessionTest, SignInOutcomes) {
  ASSERT_TRUE(gv_.getAuthToken());
  const Text held = gv_.authToken();

  // Without a password nothing is sent and the token stays.
  gv_.setPassword(std::nullopt);
  EXPECT_FALSE(gv_.getAuthToken());
  EXPECT_EQ(gv_.authToken(), held);
  EXPECT_EQ(service_.journal().size(), 1u);
  gv_.setPassword(Service::kPassword);

  // The token is the rest of the first line holding "Auth=".
  service_.addFault({.path = "/accounts/ClientLogin", .body = "SID=x\nAuth=tok en\r\nAuth=2\n"});
  EXPECT_TRUE(gv_.getAuthToken());
  EXPECT_EQ(gv_.authToken(), "tok en");

  // A 200 without "Auth=" passes but leaves the session signed out.
  service_.addFault({.path = "/accounts/ClientLogin", .body = "SID=x\n"});
  EXPECT_TRUE(gv_.getAuthToken());
  EXPECT_EQ(gv_.authToken(), std::nullopt);

  // Refused credentials: false, and signed out.
  ASSERT_TRUE(gv_.getAuthToken());
  gv_.setPassword("wrong");
  EXPECT_FALSE(gv_.getAuthToken());
  EXPECT_EQ(gv_.authToken(), std::nullopt);
}

TEST_F(GVSessionTest, LogOutDropsOnlyTheSignInToken) {
  gv_.logOut();
  EXPECT_TRUE(service_.journal().empty());

  startSession();
  const Text cookie = gv_.gvxCookie();
  gv_.logOut();
  EXPECT_EQ(gv_.authToken(), std::nullopt);
  EXPECT_EQ(gv_.gvxCookie(), cookie);
  const auto journal = service_.journal();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal[0].target, "/voice/account/signout");
}

TEST_F(GVSessionTest, FormTokenIsStoredEscaped) {
  EXPECT_FALSE(gv_.getRNRSE());
  EXPECT_TRUE(service_.journal().empty());

  ASSERT_TRUE(gv_.getAuthToken());
  ASSERT_TRUE(gv_.getRNRSE());
  const auto request = service_.journal().back();
  EXPECT_EQ(request.target, "/voice/request/unread");
  EXPECT_EQ(request.header("authorization"), "GoogleLogin auth=" + *gv_.authToken());
  // The service's token carries "/", "+" and "=".
  EXPECT_TRUE(gv_.rnrseToken()->starts_with("AH%2Fr%2B"));
  EXPECT_TRUE(gv_.rnrseToken()->ends_with("%3D"));

  service_.addFault({.path = "/voice/request/unread", .body = R"({"r":""})"});
  EXPECT_TRUE(gv_.getRNRSE());
  EXPECT_EQ(gv_.rnrseToken(), "");

  service_.addFault({.path = "/voice/request/unread", .status = 500});
  EXPECT_FALSE(gv_.getRNRSE());
  EXPECT_EQ(gv_.rnrseToken(), std::nullopt);
}

TEST_F(GVSessionTest, MobileCookieComesFromTheCookieStore) {
  ASSERT_TRUE(gv_.getAuthToken());
  service_.addFault({.path = "/voice/m", .status = 503});
  EXPECT_FALSE(gv_.getGVXCookie());

  // A page that sets no cookie, before any was stored.
  service_.addFault({.path = "/voice/m", .body = "<html></html>"});
  EXPECT_FALSE(gv_.getGVXCookie());

  ASSERT_TRUE(gv_.getGVXCookie());
  const auto request = service_.journal().back();
  EXPECT_EQ(request.target, "/voice/m?initialauth&pli=1");
  EXPECT_TRUE(gv_.gvxCookie()->starts_with("gvx"));
}

TEST_F(GVSessionTest, AccountNumberAndBalance) {
  // Not signed in: the number is fetched after a sign-in.
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
}

}  // namespace
}  // namespace pelorin::testing
