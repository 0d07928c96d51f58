#include "platform/guid.h"

#include <cstdint>
#include <cstdio>
#include <random>

namespace pelorin::platform {

std::string stringGUID() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  const std::uint64_t high = (generator() & ~0xF000ull) | 0x4000ull;       // version 4
  const std::uint64_t low = (generator() & ~(3ull << 62)) | (2ull << 62);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48),
                static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

}  // namespace pelorin::platform
