// The received-SMS centre in-process: records from a client reach the
// incoming handler that the server registered, and the bootstrap library is
// bound at run time when it is there.
#include "incoming/incoming_distributed_message_handler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "common/names.h"
#include "incoming/contact_cache.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "platform/dynamic_library.h"
#include "platform/http_client.h"
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

// Holds every request until released, then fails it: a service that does
// not answer.
class UnansweringClient final : public platform::HttpClient {
 public:
  platform::HttpOutcome send(const platform::HttpRequest&) override {
    released_.wait();
    return {};
  }
  std::vector<platform::HttpCookie> cookies() override { return {}; }
  void release() { release_.set_value(); }

 private:
  std::promise<void> release_;
  std::shared_future<void> released_ = release_.get_future().share();
};

// A lookup that hangs holds no serving thread and the records behind it at
// most the bound: they are delivered in the order they came, the hung name
// as it came, and a name after it too (one lookup at a time).
using ReceivedSMSCentreConcurrencyTest = ReceivedSMSCentreTest;

TEST_F(ReceivedSMSCentreConcurrencyTest, AHangingLookupHoldsRecordsAtMostItsBoundInOrder) {
  UnansweringClient silent;
  platform::setHttpClient(&silent);
  voice_.setUserName("someone@example.com");
  voice_.setPassword("secret");
  IncomingDistributedMessageHandler server(centre());
  ASSERT_TRUE(server.messagingCenter()->runServerOnCurrentThread());
  server.registerForSMSRecvd(handler_, 300ms);
  IncomingDistributedMessageHandler client(centre());
  // Before the server goes (it waits for the lookup), the lookup ends.
  struct Release {
    UnansweringClient& client;
    ~Release() {
      client.release();
      platform::setHttpClient(nullptr);
    }
  } release{silent};
  const std::vector<std::pair<std::string, std::string>> records = {
      {"Bob Example", "first"}, {"2125551212", "second"}, {"Ann", "third"}};
  for (const auto& [sender, text] : records) ASSERT_TRUE(client.sendSMSMessage(text, sender));
  bool servedBeforeAnyDelivery = false;
  platform::RunLoop::current()->perform([&] { servedBeforeAnyDelivery = announced() == 0; });

  ASSERT_TRUE(platform::RunLoop::current()->runUntil([&] { return announced() == 3; }, 10s));
  EXPECT_TRUE(servedBeforeAnyDelivery);
  for (std::uint32_t i = 0; i < records.size(); ++i) {
    auto message = handler_.processIncomingMessage(IncomingMessageHandler::kFirstInjectedId + i);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text(), records[i].second);
    EXPECT_EQ(message->sender()->digits(), records[i].first);
  }
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
