// Placeholder: being written.
#include "common/common_utils.h"

namespace pelorin {

bool CommonUtils::allSpaces(const Text&) { return true; }
std::size_t CommonUtils::isWellFormedNumber(const Text&) { return 0; }
std::size_t CommonUtils::isWellFormedNumber(std::string_view) { return 0; }
bool CommonUtils::isUSPhoneNumber(const Text&) { return false; }
bool CommonUtils::isUSPhoneNumber(std::string_view) { return false; }
bool CommonUtils::isInternationalPhoneNumber(const Text&) { return false; }
bool CommonUtils::isInternationalPhoneNumber(std::string_view) { return false; }
bool CommonUtils::isaSpecialUSNumber(const Text&) { return false; }
PhoneNumberType CommonUtils::possibleOtherTypes(const Text&) { return PhoneNumberTypeInvalid; }
PhoneNumberType CommonUtils::phoneNumberType(const Text&) { return PhoneNumberTypeInvalid; }
PhoneNumberType CommonUtils::phoneNumberType(std::string_view) { return PhoneNumberTypeInvalid; }
bool CommonUtils::isNumberValidforSMS(const Text&) { return false; }
std::size_t CommonUtils::extractDigits(const Text&, std::size_t, std::span<char>) { return 0; }
Text CommonUtils::toCanonicalPhoneNumber(const Text& s) { return s; }
Text CommonUtils::toInternationalPhoneNumber(const Text& s) { return s; }
CommonUtils::NumberForms CommonUtils::numberForms(const Text& s) {
  return {PhoneNumberTypeInvalid, s, s};
}

}  // namespace pelorin
