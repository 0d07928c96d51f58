// The received-SMS centre in-process: what a client sends, how the server
// hands records to the incoming handler, and the bootstrap library bound at
// run time when it is there.
#include "incoming/incoming_distributed_message_handler.h"

#include <filesystem>

#include "incoming/incoming_test_support.h"
#include "platform/dynamic_library.h"
#include "platform/rocketbootstrap.h"
#include "platform/testing/http_client_double.h"

namespace pelorin::testing {
namespace {

using ReceivedSMSCentreTest = IncomingTest;

TEST_F(ReceivedSMSCentreTest, PayloadsCarryTheTextFirstAndNothingWithoutIt) {
  recordCentre();
  EXPECT_TRUE(client_.sendSMSMessage("text", "sender"));
  client_.sendSMSMessage("text only", std::nullopt);
  client_.sendSMSMessage(std::nullopt, "sender without text");
  EXPECT_EQ(records(3), (Calls{"sender: text", "-: text only", "-: -"}));
}

// A record that needs no lookup is delivered at once; one whose lookup
// hangs holds neither the serving thread nor, beyond the bound, the records
// behind it: they are delivered in the order they came, the hung name as it
// came, and a name after it too (one lookup at a time).
using ReceivedSMSCentreConcurrencyTest = IncomingTest;

TEST_F(ReceivedSMSCentreConcurrencyTest, AHangingLookupHoldsRecordsAtMostItsBoundInOrder) {
  voice_.setUserName("someone@example.com");
  voice_.setPassword("secret");
  IncomingDistributedMessageHandler server(centre());
  ASSERT_TRUE(server.messagingCenter()->runServerOnCurrentThread());
  server.registerForSMSRecvd(handler_, 300ms);
  HttpClientDouble silent(true);  // released, ending the lookup, before the server goes
  const std::vector<std::pair<std::string, std::string>> records = {
      {"2125550000", "zero"}, {"Bob Example", "first"}, {"2125551212", "second"}, {"Ann", "third"}};
  for (const auto& [sender, text] : records) ASSERT_TRUE(client_.sendSMSMessage(text, sender));
  std::size_t deliveredWhileServing = 0;
  platform::RunLoop::current()->perform(
      [&] { deliveredWhileServing = carrierPosts(recorder_).size(); });
  ASSERT_TRUE(platform::RunLoop::current()->runUntil(
      [&] { return carrierPosts(recorder_).size() == records.size(); }, 10s));
  EXPECT_EQ(deliveredWhileServing, 1u);
  for (std::uint32_t i = 0; i < records.size(); ++i) {
    auto message = handler_.processIncomingMessage(IncomingMessageHandler::kFirstInjectedId + i);
    ASSERT_TRUE(message);
    EXPECT_EQ(describe(*message), records[i].first + "/1: " + records[i].second);
  }
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
}  // namespace pelorin::testing
