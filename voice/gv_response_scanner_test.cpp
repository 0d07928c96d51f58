#include <gtest/gtest.h>

#include "voice/gv_interface.h"
#include "voice/percent_escaping.h"

namespace pelorin {
namespace {

using Range = GVInterface::Range;
constexpr Range kUntouched{7, 7};
constexpr Range kWhole{0, ~0ull};  // cut at the end of the data
constexpr Range kMissing{GVInterface::kNotFound, kUntouched.length};

TEST(ResponseScannerTest, FindsTheValueAfterTheKey) {
  struct Case {
    const char* name;
    std::string data, key;
    Range range;
    char endChar;
    Text value;
    Range out;  // the out-range afterwards
  };
  const Case cases[] = {
      {"json string", R"({"r":"tok/en","x":1})", R"("r":")", kWhole, '"', "tok/en", {6, 6}},
      {"skips spaces and line ends", "Auth= \r\n abc\ndef", "Auth=", kWhole, 0, "abc", {9, 3}},
      {"keeps tabs", "Auth=\tabc", "Auth=", kWhole, 0, "\tabc", {5, 4}},
      {"stops at < whatever the end", "k=ab<c\"", "k=", kWhole, '"', "ab", {2, 2}},
      {"stops at NUL for end 0", std::string("k=ab\0cd", 7), "k=", kWhole, 0, "ab", {2, 2}},
      {"empty value is found", R"("r":"")", R"("r":")", kWhole, '"', "", {5, 0}},
      {"brace is part of a comma value", R"("s": 0})", R"("s":)", kWhole, ',', "0}", {5, 2}},
      {"invalid UTF-8 sets the range", "k=\xff\xfe<", "k=", kWhole, 0, std::nullopt, {2, 2}},
      {"key at the end", "abck=", "k=", kWhole, 0, std::nullopt, kUntouched},
      {"empty key", "abc=1", "", kWhole, 0, std::nullopt, kMissing},
      {"absent key", "abc=1", "zz", kWhole, 0, std::nullopt, kMissing},
      {"key longer than the data", "abc=1", "abcdef-longer", kWhole, 0, std::nullopt, kMissing},
      {"range bounds the key", "a=1 b=2 a=333", "a=", {1, 8}, ' ', std::nullopt, kMissing},
      {"but not the value", "a=1 b=2 a=333", "a=", {4, 6}, ' ', "333", {10, 3}},
      {"range cut at the end", "a=1 b=2 a=333", "b=", {2, 1000}, ' ', "2", {6, 1}},
      {"range past the end", "a=1 b=2 a=333", "b=", {1000, 5}, ' ', std::nullopt, kMissing},
  };
  for (const auto& c : cases) {
    Range out = kUntouched;
    EXPECT_EQ(GVInterface::findValueForKey(c.key, c.data, c.range, &out, c.endChar), c.value)
        << c.name;
    EXPECT_EQ(out, c.out) << c.name;
  }
}

TEST(PercentEscapingTest, EscapesEverythingButUnreservedCharacters) {
  EXPECT_EQ(percentEscaped("aZ09-._~"), "aZ09-._~");
  EXPECT_EQ(percentEscaped("!*'();:@&=+$,/?%#[]"),
            "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D");
  EXPECT_EQ(percentEscaped("a b\n\"é€"), "a%20b%0A%22%C3%A9%E2%82%AC");
}

std::string page(const std::vector<std::pair<std::string, std::string>>& contacts) {
  std::string html = "<html>";
  for (const auto& [name, number] : contacts) {
    html += "<a title=\"Go to contact\" href=\"javascript://\">" + name +
            "</a>\n<input class=\"gc-quickcall-ac\" value=\"" + number + "\"/>\n";
  }
  return html + "</html>";
}

TEST(ParseSMSDataTest, FindsTheNumberAfterTheFirstMatchingName) {
  const std::string body = page({{"Ann", "+1111"},
                                 {"Tom &amp; Jerry", "+2222"},
                                 {"O&#39;Brien &quot;Jr&quot;", "+3333"},
                                 {"a &amp;lt; b &gt; c", "+4444"},
                                 {"Ann", "+5555"}});
  const std::string marker = "Go to contact\" href=\"javascript://\">";
  const std::vector<std::tuple<std::string, Text, Text>> cases = {
      {body, "Ann", "+1111"},
      {body, "Tom & Jerry", "+2222"},
      {body, "O'Brien \"Jr\"", "+3333"},
      {body, "a < b > c", "+4444"},
      {body, "ann", std::nullopt},
      {body, std::nullopt, std::nullopt},
      {marker, "Ann", std::nullopt},
      // A last marker with nothing after it must end the walk, not restart it.
      {page({{"Bob", "+1"}}) + marker + " \n", "Ann", std::nullopt},
      {marker + "Ann</a> no number", "Ann", std::nullopt},
  };
  for (const auto& [data, sender, number] : cases) {
    EXPECT_EQ(GVInterface::parseSMSData(data, sender), number) << sender.value_or("(absent)");
  }
}

}  // namespace
}  // namespace pelorin
