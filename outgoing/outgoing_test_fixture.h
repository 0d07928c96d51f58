#pragma once

#include <gtest/gtest.h>

#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "outgoing/outgoing_message_handler.h"
#include "outgoing/send_i_msg_thread.h"
#include "outgoing/send_sms_thread.h"
#include "platform/property_list.h"
#include "platform/testing/http_client_double.h"
#include "platform/testing/messaging_doubles.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"
#include "voice/gv_interface.h"

namespace pelorin::testing {

using namespace platform::testing;
using Calls = std::vector<std::string>;

// A chat message of `service` with `text` (and attachments when given).
inline std::shared_ptr<platform::FZMessage> chatMessage(const std::string& service, Text text,
                                                        std::string guid = "GUID-1",
                                                        std::vector<std::string> files = {}) {
  auto message = platform::FZMessage::initWithSender("e:me", {}, std::move(text), std::nullopt,
                                                     std::move(files), 0, 0, std::move(guid));
  message->setService(service);
  return message;
}

// Waits until the send workers ended; whether they did.
inline bool workersEnded() {
  return eventually(
      [] { return SendSMSThread::runningWorkers() == 0 && SendiMsgThread::runningWorkers() == 0; });
}

// A handler of its own in a fresh root, with its own automatic rules, device
// kind, SMS and iMessage sessions, and Google Voice client. The client knows
// no own number, so only access numbers put in its cache are found; its
// service never answers, so a worker fails at once after its first request.
class OutgoingTest : public ::testing::Test {
 protected:
  OutgoingTest() {
    gv_.accessNumberCache().setEnableAccessNumberCache(true);
    gv_.setUserName("me@example.com");
    gv_.setPassword("secret");
  }
  // Workers hold the client and post on the recorder: every one must end first.
  ~OutgoingTest() override { EXPECT_TRUE(workersEnded()); }

  void writeRules(const platform::Dictionary& rules) {
    platform::writePropertyListAtomically(resolvedPath(kRulesFile), platform::Value(rules));
    handler_.readSendRules();
  }
  // The carrier notifications, once there are `count`.
  Calls waitForPosts(std::size_t count) {
    eventually([&] { return notifications_.localPosts().size() >= count; });
    return carrierPosts(notifications_);
  }

  TemporaryRoot root_;
  NotificationRecorder notifications_;
  HttpClientDouble http_;
  AccountControllerDouble accounts_{{"SMS", "iMessage"}};
  std::shared_ptr<SessionDouble> sms_ = accounts_.session("SMS");
  std::shared_ptr<SessionDouble> iMessage_ = accounts_.session("iMessage");
  AutoRuleHandler autoRules_;
  IncomingMessageHandler incoming_;
  GVInterface gv_{"https://127.0.0.1:9"};
  OutgoingMessageHandler handler_{{.rulesFile = std::nullopt,
                                   .autoRuleHandler = &autoRules_,
                                   .incomingMessageHandler = &incoming_,
                                   .gvInterface = &gv_}};
};

}  // namespace pelorin::testing
