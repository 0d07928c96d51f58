#include "platform/utf16.h"

#include <gtest/gtest.h>

#include <tuple>

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

// Sequences at the edges of each length and range; a byte that starts no
// valid sequence counts as one unit.
TEST(Utf16Test, ValidatesAndCountsAtTheEdges) {
  const std::tuple<const char*, bool, std::size_t> rows[] = {
      {"plain \xE2\x82\xAC", true, 7},
      {"\xC2\x80", true, 1},               // the smallest of two bytes
      {"\xE0\xA0\x80", true, 1},           // of three
      {"\xED\x9F\xBF", true, 1},           // below the surrogates
      {"\xEE\x80\x80", true, 1},           // above them
      {"\xEF\xBF\xBF", true, 1},           // the largest of one unit
      {"\xF0\x90\x80\x80", true, 2},       // the smallest of a pair
      {"\xF4\x8F\xBF\xBF", true, 2},       // the largest of all
      {"\x80", false, 1},                  // a continuation byte alone
      {"\xC3", false, 1},                  // truncated
      {"\xE2\x82", false, 2},              // truncated
      {"\xC0\xAF", false, 2},              // overlong
      {"\xE0\x9F\xBF", false, 3},          // overlong
      {"\xF0\x8F\xBF\xBF", false, 4},      // overlong
      {"\xED\xA0\x80", false, 3},          // a surrogate
      {"\xED\xBF\xBF", false, 3},          // a surrogate
      {"\xF4\x90\x80\x80", false, 4},      // beyond U+10FFFF
      {"\xF8\x88\x80\x80\x80", false, 5},  // no such lead
      {"a\xFFz", false, 3},
  };
  for (const auto& [text, valid, units] : rows) {
    EXPECT_EQ(isValidUtf8(text), valid) << text;
    EXPECT_EQ(utf16Length(text), units) << text;
  }
}

}  // namespace
}  // namespace pelorin::platform
