#include "platform/testing/messaging_doubles.h"

#include <chrono>
#include <thread>

#include "platform/messaging/ct_message.h"
#include "platform/messaging/ct_notifications.h"
#include "platform/messaging/fz_message.h"
#include "platform/testing/notification_recorder.h"

namespace pelorin::platform::testing {

bool eventually(const std::function<bool()>& condition) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::vector<std::string> carrierPosts(const NotificationRecorder& notifications) {
  std::vector<std::string> posts;
  for (const auto& [name, info] : notifications.localPosts()) {
    auto id = info.find(std::string(kCTMessageIdKey));
    auto type = info.find(std::string(kCTMessageTypeKey));
    const bool sms = type != info.end() && type->second == Value(1);
    posts.push_back(name.substr(10, name.size() - 22) + (sms ? " " : " of another type ") +
                    std::to_string(id == info.end() ? -1 : id->second.integerReading()));
  }
  return posts;
}

std::shared_ptr<CTMessage> smsMessage(const std::vector<std::string>& recipients,
                                      const std::vector<std::string>& parts, std::uint32_t id) {
  auto message = std::make_shared<CTMessage>();
  message->setMessageType(CTMessage::kPlainSMSType);
  message->setMessageId(id);
  for (const auto& text : parts) message->addText(text);
  for (const auto& r : recipients)
    message->addRecipient(CTPhoneNumber::phoneNumberWithDigits(r, "us"));
  return message;
}

ChatDouble::ChatDouble(std::string identifier, const std::vector<std::string>& participants,
                       std::weak_ptr<SessionDouble> session)
    : identifier_(std::move(identifier)),
      style_(participants.size() > 1 ? kGroupStyle : kOneToOneStyle),
      session_(std::move(session)) {
  for (const auto& id : participants) participants_.push_back(std::make_shared<IMDHandle>(id));
}

Text ChatDouble::serviceName() const {
  auto session = session_.lock();
  return session ? session->serviceName() : Text("");
}

std::shared_ptr<IMDServiceSession> ChatDouble::serviceSession() const {
  return session_.lock();
}

std::shared_ptr<ChatDouble> SessionDouble::addChat(const std::string& identifier,
                                                   const std::vector<std::string>& participants) {
  auto chat = std::make_shared<ChatDouble>(identifier, participants, weak_from_this());
  std::lock_guard lock(mutex_);
  chats_[identifier] = chat;
  return chat;
}

std::vector<std::string> SessionDouble::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> SessionDouble::waitForCalls(std::size_t count) const {
  eventually([&] { return calls().size() >= count; });
  return calls();
}

Date SessionDouble::lastDeliveryDate() const {
  std::lock_guard lock(mutex_);
  return lastDeliveryDate_;
}

std::shared_ptr<IMDChat> SessionDouble::chatForChatIdentifier(const Text& identifier,
                                                              std::uint8_t style) {
  std::lock_guard lock(mutex_);
  auto it = chats_.find(identifier.value_or(""));
  return it == chats_.end() || it->second->style() != style ? nullptr : it->second;
}

void SessionDouble::didSendMessage(const std::shared_ptr<FZMessage>& message, const Text& forChat,
                                   std::uint8_t) {
  record("sent " + message->guid().value_or("") + " " + forChat.value_or(""));
}

void SessionDouble::didReceiveMessageDeliveryReceiptForMessageID(const Text& messageID, Date date) {
  std::lock_guard lock(mutex_);
  lastDeliveryDate_ = date;
  calls_.push_back("delivered " + messageID.value_or(""));
}

void SessionDouble::didReceiveError(std::uint32_t error, const Text& forMessageID, bool force) {
  record("error " + forMessageID.value_or("") + " " + std::to_string(error) +
         (force ? " forced" : " unforced"));
}

void SessionDouble::didReceiveMessage(const std::shared_ptr<FZMessage>& message,
                                      const Text& forChat, std::uint8_t style) {
  record("received " + forChat.value_or("") + " " + std::to_string(style) + " " +
         message->sender().value_or("") + ": " + message->body().value_or(""));
}

void SessionDouble::platformSendMessage(const std::shared_ptr<FZMessage>& message,
                                        const Text& toChatID, const Text&, std::uint8_t) {
  record("send " + message->guid().value_or("") + " " + message->service().value_or("") + " " +
         toChatID.value_or(""));
}

void SessionDouble::record(std::string call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

AccountControllerDouble::AccountControllerDouble(const std::vector<std::string>& services) {
  for (const auto& service : services) {
    sessions_[service] = std::make_shared<SessionDouble>(service);
  }
  setSharedAccountController(this);
}

}  // namespace pelorin::platform::testing
