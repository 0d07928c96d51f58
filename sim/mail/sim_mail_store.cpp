#include "sim/mail/sim_mail_store.h"

#include <fcntl.h>

#include "platform/guid.h"
#include "platform/mail/mail_notifications.h"
#include "platform/notification_center.h"
#include "sim/mail/mail_file.h"
#include "sim/mail/mail_parser.h"

namespace pelorin::sim {
namespace {

nlohmann::json mailJson(const platform::MFMailMessage& message, int bodiesSet) {
  return {
      {"messageID", textJson(message.messageID())},
      {"account", textJson(message.account() ? message.account()->firstEmailAddress() : Text())},
      {"mailbox", textJson(message.mailbox() ? message.mailbox()->name() : Text())},
      {"firstSender", textJson(message.firstSender())},
      {"subject", textJson(message.subject())},
      {"bodiesSet", bodiesSet}};
}

}  // namespace

bool SimMailStore::addAccount(const std::string& address) {
  if (address.empty()) return false;
  std::lock_guard lock(mutex_);
  accountLocked(address);
  return true;
}

std::shared_ptr<platform::MFMailAccount> SimMailStore::accountLocked(const std::string& address) {
  auto& account = accounts_[address];
  if (!account) account = std::make_shared<platform::MFMailAccount>(address);
  return account;
}

Outcome<std::string> SimMailStore::store(const std::string& account, const std::string& mailbox,
                                         const std::string& rfc822) {
  if (account.empty() || mailbox.empty())
    return Outcome<std::string>::failure("no account or mailbox");
  auto parsed = MailParser::parse(rfc822);
  if (!parsed) return Outcome<std::string>::failure("not a mail message");
  std::shared_ptr<platform::MFMailMessage> message;
  {
    std::lock_guard lock(mutex_);
    std::string id = parsed->messageID ? *parsed->messageID
                                       : "generated." + std::to_string(++generated_) + "." +
                                             platform::stringGUID() + "@pelorin-mail-host";
    if (messages_.count(id) > 0) return Outcome<std::string>::failure("already stored: " + id);
    auto& box = mailboxes_[{account, mailbox}];
    if (!box) box = std::make_shared<platform::MFMailbox>(mailbox);
    message = std::make_shared<platform::MFMailMessage>(
        platform::MFMailMessage::Fields{.messageID = id,
                                        .firstSender = parsed->firstSender,
                                        .subject = parsed->subject,
                                        .account = accountLocked(account),
                                        .mailbox = box});
    messages_[id] = {message, std::make_shared<platform::MFMimeBody>(std::move(parsed->htmlParts)),
                     0};
    order_.push_back(id);
  }
  if (report_) report_({{"event", "mailStored"}, {"mail", mailJson(*message, 0)}});
  return {*message->messageID(), {}};
}

Outcome<std::string> SimMailStore::storeFile(const std::string& account, const std::string& mailbox,
                                             const std::string& path) {
  auto file = MailFile::read(AT_FDCWD, path);
  if (!file.bytes)
    return Outcome<std::string>::failure("cannot read " + path + ": " + file.problem);
  return store(account, mailbox, *file.bytes);
}

std::optional<SimMailStore::Entry> SimMailStore::find(const std::string& messageID) const {
  std::lock_guard lock(mutex_);
  auto it = messages_.find(messageID);
  if (it == messages_.end()) return std::nullopt;
  return it->second;
}

bool SimMailStore::announce(const std::string& messageID) {
  auto entry = find(messageID);
  if (!entry) return false;
  if (report_) report_({{"event", "mailAnnounced"}, {"messageID", messageID}});
  platform::localNotifyCenter().postNotificationWithObjects(
      std::string(platform::kMailMessageStoreMessagesAdded), {}, {{"messages", {entry->message}}});
  return true;
}

bool SimMailStore::setBody(const std::string& messageID) {
  auto entry = find(messageID);
  if (!entry) return false;
  setOrGetBody(entry->body, entry->message, true);
  return true;
}

std::shared_ptr<platform::MFMimeBody> SimMailStore::platformSetOrGetBody(
    const std::shared_ptr<platform::MFMimeBody>& body,
    const std::shared_ptr<platform::MFMailMessage>& message, bool updateFlags) {
  if (!message || !message->messageID()) return body;
  {
    std::lock_guard lock(mutex_);
    auto it = messages_.find(*message->messageID());
    if (it == messages_.end()) return body;
    ++it->second.bodiesSet;
  }
  if (report_) {
    report_(
        {{"event", "bodySet"}, {"messageID", *message->messageID()}, {"updateFlags", updateFlags}});
  }
  return body;
}

SimMailStore::Listing SimMailStore::list(std::uint64_t offset, std::uint32_t count) const {
  std::lock_guard lock(mutex_);
  Listing listing{order_.size(), {}};
  for (std::uint64_t i = offset; i < order_.size() && listing.items.size() < count; ++i) {
    const auto& entry = messages_.at(order_[i]);
    listing.items.push_back(mailJson(*entry.message, entry.bodiesSet));
  }
  return listing;
}

}  // namespace pelorin::sim
