#include "common/common_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelorin {
namespace {

using namespace std::string_literals;

constexpr const char* kSame = nullptr;  // the form is the input itself

struct NumberCase {
  Text input;
  PhoneNumberType type;
  const char* canonical;
  const char* international;
};

// The type decided step by step from the individual recognisers.
PhoneNumberType typeFromRecognisers(const Text& text) {
  if (CommonUtils::isaSpecialUSNumber(text)) return PhoneNumberTypeSpecial;
  if (CommonUtils::isUSPhoneNumber(text)) return PhoneNumberTypeUS;
  if (CommonUtils::isInternationalPhoneNumber(text)) return PhoneNumberTypeInternational;
  return CommonUtils::possibleOtherTypes(text);
}

// Checks every entry point that classifies or converts against one row.
void expectNumber(const NumberCase& c) {
  SCOPED_TRACE(c.input ? "input \"" + *c.input + "\"" : "absent input");
  const Text canonical = c.canonical ? Text(c.canonical) : c.input;
  const Text international = c.international ? Text(c.international) : c.input;
  EXPECT_EQ(CommonUtils::phoneNumberType(c.input), c.type);
  EXPECT_EQ(typeFromRecognisers(c.input), c.type);
  EXPECT_EQ(CommonUtils::isNumberValidforSMS(c.input), c.type > PhoneNumberTypeSpecial);
  EXPECT_EQ(CommonUtils::toCanonicalPhoneNumber(c.input), canonical);
  EXPECT_EQ(CommonUtils::toInternationalPhoneNumber(c.input), international);
  const auto forms = CommonUtils::numberForms(c.input);
  EXPECT_EQ(forms.type, c.type);
  EXPECT_EQ(forms.canonical, canonical);
  EXPECT_EQ(forms.international, international);
  if (c.type == PhoneNumberTypeUS || c.type == PhoneNumberTypeInternational) {
    // The stored form must be found again under the same type and key.
    EXPECT_EQ(CommonUtils::phoneNumberType(canonical), c.type);
    EXPECT_EQ(CommonUtils::toCanonicalPhoneNumber(canonical), canonical);
  }
}

TEST(CommonUtilsTest, NumberForms) {
  const std::vector<NumberCase> cases = {
      {"(212) 555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"+1 (212) 555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"1 (212) 555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"1-212-555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"+1-212-555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"1.212.555.1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"212.555.1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"(212)   555 1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"  2125551212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"2125551212  ", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"+2125551212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"+4420794601", PhoneNumberTypeUS, "14420794601", "+14420794601"},
      {"212 055 1212", PhoneNumberTypeUS, "12120551212", "+12120551212"},
      {"+44 20 7946 0123", PhoneNumberTypeInternational, "011442079460123", "+442079460123"},
      {"+44 (20) 7946-0123", PhoneNumberTypeInternational, "011442079460123", "+442079460123"},
      {"011 44 20 7946 0123", PhoneNumberTypeInternational, "011442079460123", "+442079460123"},
      {"442079460123", PhoneNumberTypeInternational, "011442079460123", "+442079460123"},
      {"0044 20 7946 0123", PhoneNumberTypeInternational, "0110442079460123", "+0442079460123"},
      {"01234567890", PhoneNumberTypeInternational, "011234567890", "+234567890"},
      {"0112", PhoneNumberTypeInternational, "0112", "+2"},
      {"12345678", PhoneNumberTypeInternational, "01112345678", "+12345678"},
      {"(((12345678)))", PhoneNumberTypeInternational, "01112345678", "+12345678"},
      {"212 - 555 - 1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"( 212) 555-1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"(212 )555-1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"212--555-1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"212-555--1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"112 555 1212", PhoneNumberTypeInternational, "0111125551212", "+1125551212"},
      {"1-(212) 555-1212", PhoneNumberTypeInternational, "01112125551212", "+12125551212"},
      {"1- 212 555 1212", PhoneNumberTypeInternational, "01112125551212", "+12125551212"},
      {"1 (212) 555-12120", PhoneNumberTypeInternational, "011121255512120", "+121255512120"},
      {"22000", PhoneNumberTypeShortCode, kSame, kSame},
      {"123456", PhoneNumberTypeShortCode, kSame, kSame},
      {"1", PhoneNumberTypeShortCode, kSame, kSame},
      {"1111", PhoneNumberTypeShortCode, kSame, kSame},  // "11" after two units
      {"911", PhoneNumberTypeSpecial, kSame, kSame},
      {"011", PhoneNumberTypeSpecial, kSame, kSame},
      {"a11", PhoneNumberTypeSpecial, kSame, kSame},
      {"é11", PhoneNumberTypeSpecial, kSame, kSame},  // one unit in two bytes
      {"€11", PhoneNumberTypeSpecial, kSame, kSame},  // one unit in three bytes
      {"😀11", PhoneNumberTypeInvalid, kSame, kSame},  // a surrogate pair is two units
      {std::nullopt, PhoneNumberTypeInvalid, kSame, kSame},
      {"", PhoneNumberTypeInvalid, kSame, kSame},
      {"1234567", PhoneNumberTypeInvalid, kSame, kSame},
      {"555-1212", PhoneNumberTypeInvalid, kSame, kSame},
      {"+1234", PhoneNumberTypeInvalid, kSame, kSame},
      {"+1 234", PhoneNumberTypeInvalid, kSame, kSame},
      {"++2125551212", PhoneNumberTypeInvalid, kSame, kSame},
      {"+1 (212) 555-12120", PhoneNumberTypeInvalid, kSame, kSame},
      {"212-555-1212 x12", PhoneNumberTypeInvalid, kSame, kSame},
      {"(212) 555-1212\t", PhoneNumberTypeInvalid, kSame, kSame},
      {"+44 (20 7946", PhoneNumberTypeInvalid, kSame, kSame},
      {"(1)2)3(", PhoneNumberTypeInvalid, kSame, kSame},
      {")1(", PhoneNumberTypeInvalid, kSame, kSame},
      {"2125551212\0"s, PhoneNumberTypeInvalid, kSame, kSame},
      {"+44\0 20 7946 0123"s, PhoneNumberTypeInvalid, kSame, kSame},
      {"212555121²", PhoneNumberTypeInvalid, kSame, kSame},
      {"212 555 1212\xFF", PhoneNumberTypeInvalid, kSame, kSame},
  };
  for (const auto& c : cases) expectNumber(c);
}

TEST(CommonUtilsTest, AllSpacesAndWellFormedness) {
  for (const auto& [text, spaces] : std::vector<std::pair<Text, bool>>{{std::nullopt, true},
                                                                       {"", true},
                                                                       {"   ", true},
                                                                       {" \t ", false},
                                                                       {"\n", false},
                                                                       {"\u00A0", false},
                                                                       {" 1 ", false}}) {
    EXPECT_EQ(CommonUtils::allSpaces(text), spaces) << text.value_or("(absent)");
  }
  EXPECT_EQ(CommonUtils::isWellFormedNumber(Text("(212) 555-1212")), 10u);
  EXPECT_EQ(CommonUtils::isWellFormedNumber(std::nullopt), 0u);
}

TEST(CommonUtilsTest, ExtractDigitsIndexesCodeUnitsAndStaysInItsBuffer) {
  char buffer[16] = {};
  EXPECT_EQ(CommonUtils::extractDigits("é12-34", 2, buffer), 3u);  // é: one unit, two bytes
  EXPECT_EQ(std::string(buffer, 3), "234");
  const Text emoji = "😀56";  // two units in four bytes, then two digits
  EXPECT_EQ(CommonUtils::extractDigits(emoji, 1, buffer), 2u);  // inside the pair
  EXPECT_EQ(std::string(buffer, 2), "56");
  EXPECT_EQ(CommonUtils::extractDigits(emoji, 3, buffer), 1u);
  EXPECT_EQ(buffer[0], '6');
  EXPECT_EQ(CommonUtils::extractDigits(emoji, 4, buffer), 0u);
  EXPECT_EQ(CommonUtils::extractDigits(std::nullopt, 0, buffer), 0u);
  EXPECT_EQ(CommonUtils::extractDigits(Text("12345"), 0, std::span(buffer, 2)), 2u);
}

TEST(CommonUtilsTest, HugeTextsAreHandledInFull) {
  const std::string digits(1 << 20, '7');
  EXPECT_EQ(CommonUtils::toCanonicalPhoneNumber(digits), "011" + digits);
  const std::string deep = std::string(1 << 20, '(') + "123" + std::string(1 << 20, ')');
  EXPECT_EQ(CommonUtils::toCanonicalPhoneNumber(deep), "123");
}

}  // namespace
}  // namespace pelorin
