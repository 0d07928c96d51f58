// The recent-texts page as the contact cache reads it for a display name: any
// page, any name. A number found is one the page offers after a quick-call
// marker, and a name the service wrote at the top of the page is found again.
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/utf16.h"
#include "voice/gv_interface.h"

namespace {

constexpr std::string_view kQuickCall = "gc-quickcall-ac\" value=\"";
constexpr std::string_view kNumber = "+12125550123";

void require(bool condition) {
  if (!condition) std::abort();
}

std::string htmlEscaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Whether the page's own reading gives `name` back: a value stops at a line
// end or NUL, blanks after the marker are skipped, it must be UTF-8, and a
// name holding "&lt;" or "&gt;" is decoded once more than it was escaped.
bool readsBackAsWritten(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos &&
         !name.starts_with(' ') && name.find("&lt;") == std::string_view::npos &&
         name.find("&gt;") == std::string_view::npos && pelorin::platform::isValidUtf8(name);
}

// Whether `number` stands after a quick-call marker, past the blanks and
// line ends the reading skips there.
bool offeredAfterQuickCall(std::string_view page, std::string_view number) {
  for (auto at = page.find(kQuickCall); at != std::string_view::npos;
       at = page.find(kQuickCall, at + 1)) {
    const auto start = page.find_first_not_of(" \r\n", at + kQuickCall.size());
    if (start != std::string_view::npos && page.substr(start).starts_with(number)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using pelorin::GVInterface;
  if (size == 0) return 0;
  const std::size_t nameSize = std::min<std::size_t>(data[0] % 48, size - 1);
  const std::string name(reinterpret_cast<const char*>(data + 1), nameSize);
  const std::string page(reinterpret_cast<const char*>(data + 1 + nameSize), size - 1 - nameSize);

  if (const auto number = GVInterface::parseSMSData(page, name)) {
    require(offeredAfterQuickCall(page, *number));
    require(number->find_first_of("\"<\r\n") == std::string::npos);
  }

  const std::string written = "<a title=\"Go to contact\" href=\"javascript://\">" +
                              htmlEscaped(name) + "</a>\n<input class=\"" +
                              std::string(kQuickCall) + std::string(kNumber) + "\"/>\n" + page;
  if (readsBackAsWritten(name)) require(GVInterface::parseSMSData(written, name) == kNumber);
  return 0;
}
