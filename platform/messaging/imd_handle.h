#pragma once

#include <memory>

#include "platform/text.h"

namespace pelorin::platform {

// A chat participant: its ID is a phone number or an address, as the chat
// holds it. Immutable.
class IMDHandle {
 public:
  explicit IMDHandle(Text id) : id_(std::move(id)) {}
  const Text& ID() const { return id_; }

 private:
  const Text id_;
};

}  // namespace pelorin::platform
