// pelorinctl gv against the stand-in service, as a script would run it.
#include <gtest/gtest.h>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/root_path.h"
#include "platform/testing/temporary_root.h"
#include "service/testing/gv_service_process.h"
#include "tools/pelorinctl/pelorinctl_runner.h"

namespace pelorin {
namespace {

using service::testing::GvServiceProcess;

using ctl::testing::CommandResult;

class PelorinctlGvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.running());
    platform::Dictionary settings = {{"username", GvServiceProcess::kUser},
                                     {"password", GvServiceProcess::kPassword},
                                     {"phoneNumber", "415-555-0100"}};
    ASSERT_TRUE(
        platform::writePropertyListAtomically(platform::resolvePath(kSettingsFile), settings));
  }

  // Runs "pelorinctl gv" with `arguments` (quoted for the shell) against the stand-in.
  CommandResult gv(const std::string& arguments) {
    return ctl::testing::runPelorinctl("gv --service-url " + service_.baseURL() + " --cacert " +
                                       service_.caFile() + " " + arguments);
  }

  platform::testing::TemporaryRoot root_;
  GvServiceProcess service_;
};

TEST_F(PelorinctlGvTest, SendsToEachRecipientInOneSession) {
  const auto run = gv("send --json --to '(415) 555-0123' --to 2125550199 'hello & bye'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(
      run.out,
      "{\"to\": \"14155550123\", \"sent\": true}\n{\"to\": \"12125550199\", \"sent\": true}\n");
  const auto texts = service_.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1].text, "hello & bye");
  EXPECT_EQ(service_.journal().size(), 4u);  // sign-in, cookie, two sends
}

TEST_F(PelorinctlGvTest, StopsAtTheFirstFailedRecipient) {
  service_.addFault({.path = "/voice/m/x?m=sms", .count = 9, .sendSmsResponse = 2});
  const auto run = gv("send --json --to 4155550123 --to 2125550199 hi");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "{\"to\": \"14155550123\", \"sent\": false}\n");
  for (const auto& record : service_.journal()) {
    EXPECT_EQ(record.target.find("2125550199"), std::string::npos);
  }
}

TEST_F(PelorinctlGvTest, AccountQueries) {
  EXPECT_EQ(gv("login").status, 0);
  EXPECT_EQ(gv("login --password wrong").status, 1);
  EXPECT_EQ(gv("number --json").out, "{\"gvNumber\": \"14155550142\", \"balance\": \"$4.20\"}\n");
  EXPECT_EQ(gv("inbox --json --sender \"Ann O'Brien\"").out,
            "{\"sender\": \"Ann O'Brien\", \"number\": \"+14155550101\"}\n");
  EXPECT_EQ(gv("inbox --sender Nobody").status, 1);

  const auto access = gv("access-number --json 2125550199");
  EXPECT_EQ(access.status, 0);
  EXPECT_NE(access.out.find("\"accessNumber\": \"14155553000\""), std::string::npos);
  EXPECT_NE(root_.readFile(std::string(kAccessNumberCacheFile)).find("12125550199"),
            std::string::npos);

  EXPECT_EQ(gv("callback 2125550199").status, 0);
  EXPECT_EQ(gv("cancel-callback").status, 0);
  EXPECT_NE(gv("voicemail").out.find("Dana"), std::string::npos);
}

TEST_F(PelorinctlGvTest, UsageAndReachability) {
  EXPECT_EQ(gv("send hi").status, 2);                    // no recipient
  EXPECT_EQ(gv("send --to not-a-number hi").status, 2);  // no number at all
  EXPECT_EQ(gv("number --username ''").status, 2);       // no credentials
  // A service that does not answer: refused, not a crash or a usage error.
  EXPECT_EQ(gv("login --service-url https://127.0.0.1:1").status, 1);
}

}  // namespace
}  // namespace pelorin
