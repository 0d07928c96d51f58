#include "common/logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "common/names.h"
#include "platform/process_info.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "Pelorin 7 2.3-2 Log File\n";
constexpr std::string_view kSeparator = "****************************************\n";

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::setBundleIdentifier(std::nullopt); }
  void TearDown() override {
    Logger::sharedInstance().setEnableLogging(false);
    platform::setBundleIdentifier(std::nullopt);
  }
  std::string logFile() const { return root_.readFile(std::string(kLogFile)); }
  std::string path() const { return root_.path(std::string(kLogFile)); }

  platform::testing::TemporaryRoot root_;
};

// Entries are the separator, the message and the bundle identifier; the
// header comes only with the file's creation.
TEST_F(LoggerTest, EntriesAreWrittenOnlyWhileEnabled) {
  Logger::log("Phone %@ being checked for send mode", "12125551212");
  Logger::logData("recv sms:\n%@\n", "body");
  Logger::sharedInstance().logMessage("direct");
  EXPECT_FALSE(root_.exists(std::string(kLogFile)));

  Logger::enable();
  Logger::log("Phone %@ with mode %d", "12125551212", 1);
  platform::setBundleIdentifier("com.apple.MobileSMS");
  Logger::sharedInstance().logMessage("100% as given %@");
  Logger::logData("recv:%@", "caf\xC3\xA9");
  Logger::logData("recv:%@", "bad \xFF bytes");  // not UTF-8: the missing value
  const std::string entries =
      std::string(kSeparator) + "Phone 12125551212 with mode 1\n\n(null)\n\n" +
      std::string(kSeparator) + "100% as given %@\n\ncom.apple.MobileSMS\n\n" +
      std::string(kSeparator) + "recv:caf\xC3\xA9\n\ncom.apple.MobileSMS\n\n" +
      std::string(kSeparator) + "recv:(null)\n\ncom.apple.MobileSMS\n\n";
  EXPECT_EQ(logFile(), std::string(kHeader) + entries);

  root_.writeFile(std::string(kLogFile), "from another process\n");
  Logger::log("appended");
  EXPECT_EQ(logFile(), "from another process\n" + std::string(kSeparator) +
                           "appended\n\ncom.apple.MobileSMS\n\n");
}

// The log holds tokens and cookies: private, never written through a link
// (an existing target is kept, a dangling one not created) or into a folder.
TEST_F(LoggerTest, FileStaysPrivateAndLinksAreNotFollowed) {
  const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
  Logger::enable();
  Logger::log("Auth=secret");
  EXPECT_EQ(fs::status(path()).permissions() & fs::perms::all, ownerOnly);
  fs::permissions(path(), ownerOnly | fs::perms::group_read | fs::perms::others_read);
  Logger::log("gvx cookie");
  EXPECT_EQ(fs::status(path()).permissions() & fs::perms::all, ownerOnly);
  EXPECT_NE(logFile().find("gvx cookie"), std::string::npos);

  const std::string target = root_.path("/target.txt");
  fs::remove(path());
  fs::create_symlink(target, path());
  Logger::log("Auth=secret");
  EXPECT_FALSE(fs::exists(target));
  root_.writeFile("/target.txt", "kept\n");
  Logger::log("Auth=secret");
  EXPECT_EQ(root_.readFile("/target.txt"), "kept\n");
  fs::remove(path());
  fs::create_directory(path());
  Logger::log("Auth=secret");
  EXPECT_TRUE(fs::is_empty(path()));
}

// Loggers of their own share no lock, as in separate processes: the file
// gets exactly one header, at its start, and every entry.
TEST_F(LoggerTest, ConcurrencyRacingCreatorsWriteOneHeader) {
  for (int round = 0; round < 20; ++round) {
    fs::remove(path());
    std::vector<std::thread> writers;
    for (int i = 0; i < 4; ++i) {
      writers.emplace_back([] {
        Logger own;
        own.setEnableLogging(true);
        own.logMessage("entry");
      });
    }
    for (auto& writer : writers) writer.join();
    const std::string log = logFile();
    ASSERT_TRUE(log.starts_with(kHeader)) << "round " << round;
    EXPECT_EQ(log.find(kHeader, 1), std::string::npos) << "round " << round;
    std::size_t entries = 0;
    for (auto at = log.find("entry\n"); at != std::string::npos; at = log.find("entry\n", at + 1))
      ++entries;
    EXPECT_EQ(entries, 4u);
  }
}

}  // namespace
}  // namespace pelorin
