// Names looked up on the recent-texts page of the stand-in service.
#include "incoming/contact_cache.h"

#include <thread>

#include "voice/gv_test_fixture.h"

namespace pelorin::testing {
namespace {

class ContactCacheTest : public GVServiceTest {
 protected:
  std::size_t pageFetches() {
    const auto targets = requestTargets();
    return std::count(targets.begin(), targets.end(), "/voice/inbox/recent/sms");
  }

  ContactCache cache_{gv_};
};

TEST_F(ContactCacheTest, ANameCostsOneFetchThenComesFromTheCacheUntilReset) {
  service_.addInboxEntry("Front Desk", "555-0100", "Reception");
  struct Row {
    Text name, answer;
    std::size_t fetches;  // so far
  };
  const Row rows[] = {
      {"Ann O'Brien", "+14155550101", 1},  // signed out at first: sign-in, then the page
      {"Ann O'Brien", "+14155550101", 1},
      {"Tom & Jerry <Cheese Co.>", "+14155550102", 2},  // entities decoded before comparing
      {"Nobody Known", "Nobody Known", 3},              // unknown: unchanged, not stored
      {"Nobody Known", "Nobody Known", 4},
      {"Front Desk", "Front Desk", 5},  // no number for texting: never answered
      {"Front Desk", "Front Desk", 6},
      {std::nullopt, std::nullopt, 6},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(cache_.convertToPhoneNumber(row.name), row.answer);
    EXPECT_EQ(pageFetches(), row.fetches) << row.name.value_or("(none)");
  }
  EXPECT_EQ(cache_.cacheContact("Nobody Known"), std::nullopt);
  cache_.resetCache();
  EXPECT_EQ(cache_.convertToPhoneNumber("Ann O'Brien"), "+14155550101");
  EXPECT_EQ(pageFetches(), 8u);
  // A failed sign-in keeps the name, without asking for the page.
  ContactCache other(gv_);
  gv_.logOut();
  gv_.setPassword("wrong");
  EXPECT_EQ(other.convertToPhoneNumber("Ann O'Brien"), "Ann O'Brien");
  EXPECT_EQ(pageFetches(), 8u);
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
}  // namespace pelorin::testing
