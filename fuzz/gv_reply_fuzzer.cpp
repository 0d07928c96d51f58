// The service's replies as the client reads them: any bytes, any range, any
// end byte, and the walk over a recent-texts page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "voice/gv_interface.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using pelorin::GVInterface;
  if (size < 3) return 0;
  const auto endChar = static_cast<std::int8_t>(data[0]);
  const std::uint64_t location = data[1] * 4;
  const std::string_view body(reinterpret_cast<const char*>(data + 2), size - 2);
  GVInterface::Range out{location, 0};
  const auto value =
      GVInterface::findValueForKey("\"r\":\"", body, {location, body.size()}, &out, endChar);
  // A value is exactly the bytes its range names.
  if (value && (out.location + out.length > body.size() ||
                body.substr(out.location, out.length) != *value)) {
    std::abort();
  }
  GVInterface::findValueForKey("Auth=", body, {0, body.size()}, nullptr, 0);
  GVInterface::parseSMSData(body, "Tom & Jerry");
  return 0;
}
