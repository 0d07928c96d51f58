// The received-SMS centre in-process: records from a client reach the
// incoming handler that the server registered, and the bootstrap library is
// bound at run time when it is there.
#include "incoming/incoming_distributed_message_handler.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/names.h"
#include "incoming/contact_cache.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "platform/dynamic_library.h"
#include "platform/rocketbootstrap.h"
#include "platform/run_loop.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"
#include "voice/access_number_cache.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using platform::Dictionary;

class ReceivedSMSCentreTest : public ::testing::Test {
 protected:
  ReceivedSMSCentreTest() { platform::setMessagingCenters(centres_.get()); }
  ~ReceivedSMSCentreTest() override { platform::setMessagingCenters(nullptr); }

  std::shared_ptr<platform::CPDistributedMessagingCenter> centre() {
    return platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName));
  }

  std::size_t announced() const {
    std::size_t count = 0;
    for (const auto& post : recorder_.localPosts())
      count += post.first == kCTMessageReceivedNotification;
    return count;
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder recorder_;
  std::unique_ptr<platform::MessagingCenterProvider> centres_ =
      platform::newInProcessMessagingCenters();
  GVInterface voice_{"https://127.0.0.1:1"};
  ContactCache contacts_{voice_};
  AccessNumberCache accessNumbers_;
  AutoRuleHandler autoRules_;
  IncomingMessageHandler handler_{{&contacts_, &accessNumbers_, &autoRules_, nullptr}};
};

TEST_F(ReceivedSMSCentreTest, ARecordFromAClientBecomesAnInjectedText) {
  IncomingDistributedMessageHandler server(centre());
  ASSERT_TRUE(server.messagingCenter()->runServerOnCurrentThread());
  server.registerForSMSRecvd(handler_);
  IncomingDistributedMessageHandler client(centre());

  EXPECT_TRUE(client.sendSMSMessage("hello", "2125551212"));
  ASSERT_TRUE(platform::RunLoop::current()->runUntil([&] { return announced() == 1; }, 2s));
  auto first = handler_.processIncomingMessage(IncomingMessageHandler::kFirstInjectedId);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->text(), "hello");
  EXPECT_EQ(first->sender()->digits(), "2125551212");
}

TEST_F(ReceivedSMSCentreTest, PayloadsCarryTheTextFirstAndNothingWithoutIt) {
  auto server = centre();
  ASSERT_TRUE(server->runServerOnCurrentThread());
  std::vector<std::pair<std::string, Dictionary>> received;
  server->registerForMessageName(
      std::string(kSMSReceivedMessageName),
      [&](const std::string& name, const Dictionary& info) { received.emplace_back(name, info); });
  IncomingDistributedMessageHandler client(centre());
  client.sendSMSMessage("text", "sender");
  client.sendSMSMessage("text only", std::nullopt);
  client.sendSMSMessage(std::nullopt, "sender without text");
  ASSERT_TRUE(platform::RunLoop::current()->runUntil([&] { return received.size() == 3; }, 2s));
  const std::string text(kSMSTextMessageKey);
  const std::string sender(kSMSSenderPhoneKey);
  EXPECT_EQ(received[0].first, "SMSReceived");
  EXPECT_EQ(received[0].second, (Dictionary{{text, "text"}, {sender, "sender"}}));
  EXPECT_EQ(received[1].second, (Dictionary{{text, "text only"}}));
  EXPECT_EQ(received[2].second, Dictionary{});
}

TEST_F(ReceivedSMSCentreTest, TheBootstrapLibraryIsBoundWhenItAppears) {
  // Missing: nothing happens, and the lookup is made again next time.
  IncomingDistributedMessageHandler::unlock();
  IncomingDistributedMessageHandler before(centre());

  const std::string library = root_.path(std::string(platform::kRocketBootstrapLibrary));
  std::filesystem::create_directories(std::filesystem::path(library).parent_path());
  std::filesystem::copy_file(ROCKETBOOTSTRAP, library);
  auto* calls = platform::findLibraryFunction<unsigned(const char*)>(
      library, "pelorin_rocketbootstrap_calls");
  auto* lastUnlocked = platform::findLibraryFunction<void(char*, unsigned)>(
      library, "pelorin_rocketbootstrap_last_unlocked");
  ASSERT_TRUE(calls && lastUnlocked);

  IncomingDistributedMessageHandler::unlock();
  IncomingDistributedMessageHandler client(centre());
  IncomingDistributedMessageHandler server(centre());
  EXPECT_EQ(calls("unlock"), 1u);
  EXPECT_EQ(calls("apply"), 2u);
  char name[64];
  lastUnlocked(name, sizeof name);
  EXPECT_STREQ(name, "com.talvern.PelorinSMSRecvCenter");
}

}  // namespace
}  // namespace pelorin
