#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "voice/gv_test_fixture.h"

namespace pelorin::testing {
namespace {

using service::testing::FaultOrder;

constexpr const char* kSmsPath = "/voice/m/x?m=sms";
constexpr const char* kCallPath = "/voice/m/x?m=call";

using GVOperationsTest = GVServiceTest;

std::size_t countOf(const std::vector<std::string>& targets, const std::string& prefix) {
  return std::count_if(targets.begin(), targets.end(),
                       [&](const std::string& t) { return t.starts_with(prefix); });
}

TEST_F(GVOperationsTest, FirstTextSignsInAndFetchesTheCookieSecondIsOneRequest) {
  ASSERT_TRUE(gv_.sendSMSwithRetry("Hi & 100% + más", "14155550123"));
  const std::string send = "/voice/m/x?m=sms&n=14155550123&txt=Hi%20%26%20100%25%20%2B%20m%C3%A1s";
  EXPECT_EQ(requestTargets(), (std::vector<std::string>{"/accounts/ClientLogin",
                                                        "/voice/m?initialauth&pli=1", send}));
  const auto request = service_.journal().back();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.body, "{\"gvx\":\"" + *gv_.gvxCookie() + "\"}");
  EXPECT_TRUE(request.header("authorization"));

  service_.clearJournal();
  ASSERT_TRUE(gv_.sendSMSwithRetry("second", "+1 212 555 0199"));
  EXPECT_EQ(requestTargets(),
            (std::vector<std::string>{"/voice/m/x?m=sms&n=%2B1%20212%20555%200199&txt=second"}));

  const auto texts = service_.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, "Hi & 100% + más");
  EXPECT_EQ(texts[1].to, "+1 212 555 0199");
}

TEST_F(GVOperationsTest, RenewsExpiredCookiesAndTokens) {
  startSession();
  service_.expire(false, true);
  ASSERT_TRUE(gv_.sendSMSwithRetry("a", "14155550123"));
  EXPECT_EQ(countOf(requestTargets(), "/accounts/ClientLogin"), 0u);
  EXPECT_EQ(countOf(requestTargets(), kSmsPath), 2u);

  service_.clearJournal();
  service_.expire(true, true);
  ASSERT_TRUE(gv_.sendSMSwithRetry("b", "14155550123"));
  EXPECT_EQ(requestTargets(),
            (std::vector<std::string>{"/voice/m/x?m=sms&n=14155550123&txt=b",
                                      "/voice/m?initialauth&pli=1", "/accounts/ClientLogin",
                                      "/voice/m?initialauth&pli=1",
                                      "/voice/m/x?m=sms&n=14155550123&txt=b"}));
}

TEST_F(GVOperationsTest, DeclinedSendIsRetriedAfterTheCookieIsRenewed) {
  startSession();
  service_.addFault({.path = kSmsPath, .sendSmsResponse = 2});
  ASSERT_TRUE(gv_.sendSMSwithRetry("again", "14155550123"));
  EXPECT_EQ(countOf(requestTargets(), kSmsPath), 2u);
  EXPECT_EQ(service_.texts().size(), 1u);
}

