#include "voice/access_number_cache.h"

#include <vector>

#include "common/darwin_observer_redirect.h"
#include "common/logger.h"
#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"

namespace pelorin {
namespace {

std::map<std::string, std::string> readNumberFile() {
  std::map<std::string, std::string> numbers;
  const auto file = platform::readDictionary(resolvedPath(kAccessNumberCacheFile));
  if (!file) return numbers;
  for (const auto& [target, value] : *file) {
    if (const std::string* access = value.asString()) numbers.emplace(target, *access);
  }
  return numbers;
}

}  // namespace

AccessNumberCache::AccessNumberCache() {
  readAccessNumberFile();
}

void AccessNumberCache::setEnableAccessNumberCache(bool enable) {
  if (enable) {
    enableAndLoad();
  } else {
    enabled_.store(false, std::memory_order_relaxed);
    resetCache();
  }
}

void AccessNumberCache::setEnableUseCarrierSMS(bool enable) {
  if (enable) {
    enableAndLoad();
  } else {
    enabled_.store(false, std::memory_order_relaxed);
  }
}

void AccessNumberCache::readAccessNumberFile() {
  if (!enableAccessNumberCache()) return;
  std::string description;
  {
    std::lock_guard lock(accessNumbersLock_);
    numberCache_ = readNumberFile();
    description = describeMap();
  }
  Logger::log("Access number map: %@", description);
}

// The map is loaded under the lock before the flag is raised: an addition
// that sees the flag then finds the stored entries, rather than an empty map
// it would write over the shared file.
void AccessNumberCache::enableAndLoad() {
  std::string description;
  {
    std::lock_guard lock(accessNumbersLock_);
    numberCache_ = readNumberFile();
    enabled_.store(true, std::memory_order_release);
    description = describeMap();
  }
  Logger::log("Access number map: %@", description);
}

Text AccessNumberCache::accessNumber(const Text& targetNumber) {
  if (!enableAccessNumberCache() || !targetNumber) return std::nullopt;
  std::lock_guard lock(accessNumbersLock_);
  if (!numberCache_) return std::nullopt;
  const auto it = numberCache_->find(*targetNumber);
  if (it == numberCache_->end()) return std::nullopt;
  return it->second;
}

Text AccessNumberCache::targetNumber(const Text& accessNumber) {
  if (!accessNumber) return std::nullopt;
  {
    std::lock_guard lock(accessNumbersLock_);
    if (!numberCache_) return std::nullopt;
    const auto targets = targetsOf(*accessNumber);
    if (targets.empty()) return std::nullopt;
    if (targets.size() == 1) {
      Logger::log("Target number %@ found for access number %@ in the cache", targets.front(),
                  accessNumber);
      return targets.front();
    }
  }
  const auto purged = changeFile(
      [&] { return targetsOf(*accessNumber).size() > 1 && removeTargetsOf(*accessNumber) > 0; });
  if (purged) Logger::log("Access number map: %@", *purged);
  return std::nullopt;
}

void AccessNumberCache::addAccessNumber(const Text& accessNumber, const Text& targetNumber) {
  if (!enableAccessNumberCache() || !accessNumber || !targetNumber) return;
  const auto added = changeFile([&] {
    removeTargetsOf(*accessNumber);
    (*numberCache_)[*targetNumber] = *accessNumber;
    return true;
  });
  if (added) Logger::log("Access number map: %@", *added);
}

void AccessNumberCache::resetCache() {
  {
    std::lock_guard lock(accessNumbersLock_);
    if (!numberCache_) return;
  }
  const auto cleared = changeFile([&] {
    numberCache_->clear();
    return true;
  });
  if (cleared) Logger::log("Access number map is cleared");
}

// The file's lock is taken before the mutex, so that lookups never wait on
// another process's writer.
std::optional<std::string> AccessNumberCache::changeFile(const std::function<bool()>& change) {
  const auto fileLock = platform::FileLock::acquire(resolvedPath(kAccessNumberCacheFile));
  if (!fileLock.held()) {
    Logger::log("Access number map not changed: %@", fileLock.problem());
    return std::nullopt;
  }
  std::string description;
  {
    std::lock_guard lock(accessNumbersLock_);
    numberCache_ = readNumberFile();  // with the pairs other processes stored
    if (!change()) return std::nullopt;
    writeFile();
    description = describeMap();
  }
  DarwinObserverRedirect::postNotification(kAccessNumberCacheChangedNotification);
  return description;
}

std::vector<std::string> AccessNumberCache::targetsOf(const std::string& accessNumber) const {
  std::vector<std::string> targets;
  for (const auto& [target, access] : *numberCache_) {
    if (access == accessNumber) targets.push_back(target);
  }
  return targets;
}

std::size_t AccessNumberCache::removeTargetsOf(const std::string& accessNumber) {
  std::size_t removed = 0;
  for (auto it = numberCache_->begin(); it != numberCache_->end();) {
    if (it->second == accessNumber) {
      it = numberCache_->erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  if (removed > 0) {
    Logger::log("%ld target numbers found for the access number %@ are being deleted",
                static_cast<long>(removed), accessNumber);
  }
  return removed;
}

// A failed write is not reported: the map keeps the change and the change is
// still announced, so the other processes reload whatever the file holds.
void AccessNumberCache::writeFile() {
  platform::Dictionary file;
  for (const auto& [target, access] : *numberCache_) file.emplace(target, platform::Value(access));
  platform::writePropertyListAtomically(resolvedPath(kAccessNumberCacheFile),
                                        platform::Value(std::move(file)));
}

std::string AccessNumberCache::describeMap() const {
  if (!Logger::sharedInstance().enableLogging()) return {};  // only the log reads it
  return numberCache_ ? platform::describeTextMap(*numberCache_) : "(null)";
}

}  // namespace pelorin
