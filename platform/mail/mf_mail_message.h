#pragma once

#include <memory>
#include <utility>

#include "platform/mail/mf_mail_account.h"
#include "platform/mail/mf_mailbox.h"
#include "platform/notification_center.h"
#include "platform/text.h"

namespace pelorin::platform {

// A message of the Mail application's store. Immutable, so any thread may
// read it; the store's "MailMessageStoreMessagesAdded" notification carries
// these under "messages".
class MFMailMessage final : public NotificationObject {
 public:
  struct Fields {
    Text messageID;
    Text firstSender;
    Text subject;
    std::shared_ptr<MFMailAccount> account;
    std::shared_ptr<MFMailbox> mailbox;
  };

  explicit MFMailMessage(Fields fields) : fields_(std::move(fields)) {}

  // Identifies the message; the same whenever the store hands it out.
  const Text& messageID() const { return fields_.messageID; }
  // The first sender as the platform writes it: "Name <address>" or the bare address.
  const Text& firstSender() const { return fields_.firstSender; }
  const Text& subject() const { return fields_.subject; }
  // The account and mailbox that hold the message; nullptr when unknown.
  const std::shared_ptr<MFMailAccount>& account() const { return fields_.account; }
  const std::shared_ptr<MFMailbox>& mailbox() const { return fields_.mailbox; }

 private:
  const Fields fields_;
};

}  // namespace pelorin::platform
