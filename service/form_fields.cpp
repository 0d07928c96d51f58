#include "service/form_fields.h"

namespace pelorin::service {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string percentDecoded(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int high = i + 2 < text.size() && text[i] == '%' ? hexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
    if (low >= 0) {
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::map<std::string, std::string> formFields(std::string_view text) {
  std::map<std::string, std::string> fields;
  while (!text.empty()) {
    const std::size_t amp = text.find('&');
    const std::string_view pair = text.substr(0, amp);
    const std::size_t equals = pair.find('=');
    const std::string name = percentDecoded(pair.substr(0, equals));
    const std::string value =
        equals == std::string_view::npos ? std::string() : percentDecoded(pair.substr(equals + 1));
    if (!name.empty()) fields.emplace(name, value);
    if (amp == std::string_view::npos) break;
    text.remove_prefix(amp + 1);
  }
  return fields;
}

std::string_view queryOf(std::string_view target) {
  const std::size_t question = target.find('?');
  return question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
}

std::string fieldOr(const std::map<std::string, std::string>& fields, const std::string& field) {
  const auto it = fields.find(field);
  return it == fields.end() ? std::string() : it->second;
}

}  // namespace pelorin::service
