#include "sim/messaging_daemon/messaging_daemon.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/guid.h"
#include "platform/messaging/ct_notifications.h"
#include "platform/notification_center.h"
#include "platform/utf16.h"

namespace pelorin::sim {
namespace {

constexpr std::uint32_t kMaxParts = 10;
// The error a chat message's failed send is reported with.
constexpr std::uint32_t kSendFailedError = 4;

// `text` cut into `parts` pieces of about equal length, never inside a character.
std::vector<std::string> splitText(const std::string& text, std::uint32_t parts) {
  std::vector<std::size_t> starts;  // byte offsets of the characters
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  std::vector<std::string> pieces;
  for (std::uint32_t p = 0; p < parts; ++p) {
    const std::size_t first = starts.size() * p / parts;
    const std::size_t last = starts.size() * (p + 1) / parts;
    const std::size_t begin = first < starts.size() ? starts[first] : text.size();
    const std::size_t end = last < starts.size() ? starts[last] : text.size();
    pieces.push_back(text.substr(begin, end - begin));
  }
  return pieces;
}

using platform::kCTMessageIdKey;
using platform::kCTMessageReceivedNotification;
using platform::kCTMessageSendErrorNotification;
using platform::kCTMessageSentNotification;
using platform::kCTMessageTypeKey;

std::optional<std::uint32_t> messageIdIn(const platform::Dictionary& userInfo) {
  auto it = userInfo.find(std::string(kCTMessageIdKey));
  if (it == userInfo.end()) return std::nullopt;
  const std::int64_t id = it->second.integerReading();
  if (id < 0 || id > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(id);
}

}  // namespace

MessagingDaemon::MessagingDaemon(DaemonOptions options, EventReporter reporter, Executor executor)
    : options_(std::move(options)),
      reporter_(std::move(reporter)),
      executor_(std::move(executor)),
      store_(options_.databasePath,
             [this](const std::string& event, const StoredMessage& message) {
               if (reporter_) reporter_({{"event", event}, {"message", messageJson(message)}});
             }),
      center_(store_, options_.isAniPhone, reporter_) {
  for (const auto& service : options_.services) {
    const bool viaCarrier =
        options_.isAniPhone && service == platform::IMDServiceSession::kSMSService;
    sessions_[service] = std::make_shared<SimServiceSession>(service, store_, reporter_,
                                                             viaCarrier ? &center_ : nullptr);
  }
}

MessagingDaemon::~MessagingDaemon() {
  if (platform::IMDAccountController::sharedAccountController() == this) {
    platform::IMDAccountController::setSharedAccountController(nullptr);
  }
}

void MessagingDaemon::start() {
  auto offered = [this](std::string_view selector) {
    return options_.withoutMethods.count(std::string(selector)) == 0;
  };
  platform::CTMessageCenter::registerWithRuntime(offered);
  platform::IMDServiceSession::registerWithRuntime(offered);
  platform::IMDAccountController::setSharedAccountController(this);
  auto& local = platform::localNotifyCenter();
  local.addObserver(
      std::string(kCTMessageSentNotification),
      [this](const std::string&, const platform::Dictionary& info) { onSent(info, "sent"); });
  local.addObserver(
      std::string(kCTMessageSendErrorNotification),
      [this](const std::string&, const platform::Dictionary& info) { onSent(info, "failed"); });
  local.addObserver(
      std::string(kCTMessageReceivedNotification),
      [this](const std::string&, const platform::Dictionary& info) { onReceived(info); });
}

void MessagingDaemon::failInterruptedSends() {
  for (const auto& message : store_.sendingFromEarlierRuns()) {
    if (message.messageId) {
      platform::localNotifyCenter().postNotification(
          std::string(kCTMessageSendErrorNotification),
          {{std::string(kCTMessageTypeKey), platform::CTMessage::kPlainSMSType},
           {std::string(kCTMessageIdKey), *message.messageId}});
    } else if (auto session = anySessionForServiceName(message.service)) {
      session->didReceiveError(kSendFailedError, message.guid, true);
    } else if (message.guid) {  // of a session this run does not have
      store_.updateByGuid(*message.guid, [](StoredMessage& m) {
        m.state = "failed";
        m.errorCode = kSendFailedError;
      });
    }
  }
}

void MessagingDaemon::perform(std::function<void()> work) {
  if (executor_) {
    executor_(std::move(work));
  } else {
    work();
  }
}

std::shared_ptr<platform::IMDServiceSession> MessagingDaemon::anySessionForServiceName(
    const Text& serviceName) {
  if (!serviceName) return nullptr;
  auto it = sessions_.find(*serviceName);
  return it == sessions_.end() ? nullptr : it->second;
}

Outcome<std::uint32_t> MessagingDaemon::sendSMS(const std::vector<std::string>& recipients,
                                                const std::string& text, std::uint32_t parts) {
  if (parts < 1 || parts > kMaxParts)
    return Outcome<std::uint32_t>::failure("parts must be 1 to 10");
  if (!platform::isValidUtf8(text)) return Outcome<std::uint32_t>::failure("text is not UTF-8");
  auto message = std::make_shared<platform::CTMessage>();
  message->setMessageType(platform::CTMessage::kPlainSMSType);
  message->setMessageId(center_.nextMessageId());
  for (const auto& piece : splitText(text, parts)) message->addText(piece);
  for (const auto& recipient : recipients) {
    message->addRecipient(platform::CTPhoneNumber::phoneNumberWithDigits(recipient, "us"));
  }
  StoredMessage stored;
  stored.service = "SMS";
  stored.direction = "outgoing";
  stored.recipients = recipients;
  stored.text = text;
  stored.state = "sending";
  stored.messageId = message->messageId();
  store_.add(std::move(stored));
  perform([this, message] { center_.sendSMS(message, false); });
  return {message->messageId(), {}};
}

Outcome<bool> MessagingDaemon::createChat(const std::string& service,
                                          const std::string& chatIdentifier,
                                          const std::vector<std::string>& participants) {
  auto it = sessions_.find(service);
  if (it == sessions_.end()) return Outcome<bool>::failure("no session for service " + service);
  if (participants.empty()) return Outcome<bool>::failure("a chat needs participants");
  it->second->createChat(chatIdentifier, participants);
  return {true, {}};
}

Outcome<std::string> MessagingDaemon::sendChatMessage(const std::string& service,
                                                      const std::string& chatIdentifier,
                                                      const std::vector<std::string>& participants,
                                                      const std::string& text,
                                                      const std::vector<std::string>& attachments) {
  auto created = createChat(service, chatIdentifier, participants);
  if (!created.value) return Outcome<std::string>::failure(created.error);
  auto session = sessions_.at(service);
  auto chat = session->createChat(chatIdentifier, participants);  // the one just made or found
  auto message =
      platform::FZMessage::initWithSender(std::nullopt, platform::currentDate(), text, std::nullopt,
                                          attachments, 0, 0, platform::stringGUID());
  message->setService(service);
  StoredMessage stored;
  stored.service = service;
  stored.direction = "outgoing";
  stored.recipients = participants;
  stored.text = text;
  stored.state = "sending";
  stored.guid = message->guid();
  stored.chatIdentifier = chatIdentifier;
  stored.attachments = attachments;
  store_.add(std::move(stored));
  perform([session, message, chat] {
    session->sendMessage(message, chat->guid(), chat->chatIdentifier(), chat->style());
  });
  return {*message->guid(), {}};
}

Outcome<std::uint32_t> MessagingDaemon::deliverSMS(const std::string& sender,
                                                   const std::string& text) {
  if (!options_.isAniPhone) return Outcome<std::uint32_t>::failure("this device has no carrier");
  auto message = std::make_shared<platform::CTMessage>();
  message->setMessageType(platform::CTMessage::kPlainSMSType);
  message->setMessageId(center_.nextMessageId());
  message->setSender(platform::CTPhoneNumber::phoneNumberWithDigits(sender, "us"));
  message->addText(text);
  center_.receiveFromCarrier(message);
  const std::uint32_t id = message->messageId();
  perform([id] {
    platform::localNotifyCenter().postNotification(
        std::string(kCTMessageReceivedNotification),
        {{std::string(kCTMessageTypeKey), platform::CTMessage::kPlainSMSType},
         {std::string(kCTMessageIdKey), id}});
  });
  return {id, {}};
}

void MessagingDaemon::onSent(const platform::Dictionary& userInfo, const std::string& state) {
  const auto id = messageIdIn(userInfo);
  const bool known =
      id && store_.updateByMessageId(*id, [&](StoredMessage& m) { m.state = state; });
  if (!known)
    std::fprintf(stderr, "pelorin-daemon-host: no message with the id in a %s notification\n",
                 state.c_str());
}

// As the phone does: ask for the announced message and keep what comes back.
void MessagingDaemon::onReceived(const platform::Dictionary& userInfo) {
  const auto id = messageIdIn(userInfo);
  auto message = id ? center_.incomingMessageWithId(*id) : nullptr;
  if (id) center_.acknowledge(*id);  // taken, or never to be: the carrier need not keep it
  if (!message) {
    std::fprintf(stderr, "pelorin-daemon-host: no message for an announced id\n");
    return;
  }
  StoredMessage stored;
  stored.service = "SMS";
  stored.direction = "incoming";
  if (message->sender()) stored.sender = message->sender()->canonicalFormat();
  stored.text = message->text();
  stored.state = "received";
  stored.messageId = *id;
  store_.add(std::move(stored));
}

}  // namespace pelorin::sim
