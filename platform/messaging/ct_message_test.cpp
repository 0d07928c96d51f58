#include "platform/messaging/ct_message.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/guid.h"
#include "platform/messaging/fz_message.h"

namespace pelorin::platform {
namespace {

std::string partText(const CTMessagePart& part) {
  return std::string(part.data().begin(), part.data().end());
}

TEST(CTMessageTest, PartsAndRecipientsChangeAsTheLogicExpects) {
  CTMessage message;
  message.addText("hello");
  message.addText(std::nullopt);
  message.addText("wörld");
  ASSERT_EQ(message.items().size(), 2u);
  EXPECT_EQ(message.text(), "hellowörld");

  EXPECT_FALSE(message.removePartAtIndex(2));
  EXPECT_TRUE(message.removePartAtIndex(0));
  message.addText("new body");
  ASSERT_EQ(message.items().size(), 2u);
  EXPECT_EQ(partText(message.items()[0]), "wörld");
  EXPECT_EQ(message.items()[0].contentType(), "text/plain");

  message.addRecipient(CTPhoneNumber::phoneNumberWithDigits("2125551212", "1"));
  message.addRecipient(CTPhoneNumber::phoneNumberWithDigits("2125551313", "1"));
  message.setRecipient(CTPhoneNumber::phoneNumberWithDigits("(646) 555-0100", "us"));
  ASSERT_EQ(message.recipients().size(), 1u);
  EXPECT_EQ(message.recipients()[0]->canonicalFormat(), "(646) 555-0100");
  EXPECT_EQ(message.recipients()[0]->countryCode(), "us");
  EXPECT_EQ(message.sender(), nullptr);
}

TEST(FZMessageTest, EmptinessCountsTextAndAttachments) {
  auto make = [](Text body, std::vector<std::string> files) {
    return FZMessage::initWithSender("e:me", {}, std::move(body), std::nullopt, std::move(files), 1,
                                     0, stringGUID());
  };
  EXPECT_TRUE(make(std::nullopt, {})->isEmpty());
  EXPECT_TRUE(make("", {})->isEmpty());
  EXPECT_FALSE(make("", {"file-1"})->isEmpty());
  EXPECT_FALSE(make("hi", {})->isEmpty());
}

TEST(GuidTest, GuidsAreWellFormedAndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string guid = stringGUID();
    ASSERT_EQ(guid.size(), 36u);
    EXPECT_EQ(guid[8], '-');
    EXPECT_EQ(guid[14], '4');
    EXPECT_EQ(guid.find_first_not_of("0123456789ABCDEF-"), std::string::npos);
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
}  // namespace pelorin::platform
