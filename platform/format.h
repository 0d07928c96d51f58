#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::platform {

// One argument of a printf-like format with the phone's "%@" directive.
// "%@" renders the argument's description: a text as itself (an absent text
// as "(null)"), a number in decimal, a property-list value or a collection of
// texts as Value::description() renders it. Numeric directives (%d, %u, %ld,
// %lu, %x, %f, ...) render numbers; a text given to a numeric directive
// renders as 0. The argument keeps a view of texts it is given, so it must
// not outlive them; format() consumes it at once.
class FormatArg {
 public:
  FormatArg(const Text& v);
  FormatArg(const std::string& v) : kind_(Kind::Text), text_(v) {}
  FormatArg(std::string_view v) : kind_(Kind::Text), text_(v) {}
  FormatArg(const char* v);
  FormatArg(int v) : kind_(Kind::Signed), signed_(v) {}
  FormatArg(long v) : kind_(Kind::Signed), signed_(v) {}
  FormatArg(long long v) : kind_(Kind::Signed), signed_(v) {}
  FormatArg(unsigned v) : kind_(Kind::Unsigned), unsigned_(v) {}
  FormatArg(unsigned long v) : kind_(Kind::Unsigned), unsigned_(v) {}
  FormatArg(unsigned long long v) : kind_(Kind::Unsigned), unsigned_(v) {}
  FormatArg(double v) : kind_(Kind::Real), real_(v) {}
  FormatArg(const Value& v) : kind_(Kind::Described), described_(v.description()) {}
  FormatArg(const Dictionary& v) : FormatArg(Value(v)) {}
  FormatArg(const std::vector<std::string>& v)
      : kind_(Kind::Described), described_(describeTexts(v)) {}
  FormatArg(const std::map<std::string, std::string>& v)
      : kind_(Kind::Described), described_(describeTextMap(v)) {}

  // Appends this argument for one directive (`conversion` is its final letter,
  // `directive` the whole directive such as "%5lu").
  void appendTo(std::string& out, char conversion, std::string_view directive) const;

 private:
  void appendDescription(std::string& out) const;
  long long signedValue() const;
  unsigned long long unsignedValue() const;
  double realValue() const;

  enum class Kind { Text, Null, Signed, Unsigned, Real, Described };
  Kind kind_;
  std::string_view text_;
  long long signed_ = 0;
  unsigned long long unsigned_ = 0;
  double real_ = 0;
  std::string described_;
};

// Fills `format` with `args` in order. "%%" is a percent sign; a directive
// without an argument left renders as nothing. Never fails.
std::string formatWith(std::string_view format, std::initializer_list<FormatArg> args);

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
  return formatWith(fmt, {FormatArg(args)...});
}

}  // namespace pelorin::platform
