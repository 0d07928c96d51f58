#include "platform/value.h"

#include <gtest/gtest.h>

#include <limits>

namespace pelorin::platform {
namespace {

TEST(ValueTest, IntegerReadingFollowsThePhone) {
  const std::int64_t max = std::numeric_limits<std::int64_t>::max();
  const std::int64_t min = std::numeric_limits<std::int64_t>::min();
  const std::vector<std::pair<Value, std::int64_t>> cases = {
      {Value(-2), -2},
      {Value(1.9), 1},
      {Value(-1.9), -1},
      {Value(1e300), max},
      {Value(true), 1},
      {Value(false), 0},
      {Value("12abc"), 12},
      {Value("  -7"), -7},
      {Value("\t+3x"), 3},
      {Value("abc"), 0},
      {Value(""), 0},
      {Value("- 5"), 0},
      {Value("99999999999999999999"), max},
      {Value("-99999999999999999999"), min},
      {Value(Dictionary{}), 0},
      {Value(Array{Value(1)}), 0},
      {Value(Data{1}), 0},
      {Value(Date{5}), 0},
  };
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(value.integerReading(), expected) << value.description();
  }
  EXPECT_EQ(Value(std::int64_t{1} << 40).int32Reading(), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(Value("-4000000000").int32Reading(), std::numeric_limits<std::int32_t>::min());
}

TEST(ValueTest, BooleanReadingFollowsThePhone) {
  for (const char* yes : {"YES", "yes", "true", "T", "1", "  +007", "-1", "9z"}) {
    EXPECT_TRUE(Value(yes).boolReading()) << yes;
  }
  for (const char* no : {"NO", "false", "0", "000", "", "   ", "+", "abc", "0x1"}) {
    EXPECT_FALSE(Value(no).boolReading()) << no;
  }
  EXPECT_TRUE(Value(2).boolReading());
  EXPECT_TRUE(Value(0.5).boolReading());
  EXPECT_FALSE(Value(0).boolReading());
  EXPECT_FALSE(Value(Array{Value(true)}).boolReading());
  EXPECT_FALSE(Value(Data{1}).boolReading());
}

TEST(ValueTest, DescriptionLooksLikeTheLogsOfThePhone) {
  const Value value(Dictionary{{"12125551212", "12125550000"},
                               {"list", Array{Value("+"), Value(1), Value("a b")}},
                               {"flag", true}});
  EXPECT_EQ(value.description(),
            "{\n"
            "    12125551212 = 12125550000;\n"
            "    flag = 1;\n"
            "    list = (\n"
            "        \"+\",\n"
            "        1,\n"
            "        \"a b\"\n"
            "    );\n"
            "}");
  EXPECT_EQ(describeTexts({}), "(\n)");
  EXPECT_EQ(describeTextSet({"1"}), "{(\n    1\n)}");
  EXPECT_EQ(Value(Data{0xde, 0xad, 0xbe, 0xef, 0x01}).description(), "<deadbeef 01>");
  EXPECT_EQ(Value(Date{0}).description(), "2001-01-01 00:00:00 +0000");
}

}  // namespace
}  // namespace pelorin::platform
