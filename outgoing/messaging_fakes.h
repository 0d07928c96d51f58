#pragma once

// In-memory stand-ins of the messaging daemon's objects for the outgoing
// tests: a carrier centre, service sessions with chats, and an account
// controller, each recording what the logic asked of it.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/messaging/ct_message_center.h"
#include "platform/messaging/imd_account_controller.h"
#include "platform/messaging/imd_chat.h"
#include "platform/messaging/imd_service_session.h"

namespace pelorin::testing {

// Waits up to five seconds for `condition`; whether it held.
inline bool eventually(const std::function<bool()>& condition) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class FakeChat final : public platform::IMDChat {
 public:
  FakeChat(std::string identifier, std::uint8_t style, std::string service,
           std::vector<std::string> participants,
           std::weak_ptr<platform::IMDServiceSession> session)
      : identifier_(std::move(identifier)),
        style_(style),
        service_(std::move(service)),
        session_(std::move(session)) {
    for (auto& id : participants) {
      participants_.push_back(std::make_shared<platform::IMDHandle>(std::move(id)));
    }
  }
  Text chatIdentifier() const override { return identifier_; }
  std::uint8_t style() const override { return style_; }
  Text serviceName() const override { return service_; }
  std::vector<std::shared_ptr<platform::IMDHandle>> participants() const override {
    return participants_;
  }
  Text guid() const override { return service_ + ";" + identifier_; }
  platform::Dictionary chatProperties() const override { return {{"service", service_}}; }
  std::shared_ptr<platform::IMDServiceSession> serviceSession() const override {
    return session_.lock();
  }

 private:
  std::string identifier_;
  std::uint8_t style_;
  std::string service_;
  std::vector<std::shared_ptr<platform::IMDHandle>> participants_;
  std::weak_ptr<platform::IMDServiceSession> session_;
};

// One call a session received, in a readable form.
struct SessionCall {
  std::string what;  // "send", "sent", "delivered", "error"
  std::string guid;
  std::string detail;  // send: service and chat guid; sent: chat; error: code and force
};

class FakeSession final : public platform::IMDServiceSession,
                          public std::enable_shared_from_this<FakeSession> {
 public:
  explicit FakeSession(std::string service) : service_(std::move(service)) {}

  std::shared_ptr<FakeChat> addChat(const std::string& identifier,
                                    std::vector<std::string> participants) {
    const std::uint8_t style = participants.size() > 1 ? platform::IMDChat::kGroupStyle
                                                       : platform::IMDChat::kOneToOneStyle;
    auto chat = std::make_shared<FakeChat>(identifier, style, service_, std::move(participants),
                                           weak_from_this());
    std::lock_guard lock(mutex_);
    chats_[identifier] = chat;
    return chat;
  }

  std::vector<SessionCall> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  // The calls, once `count` of them were made (or after the wait gave up).
  std::vector<SessionCall> waitForCalls(std::size_t count) const {
    eventually([&] { return calls().size() >= count; });
    return calls();
  }
  platform::Date lastDate() const {
    std::lock_guard lock(mutex_);
    return lastDate_;
  }

  Text serviceName() const override { return service_; }
  std::shared_ptr<platform::IMDChat> chatForChatIdentifier(const Text& identifier,
                                                           std::uint8_t style) override {
    std::lock_guard lock(mutex_);
    auto it = chats_.find(identifier.value_or(""));
    if (it == chats_.end() || it->second->style() != style) return nullptr;
    return it->second;
  }
  void didSendMessage(const std::shared_ptr<platform::FZMessage>& message, const Text& forChat,
                      std::uint8_t) override {
    record({"sent", message->guid().value_or(""), forChat.value_or("")});
  }
  void didReceiveMessageDeliveryReceiptForMessageID(const Text& messageID,
                                                    platform::Date date) override {
    std::lock_guard lock(mutex_);
    lastDate_ = date;
    calls_.push_back({"delivered", messageID.value_or(""), ""});
  }
  void didReceiveError(std::uint32_t error, const Text& forMessageID, bool force) override {
    record({"error", forMessageID.value_or(""),
            std::to_string(error) + (force ? " forced" : " unforced")});
  }
  void didReceiveMessage(const std::shared_ptr<platform::FZMessage>& message, const Text&,
                         std::uint8_t) override {
    record({"received", message->guid().value_or(""), ""});
  }

 protected:
  void platformSendMessage(const std::shared_ptr<platform::FZMessage>& message,
                           const Text& toChatID, const Text&, std::uint8_t) override {
    record({"send", message->guid().value_or(""),
            message->service().value_or("") + " " + toChatID.value_or("")});
  }

 private:
  void record(SessionCall call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  const std::string service_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<FakeChat>> chats_;  // guarded by mutex_
  std::vector<SessionCall> calls_;                          // guarded by mutex_
  platform::Date lastDate_;                                 // guarded by mutex_
};

// The account controller of a test: the sessions it was given; installed as
// the process's controller while it lives.
class FakeAccountController final : public platform::IMDAccountController {
 public:
  FakeAccountController() { setSharedAccountController(this); }
  ~FakeAccountController() override { setSharedAccountController(nullptr); }

  std::shared_ptr<FakeSession> addSession(const std::string& service) {
    auto session = std::make_shared<FakeSession>(service);
    sessions_[service] = session;
    return session;
  }
  std::shared_ptr<platform::IMDServiceSession> anySessionForServiceName(
      const Text& serviceName) override {
    auto it = sessions_.find(serviceName.value_or(""));
    return it == sessions_.end() ? nullptr : it->second;
  }

 private:
  std::map<std::string, std::shared_ptr<FakeSession>> sessions_;  // set up before use
};

// A carrier centre that records the platform's own sends and lookups.
class FakeMessageCenter final : public platform::CTMessageCenter {
 public:
  struct Send {
    std::shared_ptr<platform::CTMessage> message;
    bool moreToFollow;
  };
  std::vector<Send> sends;
  std::vector<std::uint32_t> lookups;
  std::map<std::uint32_t, std::shared_ptr<platform::CTMessage>> received;
  bool sendResult = true;

 protected:
  bool platformSendSMS(const std::shared_ptr<platform::CTMessage>& message,
                       bool moreToFollow) override {
    sends.push_back({message, moreToFollow});
    return sendResult;
  }
  std::shared_ptr<platform::CTMessage> platformIncomingMessageWithId(std::uint32_t id) override {
    lookups.push_back(id);
    auto it = received.find(id);
    return it == received.end() ? nullptr : it->second;
  }
};

// An outgoing carrier SMS to `recipients` with `parts` text parts.
inline std::shared_ptr<platform::CTMessage> outgoingSMS(const std::vector<std::string>& recipients,
                                                        const std::string& text,
                                                        std::uint32_t id = 7, int parts = 1) {
  auto message = std::make_shared<platform::CTMessage>();
  message->setMessageType(platform::CTMessage::kPlainSMSType);
  message->setMessageId(id);
  for (int i = 0; i < parts; ++i) message->addText(text);
  for (const auto& r : recipients) {
    message->addRecipient(platform::CTPhoneNumber::phoneNumberWithDigits(r, "us"));
  }
  return message;
}

// A chat message of `service` with `text` (and attachments when given).
inline std::shared_ptr<platform::FZMessage> chatMessage(const std::string& service, Text text,
                                                        std::vector<std::string> files = {},
                                                        std::string guid = "GUID-1") {
  auto message = platform::FZMessage::initWithSender("e:me", {}, std::move(text), std::nullopt,
                                                     std::move(files), 0, 0, std::move(guid));
  message->setService(service);
  return message;
}

}  // namespace pelorin::testing
