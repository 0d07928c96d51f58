// The mail road of IncomingMessageHandler, used in the Mail application:
// Google Voice's e-mail copies of texts become received-SMS records.
#include <algorithm>
#include <array>
#include <utility>

#include "common/logger.h"
#include "common/names.h"
#include "incoming/incoming_distributed_message_handler.h"
#include "incoming/incoming_message_handler.h"
#include "platform/case_folding.h"
#include "platform/charset.h"

namespace pelorin {
namespace {

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  std::string result;
  result.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(from, start)) != std::string::npos;
       start = at + from.size()) {
    result.append(text, start, at - start);
    result.append(to);
  }
  result.append(text, start, std::string::npos);
  text = std::move(result);
}

// The replacements, in the order they must run: NUL bytes first (the text
// travels as a C string and would end at one), then line breaks of the
// source, so that only "<BR>" makes one; "&amp;" before "&lt;" and "&gt;".
constexpr std::array<std::pair<std::string_view, std::string_view>, 15> kReplacements{{
    {std::string_view("\0", 1), ""},
    {"\r", ""},
    {"\n", ""},
    {"<BR>", "\n"},
    {"<HTML>", ""},
    {"</HTML>", ""},
    {"<BODY>", ""},
    {"</BODY>", ""},
    {"<SPAN>", ""},
    {"</SPAN>", ""},
    {"&nbsp;", " "},
    {"&quot;", "\""},
    {"&amp;", "&"},
    {"&lt;", "<"},
    {"&gt;", ">"},
}};

// Fields of a text-mail address's local part: ID.NUMBER.KEY.
constexpr std::size_t kSenderFields = 3;

bool equalIgnoringCase(const Text& a, const Text& b) {
  return a && b && platform::equalIgnoringCase(*a, *b);
}

}  // namespace

std::string IncomingMessageHandler::extractTextMessage(const std::string& html) {
  std::string text = html;
  for (const auto& [from, to] : kReplacements) replaceAll(text, from, to);
  const auto marker = text.find(kMailSignatureMarker);
  if (marker != std::string::npos) {
    text.erase(marker);
  } else if (!text.empty() && text.back() == '\n') {
    text.pop_back();  // the line break of the final "<BR>"
  }
  return text;
}

Text IncomingMessageHandler::getNumberFromAddress(const Text& address) {
  if (!address) return std::nullopt;
  const auto lastOpen = address->rfind('<');
  const std::string_view piece =
      std::string_view(*address).substr(lastOpen == std::string::npos ? 0 : lastOpen + 1);
  const auto at = piece.find('@');
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view local = piece.substr(0, at);
  if (static_cast<std::size_t>(std::count(local.begin(), local.end(), '.')) + 1 < kSenderFields) {
    return std::nullopt;
  }
  const auto firstDot = local.find('.');
  const auto number = local.substr(firstDot + 1, local.find('.', firstDot + 1) - firstDot - 1);
  if (number.empty()) return std::nullopt;
  return std::string(number);
}

std::vector<std::string> IncomingMessageHandler::recvdMailMessageIDList() {
  std::lock_guard lock(recvdMailMessageLock_);
  return recvdMailMessageIDList_;
}

void IncomingMessageHandler::handleMailMessageStorage(
    const platform::NotificationObjects& userInfoObjects) {
  if (!enableReceiveByMail()) return;
  Logger::log("handleMailMessage: Receive by mail is enabled");
  auto messages = userInfoObjects.find("messages");
  if (messages == userInfoObjects.end()) return;
  for (const auto& object : messages->second) {
    const auto message = std::dynamic_pointer_cast<platform::MFMailMessage>(object);
    if (!message || !message->firstSender() ||
        message->firstSender()->find(kTextMailSenderTest) == std::string::npos) {
      continue;
    }
    const Text& id = message->messageID();
    if (!id) continue;  // nothing to find it by when its body is set
    {
      std::lock_guard lock(recvdMailMessageLock_);
      const bool listed = std::find(recvdMailMessageIDList_.begin(), recvdMailMessageIDList_.end(),
                                    *id) != recvdMailMessageIDList_.end();
      // A mail announced again after its body was set (a mailbox synced
      // anew) would otherwise reach the daemon twice.
      const bool processed =
          std::find(processedMailMessageIDs_.begin(), processedMailMessageIDs_.end(), *id) !=
          processedMailMessageIDs_.end();
      if (!listed && !processed) recvdMailMessageIDList_.push_back(*id);
    }
    Logger::log("handleMailMessage: Message id is %@", id);
  }
}

void IncomingMessageHandler::processMailMessage(
    const std::shared_ptr<platform::MFMailMessage>& message,
    const std::shared_ptr<platform::MFMimeBody>& body) {
  if (!enableReceiveByMail()) return;
  Logger::log("processMailMessage: Receive by mail is enabled");
  if (!message || !message->messageID()) return;
  const std::string& id = *message->messageID();
  {
    std::lock_guard lock(recvdMailMessageLock_);
    auto it = std::find(recvdMailMessageIDList_.begin(), recvdMailMessageIDList_.end(), id);
    if (it == recvdMailMessageIDList_.end()) return;
    recvdMailMessageIDList_.erase(it);
    if (processedMailMessageIDs_.size() >= kRememberedMailMessageIDs) {
      processedMailMessageIDs_.pop_front();
    }
    processedMailMessageIDs_.push_back(id);
  }
  Logger::log("processMailMessage: Message id is %@", id);

  if (accountOption() != 0) {
    const Text address = message->account() ? message->account()->firstEmailAddress() : Text();
    if (!equalIgnoringCase(recvMailAccount(), address)) return;
  }
  if (const Text label = recvMailLabel()) {
    const Text mailbox = message->mailbox() ? message->mailbox()->name() : Text();
    if (!equalIgnoringCase(label, mailbox)) return;
  }
  Logger::log("Receive by mail is enabled and the email address and label check are done");

  Text html;
  if (body && !body->htmlContent().empty()) {
    const auto& part = body->htmlContent().front();
    html = platform::decodeCharacterSet(part.htmlData, part.preferredCharacterSet);
  }
  Logger::log("text_msg received by mail %@", html);
  if (!html) {
    // Sent on, the record would carry no text and the daemon would refuse it.
    Logger::log("processMailMessage: no decodable HTML in message %@, dropped", id);
    return;
  }
  const Text sender = getNumberFromAddress(message->firstSender());
  if (!sender) {
    Logger::log("processMailMessage: sender %@ of message %@ holds no number, dropped",
                message->firstSender(), id);
    return;
  }
  const Text text = extractTextMessage(*html);
  if (!centreClient().sendSMSMessage(text, sender)) {
    Logger::log("processMailMessage: the received-SMS centre did not take message %@", id);
    return;
  }
  Logger::log("Notification sent text message %@ sender %@", text, sender);
}

}  // namespace pelorin
