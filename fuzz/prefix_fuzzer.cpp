// The rules editor's prefix conversions on arbitrary bytes: both always give
// digits only, the international form behind a "+".
#include <algorithm>
#include <cstdlib>

#include "rules_editor/prefix_forms.h"

namespace {

bool allDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const pelorin::Text prefix(std::string(reinterpret_cast<const char*>(data), size));
  const std::string canonical = pelorin::rules_editor::toCanonicalPhoneNumber(prefix);
  const std::string international = pelorin::rules_editor::toInternationalPhoneNumber(prefix);
  if (!allDigits(canonical) || !international.starts_with('+') ||
      !allDigits(std::string_view(international).substr(1))) {
    std::abort();
  }
  pelorin::rules_editor::toCanonicalPhoneNumber(international);
  return 0;
}
