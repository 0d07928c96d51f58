#include "voice/access_number_cache.h"

#include <vector>

#include "common/darwin_observer_redirect.h"
#include "common/logger.h"
#include "common/names.h"
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
  Text target;
  std::string description;
  std::size_t purged = 0;
  {
    std::lock_guard lock(accessNumbersLock_);
    if (!numberCache_) return std::nullopt;
    std::vector<std::string> targets;
    for (const auto& [key, value] : *numberCache_) {
      if (value == *accessNumber) targets.push_back(key);
    }
    if (targets.size() == 1) {
      target = targets.front();
      Logger::log("Target number %@ found for access number %@ in the cache", target, accessNumber);
    } else if (targets.size() > 1) {
      purged = removeTargetsOf(*accessNumber);
      writeFile();
      description = describeMap();
    }
  }
  if (purged > 0) announceChange(description);
  return target;
}

void AccessNumberCache::addAccessNumber(const Text& accessNumber, const Text& targetNumber) {
  if (!enableAccessNumberCache() || !accessNumber || !targetNumber) return;
  std::string description;
  {
    std::lock_guard lock(accessNumbersLock_);
    if (!numberCache_) numberCache_ = readNumberFile();
    removeTargetsOf(*accessNumber);
    (*numberCache_)[*targetNumber] = *accessNumber;
    writeFile();
    description = describeMap();
  }
  announceChange(description);
}

void AccessNumberCache::resetCache() {
  {
    std::lock_guard lock(accessNumbersLock_);
    if (!numberCache_) return;
    numberCache_->clear();
    writeFile();
  }
  DarwinObserverRedirect::postNotification(kAccessNumberCacheChangedNotification);
  Logger::log("Access number map is cleared");
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

void AccessNumberCache::announceChange(const std::string& mapDescription) {
  DarwinObserverRedirect::postNotification(kAccessNumberCacheChangedNotification);
  Logger::log("Access number map: %@", mapDescription);
}

}  // namespace pelorin
