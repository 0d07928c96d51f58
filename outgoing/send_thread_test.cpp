// The send workers against the stand-in service over TLS.
#include <gtest/gtest.h>

#include "outgoing/messaging_fakes.h"
#include "outgoing/send_i_msg_thread.h"
#include "outgoing/send_sms_thread.h"
#include "platform/clock.h"
#include "voice/gv_test_fixture.h"

namespace pelorin::testing {
namespace {

constexpr const char* kSmsPath = "/voice/m/x?m=sms";

class SendThreadTest : public GVServiceTest {
 protected:
  ~SendThreadTest() override {
    // Workers post on the recorder and hold the client: let every one end first.
    eventually([] {
      return SendSMSThread::runningWorkers() == 0 && SendiMsgThread::runningWorkers() == 0;
    });
    platform::setCurrentDateForTesting(std::nullopt);
  }

  static SendSMSThread::RecipientList numbers(const std::vector<std::string>& digits) {
    SendSMSThread::RecipientList list;
    for (const auto& d : digits)
      list.push_back(platform::CTPhoneNumber::phoneNumberWithDigits(d, "1"));
    return list;
  }

  // The carrier notifications posted, once `count` of them were.
  std::vector<std::pair<std::string, platform::Dictionary>> waitForPosts(std::size_t count) {
    eventually([&] { return notifications_.localPosts().size() >= count; });
    return notifications_.localPosts();
  }

  static platform::Dictionary userInfo(std::uint32_t id) {
    return {{std::string(kCTMessageTypeKey), 1}, {std::string(kCTMessageIdKey), id}};
  }
};

TEST_F(SendThreadTest, SMSWorkerSendsTheTextToEveryRecipientThenPostsSent) {
  SendSMSThread::invokeWithDestination(numbers({"2125551212", "(646) 555-0100"}), "hi\n-- me", 42,
                                       gv_);
  const auto posts = waitForPosts(1);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].first, kCTMessageSentNotification);
  EXPECT_EQ(posts[0].second, userInfo(42));
  const auto texts = service_.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].to, "2125551212");
  EXPECT_EQ(texts[0].text, "hi\n-- me");
  EXPECT_EQ(texts[1].to, "(646) 555-0100");
  EXPECT_EQ(texts[1].text, "hi\n-- me");
}

TEST_F(SendThreadTest, SMSWorkerStopsAtTheFirstFailureAndPostsOneError) {
  service_.addFault(
      {.path = std::string(kSmsPath) + "&n=16465550100", .count = 9, .sendSmsResponse = 1});
  SendSMSThread::invokeWithDestination(numbers({"16465550100", "12125551212"}), "lost", 4000000000u,
                                       gv_);
  const auto posts = waitForPosts(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // nothing else may follow
  ASSERT_EQ(notifications_.localPosts().size(), 1u);
  EXPECT_EQ(posts[0].first, kCTMessageSendErrorNotification);
  EXPECT_EQ(posts[0].second, userInfo(4000000000u));
  EXPECT_TRUE(service_.texts().empty());  // the second recipient was never tried
}

TEST_F(SendThreadTest, SMSWorkerWithoutRecipientsReportsSentAtOnce) {
  SendSMSThread::invokeWithDestination({}, "nobody", 5, gv_);
  const auto posts = waitForPosts(1);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].first, kCTMessageSentNotification);
  EXPECT_TRUE(service_.journal().empty());
}

TEST_F(SendThreadTest, iMessageWorkerStopsAtTheFailingParticipantWithErrorFour) {
  auto session = std::make_shared<FakeSession>("iMessage");
  auto chat = session->addChat("group", {"+12125551212", "+16465550100", "+13105550100"});
  service_.addFault(
      {.path = std::string(kSmsPath) + "&n=%2B16465550100", .count = 9, .sendSmsResponse = 1});
  SendiMsgThread::invokeForChat(chat, chatMessage("iMessage", "hello", {}, "G-1"), "hello sig",
                                gv_);
  const auto calls = session->waitForCalls(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(session->calls().size(), 1u);
  EXPECT_EQ(calls[0].what, "error");
  EXPECT_EQ(calls[0].guid, "G-1");
  EXPECT_EQ(calls[0].detail, "4 forced");
  const auto texts = service_.texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].to, "+12125551212");  // the ID as the chat holds it
  EXPECT_EQ(texts[0].text, "hello sig");
}

TEST_F(SendThreadTest, iMessageWorkerReportsDeliveryAtTheCurrentDate) {
  platform::setCurrentDateForTesting(8.0e8);
  auto session = std::make_shared<FakeSession>("iMessage");
  auto chat = session->addChat("+12125551212", {"+12125551212"});
  SendiMsgThread::invokeForChat(chat, chatMessage("iMessage", "hi", {}, "G-2"), "hi", gv_);
  const auto calls = session->waitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].what, "delivered");
  EXPECT_EQ(calls[0].guid, "G-2");
  EXPECT_EQ(session->lastDate().secondsSince2001, 8.0e8);
  EXPECT_EQ(service_.texts().size(), 1u);
}

TEST_F(SendThreadTest, ConcurrencyWorkersForManyMessagesEachReportTheirOwnId) {
  constexpr std::uint32_t kWorkers = 8;
  for (std::uint32_t id = 1; id <= kWorkers; ++id) {
    SendSMSThread::invokeWithDestination(numbers({"1212555010" + std::to_string(id)}), "x", id,
                                         gv_);
  }
  const auto posts = waitForPosts(kWorkers);
  ASSERT_EQ(posts.size(), kWorkers);
  std::set<std::int64_t> ids;
  for (const auto& [name, info] : posts) {
    EXPECT_EQ(name, kCTMessageSentNotification);
    ids.insert(*info.at(std::string(kCTMessageIdKey)).asInteger());
  }
  EXPECT_EQ(ids.size(), kWorkers);
}

}  // namespace
}  // namespace pelorin::testing
