#include "platform/utf16.h"

#include <gtest/gtest.h>

namespace pelorin::platform {
namespace {

TEST(Utf16Test, CountsAndIndexesCodeUnits) {
  const std::string text = "a\xC3\xA9\xF0\x9F\x98\x80z";  // a, é, 😀 (two units), z
  EXPECT_EQ(utf16Length(text), 5u);
  EXPECT_EQ(utf16At(text, 1), u'\u00e9');
  EXPECT_EQ(utf16At(text, 2), static_cast<char16_t>(0xD83D));
  EXPECT_EQ(utf16At(text, 3), static_cast<char16_t>(0xDE00));
  EXPECT_EQ(utf16At(text, 4), u'z');
  EXPECT_EQ(utf16At(text, 5), std::nullopt);
  EXPECT_EQ(utf8OffsetOfUtf16Index(text, 2), 3u);
  EXPECT_EQ(utf8OffsetOfUtf16Index(text, 4), 7u);
  EXPECT_EQ(utf8OffsetOfUtf16Index(text, 5), 8u);
  EXPECT_EQ(utf8OffsetOfUtf16Index(text, 3), std::nullopt);  // inside the pair
  EXPECT_EQ(utf8OffsetOfUtf16Index(text, 6), std::nullopt);
}

TEST(Utf16Test, InvalidBytesCountAsOneUnitAndFailValidation) {
  EXPECT_TRUE(isValidUtf8("plain \xE2\x82\xAC"));
  for (const std::string bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xFFz"}) {
    EXPECT_FALSE(isValidUtf8(bad));
  }
  EXPECT_EQ(utf16Length("a\xFFz"), 3u);
  EXPECT_EQ(utf16Length("\xE2\x82"), 2u);  // truncated sequence
}

}  // namespace
}  // namespace pelorin::platform
