#include "outgoing/auto_rule_handler.h"

#include <vector>

#include "common/common_utils.h"
#include "common/darwin_observer_redirect.h"
#include "common/logger.h"
#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"

namespace pelorin {
namespace {

// Writes the set as an array of texts; a failed write is not reported, the
// set in memory keeps the change.
void writeRules(const std::set<std::string>& rules) {
  platform::Array array(rules.begin(), rules.end());
  platform::writePropertyListAtomically(resolvedPath(kAutoRulesFile),
                                        platform::Value(std::move(array)));
}

std::set<std::string> readRules() {
  std::set<std::string> rules;
  if (auto array = platform::readArray(resolvedPath(kAutoRulesFile))) {
    for (const auto& item : *array) {
      if (const std::string* text = item.asString()) rules.insert(*text);
    }
  }
  return rules;
}

// The set as the log shows it; taken under the lock, only when logging is on.
std::string describeRules(const std::set<std::string>& rules) {
  if (!Logger::sharedInstance().enableLogging()) return {};
  return platform::describeTextSet(std::vector<std::string>(rules.begin(), rules.end()));
}

}  // namespace

AutoRuleHandler& AutoRuleHandler::sharedInstance() {
  static auto* const handler = new AutoRuleHandler();
  return *handler;
}

void AutoRuleHandler::setEnableAutoSendRules(bool enable) {
  if (!enable) {
    enableAutoRules_.store(false, std::memory_order_relaxed);
    resetRules();
    return;
  }
  // The set is loaded under the lock before the flag is raised: an addition
  // that sees the flag then finds the stored numbers, rather than an empty
  // set it would write over the shared file.
  std::string description;
  {
    std::lock_guard lock(sendRulesLock_);
    sendRules_ = readRules();
    enableAutoRules_.store(true, std::memory_order_release);
    description = describeRules(*sendRules_);
  }
  Logger::log("Set of rule keys: %@", description);
}

void AutoRuleHandler::readRuleFile() {
  if (!enableAutoRules()) return;
  std::string description;
  {
    std::lock_guard lock(sendRulesLock_);
    sendRules_ = readRules();
    description = describeRules(*sendRules_);
  }
  Logger::log("Set of rule keys: %@", description);
}

bool AutoRuleHandler::recipientFound(const Text& number) {
  if (!enableAutoRules() || !number) return false;
  std::lock_guard lock(sendRulesLock_);
  return sendRules_ && sendRules_->contains(*number);
}

void AutoRuleHandler::addRecipient(const Text& number) {
  if (!enableAutoRules() || !CommonUtils::isNumberValidforSMS(number)) return;
  const std::string canonical = *CommonUtils::toCanonicalPhoneNumber(number);
  {
    std::lock_guard lock(sendRulesLock_);
    if (sendRules_ && sendRules_->contains(canonical)) return;
  }
  // The file's lock before the mutex: lookups never wait on another writer.
  const auto fileLock = platform::FileLock::acquire(resolvedPath(kAutoRulesFile));
  if (!fileLock.held()) {
    Logger::log("Rule for %@ not added: %@", canonical, fileLock.problem());
    return;
  }
  std::string description;
  {
    std::lock_guard lock(sendRulesLock_);
    sendRules_ = readRules();  // with the numbers other processes added
    if (!sendRules_->insert(canonical).second) return;
    writeRules(*sendRules_);
    description = describeRules(*sendRules_);
  }
  DarwinObserverRedirect::postNotification(kAutoRulesChangedNotification);
  Logger::log("Set of rule keys: %@", description);
}

void AutoRuleHandler::resetRules() {
  {
    std::lock_guard lock(sendRulesLock_);
    if (!sendRules_) return;
  }
  const auto fileLock = platform::FileLock::acquire(resolvedPath(kAutoRulesFile));
  if (!fileLock.held()) {
    Logger::log("Automatic rules not cleared: %@", fileLock.problem());
    return;
  }
  {
    std::lock_guard lock(sendRulesLock_);
    sendRules_.emplace();
    writeRules(*sendRules_);
  }
  DarwinObserverRedirect::postNotification(kAutoRulesChangedNotification);
}

}  // namespace pelorin
