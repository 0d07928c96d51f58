#include "common/common_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelorin {
namespace {

using namespace std::string_literals;

constexpr const char* kUnchanged = nullptr;

struct NumberCase {
  std::string input;
  PhoneNumberType type;
  const char* canonical;      // kUnchanged: the input itself
  const char* international;  // kUnchanged: the input itself
};

// The type decided step by step from the individual recognisers.
PhoneNumberType typeFromRecognisers(const Text& text) {
  if (CommonUtils::isaSpecialUSNumber(text)) return PhoneNumberTypeSpecial;
  if (CommonUtils::isUSPhoneNumber(text)) return PhoneNumberTypeUS;
  if (CommonUtils::isInternationalPhoneNumber(text)) return PhoneNumberTypeInternational;
  return CommonUtils::possibleOtherTypes(text);
}

// Checks every entry point that classifies or converts against one expectation.
void expectNumber(const NumberCase& c) {
  SCOPED_TRACE("input \"" + c.input + "\"");
  const Text input = c.input;
  const std::string canonical = c.canonical ? c.canonical : c.input;
  const std::string international = c.international ? c.international : c.input;
  EXPECT_EQ(CommonUtils::phoneNumberType(input), c.type);
  EXPECT_EQ(typeFromRecognisers(input), c.type);
  EXPECT_EQ(CommonUtils::isNumberValidforSMS(input), c.type > PhoneNumberTypeSpecial);
  EXPECT_EQ(CommonUtils::toCanonicalPhoneNumber(input), canonical);
  EXPECT_EQ(CommonUtils::toInternationalPhoneNumber(input), international);
  const auto forms = CommonUtils::numberForms(input);
  EXPECT_EQ(forms.type, c.type);
  EXPECT_EQ(forms.canonical, canonical);
  EXPECT_EQ(forms.international, international);
  if (c.type == PhoneNumberTypeUS || c.type == PhoneNumberTypeInternational) {
    // The stored form must be found again under the same type and key.
    EXPECT_EQ(CommonUtils::phoneNumberType(Text(canonical)), c.type);
    EXPECT_EQ(CommonUtils::toCanonicalPhoneNumber(canonical), canonical);
  }
}

TEST(CommonUtilsTest, WorkedExamples) {
  const std::vector<NumberCase> cases = {
      {"(212) 555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"+1 (212) 555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"1-212-555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"1.212.555.1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"212.555.1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
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
      {"12345678", PhoneNumberTypeInternational, "01112345678", "+12345678"},
      {"212 - 555 - 1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"( 212) 555-1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"112 555 1212", PhoneNumberTypeInternational, "0111125551212", "+1125551212"},
      {"22000", PhoneNumberTypeShortCode, kUnchanged, kUnchanged},
      {"123456", PhoneNumberTypeShortCode, kUnchanged, kUnchanged},
      {"911", PhoneNumberTypeSpecial, kUnchanged, kUnchanged},
      {"411", PhoneNumberTypeSpecial, kUnchanged, kUnchanged},
      {"011", PhoneNumberTypeSpecial, kUnchanged, kUnchanged},
      {"1234567", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"555-1212", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"+1234", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"+1 234", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"212-555-1212 x12", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"(212) 555-1212\t", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"+44 (20 7946", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
  };
  for (const auto& c : cases) expectNumber(c);
}

TEST(CommonUtilsTest, EdgeCasesOfClassification) {
  const std::vector<NumberCase> cases = {
      {"", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"0112", PhoneNumberTypeInternational, "0112", "+2"},
      {"a11", PhoneNumberTypeSpecial, kUnchanged, kUnchanged},
      {"\xC3\xA9"
       "11",
       PhoneNumberTypeSpecial, kUnchanged, kUnchanged},  // one UTF-16 unit before "11"
      {"\xF0\x9F\x98\x80"
       "11",
       PhoneNumberTypeInvalid, kUnchanged, kUnchanged},  // a surrogate pair is two units
      {"1 (212) 555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"+1-212-555-1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"(212)   555 1212", PhoneNumberTypeUS, "12125551212", "+12125551212"},
      {"(212 )555-1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"212--555-1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"212-555--1212", PhoneNumberTypeInternational, "0112125551212", "+2125551212"},
      {"1-(212) 555-1212", PhoneNumberTypeInternational, "01112125551212", "+12125551212"},
      {"1- 212 555 1212", PhoneNumberTypeInternational, "01112125551212", "+12125551212"},
      {"++2125551212", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"+1 (212) 555-12120", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"1 (212) 555-12120", PhoneNumberTypeInternational, "011121255512120", "+121255512120"},
      {"12345", PhoneNumberTypeShortCode, kUnchanged, kUnchanged},
      {"1", PhoneNumberTypeShortCode, kUnchanged, kUnchanged},
      {"(1)2)3(", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {")1(", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"(((12345678)))", PhoneNumberTypeInternational, "01112345678", "+12345678"},
      {"2125551212\0"s, PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"+44\0 20 7946 0123"s, PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
      {"212555121\xC2\xB2", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},  // superscript two
      {"212 555 1212\xFF", PhoneNumberTypeInvalid, kUnchanged, kUnchanged},
  };
  for (const auto& c : cases) expectNumber(c);
}

TEST(CommonUtilsTest, AbsentInput) {
  const Text absent;
  EXPECT_TRUE(CommonUtils::allSpaces(absent));
  EXPECT_EQ(CommonUtils::isWellFormedNumber(absent), 0u);
  EXPECT_FALSE(CommonUtils::isUSPhoneNumber(absent));
  EXPECT_FALSE(CommonUtils::isInternationalPhoneNumber(absent));
  EXPECT_FALSE(CommonUtils::isaSpecialUSNumber(absent));
  EXPECT_EQ(CommonUtils::possibleOtherTypes(absent), PhoneNumberTypeInvalid);
  EXPECT_EQ(CommonUtils::phoneNumberType(absent), PhoneNumberTypeInvalid);
  EXPECT_FALSE(CommonUtils::isNumberValidforSMS(absent));
  char buffer[4];
  EXPECT_EQ(CommonUtils::extractDigits(absent, 0, buffer), 0u);
  EXPECT_EQ(CommonUtils::toCanonicalPhoneNumber(absent), std::nullopt);
  EXPECT_EQ(CommonUtils::toInternationalPhoneNumber(absent), std::nullopt);
  const auto forms = CommonUtils::numberForms(absent);
  EXPECT_EQ(forms.type, PhoneNumberTypeInvalid);
  EXPECT_EQ(forms.canonical, std::nullopt);
  EXPECT_EQ(forms.international, std::nullopt);
}

TEST(CommonUtilsTest, AllSpacesCountsOnlyTheSpaceCharacter) {
  EXPECT_TRUE(CommonUtils::allSpaces(Text("")));
  EXPECT_TRUE(CommonUtils::allSpaces(Text("   ")));
  EXPECT_FALSE(CommonUtils::allSpaces(Text(" \t ")));
  EXPECT_FALSE(CommonUtils::allSpaces(Text("\n")));
  EXPECT_FALSE(CommonUtils::allSpaces(Text("\xC2\xA0")));  // no-break space
  EXPECT_FALSE(CommonUtils::allSpaces(Text(" 1 ")));
}

TEST(CommonUtilsTest, ExtractDigitsIndexesCodeUnitsAndStaysInItsBuffer) {
  char buffer[16] = {};
  // "é" is one unit in two bytes; the emoji is two units in four bytes.
  const Text accented =
      "\xC3\xA9"
      "12-34";
  EXPECT_EQ(CommonUtils::extractDigits(accented, 2, buffer), 3u);
  EXPECT_EQ(std::string(buffer, 3), "234");
  const Text emoji =
      "\xF0\x9F\x98\x80"
      "56";
  EXPECT_EQ(CommonUtils::extractDigits(emoji, 1, buffer), 2u);  // inside the pair
  EXPECT_EQ(std::string(buffer, 2), "56");
  EXPECT_EQ(CommonUtils::extractDigits(emoji, 3, buffer), 1u);
  EXPECT_EQ(buffer[0], '6');
  EXPECT_EQ(CommonUtils::extractDigits(emoji, 4, buffer), 0u);
  EXPECT_EQ(CommonUtils::extractDigits(Text("12345"), 0, std::span(buffer, 2)), 2u);
}

TEST(CommonUtilsTest, HugeTextsAreHandledInFull) {
  const std::string digits(1 << 20, '7');
  EXPECT_EQ(CommonUtils::phoneNumberType(Text(digits)), PhoneNumberTypeInternational);
  EXPECT_EQ(CommonUtils::toCanonicalPhoneNumber(digits), "011" + digits);
  const std::string deep = std::string(1 << 20, '(') + "123" + std::string(1 << 20, ')');
  EXPECT_EQ(CommonUtils::toCanonicalPhoneNumber(deep), "123");
}

}  // namespace
}  // namespace pelorin
