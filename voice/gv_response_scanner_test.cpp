#include <gtest/gtest.h>

#include "voice/gv_interface.h"
#include "voice/percent_escaping.h"

namespace pelorin {
namespace {

using Range = GVInterface::Range;
constexpr Range kUntouched{7, 7};

struct ScanCase {
  const char* name;
  std::string data;
  std::string key;
  char endChar;
  Text value;
  Range range;  // the out-range afterwards
};

TEST(ResponseScannerTest, FindsTheValueAfterTheKey) {
  const std::vector<ScanCase> cases = {
      {"json string", R"({"r":"tok/en","x":1})", R"("r":")", '"', "tok/en", {6, 6}},
      {"skips spaces and line ends", "Auth= \r\n abc\ndef", "Auth=", 0, "abc", {9, 3}},
      {"keeps tabs", "Auth=\tabc", "Auth=", 0, "\tabc", {5, 4}},
      {"stops at < whatever the end", "k=ab<c\"", "k=", '"', "ab", {2, 2}},
      {"stops at NUL for end 0", std::string("k=ab\0cd", 7), "k=", 0, "ab", {2, 2}},
      {"empty value is found", R"("r":"")", R"("r":")", '"', "", {5, 0}},
      {"brace is part of a comma value", R"("s": 0})", R"("s":)", ',', "0}", {5, 2}},
      {"invalid UTF-8 sets the range", "k=\xff\xfe<", "k=", 0, std::nullopt, {2, 2}},
      {"key at the end", "abck=", "k=", 0, std::nullopt, kUntouched},
  };
  for (const auto& c : cases) {
    Range out = kUntouched;
    EXPECT_EQ(GVInterface::findValueForKey(c.key, c.data, {0, c.data.size()}, &out, c.endChar),
              c.value)
        << c.name;
    EXPECT_EQ(out, c.range) << c.name;
  }
}

TEST(ResponseScannerTest, MissingKeyMarksTheRangeNotFound) {
  for (const std::string key : {"", "zz", "abcdef-longer-than-data"}) {
    Range out = kUntouched;
    EXPECT_EQ(GVInterface::findValueForKey(key, "abc=1", {0, 5}, &out, 0), std::nullopt);
    EXPECT_EQ(out, (Range{GVInterface::kNotFound, kUntouched.length})) << key;
  }
}

TEST(ResponseScannerTest, RangeBoundsTheKeyButNotTheValue) {
  const std::string data = "a=1 b=2 a=333";
  EXPECT_EQ(GVInterface::findValueForKey("a=", data, {1, 8}, nullptr, ' '), std::nullopt);
  EXPECT_EQ(GVInterface::findValueForKey("a=", data, {4, 6}, nullptr, ' '), "333");
  // A range past the data is cut at its end instead of failing.
  EXPECT_EQ(GVInterface::findValueForKey("b=", data, {2, 1000}, nullptr, ' '), "2");
  EXPECT_EQ(GVInterface::findValueForKey("b=", data, {1000, 5}, nullptr, ' '), std::nullopt);
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
  EXPECT_EQ(GVInterface::parseSMSData(body, "Ann"), "+1111");
  EXPECT_EQ(GVInterface::parseSMSData(body, "Tom & Jerry"), "+2222");
  EXPECT_EQ(GVInterface::parseSMSData(body, "O'Brien \"Jr\""), "+3333");
  EXPECT_EQ(GVInterface::parseSMSData(body, "a < b > c"), "+4444");
  EXPECT_EQ(GVInterface::parseSMSData(body, "ann"), std::nullopt);
  EXPECT_EQ(GVInterface::parseSMSData(body, std::nullopt), std::nullopt);
}

TEST(ParseSMSDataTest, EndsTheWalkWhereThePageEnds) {
  const std::string marker = "Go to contact\" href=\"javascript://\">";
  EXPECT_EQ(GVInterface::parseSMSData(marker, "Ann"), std::nullopt);
  // A last marker with nothing after it must end the walk, not restart it.
  EXPECT_EQ(GVInterface::parseSMSData(page({{"Bob", "+1"}}) + marker + " \n", "Ann"), std::nullopt);
  EXPECT_EQ(GVInterface::parseSMSData(marker + "Ann</a> no number", "Ann"), std::nullopt);
}

}  // namespace
}  // namespace pelorin
