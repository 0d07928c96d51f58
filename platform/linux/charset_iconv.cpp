#include <errno.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "platform/charset.h"

namespace pelorin::platform {
namespace {

// An iconv descriptor for one conversion, closed on every path.
class Converter {
 public:
  explicit Converter(const std::string& from) : cd_(iconv_open("UTF-8", from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  const iconv_t cd_;
};

// iconv accepts option suffixes ("//IGNORE") and names of its own that are no
// character sets; only plain names are handed to it.
bool plainName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
    if (!allowed) return false;
  }
  return true;
}

}  // namespace

Text decodeCharacterSet(const Data& bytes, const Text& ianaName) {
  if (!ianaName || !plainName(*ianaName)) return std::nullopt;
  Converter converter(*ianaName);
  if (!converter.ok()) return std::nullopt;

  std::string out;
  std::vector<char> input(bytes.begin(), bytes.end());
  char* in = input.data();
  size_t inLeft = input.size();
  char buffer[4096];
  // Converts, then flushes the converter's shift state (in == nullptr).
  for (bool flushing = false;;) {
    char* next = buffer;
    size_t outLeft = sizeof buffer;
    const size_t r = flushing ? iconv(converter.get(), nullptr, nullptr, &next, &outLeft)
                              : iconv(converter.get(), &in, &inLeft, &next, &outLeft);
    out.append(buffer, static_cast<size_t>(next - buffer));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      return std::nullopt;  // EILSEQ or EINVAL: not text in that character set
    }
    if (flushing) break;
    flushing = true;
  }
  return out;
}

}  // namespace pelorin::platform
