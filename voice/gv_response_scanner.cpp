// Reading values out of the service's replies: the response scanner and the
// walk over the recent-texts page.
#include <algorithm>
#include <array>
#include <utility>

#include "platform/utf16.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

constexpr std::string_view kContactNameKey = "Go to contact\" href=\"javascript://\">";
constexpr std::string_view kQuickCallKey = "gc-quickcall-ac\" value=\"";

bool isSkippedBeforeValue(char c) {
  return c == ' ' || c == '\r' || c == '\n';
}

bool endsValue(char c, char endChar) {
  return c == '\n' || c == '\r' || c == '<' || c == endChar;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

// The page's HTML entities, in this order: "&amp;" goes before "&lt;", so a
// doubly escaped "<" comes out as "<".
std::string decodeEntities(std::string text) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kEntities = {
      {{"&#39;", "'"}, {"&quot;", "\""}, {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}}};
  for (const auto& [entity, character] : kEntities) replaceAll(text, entity, character);
  return text;
}

}  // namespace

Text GVInterface::valueInReply(std::string_view key, std::string_view body, std::int8_t endChar) {
  return findValueForKey(key, body, {0, body.size()}, nullptr, endChar);
}

Text GVInterface::findValueForKey(std::string_view key, std::string_view data, Range range,
                                  Range* outputRange, std::int8_t endChar) {
  const std::uint64_t size = data.size();
  const std::uint64_t from = std::min(range.location, size);
  const std::uint64_t length = std::min(range.length, size - from);
  const std::size_t offset =
      key.empty() ? std::string_view::npos : data.substr(from, length).find(key);
  if (offset == std::string_view::npos) {
    if (outputRange != nullptr) outputRange->location = kNotFound;
    return std::nullopt;
  }

  std::size_t start = from + offset + key.size();
  while (start < size && isSkippedBeforeValue(data[start])) ++start;
  if (start == size) return std::nullopt;

  const char stop = static_cast<char>(endChar);
  std::size_t end = start;
  while (end < size && !endsValue(data[end], stop)) ++end;
  if (outputRange != nullptr) *outputRange = {start, end - start};

  const std::string_view value = data.substr(start, end - start);
  if (!platform::isValidUtf8(value)) return std::nullopt;
  return std::string(value);
}

Text GVInterface::parseSMSData(std::string_view data, const Text& sender) {
  if (!sender) return std::nullopt;
  Range name{kNotFound, 0};
  Text shownName = findValueForKey(kContactNameKey, data, {0, data.size()}, &name, 0);
  if (name.location == kNotFound) return std::nullopt;

  for (;;) {
    const std::uint64_t end = name.location + name.length;
    const Range rest{end, data.size() - end};
    if (shownName && decodeEntities(std::move(*shownName)) == *sender) {
      return findValueForKey(kQuickCallKey, data, rest, nullptr, '"');
    }
    const Range previous = name;
    shownName = findValueForKey(kContactNameKey, data, rest, &name, 0);
    // A marker with nothing after it leaves the range as it was: the page ends there.
    if (name.location == kNotFound || name == previous) return std::nullopt;
  }
}

}  // namespace pelorin
