// The send workers against the stand-in service over TLS.
#include <set>
#include <thread>

#include "outgoing/outgoing_test_fixture.h"
#include "platform/clock.h"
#include "voice/gv_test_fixture.h"

namespace pelorin::testing {
namespace {

constexpr const char* kSmsPath = "/voice/m/x?m=sms";

class SendThreadTest : public GVServiceTest {
 protected:
  ~SendThreadTest() override {
    EXPECT_TRUE(workersEnded());  // they post on the recorder and hold the client
    platform::setCurrentDateForTesting(std::nullopt);
  }

  void sendSMS(const std::vector<std::string>& digits, const std::string& text, std::uint32_t id) {
    SendSMSThread::invokeWithDestination(smsMessage(digits, {})->recipients(), text, id, gv_);
  }
  Calls waitForPosts(std::size_t count) {
    eventually([&] { return notifications_.localPosts().size() >= count; });
    return carrierPosts(notifications_);
  }
  // The texts the service took, as "TO: TEXT".
  Calls texts() {
    Calls out;
    for (const auto& t : service_.texts()) out.push_back(t.to + ": " + t.text);
    return out;
  }
};

TEST_F(SendThreadTest, WorkersSendToEachInOrderStopAtTheFirstFailureAndReportOnce) {
  service_.addFault(
      {.path = std::string(kSmsPath) + "&n=16465550100", .count = 99, .sendSmsResponse = 1});
  service_.addFault(
      {.path = std::string(kSmsPath) + "&n=%2B16465550100", .count = 99, .sendSmsResponse = 1});
  sendSMS({"2125551212", "(646) 555-0100"}, "hi\n-- me", 42);
  EXPECT_EQ(waitForPosts(1), Calls{"Sent 42"});
  sendSMS({}, "nobody", 5);
  EXPECT_EQ(waitForPosts(2), (Calls{"Sent 42", "Sent 5"}));
  sendSMS({"16465550100", "12125551212"}, "lost", 4000000000u);
  EXPECT_EQ(waitForPosts(3), (Calls{"Sent 42", "Sent 5", "SendError 4000000000"}));
  EXPECT_EQ(texts(), (Calls{"2125551212: hi\n-- me", "(646) 555-0100: hi\n-- me"}));

  // iMessage: each participant's ID as the chat holds it; error 4 at the first failure.
  auto session = std::make_shared<SessionDouble>("iMessage");
  auto group = session->addChat("group", {"+13105550100", "+16465550100", "+12125551212"});
  SendiMsgThread::invokeForChat(group, chatMessage("iMessage", "hello"), "hello sig", gv_);
  EXPECT_EQ(session->waitForCalls(1), Calls{"error GUID-1 4 forced"});
  platform::setCurrentDateForTesting(8.0e8);
  auto chat = session->addChat("+12125551212", {"+12125551212"});
  SendiMsgThread::invokeForChat(chat, chatMessage("iMessage", "hi", "G-2"), "hi", gv_);
  EXPECT_EQ(session->waitForCalls(2), (Calls{"error GUID-1 4 forced", "delivered G-2"}));
  EXPECT_EQ(session->lastDeliveryDate().secondsSince2001, 8.0e8);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // nothing else may follow
  EXPECT_EQ(carrierPosts(notifications_).size(), 3u);
  EXPECT_EQ(session->calls().size(), 2u);
  EXPECT_EQ(texts(), (Calls{"2125551212: hi\n-- me", "(646) 555-0100: hi\n-- me",
                            "+13105550100: hello sig", "+12125551212: hi"}));
}

TEST_F(SendThreadTest, ConcurrencyWorkersForManyMessagesEachReportTheirOwnId) {
  std::set<std::string> expected;
  for (std::uint32_t id = 1; id <= 8; ++id) {
    sendSMS({"1212555010" + std::to_string(id)}, "x", id);
    expected.insert("Sent " + std::to_string(id));
  }
  const auto posts = waitForPosts(expected.size());
  EXPECT_EQ(posts.size(), expected.size());
  EXPECT_EQ(std::set<std::string>(posts.begin(), posts.end()), expected);
}

}  // namespace
}  // namespace pelorin::testing
