#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/mail/mf_mime_body.h"
#include "platform/text.h"

namespace pelorin::sim {

// An RFC 822 message as the Mail host stores it.
struct ParsedMail {
  Text messageID;    // the Message-ID header without its angle brackets; absent when missing
  Text firstSender;  // "Name <address>", or the bare address; absent without a From mailbox
  Text subject;      // decoded
  std::vector<platform::MFMimeBody::HTMLPart> htmlParts;  // every text/html part, in order
};

// Parses mail with GMime. Thread-safe once initialised (the first call
// initialises the library).
class MailParser {
 public:
  // The message in `bytes`, or nothing when GMime finds no message there.
  static std::optional<ParsedMail> parse(const std::string& bytes);
};

}  // namespace pelorin::sim
