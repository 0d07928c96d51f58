#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/text.h"

namespace pelorin {

// The automatic rules: the canonical numbers of people who wrote to the user
// through Google Voice. A number in the set goes through Google Voice when no
// send rule covers it. The set lives in the auto-rules file, written whole
// after each change and announced with its notification. Off until enabled.
//
// Each change holds the file's lock (platform/file_lock.h) from reading the
// file again to writing it, so numbers another process stored meanwhile are
// kept (and join the set). When the lock cannot be had, the change is not
// made: a log line says so, nothing is written and nothing posted.
class AutoRuleHandler {
 public:
  static AutoRuleHandler& sharedInstance();

  AutoRuleHandler() = default;
  AutoRuleHandler(const AutoRuleHandler&) = delete;
  AutoRuleHandler& operator=(const AutoRuleHandler&) = delete;

  // Stores the flag; on: reads the file; off: resetRules().
  void setEnableAutoSendRules(bool enable);
  bool enableAutoRules() const { return enableAutoRules_.load(std::memory_order_relaxed); }

  // When enabled, replaces the set with the file's array of texts (an empty
  // set when the file is missing or not an array; entries that are not texts
  // are skipped).
  void readRuleFile();

  // True when enabled and the canonical number is in the set.
  bool recipientFound(const Text& number);

  // When enabled and the number is valid for texting, adds its canonical form;
  // a new number rewrites the file and posts the change notification.
  void addRecipient(const Text& number);

  // Once the set has been loaded: empties the set and the file, then posts
  // the change notification.
  void resetRules();

 private:
  std::atomic<bool> enableAutoRules_{false};  // read without the lock

  // Taken after the file's lock, never before it.
  std::mutex sendRulesLock_;
  // Guarded by sendRulesLock_, as is every write of the file. Absent until
  // the first read.
  std::optional<std::set<std::string>> sendRules_;
};

}  // namespace pelorin
