#include "platform/format.h"

#include <cstdio>

namespace pelorin::platform {
namespace {

constexpr std::string_view kNull = "(null)";
constexpr std::string_view kConversions = "@diouxXcsfFeEgGaAp";

bool isSigned(char c) {
  return c == 'd' || c == 'i' || c == 'c';
}
bool isReal(char c) {
  return c == 'f' || c == 'F' || c == 'e' || c == 'E' || c == 'g' || c == 'G' || c == 'a' ||
         c == 'A';
}

// The directive with its length modifiers replaced, for snprintf.
std::string withLength(std::string_view directive, std::string_view length) {
  std::string out;
  for (char c : directive.substr(0, directive.size() - 1)) {
    if (c != 'l' && c != 'h' && c != 'q' && c != 'z' && c != 't' && c != 'j' && c != 'L') out += c;
  }
  out += length;
  out += directive.back();
  return out;
}

template <class T>
void appendNumber(std::string& out, const std::string& directive, T value) {
  char buffer[128];
  const int n = std::snprintf(buffer, sizeof buffer, directive.c_str(), value);
  if (n > 0)
    out.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

}  // namespace

FormatArg::FormatArg(const Text& v) : kind_(v ? Kind::Text : Kind::Null) {
  if (v) text_ = *v;
}

FormatArg::FormatArg(const char* v) : kind_(v ? Kind::Text : Kind::Null) {
  if (v) text_ = v;
}

void FormatArg::appendTo(std::string& out, char conversion, std::string_view directive) const {
  if (conversion == '@' || conversion == 's') return appendDescription(out);
  if (isReal(conversion)) return appendNumber(out, withLength(directive, ""), realValue());
  if (isSigned(conversion)) return appendNumber(out, withLength(directive, "ll"), signedValue());
  std::string unsignedDirective = withLength(directive, "ll");
  if (conversion == 'p') unsignedDirective.back() = 'x';
  appendNumber(out, unsignedDirective, unsignedValue());
}

void FormatArg::appendDescription(std::string& out) const {
  switch (kind_) {
    case Kind::Text:
      out += text_;
      return;
    case Kind::Null:
      out += kNull;
      return;
    case Kind::Signed:
      out += std::to_string(signed_);
      return;
    case Kind::Unsigned:
      out += std::to_string(unsigned_);
      return;
    case Kind::Real:
      appendNumber(out, "%g", real_);
      return;
    case Kind::Described:
      out += described_;
      return;
  }
}

long long FormatArg::signedValue() const {
  if (kind_ == Kind::Unsigned) return static_cast<long long>(unsigned_);
  if (kind_ == Kind::Real) return static_cast<long long>(real_);
  return signed_;
}

unsigned long long FormatArg::unsignedValue() const {
  if (kind_ == Kind::Unsigned) return unsigned_;
  return static_cast<unsigned long long>(signedValue());
}

double FormatArg::realValue() const {
  if (kind_ == Kind::Real) return real_;
  return kind_ == Kind::Unsigned ? static_cast<double>(unsigned_) : static_cast<double>(signed_);
}

std::string formatWith(std::string_view format, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    const std::size_t end = format.find_first_of(kConversions, i + 1);
    if (end == std::string_view::npos) {
      out.append(format.substr(i));
      break;
    }
    if (next != args.end()) next++->appendTo(out, format[end], format.substr(i, end - i + 1));
    i = end;
  }
  return out;
}

}  // namespace pelorin::platform
