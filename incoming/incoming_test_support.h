#pragma once

#include <gtest/gtest.h>

#include "common/names.h"
#include "incoming/contact_cache.h"
#include "incoming/incoming_distributed_message_handler.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "platform/messaging_center.h"
#include "platform/run_loop.h"
#include "platform/testing/messaging_doubles.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"
#include "voice/access_number_cache.h"
#include "voice/gv_interface.h"

namespace pelorin::testing {

using namespace platform::testing;
using namespace std::chrono_literals;
using platform::Dictionary;
using Calls = std::vector<std::string>;

inline Dictionary record(const Text& text, const Text& sender) {
  Dictionary record;
  if (text) record.emplace(std::string(kSMSTextMessageKey), *text);
  if (sender) record.emplace(std::string(kSMSSenderPhoneKey), *sender);
  return record;
}

// "SENDER/COUNTRY: TEXT" of a carrier message with a sender ("+" when not one part).
inline std::string describe(const platform::CTMessage& m) {
  return *m.sender()->digits() + "/" + *m.sender()->countryCode() + ": " + m.text() +
         (m.items().size() == 1 ? "" : "+");
}

// An incoming handler with collaborators of its own, in a fresh root, and the
// received-SMS centre in-process: recordCentre() serves it with a server
// that keeps what reaches it; `client_` sends to it. Nothing here resolves
// names: the service address refuses connections.
class IncomingTest : public ::testing::Test {
 protected:
  IncomingTest() { platform::setMessagingCenters(centres_.get()); }
  ~IncomingTest() override { platform::setMessagingCenters(nullptr); }

  std::shared_ptr<platform::CPDistributedMessagingCenter> centre() {
    return platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName));
  }
  void recordCentre() {
    ASSERT_TRUE(server_->runServerOnCurrentThread());
    server_->registerForMessageName(
        std::string(kSMSReceivedMessageName), [this](const std::string&, const Dictionary& info) {
          auto text = [&](std::string_view key) {
            auto it = info.find(std::string(key));
            return it == info.end() ? "-" : *it->second.asString();
          };
          records_.push_back(text(kSMSSenderPhoneKey) + ": " + text(kSMSTextMessageKey));
        });
  }
  // "SENDER: TEXT" of each record the centre got ("-" for a missing entry),
  // once there are `count` (or after its loop ran a while).
  Calls records(std::size_t count) {
    platform::RunLoop::current()->runUntil([&] { return records_.size() >= count; }, 300ms);
    return records_;
  }

  TemporaryRoot root_;
  NotificationRecorder recorder_;
  std::unique_ptr<platform::MessagingCenterProvider> centres_ =
      platform::newInProcessMessagingCenters();
  std::shared_ptr<platform::CPDistributedMessagingCenter> server_ =
      centres_->centerNamed(std::string(kSMSRecvCenterName));
  Calls records_;
  IncomingDistributedMessageHandler client_{centres_->centerNamed(std::string(kSMSRecvCenterName))};
  GVInterface voice_{"https://127.0.0.1:1"};
  ContactCache contacts_{voice_};
  AccessNumberCache accessNumbers_;
  AutoRuleHandler autoRules_;
  IncomingMessageHandler handler_{{&contacts_, &accessNumbers_, &autoRules_, &client_}};
};

}  // namespace pelorin::testing
