#include "toggle/dorvessa_switch.h"

#include "common/darwin_observer_redirect.h"
#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"

namespace pelorin {

platform::FSSwitchState DorvessaSwitch::stateForSwitchIdentifier(const std::string&) {
  const auto settings = platform::readDictionary(resolvedPath(kSettingsFile));
  if (!settings) return platform::FSSwitchStateOff;
  const auto value = settings->find(std::string(settings::kEnableOmniSend));
  if (value == settings->end()) return platform::FSSwitchStateOff;
  return value->second.boolReading() ? platform::FSSwitchStateOn : platform::FSSwitchStateOff;
}

namespace {

// Sets the key in the existing settings file, holding the file's lock from the
// read to the write so that a change another writer makes meanwhile is kept.
// A missing or unreadable file is left as it is; so is the file when the lock
// or the write fails, and the switch then reads unchanged.
void storeOmniSend(bool on) {
  const std::string path = resolvedPath(kSettingsFile);
  if (!platform::readDictionary(path)) return;  // nothing to lock for
  const auto lock = platform::FileLock::acquire(path);
  auto settings = lock.held() ? platform::readDictionary(path) : std::nullopt;
  if (!settings) return;
  (*settings)[std::string(settings::kEnableOmniSend)] = platform::Value(on);
  platform::writePropertyListAtomically(path, platform::Value(std::move(*settings)));
}

}  // namespace

void DorvessaSwitch::applyState(platform::FSSwitchState newState, const std::string&) {
  if (newState == platform::FSSwitchStateIndeterminate) return;
  storeOmniSend(newState != platform::FSSwitchStateOff);
  // Posted also when nothing was written: the readers look and find the state
  // unchanged.
  DarwinObserverRedirect::postNotification(kSettingsNotification);
}

}  // namespace pelorin
