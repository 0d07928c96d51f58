#pragma once

#include <gtest/gtest.h>

#include <functional>
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

// Forwards every request to another client once `hook` has seen it (and
// perhaps changed it, or held it up).
class HookedClient final : public platform::HttpClient {
 public:
  using Hook = std::function<void(platform::HttpRequest&)>;
  HookedClient(platform::HttpClient& inner, Hook hook) : inner_(inner), hook_(std::move(hook)) {}
  platform::HttpOutcome send(const platform::HttpRequest& request) override {
    platform::HttpRequest copy = request;
    hook_(copy);
    return inner_.send(copy);
  }
  std::vector<platform::HttpCookie> cookies() override { return inner_.cookies(); }

 private:
  platform::HttpClient& inner_;
  const Hook hook_;
};

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
  // How many journalled requests went to a target starting with `prefix`.
  std::size_t requestsTo(const std::string& prefix) {
    std::size_t count = 0;
    for (const auto& target : requestTargets()) count += target.starts_with(prefix) ? 1 : 0;
    return count;
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder notifications_;
  Service service_;
  std::unique_ptr<platform::HttpClient> client_ = service_.newClient();
  GVInterface gv_{service_.baseURL()};
};

}  // namespace pelorin::testing
