#include "platform/value.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <ostream>

namespace pelorin::platform {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::int64_t saturatingTruncate(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (v <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(v);
}

std::int64_t leadingDecimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  std::uint64_t magnitude = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (magnitude > (static_cast<std::uint64_t>(kMax) + 1 - digit) / 10) saturated = true;
    if (!saturated) magnitude = magnitude * 10 + digit;
  }
  if (negative) {
    if (saturated || magnitude > static_cast<std::uint64_t>(kMax)) {
      return std::numeric_limits<std::int64_t>::min();
    }
    return -static_cast<std::int64_t>(magnitude);
  }
  if (saturated || magnitude > static_cast<std::uint64_t>(kMax)) return kMax;
  return static_cast<std::int64_t>(magnitude);
}

bool textTruth(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i == text.size()) return false;
  const char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

// Texts made only of these characters are shown without quotes.
bool needsQuotes(const std::string& text) {
  if (text.empty()) return true;
  for (unsigned char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '.' || c == '$' || c >= 0x80;
    if (!plain) return true;
  }
  return false;
}

std::string quoted(const std::string& text) {
  if (!needsQuotes(text)) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

std::string indent(int level) {
  return std::string(static_cast<std::size_t>(level) * 4, ' ');
}

void describeInto(const Value& value, int level, std::string& out);

void describeArray(const Array& array, int level, std::string& out) {
  out += "(\n";
  for (std::size_t i = 0; i < array.size(); ++i) {
    out += indent(level + 1);
    describeInto(array[i], level + 1, out);
    out += i + 1 < array.size() ? ",\n" : "\n";
  }
  out += indent(level) + ")";
}

void describeDictionary(const Dictionary& dictionary, int level, std::string& out) {
  out += "{\n";
  for (const auto& [key, value] : dictionary) {
    out += indent(level + 1) + quoted(key) + " = ";
    describeInto(value, level + 1, out);
    out += ";\n";
  }
  out += indent(level) + "}";
}

std::string describeData(const Data& data) {
  std::string out = "<";
  char hex[3];
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0 && i % 4 == 0) out += ' ';
    std::snprintf(hex, sizeof hex, "%02x", data[i]);
    out += hex;
  }
  return out + ">";
}

std::string describeReal(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

std::string describeDate(const Date& date) {
  // Seconds between 1970-01-01 and 2001-01-01.
  constexpr double kEpochOffset = 978307200.0;
  const auto unixSeconds = static_cast<std::time_t>(
      saturatingTruncate(std::floor(date.secondsSince2001 + kEpochOffset)));
  std::tm utc{};
  gmtime_r(&unixSeconds, &utc);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &utc);
  return buffer;
}

void describeInto(const Value& value, int level, std::string& out) {
  switch (value.kind()) {
    case Value::Kind::kDictionary:
      return describeDictionary(*value.asDictionary(), level, out);
    case Value::Kind::kArray:
      return describeArray(*value.asArray(), level, out);
    case Value::Kind::kString:
      out += quoted(*value.asString());
      return;
    case Value::Kind::kInteger:
      out += std::to_string(*value.asInteger());
      return;
    case Value::Kind::kReal:
      out += describeReal(*value.asReal());
      return;
    case Value::Kind::kBoolean:
      out += *value.asBoolean() ? "1" : "0";
      return;
    case Value::Kind::kData:
      out += describeData(*value.asData());
      return;
    case Value::Kind::kDate:
      out += describeDate(*value.asDate());
      return;
  }
}

Array toArray(const std::vector<std::string>& texts) {
  return Array(texts.begin(), texts.end());
}

}  // namespace

std::int64_t Value::integerReading() const {
  switch (kind()) {
    case Kind::kInteger:
      return *asInteger();
    case Kind::kReal:
      return saturatingTruncate(*asReal());
    case Kind::kBoolean:
      return *asBoolean() ? 1 : 0;
    case Kind::kString:
      return leadingDecimal(*asString());
    default:
      return 0;
  }
}

std::int32_t Value::int32Reading() const {
  const std::int64_t v = integerReading();
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

bool Value::boolReading() const {
  switch (kind()) {
    case Kind::kInteger:
      return *asInteger() != 0;
    case Kind::kReal:
      return *asReal() != 0.0;
    case Kind::kBoolean:
      return *asBoolean();
    case Kind::kString:
      return textTruth(*asString());
    default:
      return false;
  }
}

std::string Value::description() const {
  std::string out;
  describeInto(*this, 0, out);
  return out;
}

void PrintTo(const Value& value, std::ostream* out) {
  *out << value.description();
}

std::string describeTexts(const std::vector<std::string>& texts) {
  return Value(toArray(texts)).description();
}

std::string describeTextSet(const std::vector<std::string>& texts) {
  return "{" + Value(toArray(texts)).description() + "}";
}

std::string describeTextMap(const std::map<std::string, std::string>& map) {
  Dictionary dictionary;
  for (const auto& [key, value] : map) dictionary.emplace(key, value);
  return Value(std::move(dictionary)).description();
}

}  // namespace pelorin::platform
