#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/file_lock.h"
#include "platform/property_list.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::platform {
namespace {

using namespace std::chrono_literals;

mode_t permissionsOf(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

TEST(FileLockTest, OneWriterAtATimeWithinTheBoundAndNeverThroughALink) {
  testing::TemporaryRoot root;
  setFileLockWaitForTesting(200ms);
  const std::string path = root.path("/prefs/x.plist");
  {
    const mode_t previous = ::umask(0);
    FileLock first = FileLock::acquire(path);
    ::umask(previous);
    ASSERT_TRUE(first.held()) << first.problem();
    EXPECT_EQ(permissionsOf(path + ".lock"), 0600u);

    const auto started = std::chrono::steady_clock::now();
    const FileLock second = FileLock::acquire(path);
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_FALSE(second.held());
    EXPECT_NE(second.problem().find(path + ".lock"), std::string::npos) << second.problem();
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 3s);

    // Writers replace the file itself; the lock beside it stays taken, also
    // when it moves. One moved over another lock frees that one.
    ASSERT_TRUE(writePropertyListAtomically(path, Value(Dictionary{{"a", 1}})));
    FileLock moved = std::move(first);
    FileLock other = FileLock::acquire(root.path("/prefs/y.plist"));
    other = std::move(moved);
    EXPECT_FALSE(first.held() || moved.held());
    EXPECT_TRUE(FileLock::acquire(root.path("/prefs/y.plist")).held());
    EXPECT_FALSE(FileLock::acquire(path).held());
  }
  EXPECT_TRUE(FileLock::acquire(path).held());  // released with its holder

  std::filesystem::create_symlink(root.path("/elsewhere"), root.path("/prefs/link.plist.lock"));
  ASSERT_EQ(::mkfifo(root.path("/prefs/fifo.plist.lock").c_str(), 0600), 0);
  for (const char* name : {"link.plist", "fifo.plist"}) {
    const FileLock refused = FileLock::acquire(root.path("/prefs/") + name);
    EXPECT_FALSE(refused.held()) << name;
    EXPECT_NE(refused.problem(), "") << name;
  }
  EXPECT_FALSE(std::filesystem::exists(root.path("/elsewhere")));
  setFileLockWaitForTesting(std::nullopt);
}

}  // namespace
}  // namespace pelorin::platform
