// The stand-in as a child process: what clients send cannot break its admin
// answers or grow it without bound.
#include <gtest/gtest.h>

#include "platform/http_client.h"
#include "platform/testing/temporary_root.h"
#include "service/testing/gv_service_process.h"
#include "voice/gv_interface.h"

namespace pelorin::service {
namespace {

using testing::GvServiceProcess;

class ServiceLimitsTest : public ::testing::Test {
 protected:
  ServiceLimitsTest() { platform::setHttpClient(client_.get()); }
  ~ServiceLimitsTest() override { platform::setHttpClient(nullptr); }
  void SetUp() override { ASSERT_TRUE(service_.running()); }

  platform::testing::TemporaryRoot root_;
  GvServiceProcess service_;
  std::unique_ptr<platform::HttpClient> client_ = service_.newClient();
};

// Invalid UTF-8 in a text, a call-back number and a request body: every
// admin list still answers, with U+FFFD in place of the bad bytes.
TEST_F(ServiceLimitsTest, InvalidUtf8KeepsTheAdminAnswersValid) {
  GVInterface gv(service_.baseURL());
  gv.setUserName(GvServiceProcess::kUser);
  gv.setPassword(GvServiceProcess::kPassword);
  gv.setiPhoneNumber("(415) 555-0100");
  ASSERT_TRUE(gv.sendSMSwithRetry("caf\xFF", "14155550123"));
  ASSERT_TRUE(gv.getRNRSE());
  gv.setCallbackNumber("");
  ASSERT_TRUE(gv.setupGVCallback("212555\xFE"));

  ASSERT_EQ(service_.texts().size(), 1u);
  EXPECT_EQ(service_.texts()[0].text, "caf\xEF\xBF\xBD");
  ASSERT_EQ(service_.callbacks().size(), 1u);
  EXPECT_EQ(service_.callbacks()[0].outgoing, "212555\xEF\xBF\xBD");
  EXPECT_FALSE(service_.journal().empty());
}

// A body above the cap is refused with 413 and not kept.
TEST_F(ServiceLimitsTest, BodiesAboveTheCapAreRefused) {
  const auto refused = client_
                           ->send({.method = "POST",
                                   .url = service_.baseURL() + "/accounts/ClientLogin",
                                   .body = std::string(2 * 1024 * 1024, 'x')})
                           .reply;
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 413);
  EXPECT_TRUE(service_.journal().empty());
}

}  // namespace
}  // namespace pelorin::service
