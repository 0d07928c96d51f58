#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/messaging/imd_service_session.h"
#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/message_store.h"
#include "sim/messaging_daemon/sim_message_center.h"

namespace pelorin::sim {

// A simulated service session ("SMS" or "iMessage"): its chats, kept in the
// message store (so a chat made before a restart is found again), and its
// sends and conversation updates written to the message store; every update
// call is reported with its arguments. The SMS session of a device with a
// phone sends as the phone does: a carrier message to the chat's
// participants, through the carrier centre's sendSMS:withMoreToFollow: (and
// so through any replacement of it); the carrier's outcome notifications for
// that id then mark the chat message. Thread-safe.
class SimServiceSession final : public platform::IMDServiceSession,
                                public std::enable_shared_from_this<SimServiceSession> {
 public:
  // `carrier` is the centre the session sends through, or nullptr for a
  // session that sends by itself.
  SimServiceSession(std::string serviceName, MessageStore& store, EventReporter reporter,
                    SimMessageCenter* carrier)
      : serviceName_(std::move(serviceName)),
        store_(store),
        reporter_(std::move(reporter)),
        carrier_(carrier) {}

  // The chat with that identifier and the style its participants give ("-"
  // for one, "+" for several); made when missing.
  std::shared_ptr<platform::IMDChat> createChat(const std::string& identifier,
                                                const std::vector<std::string>& participants);

  Text serviceName() const override { return serviceName_; }
  std::shared_ptr<platform::IMDChat> chatForChatIdentifier(const Text& identifier,
                                                           std::uint8_t style) override;
  void didSendMessage(const std::shared_ptr<platform::FZMessage>& message, const Text& forChat,
                      std::uint8_t style) override;
  void didReceiveMessageDeliveryReceiptForMessageID(const Text& messageID,
                                                    platform::Date date) override;
  void didReceiveError(std::uint32_t error, const Text& forMessageID, bool forceError) override;
  void didReceiveMessage(const std::shared_ptr<platform::FZMessage>& message, const Text& forChat,
                         std::uint8_t style) override;

 protected:
  void platformSendMessage(const std::shared_ptr<platform::FZMessage>& message,
                           const Text& toChatID, const Text& identifier,
                           std::uint8_t style) override;

 private:
  void sendThroughCarrier(const std::shared_ptr<platform::FZMessage>& message,
                          const Text& identifier, std::uint8_t style);
  // The chat with that identifier and style, from memory or else from the
  // store; nullptr when neither has it. Call with mutex_ held.
  std::shared_ptr<platform::IMDChat> knownChat(const std::string& identifier, std::uint8_t style);
  std::shared_ptr<platform::IMDChat> makeChat(const std::string& identifier, std::uint8_t style,
                                              const std::vector<std::string>& participants);
  void report(nlohmann::json event) const;
  void setState(const Text& guid, const std::string& state, std::int64_t errorCode = 0);
  // A store record for a send the daemon did not start itself.
  StoredMessage outgoing(const platform::FZMessage& message, const Text& identifier,
                         std::uint8_t style);

  const std::string serviceName_;
  MessageStore& store_;
  const EventReporter reporter_;
  SimMessageCenter* const carrier_;

  std::mutex mutex_;
  // The chats used since start; guarded.
  std::map<std::pair<std::string, std::uint8_t>, std::shared_ptr<platform::IMDChat>> chats_;
};

}  // namespace pelorin::sim
