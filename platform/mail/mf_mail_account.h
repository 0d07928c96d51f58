#pragma once

#include <utility>

#include "platform/text.h"

namespace pelorin::platform {

// A mail account of the Mail application. Immutable; shared between the
// store and its messages.
class MFMailAccount {
 public:
  explicit MFMailAccount(Text firstEmailAddress)
      : firstEmailAddress_(std::move(firstEmailAddress)) {}

  // The account's (first) e-mail address, as the user configured it.
  const Text& firstEmailAddress() const { return firstEmailAddress_; }

 private:
  const Text firstEmailAddress_;
};

}  // namespace pelorin::platform
