#include "rules_editor/prefix_forms.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/common_utils.h"

namespace pelorin::rules_editor {
namespace {

struct PrefixCase {
  Text text;
  std::string canonical;
  std::string international;
};

void expectPrefixForms(const std::vector<PrefixCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text ? "text \"" + *c.text + "\"" : "absent text");
    EXPECT_EQ(toCanonicalPhoneNumber(c.text), c.canonical);
    EXPECT_EQ(toInternationalPhoneNumber(c.text), c.international);
  }
}

TEST(PrefixFormsTest, WorkedExamples) {
  expectPrefixForms({
      {"212", "1212", "+1212"},
      {"(212) 555", "1212555", "+1212555"},
      {"1212", "1212", "+1212"},
      {"+1212", "1212", "+1212"},
      {"+44", "01144", "+44"},
      {"011 44", "01144", "+44"},
      {"0044", "0044", "+44"},
      {"5", "15", "+15"},
      {"", "1", "+1"},
      {"+", "1", "+1"},
      {"011", "011", "+1"},
      {"(212) 555-1212", "12125551212", "+12125551212"},
      {"1 (212) 555-1212", "12125551212", "+12125551212"},
      {"+44 20 7946 0123", "011442079460123", "+442079460123"},
      {"011 44 20 7946 0123", "011442079460123", "+442079460123"},
      {"0044 20 7946 0123", "00442079460123", "+442079460123"},
  });
}

TEST(PrefixFormsTest, EdgeCases) {
  expectPrefixForms({
      {std::nullopt, "1", "+1"},
      {"0", "0", "+1"},
      {"00", "00", "+1"},
      {"0101 5", "01015", "+5"},
      {"+1", "1", "+1"},
      {"+ 44", "01144", "+44"},  // the second character is a space, not "1"
      {"1", "1", "+1"},
      {"abc", "", "+"},
      {"x2", "2", "+2"},
      {"\xC3\xA9"
       "5",
       "5", "+5"},  // non-ASCII first character
      {"+\xC3\xA9"
       "5",
       "0115", "+5"},
      {"0\xC3\xA9"
       "5",
       "05", "+5"},
  });
}

// A rule made from a contact's number (international prefix form, then
// canonical prefix form) must match that contact's canonical number.
TEST(PrefixFormsTest, ContactRuleMatchesCanonicalNumber) {
  const std::vector<std::string> numbers = {
      "(212) 555-1212",     "212-555-1212",        "212.555.1212",      "2125551212",
      "1 (212) 555-1212",   "1-212-555-1212",      "12125551212",       "+1 212 555 1212",
      "+1 (212) 555-1212",  "+1-212-555-1212",     "+12125551212",      "+44 20 7946 0123",
      "+44 (20) 7946-0123", "011 44 20 7946 0123", "+33 1 42 68 53 00", "01133142685300",
      "+0442079460123",     "+86 10 1234 5678",
  };
  for (const auto& number : numbers) {
    SCOPED_TRACE(number);
    const auto type = CommonUtils::phoneNumberType(Text(number));
    ASSERT_TRUE(type == PhoneNumberTypeUS || type == PhoneNumberTypeInternational);
    EXPECT_EQ(Text(toCanonicalPhoneNumber(toInternationalPhoneNumber(number))),
              CommonUtils::toCanonicalPhoneNumber(number));
  }
}

}  // namespace
}  // namespace pelorin::rules_editor
