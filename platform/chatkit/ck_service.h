#pragma once

#include <string>

#include "platform/value.h"

namespace pelorin::platform {

// A messaging service of the Messages application ("SMS", "iMessage"), as
// the conversation's send-on-service operation names it. Immutable; shared as
// std::shared_ptr and safe to read from any thread.
class CKService {
 public:
  CKService(std::string name, Dictionary serviceProperties)
      : name_(std::move(name)), serviceProperties_(std::move(serviceProperties)) {}

  const std::string& name() const { return name_; }
  // What the service offers (its name, attachments, limits), as a dictionary.
  const Dictionary& serviceProperties() const { return serviceProperties_; }

 private:
  const std::string name_;
  const Dictionary serviceProperties_;
};

}  // namespace pelorin::platform
