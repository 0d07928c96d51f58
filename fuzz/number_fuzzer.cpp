// Every recogniser and conversion on arbitrary bytes, with invariants that
// hold for any input.
#include <algorithm>
#include <cstdlib>

#include "common/common_utils.h"

using pelorin::CommonUtils;
using pelorin::Text;

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool allDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The type decided step by step from the individual recognisers.
pelorin::PhoneNumberType typeFromRecognisers(const Text& text) {
  if (CommonUtils::isaSpecialUSNumber(text)) return pelorin::PhoneNumberTypeSpecial;
  if (CommonUtils::isUSPhoneNumber(text)) return pelorin::PhoneNumberTypeUS;
  if (CommonUtils::isInternationalPhoneNumber(text)) return pelorin::PhoneNumberTypeInternational;
  return CommonUtils::possibleOtherTypes(text);
}

void checkForms(const Text& text, const CommonUtils::NumberForms& forms) {
  const std::string& canonical = *forms.canonical;
  const std::string& international = *forms.international;
  switch (forms.type) {
    case pelorin::PhoneNumberTypeUS:
      require(canonical.size() == 11 && canonical[0] == '1' && international == "+" + canonical);
      break;
    case pelorin::PhoneNumberTypeInternational:
      require(canonical.starts_with("011") && international == "+" + canonical.substr(3));
      break;
    case pelorin::PhoneNumberTypeShortCode:
      require(allDigits(canonical) && !canonical.empty() && canonical.size() <= 6);
      require(international == canonical);
      return;
    default:
      require(canonical == *text && international == *text);
      return;
  }
  require(allDigits(canonical));
  require(CommonUtils::phoneNumberType(forms.canonical) == forms.type);
  require(CommonUtils::toCanonicalPhoneNumber(forms.canonical) == canonical);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text text(std::string(reinterpret_cast<const char*>(data), size));
  const auto forms = CommonUtils::numberForms(text);
  require(forms.type == typeFromRecognisers(text));
  require(CommonUtils::isNumberValidforSMS(text) == (forms.type > pelorin::PhoneNumberTypeSpecial));
  require(forms.canonical == CommonUtils::toCanonicalPhoneNumber(text));
  require(forms.international == CommonUtils::toInternationalPhoneNumber(text));
  checkForms(text, forms);
  CommonUtils::allSpaces(text);

  std::string buffer(size, '\0');
  const auto digits = static_cast<std::size_t>(
      std::count_if(text->begin(), text->end(), [](char c) { return c >= '0' && c <= '9'; }));
  require(CommonUtils::extractDigits(text, 0, buffer) == digits);
  require(CommonUtils::extractDigits(text, size > 0 ? data[0] % 8 : 0, buffer) <= digits);
  return 0;
}