// Whatever goes wrong, a text the service did not take is never reported
// sent. A failure that shows the service did not act is retried up the
// ladder; after one that leaves the text perhaps with the service (no answer
// came), the text is reported not sent rather than perhaps sent twice.
TEST_F(GVOperationsTest, FailedSendsAreRetriedOnlyWhenTheTextCannotHaveArrived) {
  const auto impatient = service_.newClient(std::chrono::milliseconds(1000));
  platform::setHttpClient(impatient.get());
  struct Row {
    const char* name;
    FaultOrder fault;
    std::size_t sends;
    std::size_t texts;  // at the service, once it answered every send
  };
  const Row rows[] = {
      {"status 500", {.path = kSmsPath, .count = 9, .status = 500}, 3, 0},
      {"declined", {.path = kSmsPath, .count = 9, .sendSmsResponse = 1}, 3, 0},
      {"value before a brace",
       {.path = kSmsPath, .count = 9, .body = "{\"send_sms_response\": 0}"},
       3,
       0},
      {"dropped after the request", {.path = kSmsPath, .count = 9, .drop = true}, 1, 0},
      {"answer slower than the time-out", {.path = kSmsPath, .delayMs = 2500}, 1, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    startSession();
    service_.clearFaults();
    service_.addFault(row.fault);
    EXPECT_FALSE(gv_.sendSMSwithRetry("lost", "14155550123"));
    // A late answer is journalled when the service gives it.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (countOf(requestTargets(), kSmsPath) < row.sends &&
           std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto targets = requestTargets();
    const std::size_t ladder = row.sends == 3 ? 1 : 0;
    EXPECT_EQ(countOf(targets, kSmsPath), row.sends);
    EXPECT_EQ(countOf(targets, "/voice/m?initialauth"), 2 * ladder);
    EXPECT_EQ(countOf(targets, "/accounts/ClientLogin"), ladder);
    EXPECT_EQ(countOf(targets, "/voice/account/signout"), ladder);
    EXPECT_EQ(service_.texts().size(), row.texts);
  }
}

// The first request whose URL holds `marker` goes to a port where nothing
// listens; every other one to the service.
class RefusedOnce final : public platform::HttpClient {
 public:
  RefusedOnce(platform::HttpClient& inner, std::string marker)
      : inner_(inner), marker_(std::move(marker)) {}
  platform::HttpOutcome send(const platform::HttpRequest& request) override {
    if (refused_ || request.url.find(marker_) == std::string::npos) return inner_.send(request);
    refused_ = true;
    auto elsewhere = request;
    elsewhere.url = "https://127.0.0.1:1/";
    return inner_.send(elsewhere);
  }
  std::vector<platform::HttpCookie> cookies() override { return inner_.cookies(); }

 private:
  platform::HttpClient& inner_;
  const std::string marker_;
  bool refused_ = false;
};

// A connection that could not be made shows the text never left: the ladder
// goes on, and the text is sent once.
TEST_F(GVOperationsTest, ARefusedConnectionIsRetried) {
  startSession();
  RefusedOnce refusing(*client_, kSmsPath);
  platform::setHttpClient(&refusing);
  EXPECT_TRUE(gv_.sendSMSwithRetry("again", "14155550123"));
  EXPECT_EQ(countOf(requestTargets(), kSmsPath), 1u);
  EXPECT_EQ(service_.texts().size(), 1u);
}

TEST_F(GVOperationsTest, AccessNumberIsAskedOnceThenCached) {
  gv_.accessNumberCache().setEnableAccessNumberCache(true);
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), "14155553000");
  const auto targets = requestTargets();
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_EQ(targets[2], "/voice/m/x?m=call&n=14155550123&f=14155550100&v=6");
  EXPECT_NE(root_.readFile(std::string(kAccessNumberCacheFile)).find("14155553000"),
            std::string::npos);
  EXPECT_EQ(notifications_.darwinPosts().back(), kAccessNumberCacheChangedNotification);

  // From the cache: no request, signed out or not, data allowed or not.
  gv_.logOut();
  gv_.setUseDataforAccessNumbers(false);
  service_.clearJournal();
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), "14155553000");
  EXPECT_TRUE(service_.journal().empty());
}

TEST_F(GVOperationsTest, AccessNumberIsNotAskedWithoutDataOrAValidOwnNumber) {
  gv_.setUseDataforAccessNumbers(false);
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), std::nullopt);
  gv_.setUseDataforAccessNumbers(true);
  gv_.setiPhoneNumber("+44 20 7946 0000");
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), std::nullopt);
  EXPECT_TRUE(service_.journal().empty());
}

TEST_F(GVOperationsTest, AccessNumberReplyWithoutTheNumberStillSetsTheBalance) {
  startSession();
  service_.addFault({.path = kCallPath, .count = 3, .body = R"({"formatted_balance":"$0.50"})"});
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), std::nullopt);
  EXPECT_EQ(gv_.gvBalance(), "$0.50");

  service_.addFault({.path = kCallPath, .body = R"({"ok":false})"});
  EXPECT_EQ(gv_.getGVDirectAccessNumber("14155550123"), std::nullopt);
  EXPECT_EQ(gv_.gvBalance(), std::nullopt);
}

