#pragma once

#include <string>

#include "platform/value.h"

namespace pelorin::platform {

// One part (item) of a carrier message: its bytes and their content type. A
// text part holds the text as UTF-8 bytes with the type "text/plain".
class CTMessagePart {
 public:
  CTMessagePart(std::string contentType, Data data)
      : contentType_(std::move(contentType)), data_(std::move(data)) {}

  const std::string& contentType() const { return contentType_; }
  const Data& data() const { return data_; }

 private:
  std::string contentType_;
  Data data_;
};

}  // namespace pelorin::platform
