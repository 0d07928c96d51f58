#include "common/logger.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pelorin
