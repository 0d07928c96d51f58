#include "sim/messaging_daemon/sim_message_center.h"

#include <cstdio>

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

void SimMessageCenter::receiveFromCarrier(const std::shared_ptr<platform::CTMessage>& message) {
  std::lock_guard lock(mutex_);
  received_.insert_or_assign(message->messageId(), *message);
}

bool SimMessageCenter::platformSendSMS(const std::shared_ptr<platform::CTMessage>& message, bool) {
  if (!message) return false;
  const auto sentTo = numbersOf(*message);
  auto record = [&](StoredMessage& stored) {
    stored.state = hasCarrier_ ? "sent" : "failed";
    if (hasCarrier_) stored.carrierRecipients = sentTo;
  };
  if (!store_.updateByMessageId(message->messageId(), record)) {
    // A message the daemon did not send itself (a tweak's own): record it too.
    StoredMessage stored{0,      "SMS",           "outgoing", std::nullopt,
                         sentTo, message->text(), "",         message->messageId()};
    record(stored);
    store_.add(std::move(stored));
  }
  if (!hasCarrier_) std::fprintf(stderr, "pelorin-daemon-host: no carrier on this device\n");
  return hasCarrier_;
}

std::shared_ptr<platform::CTMessage> SimMessageCenter::platformIncomingMessageWithId(
    std::uint32_t messageId) {
  std::lock_guard lock(mutex_);
  auto it = received_.find(messageId);
  // Each caller gets its own copy, which it may change.
  return it == received_.end() ? nullptr : std::make_shared<platform::CTMessage>(it->second);
}

}  // namespace pelorin::sim
