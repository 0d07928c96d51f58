#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"

namespace pelorin::platform {

// A message of the Messages application, composed in a conversation and not
// yet sent. Handed to the conversation's send operations as std::shared_ptr;
// no lock of its own (one thread at a time). What a tweak may ask of it are
// the four read-only booleans.
class CKMessage {
 public:
  struct Fields {
    std::string service;                  // "SMS" or "iMessage"
    std::vector<std::string> recipients;  // numbers or e-mail addresses, as typed
    std::string text;
    std::vector<std::string> attachments;  // the attached files' paths
  };

  explicit CKMessage(Fields fields) : fields_(std::move(fields)) {}

  // A carrier text or an iMessage; a message of any other service is neither.
  bool isSMS() const { return fields_.service == "SMS"; }
  bool isiMessage() const { return fields_.service == "iMessage"; }
  // Addressed to an e-mail address (any recipient written with "@").
  bool isToEmailAddress() const {
    return std::any_of(fields_.recipients.begin(), fields_.recipients.end(),
                       [](const std::string& r) { return r.find('@') != std::string::npos; });
  }
  bool hasAttachments() const { return !fields_.attachments.empty(); }

  const std::string& service() const { return fields_.service; }
  const std::vector<std::string>& recipients() const { return fields_.recipients; }
  const std::string& text() const { return fields_.text; }
  const std::vector<std::string>& attachments() const { return fields_.attachments; }

 private:
  const Fields fields_;
};

}  // namespace pelorin::platform
