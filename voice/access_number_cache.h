#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"

namespace pelorin {

// Which access number reaches which target number, in memory and in a
// property-list file shared by every process (target number -> access number,
// both canonical). Off after creation; while off it answers and records
// nothing. Every change rewrites the file and posts
// "com.talvern.GVAccessNumberCacheChangedNotification" (after the lock is
// released), so the other processes read it again.
//
// Each change holds the file's lock (platform/file_lock.h) from reading the
// file again to writing it, so pairs another process stored meanwhile are
// kept (and join the map). When the lock cannot be had, the change is not
// made: a log line says so, nothing is written and nothing posted.
//
// Invariant kept by the writers: an access number belongs to at most one
// target number, a target number has at most one access number.
//
// Thread-safe: one mutex guards the map and every read and write of the file.
class AccessNumberCache {
 public:
  AccessNumberCache();
  AccessNumberCache(const AccessNumberCache&) = delete;
  AccessNumberCache& operator=(const AccessNumberCache&) = delete;

  // true reloads the file; false clears the map and the file when a map is
  // loaded (for every process, since the file is shared).
  void setEnableAccessNumberCache(bool enable);
  // Sets the same flag; true reloads the file, false keeps map and file.
  void setEnableUseCarrierSMS(bool enable);
  bool enableAccessNumberCache() const { return enabled_.load(std::memory_order_relaxed); }

  // While enabled: replaces the map with the file's contents (empty when the
  // file is missing or unreadable).
  void readAccessNumberFile();

  // The access number of `targetNumber`; nil while disabled or unknown.
  Text accessNumber(const Text& targetNumber);

  // The single target number of `accessNumber` in whatever map is loaded
  // (the flag is not consulted). Several targets for one access number are
  // unreliable: they are all removed, the file rewritten, and nil returned.
  Text targetNumber(const Text& accessNumber);

  // While enabled: records the pair, removing every other target that had
  // `accessNumber`.
  void addAccessNumber(const Text& accessNumber, const Text& targetNumber);

  // When a map is loaded: empties it and the file.
  void resetCache();

 private:
  using NumberMap = std::map<std::string, std::string>;

  // Under the file's lock and then accessNumbersLock_: reloads the map from
  // the file and runs `change` on it; when that returns true, writes the file
  // and posts the change. The map's description for the log when written.
  std::optional<std::string> changeFile(const std::function<bool()>& change);
  // Caller holds accessNumbersLock_, with a map loaded. Every target of
  // `accessNumber`.
  std::vector<std::string> targetsOf(const std::string& accessNumber) const;
  // Caller holds accessNumbersLock_. Removes every target of `accessNumber`;
  // returns how many there were.
  std::size_t removeTargetsOf(const std::string& accessNumber);
  // Loads the file under the lock, then raises the flag.
  void enableAndLoad();
  void writeFile();
  std::string describeMap() const;

  std::atomic<bool> enabled_{false};

  // Taken after the file's lock, never before it.
  mutable std::mutex accessNumbersLock_;
  // Guarded by accessNumbersLock_:
  std::optional<NumberMap> numberCache_;
};

}  // namespace pelorin
