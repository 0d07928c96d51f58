#include "voice/access_number_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

using platform::Dictionary;

std::string path() {
  return resolvedPath(kAccessNumberCacheFile);
}

void writeFile(const Dictionary& numbers) {
  ASSERT_TRUE(platform::writePropertyListAtomically(path(), numbers));
}

std::optional<Dictionary> fileContents() {
  return platform::readDictionary(path());
}

class AccessNumberCacheTest : public ::testing::Test {
 protected:
  std::size_t changeNotifications() const {
    const auto posts = notifications_.darwinPosts();
    return std::count(posts.begin(), posts.end(), kAccessNumberCacheChangedNotification);
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder notifications_;
  AccessNumberCache cache_;
};

TEST_F(AccessNumberCacheTest, KeepsOneTargetPerAccessNumberAndOneAccessNumberPerTarget) {
  cache_.addAccessNumber("A", "T0");  // off: nothing recorded
  EXPECT_FALSE(fileContents());
  cache_.setEnableAccessNumberCache(true);
  cache_.addAccessNumber("A", "T1");
  cache_.addAccessNumber("A", "T2");
  EXPECT_EQ(cache_.accessNumber("T1"), std::nullopt);
  EXPECT_EQ(cache_.targetNumber("A"), "T2");
  cache_.addAccessNumber("A1", "T");
  cache_.addAccessNumber("A2", "T");
  EXPECT_EQ(cache_.accessNumber("T"), "A2");
  EXPECT_EQ(cache_.targetNumber("A1"), std::nullopt);
  EXPECT_EQ(fileContents(), (Dictionary{{"T2", "A"}, {"T", "A2"}}));
  EXPECT_EQ(changeNotifications(), 4u);

  // Targets sharing an access number, as another writer may leave them, are
  // all purged at the lookup.
  writeFile({{"T1", "A"}, {"T2", "A"}, {"T3", "B"}});
  cache_.readAccessNumberFile();
  EXPECT_EQ(cache_.accessNumber("T1"), "A");
  EXPECT_EQ(cache_.targetNumber("A"), std::nullopt);
  EXPECT_EQ(fileContents(), (Dictionary{{"T3", "B"}}));
  EXPECT_EQ(changeNotifications(), 5u);
}

TEST_F(AccessNumberCacheTest, EnablingReloadsAndDisablingClearsTheSharedFile) {
  root_.writeFile(std::string(kAccessNumberCacheFile), "not a property list");
  cache_.setEnableUseCarrierSMS(true);
  EXPECT_EQ(cache_.accessNumber("T"), std::nullopt);  // unreadable reads as empty
  cache_.addAccessNumber("A", "T");
  EXPECT_EQ(fileContents(), (Dictionary{{"T", "A"}}));

  // Off by the carrier switch: nothing answers, the file stays.
  cache_.setEnableUseCarrierSMS(false);
  EXPECT_EQ(cache_.accessNumber("T"), std::nullopt);
  EXPECT_EQ(fileContents(), (Dictionary{{"T", "A"}}));

  // Another process changed the file: switching on and a reload pick it up.
  writeFile({{"T", "B"}});
  cache_.setEnableAccessNumberCache(true);
  EXPECT_EQ(cache_.accessNumber("T"), "B");
  writeFile({{"T", "C"}});
  cache_.readAccessNumberFile();
  EXPECT_EQ(cache_.accessNumber("T"), "C");

  cache_.setEnableAccessNumberCache(false);
  EXPECT_EQ(fileContents(), Dictionary{});
  EXPECT_EQ(changeNotifications(), 2u);
}

// Two processes' caches over one file keep each other's pairs; while another
// writer holds the file's lock a change is given up, unwritten and unannounced.
TEST_F(AccessNumberCacheTest, OtherProcessesPairsAreKeptAndAHeldLockStopsAChange) {
  const Dictionary both = {{"T1", "A1"}, {"T2", "A2"}};
  AccessNumberCache other;
  cache_.setEnableAccessNumberCache(true);
  other.setEnableAccessNumberCache(true);
  cache_.addAccessNumber("A1", "T1");
  other.addAccessNumber("A2", "T2");
  EXPECT_EQ(fileContents(), both);
  EXPECT_EQ(other.accessNumber("T1"), "A1");

  platform::setFileLockWaitForTesting(std::chrono::milliseconds(50));
  {
    const auto otherWriter = platform::FileLock::acquire(path());
    cache_.addAccessNumber("A3", "T3");
    cache_.resetCache();
  }
  platform::setFileLockWaitForTesting(std::nullopt);
  EXPECT_EQ(fileContents(), both);
  EXPECT_EQ(cache_.accessNumber("T3"), std::nullopt);
  EXPECT_EQ(changeNotifications(), 2u);
}

// An addition racing the switch-on must land on top of the stored pairs,
// never write a one-entry file over them.
TEST(AccessNumberCacheConcurrencyTest, AdditionWhileSwitchingOnKeepsStoredPairs) {
  platform::testing::TemporaryRoot root;
  platform::testing::NotificationRecorder notifications;
  for (int round = 0; round < 200; ++round) {
    writeFile({{"14155550001", "14155553001"}, {"14155550002", "14155553002"}});
    AccessNumberCache cache;
    std::atomic<bool> go{false};
    std::thread adder([&] {
      while (!go.load()) std::this_thread::yield();
      while (!cache.enableAccessNumberCache()) {
      }
      cache.addAccessNumber("14155553009", "14155550009");
    });
    go = true;
    cache.setEnableAccessNumberCache(true);
    adder.join();
    ASSERT_EQ(fileContents().value_or(Dictionary{}).size(), 3u) << "round " << round;
    EXPECT_EQ(cache.accessNumber("14155550002"), "14155553002");
  }
}

}  // namespace
}  // namespace pelorin
