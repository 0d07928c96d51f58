#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/format.h"

namespace pelorin {

// The system's diagnostic log: one plain-text file that every process appends
// to, off until the settings switch it on. Each entry is a separator line, the
// message and the process's bundle identifier, so entries of different
// processes can be told apart. One instance per process (per tweak library).
class Logger {
 public:
  static Logger& sharedInstance();

  // Turns logging on in the shared logger.
  static void enable();

  // When logging is on, fills the printf-like format (with "%@" for texts and
  // objects) and writes the entry. A disabled logger costs one flag test.
  template <class... Args>
  static void log(std::string_view format, const Args&... args) {
    Logger& logger = sharedInstance();
    if (!logger.enableLogging()) return;
    logger.logMessage(platform::format(format, args...));
  }

  // When logging is on, decodes `data` as UTF-8 (invalid bytes give the
  // missing-value rendering "(null)") and writes `format` filled with it.
  static void logData(std::string_view format, std::string_view data);

  void setEnableLogging(bool enable) { enableLogging_.store(enable, std::memory_order_relaxed); }
  bool enableLogging() const { return enableLogging_.load(std::memory_order_relaxed); }

  // Writes one entry with `message` verbatim (never used as a format). The
  // file is created 0600 with its header line on first use; a link, a file
  // that is not a regular file of this user, and failed writes drop the entry.
  void logMessage(std::string_view message);

 private:
  std::atomic<bool> enableLogging_{false};
  std::mutex entryMutex_;  // keeps this process's entries whole
};

}  // namespace pelorin
