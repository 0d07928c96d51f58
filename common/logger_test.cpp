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

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::setBundleIdentifier(std::nullopt); }
  void TearDown() override {
    Logger::sharedInstance().setEnableLogging(false);
    platform::setBundleIdentifier(std::nullopt);
  }
  std::string logFile() const { return root_.readFile(std::string(kLogFile)); }

  platform::testing::TemporaryRoot root_;
};

TEST_F(LoggerTest, DisabledLoggerCreatesNoFile) {
  Logger::log("Phone %@ being checked for send mode", "12125551212");
  Logger::logData("recv sms:\n%@\n", "body");
  Logger::sharedInstance().logMessage("direct");
  EXPECT_FALSE(root_.exists(std::string(kLogFile)));
}

TEST_F(LoggerTest, FirstEntryWritesTheHeaderAndLaterEntriesAppend) {
  Logger::enable();
  Logger::log("Phone %@ with mode %d", "12125551212", 1);
  platform::setBundleIdentifier("com.apple.MobileSMS");
  Logger::log("second");
  EXPECT_EQ(logFile(),
            "Pelorin 7 2.3-2 Log File\n"
            "****************************************\n"
            "Phone 12125551212 with mode 1\n\n"
            "(null)\n\n"
            "****************************************\n"
            "second\n\n"
            "com.apple.MobileSMS\n\n");
}

TEST_F(LoggerTest, ExistingFileIsAppendedToWithoutAHeader) {
  root_.writeFile(std::string(kLogFile), "from another process\n");
  Logger::enable();
  Logger::sharedInstance().logMessage("100% as given %@");
  EXPECT_EQ(logFile(),
            "from another process\n"
            "****************************************\n"
            "100% as given %@\n\n"
            "(null)\n\n");
}

TEST_F(LoggerTest, LogDataWritesTheMissingValueForInvalidUtf8) {
  Logger::enable();
  Logger::logData("recv sms:\n%@\n", "caf\xC3\xA9");
  Logger::logData("recv sms:\n%@\n", "bad \xFF bytes");
  const std::string log = logFile();
  EXPECT_NE(log.find("recv sms:\ncaf\xC3\xA9\n\n\n"), std::string::npos);
  EXPECT_NE(log.find("recv sms:\n(null)\n\n\n"), std::string::npos);
}

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "Pelorin 7 2.3-2 Log File\n";

TEST_F(LoggerTest, FileIsPrivateAndAnExistingOneIsMadePrivate) {
  Logger::enable();
  Logger::log("Auth=secret");
  const std::string path = root_.path(std::string(kLogFile));
  const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, ownerOnly);
  fs::permissions(path, ownerOnly | fs::perms::group_read | fs::perms::others_read);
  Logger::log("gvx cookie");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, ownerOnly);
  EXPECT_NE(logFile().find("gvx cookie"), std::string::npos);
}

// A link planted at the log path is never followed: an existing target is
// left as it was, a dangling one is not created; a folder there is not
// written into. The entries are dropped.
TEST_F(LoggerTest, PlantedLinksAndOtherFilesAreNotWrittenThrough) {
  const std::string path = root_.path(std::string(kLogFile));
  const std::string target = root_.path("/target.txt");
  fs::create_directories(fs::path(path).parent_path());
  Logger::enable();
  fs::create_symlink(target, path);  // dangling
  Logger::log("Auth=secret");
  EXPECT_FALSE(fs::exists(target));
  root_.writeFile("/target.txt", "kept\n");
  Logger::log("Auth=secret");
  EXPECT_EQ(root_.readFile("/target.txt"), "kept\n");
  fs::remove(path);
  fs::create_directory(path);
  Logger::log("Auth=secret");
  EXPECT_TRUE(fs::is_empty(path));
}

// Loggers of their own share no lock, as in separate processes: the file
// gets exactly one header, at its start, and every entry.
TEST_F(LoggerTest, ConcurrencyRacingCreatorsWriteOneHeader) {
  Logger::enable();
  for (int round = 0; round < 20; ++round) {
    fs::remove(root_.path(std::string(kLogFile)));
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
