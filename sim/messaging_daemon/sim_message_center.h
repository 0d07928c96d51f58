#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/messaging/ct_message_center.h"
#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/message_store.h"

namespace pelorin::sim {

// The daemon's carrier message centre. Its own send hands the message to a
// simulated carrier: on a device with a carrier and with at least one
// recipient the carrier can reach, it records where the message went and
// announces "kCTMessageSentNotification"; otherwise (no carrier, no
// recipient, or only empty or invalid ones) it announces
// "kCTMessageSendErrorNotification". Its own lookup finds carrier messages
// received and not yet acknowledged. Every call that reaches either is
// reported. Thread-safe.
class SimMessageCenter final : public platform::CTMessageCenter {
 public:
  // Ids from here up are left to tweaks that inject messages of their own.
  static constexpr std::uint32_t kFirstInjectedId = 0xFFFF0000u;

  // Carrier ids continue after the largest one in `store`.
  SimMessageCenter(MessageStore& store, bool hasCarrier, EventReporter reporter)
      : store_(store),
        hasCarrier_(hasCarrier),
        reporter_(std::move(reporter)),
        nextId_(store.largestMessageIdBelow(kFirstInjectedId) + 1) {}

  // A new carrier message id (never in the range of injected ids).
  std::uint32_t nextMessageId() { return nextId_.fetch_add(1); }

  // Keeps a carrier message that arrived, for incomingMessageWithId(), until
  // it is acknowledged.
  void receiveFromCarrier(const std::shared_ptr<platform::CTMessage>& message);
  // Forgets the received message with that id, once the daemon took it.
  void acknowledge(std::uint32_t messageId);

  // A number the carrier can text: 1 to 15 digits, written with any of
  // blanks, "-", ".", parentheses and one leading "+".
  static bool carrierCanReach(const Text& number);

 protected:
  bool platformSendSMS(const std::shared_ptr<platform::CTMessage>& message,
                       bool moreToFollow) override;
  std::shared_ptr<platform::CTMessage> platformIncomingMessageWithId(
      std::uint32_t messageId) override;

 private:
  void report(const nlohmann::json& event) const {
    if (reporter_) reporter_(event);
  }

  MessageStore& store_;
  const bool hasCarrier_;
  const EventReporter reporter_;
  std::atomic<std::uint32_t> nextId_;

  std::mutex mutex_;
  std::map<std::uint32_t, platform::CTMessage> received_;  // guarded by mutex_
};

}  // namespace pelorin::sim
