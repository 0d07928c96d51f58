#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/http_client.h"
#include "service/testing/gv_service_process.h"

namespace pelorin::platform {
namespace {

using service::testing::FaultOrder;
using service::testing::GvServiceProcess;

class CurlHttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service_.running()); }

  HttpRequest signInRequest() const {
    return {.method = "POST",
            .url = service_.baseURL() + "/accounts/ClientLogin",
            .body = std::string("Email=") + GvServiceProcess::kUser +
                    "&Passwd=" + GvServiceProcess::kPassword};
  }

  std::string signIn() {
    const auto reply = client_->send(signInRequest()).reply;
    if (!reply) return "";
    const auto at = reply->body.find("Auth=");
    return reply->body.substr(at + 5, reply->body.find('\n', at) - at - 5);
  }

  std::optional<HttpResponse> get(const std::string& path,
                                  std::vector<HttpHeaderField> fields = {}) {
    return client_->send({.url = service_.baseURL() + path, .headerFields = std::move(fields)})
        .reply;
  }

  GvServiceProcess service_;
  std::unique_ptr<HttpClient> client_ = service_.newClient();
};

TEST_F(CurlHttpClientTest, SendsOnlyTheNamedFieldsAndTheBodyAsGiven) {
  auto request = signInRequest();
  request.headerFields = {{"Authorization", "GoogleLogin auth=x"}};
  const auto reply = client_->send(request).reply;
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_NE(reply->body.find("\nAuth="), std::string::npos);

  const auto journal = service_.journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].method, "POST");
  EXPECT_EQ(journal[0].body, request.body);
  EXPECT_EQ(journal[0].header("authorization"), "GoogleLogin auth=x");
  for (const char* absent : {"user-agent", "accept", "content-type", "expect", "cookie"}) {
    EXPECT_FALSE(journal[0].header(absent)) << absent;
  }
}

TEST_F(CurlHttpClientTest, ReportsEveryStatusWithItsBody) {
  const auto refused = get("/voice/request/unread");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);
  EXPECT_NE(refused->body.find("Error 401"), std::string::npos);

  service_.addFault({.path = "/voice/request/unread", .status = 500, .body = std::string()});
  const auto failed = get("/voice/request/unread");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 500);
  EXPECT_EQ(failed->body, "");
}

TEST_F(CurlHttpClientTest, FollowsRedirectsAndReportsTheFinalReply) {
  const auto reply = get("/voice/account/signout");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_NE(reply->body.find("signed out"), std::string::npos);
  const auto journal = service_.journal();
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0].status, 302);
  EXPECT_EQ(journal[1].target, "/voice/m/signedout");
}

TEST_F(CurlHttpClientTest, StoresCookiesInArrivalOrderAndSendsThemBack) {
  EXPECT_TRUE(client_->cookies().empty());
  const std::string token = signIn();
  ASSERT_FALSE(token.empty());
  const HttpHeaderField authorization{"Authorization", "GoogleLogin auth=" + token};
  ASSERT_TRUE(get("/voice/m?initialauth&pli=1", {authorization}));

  const auto cookies = client_->cookies();
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0].name, "gv_session");
  EXPECT_EQ(cookies[1].name, "gvx");  // an HttpOnly cookie, listed like the others
  EXPECT_TRUE(cookies[1].value.starts_with("gvx"));

  // A second page replaces the values in place: the order stays.
  ASSERT_TRUE(get("/voice/m?initialauth&pli=1", {authorization}));
  const auto renewed = client_->cookies();
  ASSERT_EQ(renewed.size(), 2u);
  EXPECT_EQ(renewed[1].name, "gvx");
  EXPECT_NE(renewed[1].value, cookies[1].value);

  const auto journal = service_.journal();
  EXPECT_NE(journal.back().header("cookie").value_or("").find("gvx=" + cookies[1].value),
            std::string::npos);
}

TEST_F(CurlHttpClientTest, ReusesOneConnectionAcrossRequests) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(get("/voice/m/signedout"));
  ASSERT_TRUE(client_->send(signInRequest()).reply);
  EXPECT_EQ(service_.connectionCount(), 1u);
}

