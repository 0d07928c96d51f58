#include "platform/messaging/ct_message.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "platform/guid.h"
#include "platform/messaging/fz_message.h"

namespace pelorin::platform {
namespace {

TEST(CTMessageTest, PartsAndRecipientsChangeAsTheLogicExpects) {
  CTMessage message;
  message.addText("hello");
  message.addText(std::nullopt);
  message.addText("wörld");
  EXPECT_EQ(message.items().size(), 2u);
  EXPECT_EQ(message.text(), "hellowörld");
  EXPECT_FALSE(message.removePartAtIndex(2));
  EXPECT_TRUE(message.removePartAtIndex(0));
  message.addText(" again");
  EXPECT_EQ(message.text(), "wörld again");
  EXPECT_EQ(message.items()[1].contentType(), "text/plain");

  message.addRecipient(CTPhoneNumber::phoneNumberWithDigits("2125551212", "1"));
  message.addRecipient(CTPhoneNumber::phoneNumberWithDigits("2125551313", "1"));
  message.setRecipient(CTPhoneNumber::phoneNumberWithDigits("(646) 555-0100", "us"));
  ASSERT_EQ(message.recipients().size(), 1u);
  EXPECT_EQ(message.recipients()[0]->canonicalFormat(), "(646) 555-0100");
}

TEST(FZMessageTest, EmptinessCountsTextAndAttachments) {
  auto empty = [](Text body, std::vector<std::string> files) {
    return FZMessage::initWithSender("e:me", {}, std::move(body), std::nullopt, std::move(files), 1,
                                     0, stringGUID())
        ->isEmpty();
  };
  EXPECT_TRUE(empty(std::nullopt, {}));
  EXPECT_TRUE(empty("", {}));
  EXPECT_FALSE(empty("", {"file-1"}));
  EXPECT_FALSE(empty("hi", {}));
}

TEST(GuidTest, GuidsAreVersionFourAndDistinct) {
  const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string guid = stringGUID();
    EXPECT_TRUE(std::regex_match(guid, form)) << guid;
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
}  // namespace pelorin::platform
