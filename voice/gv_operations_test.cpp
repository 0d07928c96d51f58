#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "voice/gv_test_fixture.h"

namespace pelorin::testing {
namespace {

using service::testing::FaultOrder;

constexpr const char* kSmsPath = "/voice/m/x?m=sms";
constexpr const char* kCallPath = "/voice/m/x?m=call";
constexpr const char* kCookiePath = "/voice/m?initialauth";
constexpr const char* kSignInPath = "/accounts/ClientLogin";

using GVOperationsTest = GVServiceTest;

// One service, the operations in turn; each step starts from the one before.
TEST_F(GVOperationsTest, SendAccessNumbersAndCallBack) {
  ASSERT_TRUE(gv_.sendSMSwithRetry("Hi & 100% + más", "14155550123"));
  const std::string send = "/voice/m/x?m=sms&n=14155550123&txt=Hi%20%26%20100%25%20%2B%20m%C3%A1s";
  EXPECT_EQ(requestTargets(),
            (std::vector<std::string>{kSignInPath, "/voice/m?initialauth&pli=1", send}));
  const auto sent = service_.journal().back();
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.body, "{\"gvx\":\"" + *gv_.gvxCookie() + "\"}");
  EXPECT_TRUE(sent.header("authorization"));

  service_.clearJournal();
  ASSERT_TRUE(gv_.sendSMSwithRetry("second", "+1 212 555 0199"));
  EXPECT_EQ(requestTargets(),
            (std::vector<std::string>{"/voice/m/x?m=sms&n=%2B1%20212%20555%200199&txt=second"}));
  EXPECT_EQ(service_.texts().size(), 2u);

  // A connection that could not be made shows the text never left: the ladder
  // goes on, and the text is sent once.
  startSession();
  bool refused = false;
  HookedClient refusing(*client_, [&](platform::HttpRequest& request) {
    if (refused || request.url.find(kSmsPath) == std::string::npos) return;
    refused = true;
    request.url = "https://127.0.0.1:1/";  // nothing listens there
  });
  platform::setHttpClient(&refusing);
  EXPECT_TRUE(gv_.sendSMSwithRetry("again", "14155550123"));
  EXPECT_EQ(requestsTo(kSmsPath), 1u);
  EXPECT_EQ(service_.texts().size(), 3u);
  platform::setHttpClient(client_.get());

  // Call back and cancel.
  ASSERT_TRUE(gv_.getAuthToken() && gv_.getRNRSE());
  gv_.setCallbackNumber("");
  ASSERT_TRUE(gv_.setupGVCallback("+1 212 555 0199"));
  EXPECT_EQ(service_.journal().back().body,
            "outgoingNumber=%2B1%20212%20555%200199&forwardingNumber=14155550100"
            "&subscriberNumber=undefined&phoneType=&remember=0&_rnr_se=" +
                *gv_.rnrseToken());
  ASSERT_TRUE(gv_.cancelGVCallback());
  const auto callbacks = service_.callbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].outgoing, "+1 212 555 0199");
  EXPECT_TRUE(callbacks[0].cancelled);

  service_.addFault({.path = "/voice/call/connect/", .body = R"({"ok":false,"data":{}})"});
  EXPECT_FALSE(gv_.setupGVCallback("12125550199"));
  service_.addFault({.path = "/voice/call/cancel/", .body = R"({"ok" : false})"});
  EXPECT_FALSE(gv_.cancelGVCallback());

  // Access numbers: not asked without data or a valid own number.
  service_.clearJournal();
  gv_.setUseDataforAccessNumbers(false);
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), std::nullopt);
  gv_.setUseDataforAccessNumbers(true);
  gv_.setiPhoneNumber("+44 20 7946 0000");
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), std::nullopt);
  EXPECT_TRUE(service_.journal().empty());

  // A value the carrier could not text to is no access number: not returned,
  // not cached; a reply without one still sets the balance.
  gv_.setiPhoneNumber("(415) 555-0100");
  gv_.accessNumberCache().setEnableAccessNumberCache(true);
  startSession();
  for (const char* value : {"", "abc", "((((", "1234567", "14155553000x"}) {
    SCOPED_TRACE(value);
    service_.addFault({.path = kCallPath,
                       .count = 3,
                       .body = std::string(R"({"access_number":")") + value +
                               R"(","formatted_balance":"$1.00"})"});
    EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), std::nullopt);
  }
  EXPECT_FALSE(root_.exists(std::string(kAccessNumberCacheFile)));
  service_.addFault({.path = kCallPath, .body = R"({"formatted_balance":"$0.50"})"});
  EXPECT_EQ(gv_.getGVDirectAccessNumber("14155550123"), std::nullopt);
  EXPECT_EQ(gv_.gvBalance(), "$0.50");
  service_.addFault({.path = kCallPath, .body = R"({"ok":false})"});
  EXPECT_EQ(gv_.getGVDirectAccessNumber("14155550123"), std::nullopt);
  EXPECT_EQ(gv_.gvBalance(), std::nullopt);

  // Asked once, then cached: no request, signed out or not, data allowed or not.
  service_.clearJournal();
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), "14155553000");
  EXPECT_EQ(requestTargets(),
            std::vector<std::string>{"/voice/m/x?m=call&n=14155550123&f=14155550100&v=6"});
  gv_.logOut();
  gv_.setUseDataforAccessNumbers(false);
  service_.clearJournal();
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), "14155553000");
  EXPECT_TRUE(service_.journal().empty());
}

