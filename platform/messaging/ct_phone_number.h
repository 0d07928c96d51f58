#pragma once

#include <memory>

#include "platform/text.h"

namespace pelorin::platform {

// A carrier phone number: digits as written and a country code. Immutable, so
// it may be shared between threads.
class CTPhoneNumber {
 public:
  CTPhoneNumber(Text digits, Text countryCode)
      : digits_(std::move(digits)), countryCode_(std::move(countryCode)) {}

  // phoneNumberWithDigits:countryCode: — a number made of `digits` (kept as
  // given) and `countryCode` ("1", "us", ...).
  static std::shared_ptr<CTPhoneNumber> phoneNumberWithDigits(Text digits, Text countryCode);

  // The number as the carrier stores it: the digits as given (absent when the
  // number was made without digits). The country code is not prefixed.
  const Text& canonicalFormat() const { return digits_; }
  const Text& digits() const { return digits_; }
  const Text& countryCode() const { return countryCode_; }

 private:
  const Text digits_;
  const Text countryCode_;
};

}  // namespace pelorin::platform
