#include "rules_editor/prefix_forms.h"

#include <string_view>

// Both conversions look only at ASCII characters at the front of the text
// ("+", "(", "0"-"9") and copy ASCII digits. An ASCII byte is always one
// UTF-16 code unit of its own, so every index they compute lies in an all-
// ASCII head of the text, where code-unit and byte indexes coincide; working
// on the bytes gives the same result as indexing code units.
namespace pelorin::rules_editor {
namespace {

std::string_view view(const Text& text) {
  return text ? std::string_view(*text) : std::string_view();
}

bool startsLikeAreaCode(std::string_view prefix) {
  if (prefix.empty()) return false;
  const char c = prefix.front();
  return (c >= '2' && c <= '9') || c == '(';
}

// `out` followed by the digits of `prefix` from `start` on, or by "1" when
// nothing is left to copy.
std::string withDigitsFrom(std::string out, std::string_view prefix, std::size_t start) {
  if (start == prefix.size()) return out + "1";
  for (const char c : prefix.substr(start)) {
    if (c >= '0' && c <= '9') out += c;
  }
  return out;
}

// Index of the first character after a leading "0" that is neither "0" nor "1".
std::size_t afterZerosAndOnes(std::string_view prefix) {
  const std::size_t index = prefix.find_first_not_of("01", 1);
  return index == std::string_view::npos ? prefix.size() : index;
}

}  // namespace

std::string toCanonicalPhoneNumber(const Text& prefix) {
  const std::string_view text = view(prefix);
  if (startsLikeAreaCode(text)) return withDigitsFrom("1", text, 0);
  if (text.starts_with('+')) {
    const bool foreign = text.size() > 1 && text[1] != '1';
    return withDigitsFrom(foreign ? "011" : "", text, 1);
  }
  return withDigitsFrom("", text, 0);
}

std::string toInternationalPhoneNumber(const Text& prefix) {
  const std::string_view text = view(prefix);
  if (startsLikeAreaCode(text)) return withDigitsFrom("+1", text, 0);
  if (text.starts_with('+')) return withDigitsFrom("+", text, 1);
  if (text.starts_with('0')) return withDigitsFrom("+", text, afterZerosAndOnes(text));
  return withDigitsFrom("+", text, 0);
}

}  // namespace pelorin::rules_editor
