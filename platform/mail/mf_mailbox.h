#pragma once

#include <utility>

#include "platform/text.h"

namespace pelorin::platform {

// A mailbox (folder or label) of a mail account. Immutable.
class MFMailbox {
 public:
  explicit MFMailbox(Text name) : name_(std::move(name)) {}

  const Text& name() const { return name_; }

 private:
  const Text name_;
};

}  // namespace pelorin::platform