// The ladder renews the cookie, then the sign-in, and tries again; a text the
// service did not take is never reported sent. After a failure that leaves
// the text perhaps with the service (no answer came), it is reported not sent
// rather than perhaps sent twice.
TEST_F(GVOperationsTest, TheLadderRetriesOnlyWhenTheTextCannotHaveArrived) {
  const auto impatient = service_.newClient(std::chrono::milliseconds(1000));
  platform::setHttpClient(impatient.get());
  enum Expiry { kNone, kCookies, kBoth };
  struct Row {
    FaultOrder fault;
    Expiry expiry;
    bool sent;                                             // 1 or 0
    std::size_t sends, cookies, signIns, signOuts, texts;  // texts: once every send is answered
  };
  const std::string zero = R"({"send_sms_response": 0})";  // a reply saying "not sent"
  const Row rows[] = {
      {{}, kCookies, 1, 2, 1, 0, 0, 1},
      {{}, kBoth, 1, 2, 2, 1, 0, 1},
      {{.path = kSmsPath, .sendSmsResponse = 2}, kNone, 1, 2, 1, 0, 0, 1},  // declined once
      {{.path = kSmsPath, .count = 9, .status = 500}, kNone, 0, 3, 2, 1, 1, 0},
      {{.path = kSmsPath, .count = 9, .sendSmsResponse = 1}, kNone, 0, 3, 2, 1, 1, 0},
      {{.path = kSmsPath, .count = 9, .body = zero}, kNone, 0, 3, 2, 1, 1, 0},
      {{.path = kSmsPath, .count = 9, .drop = true}, kNone, 0, 1, 0, 0, 0, 0},  // no answer
      {{.path = kSmsPath, .delayMs = 2500}, kNone, 0, 1, 0, 0, 0, 1},  // slower than the time-out
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    startSession();
    service_.clearFaults();
    if (!row.fault.path.empty()) service_.addFault(row.fault);
    if (row.expiry != kNone) service_.expire(row.expiry == kBoth, true);
    const std::size_t textsBefore = service_.texts().size();
    EXPECT_EQ(gv_.sendSMSwithRetry("text", "14155550123"), row.sent);
    // A late answer is journalled when the service gives it.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (requestsTo(kSmsPath) < row.sends && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(requestsTo(kSmsPath), row.sends);
    EXPECT_EQ(requestsTo(kCookiePath), row.cookies);
    EXPECT_EQ(requestsTo(kSignInPath), row.signIns);
    EXPECT_EQ(requestsTo("/voice/account/signout"), row.signOuts);
    EXPECT_EQ(service_.texts().size() - textsBefore, row.texts);
  }
}

// A send ladder and an access-number ladder race from a fresh session: the
// lock keeps them from both signing in or fetching the cookie.
TEST_F(GVOperationsTest, ConcurrencyLaddersDoNotInterleave) {
  gv_.accessNumberCache().setEnableAccessNumberCache(true);
  std::atomic<int> done{0};
  std::thread sender([&] {
    for (int i = 0; i < 5; ++i)
      done += gv_.sendSMSwithRetry("hi", "1415555010" + std::to_string(i));
  });
  for (int i = 0; i < 5; ++i) {
    done += gv_.getGVAccessNumberwithRetry("1212555010" + std::to_string(i)).has_value();
  }
  sender.join();
  EXPECT_EQ(done.load(), 10);
  EXPECT_EQ(requestsTo(kSignInPath), 1u);
  EXPECT_EQ(requestsTo(kCookiePath), 1u);
  EXPECT_EQ(requestTargets().size(), 12u);
}

using GVSessionConcurrencyTest = GVServiceTest;

// While a ladder waits on the service, the plain fields are read and replaced
// at once: the ladder is still in flight when every call has returned.
TEST_F(GVSessionConcurrencyTest, FieldsDoNotWaitForALadderInFlight) {
  startSession();
  std::promise<void> entered, release;
  std::atomic<bool> holding{false};
  // Holds the first request until released: the ladder stays in flight for as
  // long as the test needs, with no timing.
  HookedClient held(*client_, [&, released = release.get_future().share()](auto&) {
    if (holding.exchange(true)) return;
    entered.set_value();
    released.wait();
  });
  platform::setHttpClient(&held);
  std::atomic<bool> ladderDone{false};
  std::thread ladder([&] {
    EXPECT_TRUE(gv_.sendSMSwithRetry("hi", "14155550123"));
    ladderDone = true;
  });
  entered.get_future().wait();
  auto fields = std::async(std::launch::async, [&] {
    gv_.setPassword(Service::kPassword);
    gv_.setGVBalance("$9.99");
    EXPECT_EQ(gv_.gvBalance(), "$9.99");
    EXPECT_TRUE(gv_.authToken() && gv_.gvxCookie());
  });
  // The bound only ends a broken run; a sound one returns at once.
  EXPECT_EQ(fields.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "a field call waited for the ladder";
  EXPECT_FALSE(ladderDone.load());
  release.set_value();
  ladder.join();
  fields.wait();
  platform::setHttpClient(client_.get());
  EXPECT_EQ(service_.texts().size(), 1u);
}

}  // namespace
}  // namespace pelorin::testing
