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

class AccessNumberCacheTest : public ::testing::Test {
 protected:
  void writeFile(const std::map<std::string, std::string>& numbers) {
    platform::Dictionary file;
    for (const auto& [target, access] : numbers) file.emplace(target, platform::Value(access));
    ASSERT_TRUE(platform::writePropertyListAtomically(path(), platform::Value(file)));
  }

  std::optional<std::map<std::string, std::string>> fileContents() const {
    const auto file = platform::readDictionary(path());
    if (!file) return std::nullopt;
    std::map<std::string, std::string> numbers;
    for (const auto& [target, access] : *file) numbers[target] = *access.asString();
    return numbers;
  }

  std::size_t changeNotifications() const {
    std::size_t count = 0;
    for (const auto& name : notifications_.darwinPosts()) {
      count += name == kAccessNumberCacheChangedNotification;
    }
    return count;
  }

  static std::string path() { return resolvedPath(kAccessNumberCacheFile); }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder notifications_;
  AccessNumberCache cache_;
};

TEST_F(AccessNumberCacheTest, KeepsOneTargetPerAccessNumberAndOneAccessNumberPerTarget) {
  cache_.setEnableAccessNumberCache(true);
  cache_.addAccessNumber("A", "T1");
  cache_.addAccessNumber("A", "T2");
  EXPECT_EQ(cache_.accessNumber("T1"), std::nullopt);
  EXPECT_EQ(cache_.targetNumber("A"), "T2");

  cache_.addAccessNumber("A1", "T");
  cache_.addAccessNumber("A2", "T");
  EXPECT_EQ(cache_.accessNumber("T"), "A2");
  EXPECT_EQ(cache_.targetNumber("A1"), std::nullopt);

  const std::map<std::string, std::string> expected = {{"T2", "A"}, {"T", "A2"}};
  EXPECT_EQ(fileContents(), expected);
  EXPECT_EQ(changeNotifications(), 4u);
}

TEST_F(AccessNumberCacheTest, LookupPurgesTargetsSharingAnAccessNumber) {
  writeFile({{"T1", "A"}, {"T2", "A"}, {"T3", "B"}});
  cache_.setEnableAccessNumberCache(true);
  EXPECT_EQ(cache_.accessNumber("T1"), "A");
  EXPECT_EQ(cache_.targetNumber("A"), std::nullopt);
  const std::map<std::string, std::string> expected = {{"T3", "B"}};
  EXPECT_EQ(fileContents(), expected);
  EXPECT_EQ(changeNotifications(), 1u);
}

TEST_F(AccessNumberCacheTest, EnablingReloadsAndDisablingClearsTheSharedFile) {
  writeFile({{"T", "A"}});
  cache_.setEnableUseCarrierSMS(true);
  EXPECT_EQ(cache_.accessNumber("T"), "A");

  // Off by the carrier switch: nothing answers, the file stays.
  cache_.setEnableUseCarrierSMS(false);
  EXPECT_EQ(cache_.accessNumber("T"), std::nullopt);
  EXPECT_EQ(fileContents()->size(), 1u);

  // Another process changed the file: a reload picks it up.
  cache_.setEnableAccessNumberCache(true);
  writeFile({{"T", "B"}});
  cache_.readAccessNumberFile();
  EXPECT_EQ(cache_.accessNumber("T"), "B");

  cache_.setEnableAccessNumberCache(false);
  EXPECT_EQ(fileContents(), (std::map<std::string, std::string>{}));
  EXPECT_EQ(changeNotifications(), 1u);
}

TEST_F(AccessNumberCacheTest, UnreadableFileReadsAsEmpty) {
  root_.writeFile(std::string(kAccessNumberCacheFile), "not a property list");
  cache_.setEnableAccessNumberCache(true);
  EXPECT_EQ(cache_.accessNumber("T"), std::nullopt);
  cache_.addAccessNumber("A", "T");
  EXPECT_EQ(fileContents(), (std::map<std::string, std::string>{{"T", "A"}}));
}

// Two processes' caches over one file keep each other's pairs; while another
// writer holds the file's lock a change is given up, unwritten and unannounced.
TEST_F(AccessNumberCacheTest, OtherProcessesPairsAreKeptAndAHeldLockStopsAChange) {
  const std::map<std::string, std::string> both = {{"T1", "A1"}, {"T2", "A2"}};
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
  const std::string path = resolvedPath(kAccessNumberCacheFile);
  platform::Dictionary stored;
  stored.emplace("14155550001", platform::Value("14155553001"));
  stored.emplace("14155550002", platform::Value("14155553002"));
  for (int round = 0; round < 200; ++round) {
    ASSERT_TRUE(platform::writePropertyListAtomically(path, platform::Value(stored)));
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
    const auto file = platform::readDictionary(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 3u) << "round " << round;
    EXPECT_EQ(cache.accessNumber("14155550002"), "14155553002");
  }
}

}  // namespace
}  // namespace pelorin