// A value the carrier could not text to is no access number: not returned,
// not cached, so nothing would ever be texted to "".
TEST_F(GVOperationsTest, AccessNumberThatIsNoTextableNumberIsRefused) {
  gv_.accessNumberCache().setEnableAccessNumberCache(true);
  startSession();
  for (const char* value : {"", "abc", "((((", "1234567", "14155553000x"}) {
    SCOPED_TRACE(value);
    service_.clearFaults();
    service_.addFault({.path = kCallPath,
                       .count = 3,
                       .body = std::string(R"({"access_number":")") + value +
                               R"(","formatted_balance":"$1.00"})"});
    EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), std::nullopt);
    EXPECT_EQ(gv_.accessNumberCache().accessNumber("14155550123"), std::nullopt);
  }
  EXPECT_FALSE(root_.exists(std::string(kAccessNumberCacheFile)));
  service_.clearFaults();
  EXPECT_EQ(gv_.getGVAccessNumberwithRetry("14155550123"), "14155553000");
}

TEST_F(GVOperationsTest, CallBackAndCancel) {
  EXPECT_FALSE(gv_.setupGVCallback("12125550199"));
  ASSERT_TRUE(gv_.getAuthToken());
  EXPECT_FALSE(gv_.cancelGVCallback());
  EXPECT_EQ(service_.journal().size(), 1u);

  ASSERT_TRUE(gv_.getRNRSE());
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
  std::thread asker([&] {
    for (int i = 0; i < 5; ++i) {
      done += gv_.getGVAccessNumberwithRetry("1212555010" + std::to_string(i)).has_value();
    }
  });
  sender.join();
  asker.join();
  EXPECT_EQ(done.load(), 10);
  const auto targets = requestTargets();
  EXPECT_EQ(countOf(targets, "/accounts/ClientLogin"), 1u);
  EXPECT_EQ(countOf(targets, "/voice/m?initialauth"), 1u);
  EXPECT_EQ(targets.size(), 12u);
}

// Forwards to another client, but holds the first request until released:
// a ladder stays in flight for as long as the test needs, with no timing.
class HeldClient : public platform::HttpClient {
 public:
  explicit HeldClient(platform::HttpClient& inner) : inner_(inner) {}
  platform::HttpOutcome send(const platform::HttpRequest& request) override {
    if (!holding_.exchange(true)) {
      entered_.set_value();
      release_.get_future().wait();
    }
    return inner_.send(request);
  }
  std::vector<platform::HttpCookie> cookies() override { return inner_.cookies(); }

  std::future<void> entered() { return entered_.get_future(); }
  void release() { release_.set_value(); }

 private:
  platform::HttpClient& inner_;
  std::atomic<bool> holding_{false};
  std::promise<void> entered_;
  std::promise<void> release_;
};

using GVSessionConcurrencyTest = GVServiceTest;

// While a ladder waits on the service, the plain fields are read and replaced
// at once: the ladder is still in flight when every call has returned.
TEST_F(GVSessionConcurrencyTest, FieldsDoNotWaitForALadderInFlight) {
  startSession();
  HeldClient held(*client_);
  platform::setHttpClient(&held);
  auto entered = held.entered();
  std::atomic<bool> ladderDone{false};
  std::thread ladder([&] {
    EXPECT_TRUE(gv_.sendSMSwithRetry("hi", "14155550123"));
    ladderDone = true;
  });
  entered.wait();

  auto fields = std::async(std::launch::async, [&] {
    gv_.setPassword(Service::kPassword);
    gv_.setGVBalance("$9.99");
    EXPECT_EQ(gv_.gvBalance(), "$9.99");
    EXPECT_TRUE(gv_.authToken());
    EXPECT_TRUE(gv_.gvxCookie());
  });
  // The bound only ends a broken run; a sound one returns at once.
  const bool returned = fields.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  EXPECT_TRUE(returned) << "a field call waited for the ladder";
  EXPECT_FALSE(ladderDone.load());
  held.release();
  ladder.join();
  fields.wait();
  platform::setHttpClient(client_.get());
  EXPECT_EQ(service_.texts().size(), 1u);
}

}  // namespace
}  // namespace pelorin::testing
