#include "rules_editor/prefix_forms.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/common_utils.h"

namespace pelorin::rules_editor {
namespace {

TEST(PrefixFormsTest, CanonicalAndInternationalForms) {
  const std::vector<std::tuple<Text, std::string, std::string>> cases = {
      {"212", "1212", "+1212"},
      {"(212) 555", "1212555", "+1212555"},
      {"1212", "1212", "+1212"},
      {"+1212", "1212", "+1212"},
      {"+44", "01144", "+44"},
      {"+ 44", "01144", "+44"},  // the second character is a space, not "1"
      {"011 44", "01144", "+44"},
      {"0044", "0044", "+44"},
      {"0101 5", "01015", "+5"},
      {"5", "15", "+15"},
      {"9", "19", "+19"},
      {"(212) 555-1212", "12125551212", "+12125551212"},
      {"1 (212) 555-1212", "12125551212", "+12125551212"},
      {"+44 20 7946 0123", "011442079460123", "+442079460123"},
      {"011 44 20 7946 0123", "011442079460123", "+442079460123"},
      {"0044 20 7946 0123", "00442079460123", "+442079460123"},
      {std::nullopt, "1", "+1"},
      {"", "1", "+1"},
      {"+", "1", "+1"},
      {"+1", "1", "+1"},
      {"1", "1", "+1"},
      {"0", "0", "+1"},
      {"00", "00", "+1"},
      {"011", "011", "+1"},
      {"abc", "", "+"},
      {"x2", "2", "+2"},
      {"é5", "5", "+5"},  // a first character that is not ASCII
      {"+é5", "0115", "+5"},
      {"0é5", "05", "+5"},
  };
  for (const auto& [text, canonical, international] : cases) {
    SCOPED_TRACE(text ? "text \"" + *text + "\"" : "absent text");
    EXPECT_EQ(toCanonicalPhoneNumber(text), canonical);
    EXPECT_EQ(toInternationalPhoneNumber(text), international);
  }
}

// A rule made from a contact's number (international prefix form, then
// canonical prefix form) must match that contact's canonical number.
TEST(PrefixFormsTest, ContactRuleMatchesCanonicalNumber) {
  for (const char* number :
       {"(212) 555-1212", "212.555.1212", "1 (212) 555-1212", "1-212-555-1212", "12125551212",
        "+1 (212) 555-1212", "+12125551212", "+44 (20) 7946-0123", "011 44 20 7946 0123",
        "01133142685300", "+0442079460123", "+86 10 1234 5678"}) {
    SCOPED_TRACE(number);
    const auto type = CommonUtils::phoneNumberType(Text(number));
    ASSERT_TRUE(type == PhoneNumberTypeUS || type == PhoneNumberTypeInternational);
    EXPECT_EQ(Text(toCanonicalPhoneNumber(toInternationalPhoneNumber(number))),
              CommonUtils::toCanonicalPhoneNumber(number));
  }
}

}  // namespace
}  // namespace pelorin::rules_editor
