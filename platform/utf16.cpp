#include "platform/utf16.h"

#include <cstdint>

namespace pelorin::platform {
namespace {

struct Sequence {
  std::size_t bytes;  // bytes consumed
  std::size_t units;  // UTF-16 code units produced
  char32_t codePoint;
};

// Decodes one sequence at `pos`; an invalid byte yields a one-byte, one-unit sequence.
Sequence decodeAt(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<std::uint8_t>(text[pos]);
  if (lead < 0x80) return {1, 1, lead};
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return {1, 1, 0xFFFD};
  }
  if (pos + length > text.size()) return {1, 1, 0xFFFD};
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<std::uint8_t>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return {1, 1, 0xFFFD};
    cp = (cp << 6) | (next & 0x3F);
  }
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  if (cp < minimum || cp > 0x10FFFF || surrogate) return {1, 1, 0xFFFD};
  return {length, cp >= 0x10000 ? 2u : 1u, cp};
}

}  // namespace

bool isAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<std::uint8_t>(c) >= 0x80) return false;
  }
  return true;
}

std::size_t utf16Length(std::string_view text) {
  if (isAscii(text)) return text.size();
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const Sequence s = decodeAt(text, pos);
    pos += s.bytes;
    units += s.units;
  }
  return units;
}

std::optional<std::size_t> utf8OffsetOfUtf16Index(std::string_view text, std::size_t index) {
  std::size_t units = 0;
  std::size_t pos = 0;
  while (units < index && pos < text.size()) {
    const Sequence s = decodeAt(text, pos);
    pos += s.bytes;
    units += s.units;
  }
  if (units != index) return std::nullopt;
  return pos;
}

std::optional<char16_t> utf16At(std::string_view text, std::size_t index) {
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const Sequence s = decodeAt(text, pos);
    if (index < units + s.units) {
      if (s.units == 1) return static_cast<char16_t>(s.codePoint);
      const char32_t v = s.codePoint - 0x10000;
      return static_cast<char16_t>(index == units ? 0xD800 + (v >> 10) : 0xDC00 + (v & 0x3FF));
    }
    pos += s.bytes;
    units += s.units;
  }
  return std::nullopt;
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const Sequence s = decodeAt(text, pos);
    if (s.codePoint == 0xFFFD && s.bytes == 1 && static_cast<std::uint8_t>(text[pos]) >= 0x80) {
      return false;
    }
    pos += s.bytes;
  }
  return true;
}

}  // namespace pelorin::platform
