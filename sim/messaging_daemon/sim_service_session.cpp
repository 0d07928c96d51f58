#include "sim/messaging_daemon/sim_service_session.h"

#include "sim/messaging_daemon/sim_chat.h"

namespace pelorin::sim {

std::shared_ptr<platform::IMDChat> SimServiceSession::createChat(
    const std::string& identifier, const std::vector<std::string>& participants) {
  const std::uint8_t style =
      participants.size() > 1 ? platform::IMDChat::kGroupStyle : platform::IMDChat::kOneToOneStyle;
  std::lock_guard lock(mutex_);
  if (auto known = knownChat(identifier, style)) return known;
  store_.addChat({serviceName_, identifier, style, participants});
  return chats_[{identifier, style}] = makeChat(identifier, style, participants);
}

std::shared_ptr<platform::IMDChat> SimServiceSession::chatForChatIdentifier(const Text& identifier,
                                                                            std::uint8_t style) {
  if (!identifier) return nullptr;
  std::lock_guard lock(mutex_);
  return knownChat(*identifier, style);
}

std::shared_ptr<platform::IMDChat> SimServiceSession::knownChat(const std::string& identifier,
                                                                std::uint8_t style) {
  auto it = chats_.find({identifier, style});
  if (it != chats_.end()) return it->second;
  auto kept = store_.findChat(serviceName_, identifier, style);
  if (!kept) return nullptr;
  return chats_[{identifier, style}] = makeChat(identifier, style, kept->participants);
}

std::shared_ptr<platform::IMDChat> SimServiceSession::makeChat(
    const std::string& identifier, std::uint8_t style,
    const std::vector<std::string>& participants) {
  std::vector<std::shared_ptr<platform::IMDHandle>> handles;
  for (const auto& id : participants) handles.push_back(std::make_shared<platform::IMDHandle>(id));
  return std::make_shared<SimChat>(identifier, style, serviceName_, std::move(handles),
                                   weak_from_this());
}

void SimServiceSession::platformSendMessage(const std::shared_ptr<platform::FZMessage>& message,
                                            const Text&, const Text& identifier,
                                            std::uint8_t style) {
  if (!message) return;
  if (carrier_) {
    sendThroughCarrier(message, identifier, style);
    return;
  }
  // The session's own send: the message leaves on this service.
  auto sentHere = [&](StoredMessage& stored) {
    stored.service = serviceName_;
    stored.chatIdentifier = identifier;
    stored.state = "sent";
  };
  if (!message->guid() || !store_.updateByGuid(*message->guid(), sentHere)) {
    StoredMessage stored = outgoing(*message, identifier, style);
    sentHere(stored);
    store_.add(std::move(stored));
  }
}

void SimServiceSession::sendThroughCarrier(const std::shared_ptr<platform::FZMessage>& message,
                                           const Text& identifier, std::uint8_t style) {
  auto carrierMessage = std::make_shared<platform::CTMessage>();
  carrierMessage->setMessageType(platform::CTMessage::kPlainSMSType);
  carrierMessage->setMessageId(carrier_->nextMessageId());
  if (auto chat = chatForChatIdentifier(identifier, style)) {
    for (const auto& participant : chat->participants()) {
      carrierMessage->addRecipient(
          platform::CTPhoneNumber::phoneNumberWithDigits(participant->ID(), "us"));
    }
  }
  carrierMessage->addText(message->body().value_or(""));
  // The chat message now waits for the carrier's word on this id.
  auto handedToCarrier = [&](StoredMessage& stored) {
    stored.service = serviceName_;
    stored.chatIdentifier = identifier;
    stored.messageId = carrierMessage->messageId();
  };
  if (!message->guid() || !store_.updateByGuid(*message->guid(), handedToCarrier)) {
    StoredMessage stored = outgoing(*message, identifier, style);
    stored.state = "sending";
    handedToCarrier(stored);
    store_.add(std::move(stored));
  }
  carrier_->sendSMS(carrierMessage, false);
}

void SimServiceSession::report(nlohmann::json event) const {
  if (!reporter_) return;
  event["service"] = serviceName_;
  reporter_(event);
}

void SimServiceSession::didSendMessage(const std::shared_ptr<platform::FZMessage>& message,
                                       const Text& forChat, std::uint8_t style) {
  report({{"event", "didSendMessage"},
          {"guid", textJson(message ? message->guid() : std::nullopt)},
          {"forChat", textJson(forChat)},
          {"style", style}});
  if (message) setState(message->guid(), "sent");
}

void SimServiceSession::didReceiveMessageDeliveryReceiptForMessageID(const Text& messageID,
                                                                     platform::Date date) {
  report({{"event", "didReceiveMessageDeliveryReceipt"},
          {"messageID", textJson(messageID)},
          {"date", date.secondsSince2001}});
  setState(messageID, "delivered");
}

void SimServiceSession::didReceiveError(std::uint32_t error, const Text& forMessageID,
                                        bool forceError) {
  report({{"event", "didReceiveError"},
          {"error", error},
          {"forMessageID", textJson(forMessageID)},
          {"forceError", forceError}});
  setState(forMessageID, "failed", error);
}

void SimServiceSession::didReceiveMessage(const std::shared_ptr<platform::FZMessage>& message,
                                          const Text& forChat, std::uint8_t style) {
  report({{"event", "didReceiveMessage"},
          {"guid", textJson(message ? message->guid() : std::nullopt)},
          {"sender", textJson(message ? message->sender() : std::nullopt)},
          {"text", textJson(message ? message->body() : std::nullopt)},
          {"time", message ? nlohmann::json(message->time().secondsSince2001) : nullptr},
          {"forChat", textJson(forChat)},
          {"style", style}});
  if (!message) return;
  const std::string sender = message->sender().value_or("");
  if (forChat) createChat(*forChat, {sender});
  StoredMessage stored;
  stored.service = serviceName_;
  stored.direction = "incoming";
  stored.sender = message->sender();
  stored.text = message->body();
  stored.state = "received";
  stored.guid = message->guid();
  stored.chatIdentifier = forChat;
  stored.attachments = message->fileTransferGUIDs();
  store_.add(std::move(stored));
}

void SimServiceSession::setState(const Text& guid, const std::string& state,
                                 std::int64_t errorCode) {
  if (!guid) return;
  store_.updateByGuid(*guid, [&](StoredMessage& stored) {
    stored.state = state;
    stored.errorCode = errorCode;
  });
}

StoredMessage SimServiceSession::outgoing(const platform::FZMessage& message,
                                          const Text& identifier, std::uint8_t style) {
  StoredMessage stored;
  stored.service = serviceName_;
  stored.direction = "outgoing";
  stored.sender = message.sender();
  stored.text = message.body();
  stored.guid = message.guid();
  stored.chatIdentifier = identifier;
  stored.attachments = message.fileTransferGUIDs();
  if (auto chat = chatForChatIdentifier(identifier, style)) {
    for (const auto& participant : chat->participants()) {
      stored.recipients.push_back(participant->ID().value_or(""));
    }
  }
  return stored;
}

}  // namespace pelorin::sim
