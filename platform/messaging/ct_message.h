#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/messaging/ct_message_part.h"
#include "platform/messaging/ct_phone_number.h"
#include "platform/text.h"

namespace pelorin::platform {

// A carrier message (SMS): type, id, parts, recipients and sender. Handed
// between the messaging daemon and its tweaks as std::shared_ptr; whoever
// holds one may read or change it, one thread at a time (it has no lock of
// its own, like the phone's mutable objects).
class CTMessage {
 public:
  static constexpr int kPlainSMSType = 1;

  int messageType() const { return messageType_; }
  void setMessageType(int type) { messageType_ = type; }

  std::uint32_t messageId() const { return messageId_; }
  void setMessageId(std::uint32_t messageId) { messageId_ = messageId; }

  // The parts in order; a plain SMS holds its text in part 0.
  const std::vector<CTMessagePart>& items() const { return items_; }
  // Appends a text part (the UTF-8 bytes of `text`); an absent text adds nothing.
  void addText(const Text& text);
  // Removes the part at `index`; false (and nothing changes) when out of range.
  bool removePartAtIndex(std::size_t index);

  const std::vector<std::shared_ptr<CTPhoneNumber>>& recipients() const { return recipients_; }
  // Makes `recipient` the message's only recipient.
  void setRecipient(std::shared_ptr<CTPhoneNumber> recipient);
  void addRecipient(std::shared_ptr<CTPhoneNumber> recipient);

  // Nullptr when the message has no sender (an outgoing one).
  const std::shared_ptr<CTPhoneNumber>& sender() const { return sender_; }
  void setSender(std::shared_ptr<CTPhoneNumber> sender) { sender_ = std::move(sender); }

  // The parts' bytes joined, as text (invalid UTF-8 is kept as it is).
  std::string text() const;

 private:
  int messageType_ = 0;
  std::uint32_t messageId_ = 0;
  std::vector<CTMessagePart> items_;
  std::vector<std::shared_ptr<CTPhoneNumber>> recipients_;
  std::shared_ptr<CTPhoneNumber> sender_;
};

}  // namespace pelorin::platform
