#include "common/common_utils.h"

#include <algorithm>
#include <array>

#include "platform/utf16.h"

// The recognisers read bytes. Every byte they accept is ASCII, and an ASCII
// byte is always one UTF-16 code unit of its own, so a text classified as US,
// international or short code is pure ASCII and its code-unit and byte
// indexes coincide.
namespace pelorin {
namespace {

// What a byte means to the well-formedness scan, as flags that the scan adds
// up without a branch per kind of byte; separators have none, and every byte
// the rules do not name is kOther.
constexpr std::uint8_t kDigit = 1;
constexpr std::uint8_t kOpen = 2;
constexpr std::uint8_t kClose = 4;
constexpr std::uint8_t kOther = 8;

constexpr std::array<std::uint8_t, 256> kByteFlags = [] {
  std::array<std::uint8_t, 256> flags{};
  flags.fill(kOther);
  for (char c = '0'; c <= '9'; ++c) flags[static_cast<unsigned char>(c)] = kDigit;
  flags[' '] = flags['-'] = flags['.'] = 0;
  flags['('] = kOpen;
  flags[')'] = kClose;
  return flags;
}();

constexpr bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view view(const Text& text) {
  return text ? std::string_view(*text) : std::string_view();
}

// Digit count of a text of digits, separators and balanced parentheses; 0
// otherwise. A ")" without its "(" takes the depth below zero on the way.
std::size_t wellFormedDigits(std::string_view text) {
  std::size_t digits = 0;
  std::ptrdiff_t depth = 0;
  std::ptrdiff_t lowest = 0;
  for (const char c : text) {
    const unsigned flags = kByteFlags[static_cast<unsigned char>(c)];
    if (flags & kOther) return 0;
    digits += flags & kDigit;
    depth += static_cast<std::ptrdiff_t>((flags & kOpen) >> 1) -
             static_cast<std::ptrdiff_t>((flags & kClose) >> 2);
    lowest = std::min(lowest, depth);
  }
  return lowest == 0 && depth == 0 ? digits : 0;
}

PhoneNumberType typeByDigitCount(std::size_t digits) {
  if (digits == 0 || digits == 7) return PhoneNumberTypeInvalid;
  return digits <= 6 ? PhoneNumberTypeShortCode : PhoneNumberTypeInternational;
}

// A forward-only reader of the bytes of a text for the US pattern.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool atEnd() const { return pos_ == text_.size(); }
  bool skip(char c) {
    return skipIf([c](char b) { return b == c; });
  }
  bool skipSeparator() {
    return skipIf([](char b) { return b == ' ' || b == '-' || b == '.'; });
  }
  void skipSpaces() {
    while (skip(' ')) {
    }
  }
  // `count` digits, the first from `low` on.
  bool skipDigits(int count, char low = '0') {
    for (int i = 0; i < count; ++i, low = '0') {
      if (!skipIf([low](char b) { return b >= low && b <= '9'; })) return false;
    }
    return true;
  }

