#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/logger.h"
#include "common/names.h"
#include "platform/http_client.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"
#include "service/testing/gv_service_process.h"
#include "voice/gv_interface.h"

namespace pelorin::testing {

// A GVInterface with the demo account's credentials and a valid own number,
// talking to a stand-in service of its own over TLS, in a fresh root with
// logging on.
class GVServiceTest : public ::testing::Test {
 protected:
  using Service = service::testing::GvServiceProcess;

  GVServiceTest() {
    platform::setHttpClient(client_.get());
    Logger::sharedInstance().setEnableLogging(true);
    gv_.setUserName(Service::kUser);
    gv_.setPassword(Service::kPassword);
    gv_.setiPhoneNumber("(415) 555-0100");
  }
  ~GVServiceTest() override {
    Logger::sharedInstance().setEnableLogging(false);
    platform::setHttpClient(nullptr);
  }
  void SetUp() override { ASSERT_TRUE(service_.running()); }

  // Signs in and fetches the cookie, then forgets those requests.
  void startSession() {
    ASSERT_TRUE(gv_.getAuthToken());
    ASSERT_TRUE(gv_.getGVXCookie());
    service_.clearJournal();
  }

  std::vector<std::string> requestTargets() {
    std::vector<std::string> targets;
    for (const auto& record : service_.journal()) targets.push_back(record.target);
    return targets;
  }

  std::string logText() const { return root_.readFile(std::string(kLogFile)); }
  bool logged(const std::string& line) const { return logText().find(line) != std::string::npos; }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder notifications_;
  Service service_;
  std::unique_ptr<platform::HttpClient> client_ = service_.newClient();
  GVInterface gv_{service_.baseURL()};
};

}  // namespace pelorin::testing
