// Names looked up on the recent-texts page of the stand-in service.
#include "incoming/contact_cache.h"

#include <thread>

#include "voice/gv_test_fixture.h"

namespace pelorin {
namespace {

class ContactCacheTest : public testing::GVServiceTest {
 protected:
  std::size_t pageFetches() {
    std::size_t count = 0;
    for (const auto& target : requestTargets()) count += target == "/voice/inbox/recent/sms";
    return count;
  }

  ContactCache cache_{gv_};
};

TEST_F(ContactCacheTest, ANameCostsOneFetchThenComesFromTheCache) {
  EXPECT_EQ(cache_.convertToPhoneNumber("Ann O'Brien"), "+14155550101");
  // Signed out at first: sign-in, then the page.
  EXPECT_EQ(pageFetches(), 1u);
  EXPECT_EQ(cache_.convertToPhoneNumber("Ann O'Brien"), "+14155550101");
  EXPECT_EQ(pageFetches(), 1u);
  // Entities on the page are decoded before names are compared.
  EXPECT_EQ(cache_.convertToPhoneNumber("Tom & Jerry <Cheese Co.>"), "+14155550102");
  EXPECT_EQ(pageFetches(), 2u);

  cache_.resetCache();
  EXPECT_EQ(cache_.convertToPhoneNumber("Ann O'Brien"), "+14155550101");
  EXPECT_EQ(pageFetches(), 3u);
}

TEST_F(ContactCacheTest, UnknownNamesComeBackUnchangedAndAreNotStored) {
  EXPECT_EQ(cache_.convertToPhoneNumber("Nobody Known"), "Nobody Known");
  EXPECT_EQ(cache_.convertToPhoneNumber("Nobody Known"), "Nobody Known");
  EXPECT_EQ(pageFetches(), 2u);
  EXPECT_EQ(cache_.convertToPhoneNumber(std::nullopt), std::nullopt);
  EXPECT_EQ(cache_.cacheContact("Nobody Known"), std::nullopt);
}

TEST_F(ContactCacheTest, ANameIsKeptWhenSignInFails) {
  gv_.setPassword("wrong");
  EXPECT_EQ(cache_.convertToPhoneNumber("Ann O'Brien"), "Ann O'Brien");
  EXPECT_EQ(pageFetches(), 0u);
}

TEST_F(ContactCacheTest, NumbersThatAreNoTextingNumbersAreNeverAnswered) {
  service_.addInboxEntry("Front Desk", "555-0100", "Reception");
  EXPECT_EQ(cache_.convertToPhoneNumber("Front Desk"), "Front Desk");
  EXPECT_EQ(cache_.convertToPhoneNumber("Front Desk"), "Front Desk");
  EXPECT_EQ(pageFetches(), 2u);  // the entry is stored but every request fetches again
}

// Two threads ask for names and reset the cache, as the centre's thread and
// the platform's incoming thread do.
TEST_F(ContactCacheTest, ConcurrencyOfLookupsAndResets) {
  auto worker = [this](const std::string& name, const std::string& number) {
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(cache_.convertToPhoneNumber(name), number);
      if (i % 3 == 0) cache_.resetCache();
    }
  };
  std::thread first(worker, "Ann O'Brien", "+14155550101");
  std::thread second(worker, "Sam \"Sparky\" Lee", "+14155550103");
  first.join();
  second.join();
}

}  // namespace
}  // namespace pelorin
