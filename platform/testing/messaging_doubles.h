#pragma once

// In-memory stand-ins of the messaging daemon's objects: chat service
// sessions with their chats, the account controller that finds them, and a
// carrier centre, each recording what it was asked, in a readable form.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/messaging/ct_message_center.h"
#include "platform/messaging/imd_account_controller.h"
#include "platform/messaging/imd_chat.h"
#include "platform/messaging/imd_service_session.h"

namespace pelorin::platform::testing {

class NotificationRecorder;

// Waits up to five seconds for `condition`; whether it held.
bool eventually(const std::function<bool()>& condition);

// The carrier notifications posted so far, each of an SMS, as "Sent ID",
// "SendError ID" or "Received ID".
std::vector<std::string> carrierPosts(const NotificationRecorder& notifications);

// A carrier SMS of one text part per entry of `parts`, to `recipients`.
std::shared_ptr<CTMessage> smsMessage(const std::vector<std::string>& recipients,
                                      const std::vector<std::string>& parts, std::uint32_t id = 7);

class SessionDouble;

class ChatDouble final : public IMDChat {
 public:
  ChatDouble(std::string identifier, const std::vector<std::string>& participants,
             std::weak_ptr<SessionDouble> session);
  Text chatIdentifier() const override { return identifier_; }
  std::uint8_t style() const override { return style_; }
  Text serviceName() const override;
  std::vector<std::shared_ptr<IMDHandle>> participants() const override { return participants_; }
  Text guid() const override { return *serviceName() + ";" + identifier_; }
  Dictionary chatProperties() const override { return {{"service", *serviceName()}}; }
  std::shared_ptr<IMDServiceSession> serviceSession() const override;

 private:
  const std::string identifier_;
  const std::uint8_t style_;
  std::vector<std::shared_ptr<IMDHandle>> participants_;
  const std::weak_ptr<SessionDouble> session_;
};

// A session of one service. Every call it gets is kept as one line:
//   "send GUID SERVICE CHATID"   the platform's own send (the message's service)
//   "sent GUID CHAT"             "delivered GUID"   "error GUID CODE forced|unforced"
//   "received CHAT STYLE SENDER: BODY"
class SessionDouble final : public IMDServiceSession,
                            public std::enable_shared_from_this<SessionDouble> {
 public:
  explicit SessionDouble(std::string service) : service_(std::move(service)) {}

  // A chat of the session: one-to-one for one participant, else a group.
  std::shared_ptr<ChatDouble> addChat(const std::string& identifier,
                                      const std::vector<std::string>& participants);
  std::vector<std::string> calls() const;
  // The calls, once there are `count` (or after five seconds).
  std::vector<std::string> waitForCalls(std::size_t count) const;
  Date lastDeliveryDate() const;

  Text serviceName() const override { return service_; }
  std::shared_ptr<IMDChat> chatForChatIdentifier(const Text& identifier,
                                                 std::uint8_t style) override;
  void didSendMessage(const std::shared_ptr<FZMessage>& message, const Text& forChat,
                      std::uint8_t) override;
  void didReceiveMessageDeliveryReceiptForMessageID(const Text& messageID, Date date) override;
  void didReceiveError(std::uint32_t error, const Text& forMessageID, bool force) override;
  void didReceiveMessage(const std::shared_ptr<FZMessage>& message, const Text& forChat,
                         std::uint8_t style) override;

 protected:
  void platformSendMessage(const std::shared_ptr<FZMessage>& message, const Text& toChatID,
                           const Text&, std::uint8_t) override;

 private:
  void record(std::string call);

  const std::string service_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<ChatDouble>> chats_;  // guarded by mutex_
  std::vector<std::string> calls_;                            // guarded by mutex_
  Date lastDeliveryDate_;                                     // guarded by mutex_
};

// The process's account controller while it lives, with a session for each
// service it was given.
class AccountControllerDouble final : public IMDAccountController {
 public:
  explicit AccountControllerDouble(const std::vector<std::string>& services);
  ~AccountControllerDouble() override { setSharedAccountController(nullptr); }

  std::shared_ptr<SessionDouble> session(const std::string& service) {
    return sessions_.at(service);
  }
  std::shared_ptr<IMDServiceSession> anySessionForServiceName(const Text& service) override {
    auto it = sessions_.find(service.value_or(""));
    return it == sessions_.end() ? nullptr : it->second;
  }

 private:
  std::map<std::string, std::shared_ptr<SessionDouble>> sessions_;  // fixed at construction
};

// A carrier centre: records the platform's own sends, answers `sendResult`,
// and finds received messages in `received`.
class MessageCenterDouble final : public CTMessageCenter {
 public:
  std::vector<std::pair<std::shared_ptr<CTMessage>, bool>> sends;  // message, more to follow
  std::map<std::uint32_t, std::shared_ptr<CTMessage>> received;
  bool sendResult = true;

 protected:
  bool platformSendSMS(const std::shared_ptr<CTMessage>& message, bool moreToFollow) override {
    sends.emplace_back(message, moreToFollow);
    return sendResult;
  }
  std::shared_ptr<CTMessage> platformIncomingMessageWithId(std::uint32_t id) override {
    auto it = received.find(id);
    return it == received.end() ? nullptr : it->second;
  }
};

}  // namespace pelorin::platform::testing
