#include "toggle/dorvessa_switch.h"

#include "common/darwin_observer_redirect.h"
#include "common/names.h"
#include "platform/property_list.h"

namespace pelorin {

platform::FSSwitchState DorvessaSwitch::stateForSwitchIdentifier(const std::string&) {
  const auto settings = platform::readDictionary(resolvedPath(kSettingsFile));
  if (!settings) return platform::FSSwitchStateOff;
  const auto value = settings->find(std::string(settings::kEnableOmniSend));
  if (value == settings->end()) return platform::FSSwitchStateOff;
  return value->second.boolReading() ? platform::FSSwitchStateOn : platform::FSSwitchStateOff;
}

void DorvessaSwitch::applyState(platform::FSSwitchState newState, const std::string&) {
  if (newState == platform::FSSwitchStateIndeterminate) return;
  const std::string path = resolvedPath(kSettingsFile);
  if (auto settings = platform::readDictionary(path)) {
    (*settings)[std::string(settings::kEnableOmniSend)] =
        platform::Value(newState != platform::FSSwitchStateOff);
    // A failed write leaves the old file; the notification still tells the
    // readers to look, and they find the state unchanged.
    platform::writePropertyListAtomically(path, platform::Value(std::move(*settings)));
  }
  DarwinObserverRedirect::postNotification(kSettingsNotification);
}

}  // namespace pelorin
