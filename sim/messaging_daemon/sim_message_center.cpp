#include "sim/messaging_daemon/sim_message_center.h"

#include <cstdio>

#include "platform/messaging/ct_notifications.h"
#include "platform/notification_center.h"

namespace pelorin::sim {
namespace {

std::vector<std::string> numbersOf(const platform::CTMessage& message) {
  std::vector<std::string> numbers;
  for (const auto& recipient : message.recipients()) {
    numbers.push_back(recipient ? recipient->canonicalFormat().value_or("") : "");
  }
  return numbers;
}

}  // namespace

bool SimMessageCenter::carrierCanReach(const Text& number) {
  if (!number) return false;
  std::size_t digits = 0;
  for (std::size_t i = 0; i < number->size(); ++i) {
    const char c = (*number)[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '+' ? digits > 0 || number->find('+', i + 1) != std::string::npos
                        : std::string_view(" -.()").find(c) == std::string_view::npos) {
      return false;
    }
  }
  return digits >= 1 && digits <= 15;
}

void SimMessageCenter::receiveFromCarrier(const std::shared_ptr<platform::CTMessage>& message) {
  std::lock_guard lock(mutex_);
  received_.insert_or_assign(message->messageId(), *message);
}

void SimMessageCenter::acknowledge(std::uint32_t messageId) {
  std::lock_guard lock(mutex_);
  received_.erase(messageId);
}

bool SimMessageCenter::platformSendSMS(const std::shared_ptr<platform::CTMessage>& message,
                                       bool moreToFollow) {
  if (!message) {
    report({{"event", "carrierSendSMS"}, {"messageId", nullptr}, {"moreToFollow", moreToFollow}});
    return false;
  }
  const auto addressed = numbersOf(*message);
  report({{"event", "carrierSendSMS"},
          {"messageId", message->messageId()},
          {"moreToFollow", moreToFollow},
          {"recipients", addressed},
          {"parts", message->items().size()},
          {"text", message->text()}});

  std::vector<std::string> reached;
  for (const auto& number : addressed) {
    if (carrierCanReach(number)) reached.push_back(number);
  }
  const bool sent = hasCarrier_ && !reached.empty();
  auto record = [&](StoredMessage& stored) {
    if (sent) stored.carrierRecipients = reached;
  };
  if (!store_.updateByMessageId(message->messageId(), record)) {
    // A message the daemon did not send itself (a tweak's own): record it too.
    StoredMessage stored{0,         "SMS",           "outgoing", std::nullopt,
                         addressed, message->text(), "sending",  message->messageId()};
    record(stored);
    store_.add(std::move(stored));
  }
  if (!sent) {
    std::fprintf(stderr, "pelorin-daemon-host: the carrier refused message %u: %s\n",
                 message->messageId(),
                 hasCarrier_ ? "no recipient it can reach" : "no carrier on this device");
  }
  platform::localNotifyCenter().postNotification(
      std::string(sent ? platform::kCTMessageSentNotification
                       : platform::kCTMessageSendErrorNotification),
      {{std::string(platform::kCTMessageTypeKey), platform::CTMessage::kPlainSMSType},
       {std::string(platform::kCTMessageIdKey), message->messageId()}});
  return sent;
}

std::shared_ptr<platform::CTMessage> SimMessageCenter::platformIncomingMessageWithId(
    std::uint32_t messageId) {
  std::shared_ptr<platform::CTMessage> found;
  {
    std::lock_guard lock(mutex_);
    auto it = received_.find(messageId);
    // Each caller gets its own copy, which it may change.
    if (it != received_.end()) found = std::make_shared<platform::CTMessage>(it->second);
  }
  report(
      {{"event", "carrierIncomingLookup"}, {"messageId", messageId}, {"found", found != nullptr}});
  return found;
}

}  // namespace pelorin::sim
