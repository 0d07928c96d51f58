#include "platform/json_object.h"

#include <gtest/gtest.h>

namespace pelorin::platform {
namespace {

TEST(JsonObjectTest, OneLineInTheOrderAddedAlwaysValid) {
  const std::vector<std::string> two{"a", "b\"c"};
  EXPECT_EQ(JsonObject()
                .add("text", "x\xFFy")
                .add("absent", Text())
                .add("number", -2)
                .add("flag", true)
                .add("list", two)
                .add("empty", std::vector<std::string>{})
                .add("no list", std::optional<std::vector<std::string>>())
                .addRaw("raw", "{\"k\": [1]}")
                .addRaw("bad", "[1")
                .str(),
            "{\"text\":\"x\xEF\xBF\xBDy\",\"absent\":null,\"number\":-2,\"flag\":true,"
            "\"list\":[\"a\", \"b\\\"c\"],\"empty\":[],\"no list\":null,\"raw\":{\"k\": [1]},"
            "\"bad\":null}");
  EXPECT_EQ(JsonObject().str(), "{}");
}

}  // namespace
}  // namespace pelorin::platform
