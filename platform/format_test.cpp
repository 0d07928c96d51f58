#include "platform/format.h"

#include <gtest/gtest.h>

namespace pelorin::platform {
namespace {

TEST(FormatTest, FillsObjectAndNumericDirectivesInOrderAndNeverFails) {
  EXPECT_EQ(format("Phone %@ with mode %d", std::string("12125551212"), -2),
            "Phone 12125551212 with mode -2");
  EXPECT_EQ(format("%ld target numbers found for the access number %@", 2L, "1555"),
            "2 target numbers found for the access number 1555");
  EXPECT_EQ(format("count %lu and %@", 3UL, Text()), "count 3 and (null)");
  EXPECT_EQ(format("style %u id %u", 45u, 4294901760u), "style 45 id 4294901760");
  EXPECT_EQ(format("%@ %@ Log File\n", "Pelorin 7", "2.3-2"), "Pelorin 7 2.3-2 Log File\n");
  EXPECT_EQ(format("%@", Value(Array{Value("a")})), "(\n    a\n)");
  // Odd formats never fail.
  EXPECT_EQ(format("100%% sure"), "100% sure");
  EXPECT_EQ(format("missing %@ and %d"), "missing  and ");
  EXPECT_EQ(format("dangling %", "x"), "dangling %");
  EXPECT_EQ(format("%5d|%-3u|%x", 42, 7u, 255), "   42|7  |ff");
  EXPECT_EQ(format("text as number %d", "abc"), "text as number 0");
  EXPECT_EQ(format("%@", 1.5), "1.5");
}

}  // namespace
}  // namespace pelorin::platform
