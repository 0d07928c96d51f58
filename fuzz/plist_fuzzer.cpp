// Property-list bytes as any file on disk may hold them: parsing never
// crashes, every reading of what was read works, and what is written back as
// XML reads again.
#include <cstdlib>

#include "platform/property_list.h"

namespace {

using pelorin::platform::Value;

void walk(const Value& value) {
  value.integerReading();
  value.boolReading();
  if (const auto* dictionary = value.asDictionary()) {
    for (const auto& [key, item] : *dictionary) walk(item);
  } else if (const auto* array = value.asArray()) {
    for (const auto& item : *array) walk(item);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto value = pelorin::platform::parsePropertyList({data, size});
  if (!value) return 0;
  walk(*value);
  value->description();
  const std::string xml = pelorin::platform::toXmlPropertyList(*value);
  const auto again = pelorin::platform::parsePropertyList(
      {reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()});
  if (!again) std::abort();
  return 0;
}
