#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/text.h"

namespace pelorin {

// What kind of number a text is. Callers compare by order (below 2 is not
// usable for a text), so the values are fixed.
enum PhoneNumberType : std::uint8_t {
  PhoneNumberTypeInvalid = 0,        // nothing below matched
  PhoneNumberTypeSpecial = 1,        // three characters ending in "11" (911, 411)
  PhoneNumberTypeUS = 2,             // North American ten digits, optionally after "1" or "+1"
  PhoneNumberTypeInternational = 3,  // "+" and a country code other than 1, "011...", or 8+ digits
  PhoneNumberTypeShortCode = 4,      // one to six digits
};

// Classification and normalisation of phone numbers. Stateless: every
// operation may run on any thread. Absent input is allowed everywhere; no
// input (embedded NULs, invalid UTF-8, huge texts) makes any operation fail.
//
// Canonical form, under which numbers are compared and stored: "1" and ten
// digits (US), "011" and the digits (international), the digits (short code),
// the input unchanged (special, invalid). International form: "+1" and ten
// digits, "+" and the digits, the digits, the input unchanged.
//
// Operations on a "string" index it in UTF-16 code units; the recognisers read
// the UTF-8 bytes, where any byte the rules do not name (a NUL included) makes
// the text fail.
class CommonUtils {
 public:
  // True for an absent or empty text or one of U+0020 spaces only (a tab or
  // newline makes it false).
  static bool allSpaces(const Text& string);

  // The number of digits when the text is made only of digits, spaces, "-",
  // "." and balanced parentheses; otherwise (and for no digits) 0.
  static std::size_t isWellFormedNumber(const Text& text);

  // The fixed North American pattern: optional "+", optional trunk "1", area
  // code (first digit 2-9, optionally in parentheses), exchange and line
  // number with at most one separator between groups, spaces around.
  static bool isUSPhoneNumber(const Text& text);

  // "011" followed by a well-formed number, or "+" and a well-formed number
  // whose first byte is not "1".
  static bool isInternationalPhoneNumber(const Text& text);

  // Exactly three UTF-16 code units whose second and third are "1".
  static bool isaSpecialUSNumber(const Text& string);

  // By digit count of a well-formed text: 0 invalid, 1-6 short code, 7
  // invalid, 8 or more international.
  static PhoneNumberType possibleOtherTypes(const Text& text);

  // The first of special, US, international that holds, else
  // possibleOtherTypes. Absent text is invalid.
  static PhoneNumberType phoneNumberType(const Text& string);

  // True for US, international and short-code numbers.
  static bool isNumberValidforSMS(const Text& string);

  // Copies every ASCII digit from the UTF-16 code unit `startIndex` on into
  // `charArray` (one byte each, not terminated) and returns how many it
  // wrote; at most charArray.size(). Nothing when absent or when the string
  // has no more than `startIndex` code units.
  static std::size_t extractDigits(const Text& string, std::size_t startIndex,
                                   std::span<char> charArray);

  // The canonical and international forms; absent input comes back absent,
  // special and invalid numbers unchanged.
  static Text toCanonicalPhoneNumber(const Text& string);
  static Text toInternationalPhoneNumber(const Text& string);

  // The type and both forms at the cost of one classification.
  struct NumberForms {
    PhoneNumberType type;
    Text canonical;
    Text international;
  };
  static NumberForms numberForms(const Text& string);
};

}  // namespace pelorin
