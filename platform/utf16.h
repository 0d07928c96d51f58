#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace pelorin::platform {

// Where the system counts or indexes characters it means UTF-16 code units, as
// the phone's strings do. These helpers give that view of UTF-8 text. A byte
// that does not start a valid UTF-8 sequence counts as one code unit.

// Number of UTF-16 code units in `text`.
std::size_t utf16Length(std::string_view text);

// Byte offset in `text` of the UTF-16 code unit at `index`; `text.size()` for
// an index equal to the length; nullopt past it or inside a surrogate pair.
std::optional<std::size_t> utf8OffsetOfUtf16Index(std::string_view text, std::size_t index);

// The UTF-16 code unit at `index`, or nullopt when out of range.
std::optional<char16_t> utf16At(std::string_view text, std::size_t index);

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(std::string_view text);

// True when every byte is below 0x80; then code units and bytes coincide.
bool isAscii(std::string_view text);

}  // namespace pelorin::platform
