#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "outgoing/messaging_fakes.h"
#include "outgoing/outgoing_message_handler.h"
#include "outgoing/send_i_msg_thread.h"
#include "outgoing/send_sms_thread.h"
#include "platform/property_list.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"
#include "voice/gv_interface.h"

namespace pelorin::testing {

// A handler of its own in a fresh root, with its own automatic rules, device
// kind and Google Voice client. The client knows no own number, so it never
// asks the service for an access number: only the ones put in its cache are
// found. Its service address refuses connections, so a worker fails fast.
class OutgoingTest : public ::testing::Test {
 protected:
  OutgoingTest() { gv_.accessNumberCache().setEnableAccessNumberCache(true); }
  ~OutgoingTest() override {
    // Workers hold the client and post on the recorder: let every one end first.
    waitForWorkerReports();
    eventually([] {
      return SendSMSThread::runningWorkers() == 0 && SendiMsgThread::runningWorkers() == 0;
    });
  }

  OutgoingMessageHandler& handler() {
    if (!handler_) {
      handler_ = std::make_unique<OutgoingMessageHandler>(
          OutgoingMessageHandler::Dependencies{.rulesFile = std::nullopt,
                                               .autoRuleHandler = &autoRules_,
                                               .incomingMessageHandler = &incoming_,
                                               .gvInterface = &gv_});
    }
    return *handler_;
  }

  void writeRules(const platform::Dictionary& rules) {
    platform::writePropertyListAtomically(resolvedPath(kRulesFile), platform::Value(rules));
    handler().readSendRules();
  }
  void writeAutoRules(const std::vector<std::string>& numbers) {
    platform::writePropertyListAtomically(
        resolvedPath(kAutoRulesFile),
        platform::Value(platform::Array(numbers.begin(), numbers.end())));
    autoRules_.setEnableAutoSendRules(true);
  }
  void knowAccessNumber(const std::string& target, const std::string& accessNumber) {
    gv_.accessNumberCache().addAccessNumber(accessNumber, target);
  }

  // The carrier notifications posted so far: name and message id.
  std::vector<std::pair<std::string, std::int64_t>> carrierPosts() const {
    std::vector<std::pair<std::string, std::int64_t>> posts;
    for (const auto& [name, info] : notifications_.localPosts()) {
      auto id = info.find(std::string(kCTMessageIdKey));
      auto type = info.find(std::string(kCTMessageTypeKey));
      EXPECT_TRUE(type != info.end() && type->second == platform::Value(1)) << name;
      posts.emplace_back(name, id == info.end() ? -1 : *id->second.asInteger());
    }
    return posts;
  }

  // Counts a worker started by the test; the fixture waits for its report.
  void expectWorker() { ++workers_; }
  void waitForWorkerReports() {
    eventually([&] { return notifications_.localPosts().size() >= workers_; });
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder notifications_;
  AutoRuleHandler autoRules_;
  IncomingMessageHandler incoming_;
  GVInterface gv_{"https://127.0.0.1:9"};
  std::size_t workers_ = 0;

 private:
  std::unique_ptr<OutgoingMessageHandler> handler_;
};

}  // namespace pelorin::testing
