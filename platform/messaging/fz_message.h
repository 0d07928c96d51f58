#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::platform {

// A chat message of the messaging daemon's services (SMS or iMessage). Handed
// between the daemon and its tweaks as std::shared_ptr; no lock of its own
// (one thread at a time). The service name travels with the message.
class FZMessage {
 public:
  struct Fields {
    Text sender;
    Date time;
    Text body;  // the plain text of the body
    std::optional<Dictionary> attributes;
    std::vector<std::string> fileTransferGUIDs;
    std::uint64_t flags = 0;
    std::uint32_t error = 0;
    Text guid;
  };

  explicit FZMessage(Fields fields) : fields_(std::move(fields)) {}

  // initWithSender:time:body:attributes:fileTransferGUIDs:flags:error:guid:
  static std::shared_ptr<FZMessage> initWithSender(Text sender, Date time, Text body,
                                                   std::optional<Dictionary> attributes,
                                                   std::vector<std::string> fileTransferGUIDs,
                                                   std::uint64_t flags, std::uint32_t error,
                                                   Text guid);

  const Text& service() const { return service_; }
  void setService(Text service) { service_ = std::move(service); }

  // No text (absent or empty) and no file transfers.
  bool isEmpty() const;

  const Text& sender() const { return fields_.sender; }
  const Date& time() const { return fields_.time; }
  // The body's plain text (the phone's `body` then `string`).
  const Text& body() const { return fields_.body; }
  const std::optional<Dictionary>& attributes() const { return fields_.attributes; }
  const std::vector<std::string>& fileTransferGUIDs() const { return fields_.fileTransferGUIDs; }
  std::uint64_t flags() const { return fields_.flags; }
  std::uint32_t error() const { return fields_.error; }
  const Text& guid() const { return fields_.guid; }

  // A rendering for log lines, one field per line.
  std::string description() const;

 private:
  Fields fields_;
  Text service_;
};

}  // namespace pelorin::platform
