#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/mail/mf_mail_message_store.h"
#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/messaging_daemon.h"

namespace pelorin::sim {

// The Mail application's message store: accounts (by e-mail address), their
// mailboxes (by name, made when first used) and the messages filed in them,
// each with the body parsed from its RFC 822 text. Every function is
// thread-safe; the store's lock is never held while the store announces a
// message or sets a body, since tweaks run there.
//
// Events: {"event": "mailStored", "mail": {...}}, {"event": "mailAnnounced",
// "messageID"}, {"event": "bodySet", "messageID", "updateFlags"}.
class SimMailStore final : public platform::MFMailMessageStore {
 public:
  explicit SimMailStore(EventReporter report) : report_(std::move(report)) {}

  // Adds an account (nothing when it exists); false for an empty address.
  bool addAccount(const std::string& address);

  // Parses the RFC 822 text and files it in the account's mailbox (the
  // account is added when missing); its messageID. Refused when the text is
  // no message or a message with that Message-ID is already stored. A mail
  // without a Message-ID gets a generated one.
  Outcome<std::string> store(const std::string& account, const std::string& mailbox,
                             const std::string& rfc822);
  // store() of a file's content, read as MailFile::read does (a link, FIFO,
  // device, folder or oversized file is refused without blocking).
  Outcome<std::string> storeFile(const std::string& account, const std::string& mailbox,
                                 const std::string& path);

  bool knows(const std::string& messageID) const { return find(messageID).has_value(); }

  // Posts "MailMessageStoreMessagesAdded" on the process-local centre with the
  // message under "messages"; false for an unknown id.
  bool announce(const std::string& messageID);
  // Sets the message's body through the replaceable method; false for an unknown id.
  bool setBody(const std::string& messageID);

  // Stored messages in the order stored, each as messageID, account,
  // mailbox, firstSender, subject, bodiesSet: at most `count` from the
  // `offset`-th on, and how many are stored.
  struct Listing {
    std::uint64_t total = 0;
    std::vector<nlohmann::json> items;
  };
  Listing list(std::uint64_t offset, std::uint32_t count) const;

 protected:
  std::shared_ptr<platform::MFMimeBody> platformSetOrGetBody(
      const std::shared_ptr<platform::MFMimeBody>& body,
      const std::shared_ptr<platform::MFMailMessage>& message, bool updateFlags) override;

 private:
  struct Entry {
    std::shared_ptr<platform::MFMailMessage> message;
    std::shared_ptr<platform::MFMimeBody> body;
    int bodiesSet = 0;
  };

  std::shared_ptr<platform::MFMailAccount> accountLocked(const std::string& address);
  std::optional<Entry> find(const std::string& messageID) const;

  const EventReporter report_;
  mutable std::mutex mutex_;
  // Guarded by mutex_.
  std::map<std::string, std::shared_ptr<platform::MFMailAccount>> accounts_;
  std::map<std::pair<std::string, std::string>, std::shared_ptr<platform::MFMailbox>> mailboxes_;
  std::map<std::string, Entry> messages_;
  std::vector<std::string> order_;
  unsigned generated_ = 0;
};

}  // namespace pelorin::sim
