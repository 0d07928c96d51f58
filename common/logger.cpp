#include "common/logger.h"

#include "common/names.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "platform/utf16.h"

namespace pelorin {
namespace {

constexpr std::string_view kSeparator = "****************************************\n";

std::string headerLine() {
  return platform::format("%@ %@ Log File\n", "Pelorin 7", "2.3-2");
}

}  // namespace

Logger& Logger::sharedInstance() {
  static Logger* const logger = new Logger();
  return *logger;
}

void Logger::enable() {
  sharedInstance().setEnableLogging(true);
}

void Logger::logData(std::string_view format, std::string_view data) {
  Logger& logger = sharedInstance();
  if (!logger.enableLogging()) return;
  Text decoded;
  if (platform::isValidUtf8(data)) decoded = std::string(data);
  logger.logMessage(platform::format(format, decoded));
}

void Logger::logMessage(std::string_view message) {
  if (!enableLogging()) return;
  std::string entry;
  entry.reserve(kSeparator.size() + message.size() + 64);
  entry += kSeparator;
  entry += platform::format("%@\n\n", message);
  entry += platform::format("%@\n\n", platform::bundleIdentifier());

  // The file holds sign-in replies and cookies: private, never through a
  // link, the header written only by the process that creates it.
  const std::string path = resolvedPath(kLogFile);
  std::lock_guard lock(entryMutex_);
  platform::appendToPrivateFile(path, headerLine(), entry);
}

}  // namespace pelorin
