#include <gtest/gtest.h>

#include <string>

#include "platform/charset.h"

namespace pelorin::platform {
namespace {

Data bytesOf(std::string_view s) {
  return Data(s.begin(), s.end());
}

TEST(CharsetTest, DecodesByIanaNameAndGivesNothingForUnknownNamesOrBadBytes) {
  std::string longUtf8;
  for (int i = 0; i < 10000; ++i) longUtf8 += "\xc3\xa9";
  struct Case {
    const char* what;
    Data bytes;
    Text name;
    Text expected;
  };
  const Case cases[] = {
      {"utf-8", bytesOf("caf\xc3\xa9"), "UTF-8", "caf\xc3\xa9"},
      {"latin-1", bytesOf("caf\xe9 \xa3"), "ISO-8859-1", "caf\xc3\xa9 \xc2\xa3"},
      {"windows-1252 quote", bytesOf("\x93hi\x94"), "windows-1252", "\xe2\x80\x9chi\xe2\x80\x9d"},
      {"empty bytes", Data{}, "UTF-8", ""},
      {"longer than one buffer", bytesOf(std::string(10000, '\xe9')), "ISO-8859-1", longUtf8},
      {"absent name", bytesOf("x"), std::nullopt, std::nullopt},
      {"unknown name", bytesOf("x"), "x-no-such-charset", std::nullopt},
      {"iconv option suffix", bytesOf("x"), "UTF-8//IGNORE", std::nullopt},
      {"invalid utf-8", bytesOf("a\xff!"), "UTF-8", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decodeCharacterSet(c.bytes, c.name), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace pelorin::platform