// No reply, and whether the request may have reached the service: only once
// it was written can the service have acted on it.
TEST_F(CurlHttpClientTest, TransportFailuresGiveNoReplyAndSayWhetherTheRequestMayHaveArrived) {
  const auto impatient = service_.newClient(std::chrono::milliseconds(300));
  // Peer verification is always on: the system's trust store does not know
  // the stand-in's certificate.
  const auto untrusting = newCurlHttpClient({});
  const std::string signedOut = service_.baseURL() + "/voice/m/signedout";
  struct Row {
    const char* name;
    HttpClient* client;
    std::string url;
    std::optional<FaultOrder> fault;
    bool mayHaveArrived;
  };
  const Row rows[] = {
      {"refused connection", client_.get(), "https://127.0.0.1:1/", {}, false},
      {"untrusted certificate", untrusting.get(), signedOut, {}, false},
      {"malformed URL", client_.get(), "https://127.0.0.1:notaport/", {}, false},
      {"another scheme", client_.get(), "file:///etc/passwd", {}, false},
      {"plain HTTP", client_.get(), service_.adminURL() + "/admin/stats", {}, false},
      // Also when curl sends it again on a fresh connection, as it does once
      // when a reused connection drops.
      {"dropped after the request", client_.get(), signedOut,
       FaultOrder{.path = "/voice/m/signedout", .count = 2, .drop = true}, true},
      {"answer slower than the time-out", impatient.get(), signedOut,
       FaultOrder{.path = "/voice/m/signedout", .delayMs = 1500}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.fault) service_.addFault(*row.fault);
    const auto started = std::chrono::steady_clock::now();
    const auto outcome = row.client->send({.url = row.url});
    EXPECT_FALSE(outcome.reply);
    EXPECT_EQ(outcome.mayHaveArrived, row.mayHaveArrived);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1400));
    service_.clearFaults();
  }
}

// A request that must not be repeated goes out once, also when the reused
// connection it went out on drops before any answer.
TEST_F(CurlHttpClientTest, ARequestThatMustNotBeRepeatedGoesOutOnce) {
  ASSERT_TRUE(get("/voice/m/signedout"));  // a warm connection to reuse
  service_.addFault({.path = "/accounts/ClientLogin", .count = 2, .drop = true});
  auto once = signInRequest();
  once.repeatable = false;
  const auto outcome = client_->send(once);
  EXPECT_FALSE(outcome.reply);
  EXPECT_TRUE(outcome.mayHaveArrived);
  const auto journal = service_.journal();
  EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                          [](const auto& r) { return r.target == "/accounts/ClientLogin"; }),
            1);
  EXPECT_TRUE(get("/voice/m/signedout"));  // the client carries on
}

// Passwords and tokens never travel in clear: a redirect to plain HTTP is
// refused (307 would resend the sign-in body there), after the service had
// the request.
TEST_F(CurlHttpClientTest, TalksHttpsOnlyAlsoAfterARedirect) {
  ASSERT_TRUE(service_.adminURL().starts_with("http://"));
  for (int status : {302, 307}) {
    service_.addFault({.path = "/accounts/ClientLogin",
                       .status = status,
                       .location = service_.adminURL() + "/admin/stats"});
    const auto outcome = client_->send(signInRequest());
    EXPECT_FALSE(outcome.reply) << status;
    EXPECT_TRUE(outcome.mayHaveArrived) << status;
  }
  EXPECT_FALSE(client_->send({.url = "HTTP://127.0.0.1:1/"}).reply);
  EXPECT_TRUE(isHttpsURL("HTTPS://www.google.com"));
  EXPECT_FALSE(isHttpsURL("https:/x"));
}

TEST_F(CurlHttpClientTest, ConcurrencyThreadsShareCookiesAndConnections) {
  const std::string token = signIn();
  const HttpHeaderField authorization{"Authorization", "GoogleLogin auth=" + token};
  std::vector<std::thread> threads;
  std::atomic<int> passed{0};
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        const auto reply = get("/voice/m?initialauth&pli=1", {authorization});
        if (reply && reply->status == 200) ++passed;
        client_->cookies();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(passed.load(), 30);
  EXPECT_EQ(client_->cookies().size(), 2u);
  EXPECT_LE(service_.connectionCount(), 3u);
}

}  // namespace
}  // namespace pelorin::platform
