// Inputs that once crashed or exhausted the property-list reader (found by
// fuzzing and by hand); each must now read as nothing, quickly.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "platform/property_list.h"

namespace pelorin::platform {
namespace {

std::optional<Value> parse(const std::string& bytes) {
  return parsePropertyList({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

std::string bigEndian32(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

// Encoded binary objects; references are four bytes wide.
std::string array(const std::vector<std::uint32_t>& references) {
  std::string out(1, static_cast<char>(0xA0 | references.size()));
  for (auto reference : references) out += bigEndian32(reference);
  return out;
}
std::string ascii(const std::string& text) {
  return static_cast<char>(0x50 | text.size()) + text;
}
const std::string kOne = "\x10\x01";

// A binary list of `objects`, the first one at the top.
std::string binaryList(const std::vector<std::string>& objects) {
  std::string out = "bplist00";
  std::string offsets;
  for (const auto& object : objects) {
    offsets += bigEndian32(static_cast<std::uint32_t>(out.size()));
    out += object;
  }
  const auto table = static_cast<std::uint32_t>(out.size());
  out += offsets + std::string(6, '\0') + "\x04\x04";
  out += std::string(4, '\0') + bigEndian32(static_cast<std::uint32_t>(objects.size()));
  out += std::string(8, '\0') + std::string(4, '\0') + bigEndian32(table);
  return out;
}

std::string fromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

TEST(PropertyListRegressionTest, NulInsideATextIsRefused) {
  // A binary dictionary whose key holds a NUL: libplist asserted and aborted.
  const std::string fuzzed = fromHex(
      "62706c6973743030d70102030405060708090a0b0c0d0e5e6465666175090a0b0c0d0e5e64656661"
      "756c74534d5353656e6c65c36e61644d654c6fa50000000000000061626c654f6d6e6953656e645e"
      "6d6f6e69746f724f7074696f6e735b70686f6e654e756d757365726e616d651001090810025e7131"
      "303629203535352d3132313250115f106f776e657240657861ffff5fc000074fba0817263443525e"
      "666f7172737584850000000000000101000000000000000f00000000000000000000000000000099");
  EXPECT_EQ(parse(fuzzed), std::nullopt);
  EXPECT_EQ(parse(binaryList({array({1}), ascii(std::string("a\0b", 3))})), std::nullopt);
  EXPECT_EQ(parse(binaryList({array({1}), "\x62" + std::string("\0a\0\0", 4)})), std::nullopt);
  const std::string xml =
      std::string("<plist><array><string>a") + '\0' + "b</string></array></plist>";
  EXPECT_EQ(parse(xml), std::nullopt);
}

TEST(PropertyListRegressionTest, HostileNestingIsRefused) {
  const int levels = 100'000;  // overflowed libplist's recursive parsers
  std::string xml = "<plist>";
  for (int i = 0; i < levels; ++i) xml += "<array>";
  for (int i = 0; i < levels; ++i) xml += "</array>";
  EXPECT_EQ(parse(xml + "</plist>"), std::nullopt);

  std::vector<std::string> chain;
  for (int i = 1; i < levels; ++i) chain.push_back(array({static_cast<std::uint32_t>(i)}));
  chain.push_back(kOne);
  EXPECT_EQ(parse(binaryList(chain)), std::nullopt);
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  out.reserve(text.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(PropertyListRegressionTest, NestingHiddenBehindSectionsIsRefused) {
  // Closing tags inside a comment once cancelled the real nesting that
  // followed, and libplist overflowed its stack on the 4.6 MB file.
  const int levels = 200'000;
  const std::string deep = repeated("<array>", levels) + repeated("</array>", levels);
  const std::string closes = repeated("</array>", levels);
  const std::vector<std::pair<std::string, std::string>> hiding = {
      {"<!--", "-->"},
      {"<plist><string><![CDATA[", "]]></string>"},
      {"<?pi ", "?>"},
      {"<!DOCTYPE plist [", "]>"},
      {"<!DOCTYPE plist \"", "\">"},
      {"<!DOCTYPE plist '>[", "]>"},
      {"<plist version=\"", "\">"},
      {"<plist a='\"'>", "\">"},  // libplist honours only double quotes
      {"<plist><array/></array a=\"", "\">"},
  };
  for (const auto& [open, close] : hiding) {
    EXPECT_EQ(parse(open + closes + close + deep), std::nullopt) << open;
  }
  // A close inside each level's own attributes.
  EXPECT_EQ(parse("<plist>" + repeated("<array a=\"</array>\">", levels) +
                  repeated("</array>", levels) + "</plist>"),
            std::nullopt);
  // libplist expands no declared entity, but a reference to one is refused.
  EXPECT_EQ(parse("<!DOCTYPE plist [<!ENTITY deep \"<array>\">]>"
                  "<plist><array>&deep;</array></plist>"),
            std::nullopt);
}

TEST(PropertyListRegressionTest, OrdinaryFilesWithSectionsStillRead) {
  const std::string header =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC "
      "\"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
  // Sixty levels with a commented-out close and a self-closing array at each.
  std::string xml = header + "<plist version=\"1.0\">";
  for (int i = 0; i < 60; ++i) xml += "<array><!-- </array> --><array/>";
  xml += "<string><![CDATA[a </dict> & b]]> &amp; &#60;</string>";
  for (int i = 0; i < 60; ++i) xml += "</array>";
  const auto value = parse(xml + "</plist>");
  ASSERT_TRUE(value);
  const Value* level = &*value;
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(level->asArray() && level->asArray()->size() == 2u) << i;
    level = &level->asArray()->back();
  }
  EXPECT_EQ(*level, Value("a </dict> & b & <"));
}

TEST(PropertyListRegressionTest, DatesBeyondAnyCalendarReadAndWriteBack) {
  // A date of 1e300 seconds once reached an undefined conversion to int when
  // written back; such dates now clamp to what libplist can store.
  auto date = [](double seconds) {
    std::uint64_t raw = 0;
    std::memcpy(&raw, &seconds, sizeof raw);
    std::string out = "\x33";
    for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>(raw >> shift);
    return out;
  };
  for (double seconds : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity()}) {
    const auto value = parse(binaryList({array({1}), date(seconds)}));
    ASSERT_TRUE(value) << seconds;
    value->description();
    const std::string xml = toXmlPropertyList(*value);
    EXPECT_TRUE(parse(xml)) << xml;
  }
}

// Every input kept in the fuzzer's corpus (crashes it found included) is read
// as the fuzzer reads it.
TEST(PropertyListRegressionTest, FuzzCorpusReplays) {
  std::size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PELORIN_PLIST_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ++inputs;
    const auto value = parse(bytes);
    if (!value) continue;
    value->integerReading();
    value->description();
    EXPECT_TRUE(parse(toXmlPropertyList(*value))) << entry.path();
  }
  EXPECT_GT(inputs, 0u);
}

TEST(PropertyListRegressionTest, SharedObjectsThatUnfoldWithoutBoundAreRefused) {
  // Each array refers twice to the next: 2^40 nodes once unfolded.
  std::vector<std::string> ladder;
  for (std::uint32_t i = 1; i <= 40; ++i) ladder.push_back(array({i, i}));
  ladder.push_back(kOne);
  EXPECT_EQ(parse(binaryList(ladder)), std::nullopt);
  EXPECT_EQ(parse(binaryList({array({1}), array({0})})), std::nullopt);  // a cycle
  EXPECT_EQ(parse(binaryList({array({7})})), std::nullopt);              // out of range
}

TEST(PropertyListRegressionTest, SharedObjectsOfOrdinaryFilesStillRead) {
  // Writers store equal values once and refer to them from several places.
  const auto value = parse(binaryList({array({1, 1, 2}), ascii("1212"), kOne}));
  EXPECT_EQ(value, Value(Array{Value("1212"), Value("1212"), Value(1)}));
}

}  // namespace
}  // namespace pelorin::platform
