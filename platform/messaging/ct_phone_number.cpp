#include "platform/messaging/ct_phone_number.h"

namespace pelorin::platform {

std::shared_ptr<CTPhoneNumber> CTPhoneNumber::phoneNumberWithDigits(Text digits, Text countryCode) {
  return std::make_shared<CTPhoneNumber>(std::move(digits), std::move(countryCode));
}

}  // namespace pelorin::platform
