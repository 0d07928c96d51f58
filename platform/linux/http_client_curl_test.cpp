#include <gtest/gtest.h>

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

  std::optional<HttpResponse> get(const std::string& path,
                                  std::vector<HttpHeaderField> fields = {}) {
    return client_->send({.url = service_.baseURL() + path, .headerFields = std::move(fields)})
        .reply;
  }

  // Signs in with `fields` added; the authorization field for later requests.
  HttpHeaderField signIn(std::vector<HttpHeaderField> fields = {}) {
    auto request = signInRequest();
    request.headerFields = std::move(fields);
    const auto body = client_->send(request).reply.value_or(HttpResponse{}).body;
    const auto at = body.find("Auth=");
    const auto token =
        at == std::string::npos ? "" : body.substr(at + 5, body.find('\n', at) - at - 5);
    return {"Authorization", "GoogleLogin auth=" + token};
  }

  GvServiceProcess service_;
  std::unique_ptr<HttpClient> client_ = service_.newClient();
};

// One client through a session: only the named fields and the body go out,
// every status comes back with its body, cookies keep their arrival order
// and go back, redirects are followed, and one connection carries it all.
TEST_F(CurlHttpClientTest, ASessionOnOneConnection) {
  const HttpHeaderField authorization = signIn({{"X-Named", "as given"}});
  auto journal = service_.journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].status, 200);
  EXPECT_EQ(journal[0].method, "POST");
  EXPECT_EQ(journal[0].body, signInRequest().body);
  EXPECT_EQ(journal[0].header("x-named"), "as given");
  for (const char* absent : {"user-agent", "accept", "content-type", "expect", "cookie"}) {
    EXPECT_FALSE(journal[0].header(absent)) << absent;
  }

  const auto refused = get("/voice/request/unread");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);
  EXPECT_NE(refused->body.find("Error 401"), std::string::npos);

  ASSERT_TRUE(get("/voice/m?initialauth&pli=1", {authorization}));
  const auto cookies = client_->cookies();
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0].name, "gv_session");
  EXPECT_EQ(cookies[1].name, "gvx");  // an HttpOnly cookie, listed like the others
  ASSERT_TRUE(get("/voice/m?initialauth&pli=1", {authorization}));
  const auto renewed = client_->cookies();  // new values in place: the order stays
  ASSERT_EQ(renewed.size(), 2u);
  EXPECT_EQ(renewed[1].name, "gvx");
  EXPECT_NE(renewed[1].value, cookies[1].value);
  EXPECT_NE(service_.journal().back().header("cookie").value_or("").find("gvx=" + cookies[1].value),
            std::string::npos);

  const auto signedOut = get("/voice/account/signout");
  ASSERT_TRUE(signedOut);
  EXPECT_EQ(signedOut->status, 200);
  EXPECT_NE(signedOut->body.find("signed out"), std::string::npos);
  journal = service_.journal();
  EXPECT_EQ(journal[journal.size() - 2].status, 302);
  EXPECT_EQ(journal.back().target, "/voice/m/signedout");
  EXPECT_EQ(service_.connectionCount(), 1u);
}

// Without a reply, whether the request may have reached the service: only
// once it was written can the service have acted on it. Passwords and tokens
// never travel in clear, not even after a redirect (307 would resend the
// sign-in body). A request that must not be repeated goes out once, also
// when the reused connection it went out on drops before any answer; curl
// sends others again once on a fresh connection.
TEST_F(CurlHttpClientTest, TransportFailuresSayWhetherTheRequestMayHaveArrived) {
  const auto impatient = service_.newClient(std::chrono::milliseconds(300));
  const auto untrusting = newCurlHttpClient({});  // the system's store knows no stand-in
  const std::string signedOut = service_.baseURL() + "/voice/m/signedout";
  const std::string plain = service_.adminURL() + "/admin/stats";
  auto once = signInRequest();
  once.repeatable = false;
  const FaultOrder dropTwice{.path = "/voice/m/signedout", .count = 2, .drop = true};
  const FaultOrder slow{.path = "/voice/m/signedout", .delayMs = 1500};
  struct Row {
    const char* name;
    HttpClient* client;
    HttpRequest request;
    std::optional<FaultOrder> fault;
    bool mayHaveArrived;
    std::size_t journalled;
  };
  const Row rows[] = {
      {"refused connection", client_.get(), {.url = "https://127.0.0.1:1/"}, {}, false, 0},
      {"untrusted certificate", untrusting.get(), {.url = signedOut}, {}, false, 0},
      {"malformed URL", client_.get(), {.url = "https://127.0.0.1:notaport/"}, {}, false, 0},
      {"another scheme", client_.get(), {.url = "file:///etc/passwd"}, {}, false, 0},
      {"plain HTTP", client_.get(), {.url = plain}, {}, false, 0},
      {"plain HTTP in capitals", client_.get(), {.url = "HTTP://127.0.0.1:1/"}, {}, false, 0},
      {"dropped after the request", client_.get(), {.url = signedOut}, dropTwice, true, 2},
      {"dropped, not to be repeated", client_.get(), once,
       FaultOrder{.path = "/accounts/ClientLogin", .count = 2, .drop = true}, true, 1},
      {"302 to plain HTTP", client_.get(), signInRequest(),
       FaultOrder{.path = "/accounts/ClientLogin", .status = 302, .location = plain}, true, 1},
      {"307 to plain HTTP", client_.get(), signInRequest(),
       FaultOrder{.path = "/accounts/ClientLogin", .status = 307, .location = plain}, true, 1},
      // Journalled only once answered, after the check.
      {"slower than the time-out", impatient.get(), {.url = signedOut}, slow, true, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(get("/voice/m/signedout"));  // a warm connection to reuse
    service_.clearJournal();
    if (row.fault) service_.addFault(*row.fault);
    const auto started = std::chrono::steady_clock::now();
    const auto outcome = row.client->send(row.request);
    EXPECT_FALSE(outcome.reply);
    EXPECT_EQ(outcome.mayHaveArrived, row.mayHaveArrived);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1400));
    EXPECT_EQ(service_.journal().size(), row.journalled);
    service_.clearFaults();
  }
  EXPECT_TRUE(isHttpsURL("HTTPS://www.google.com"));
  EXPECT_FALSE(isHttpsURL("https:/x"));
}

TEST_F(CurlHttpClientTest, ConcurrencyThreadsShareCookiesAndConnections) {
  const HttpHeaderField authorization = signIn();
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