 private:
  template <class Predicate>
  bool skipIf(Predicate matches) {
    if (pos_ == text_.size() || !matches(text_[pos_])) return false;
    ++pos_;
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

bool matchesUSPattern(std::string_view text) {
  if (text.size() < 10) return false;  // the ten digits alone
  Cursor in(text);
  in.skip('+');
  // A trunk "1" directly followed by "-" or "." leads straight to the area
  // code: no spaces and no parenthesis may come between.
  const bool trunkWithSeparator = in.skip('1') && (in.skip('-') || in.skip('.'));
  bool parenthesis = false;
  if (!trunkWithSeparator) {
    in.skipSpaces();
    parenthesis = in.skip('(');
  }
  if (!in.skipDigits(3, '2')) return false;
  if (parenthesis) {
    if (!in.skip(')')) return false;
    in.skipSpaces();
  } else {
    in.skipSeparator();
  }
  if (!in.skipDigits(3)) return false;
  in.skipSeparator();
  if (!in.skipDigits(4)) return false;
  in.skipSpaces();
  return in.atEnd();
}

// "+" followed by "1" is never international; "+" alone is not well formed.
bool startsWithPlusOne(std::string_view text) {
  return text.starts_with("+1");
}

bool matchesInternational(std::string_view text) {
  if (text.starts_with("011")) return wellFormedDigits(text.substr(3)) != 0;
  if (text.starts_with('+') && !startsWithPlusOne(text)) {
    return wellFormedDigits(text.substr(1)) != 0;
  }
  return false;
}

bool matchesSpecial(std::string_view text) {
  // The last two units are "11" exactly when the last two bytes are; what
  // precedes them must be one unit.
  if (text.size() < 3 || text.size() > 5 || !text.ends_with("11")) return false;
  return platform::utf16Length(text.substr(0, text.size() - 2)) == 1;
}

// A number's type and, for the types that have forms, where its own digits
// begin (past "+", a trunk "1" or an international prefix) and how many
// there are.
struct Classification {
  PhoneNumberType type = PhoneNumberTypeInvalid;
  std::size_t digitsStart = 0;
  std::size_t digitCount = 0;
};

// Where the digits of an international number begin; the characters skipped
// are "+" or one to three of the digits "0" and "1".
std::size_t internationalDigitsStart(std::string_view number) {
  if (number.starts_with('+')) return 1;
  if (!number.starts_with('0')) return 0;
  if (number.starts_with("011")) return 3;
  return number.starts_with("01") ? 2 : 1;
}

Classification international(std::string_view number, std::size_t digitsAfterPlus) {
  const std::size_t start = internationalDigitsStart(number);
  const std::size_t skipped = number.starts_with('+') ? 0 : start;
  return {PhoneNumberTypeInternational, start, digitsAfterPlus - skipped};
}

// The same decision as special, US, international, possibleOtherTypes in
// turn, with one scan for the last two: the "011" prefix adds three digits
// and does not change well-formedness, and a text that begins with "+" is
// never well formed as a whole.
Classification classify(std::string_view text) {
  if (matchesSpecial(text)) return {PhoneNumberTypeSpecial};
  if (matchesUSPattern(text)) {
    // Past "+" and the trunk "1" come exactly the ten digits of the pattern.
    const std::size_t afterPlus = text.starts_with('+') ? 1 : 0;
    return {PhoneNumberTypeUS, afterPlus + (text.substr(afterPlus).starts_with('1') ? 1 : 0), 10};
  }
  if (startsWithPlusOne(text)) return {PhoneNumberTypeInvalid};
  if (text.starts_with('+')) {
    const std::size_t digits = wellFormedDigits(text.substr(1));
    return digits != 0 ? international(text, digits) : Classification{};
  }
  const std::size_t digits = wellFormedDigits(text);
  const PhoneNumberType type = text.starts_with("011") && digits > 3 ? PhoneNumberTypeInternational
                                                                     : typeByDigitCount(digits);
  if (type == PhoneNumberTypeInternational) return international(text, digits);
  return {type, 0, digits};
}

// Copies the `count` digits of `number` from `start` on to both `first` and
// `second` in one pass, without a branch per character: a separator is
// written and then overwritten.
void copyDigits(std::string_view number, std::size_t start, std::size_t count, char* first,
                char* second) {
  std::size_t written = 0;
  for (auto c = number.begin() + static_cast<std::ptrdiff_t>(start); written != count; ++c) {
    first[written] = *c;
    second[written] = *c;
    written += isDigit(*c) ? 1 : 0;
  }
}

// Puts `prefix` at the start of `form`; returns where the digits go.
char* withPrefix(std::string& form, std::string_view prefix) {
  return std::copy(prefix.begin(), prefix.end(), form.data());
}

struct FormPrefixes {
  std::string_view canonical;
  std::string_view international;
};

FormPrefixes prefixesOf(PhoneNumberType type) {
  switch (type) {
    case PhoneNumberTypeUS:
      return {"1", "+1"};
    case PhoneNumberTypeInternational:
      return {"011", "+"};
    default:
      return {"", ""};
  }
}

bool hasForms(PhoneNumberType type) {
  return type > PhoneNumberTypeSpecial;
}

CommonUtils::NumberForms formsOf(const Text& string) {
  if (!string) return {PhoneNumberTypeInvalid, std::nullopt, std::nullopt};
  const Classification number = classify(*string);
  if (!hasForms(number.type)) return {number.type, string, string};
  const FormPrefixes prefixes = prefixesOf(number.type);
  // Both forms are built at their final size, their digits in one pass.
  std::string canonical(prefixes.canonical.size() + number.digitCount, '\0');
  std::string international(prefixes.international.size() + number.digitCount, '\0');
  copyDigits(*string, number.digitsStart, number.digitCount,
             withPrefix(canonical, prefixes.canonical),
             withPrefix(international, prefixes.international));
  return {number.type, std::move(canonical), std::move(international)};
}

// Byte offset of the UTF-16 code unit `index` of a text that has more than
// `index` units; a unit inside a surrogate pair maps to the following code
// point, since the low half of a pair is never a digit.
std::size_t byteOffsetOfUnit(std::string_view text, std::size_t index) {
  const bool asciiBefore = platform::isAscii(text.substr(0, index));
  if (asciiBefore) return index;
  if (auto offset = platform::utf8OffsetOfUtf16Index(text, index)) return *offset;
  return platform::utf8OffsetOfUtf16Index(text, index + 1).value_or(text.size());
}

}  // namespace

bool CommonUtils::allSpaces(const Text& string) {
  return std::all_of(view(string).begin(), view(string).end(), [](char c) { return c == ' '; });
}

std::size_t CommonUtils::isWellFormedNumber(const Text& text) {
  return wellFormedDigits(view(text));
}

bool CommonUtils::isUSPhoneNumber(const Text& text) {
  return text && matchesUSPattern(*text);
}

bool CommonUtils::isInternationalPhoneNumber(const Text& text) {
  return matchesInternational(view(text));
}

bool CommonUtils::isaSpecialUSNumber(const Text& string) {
  return matchesSpecial(view(string));
}

PhoneNumberType CommonUtils::possibleOtherTypes(const Text& text) {
  return typeByDigitCount(wellFormedDigits(view(text)));
}

PhoneNumberType CommonUtils::phoneNumberType(const Text& string) {
  return string ? classify(*string).type : PhoneNumberTypeInvalid;
}

bool CommonUtils::isNumberValidforSMS(const Text& string) {
  return phoneNumberType(string) > PhoneNumberTypeSpecial;
}

std::size_t CommonUtils::extractDigits(const Text& string, std::size_t startIndex,
                                       std::span<char> charArray) {
  if (!string || platform::utf16Length(*string) <= startIndex) return 0;
  const std::string_view text(*string);
  std::size_t written = 0;
  for (const char c : text.substr(byteOffsetOfUnit(text, startIndex))) {
    if (written == charArray.size()) break;
    if (isDigit(c)) charArray[written++] = c;
  }
  return written;
}

Text CommonUtils::toCanonicalPhoneNumber(const Text& string) {
  return formsOf(string).canonical;
}

Text CommonUtils::toInternationalPhoneNumber(const Text& string) {
  return formsOf(string).international;
}

CommonUtils::NumberForms CommonUtils::numberForms(const Text& string) {
  return formsOf(string);
}

}  // namespace pelorin
