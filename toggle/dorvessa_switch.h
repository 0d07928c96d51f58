#pragma once

#include <string>

#include "platform/switch_data_source.h"

namespace pelorin {

// The switch that sends every text through Google Voice: its state is the
// settings key "enableOmniSend". Flipping it writes the key into the existing
// settings file and posts the settings notification, so the messaging
// daemon reads its settings again. The switch identifier is not examined.
// No fields; the operations run on the switch host's thread.
class DorvessaSwitch final : public platform::FSSwitchDataSource {
 public:
  // On when the settings file can be read and its "enableOmniSend" reads as
  // true; off otherwise (missing or unreadable file, missing key).
  platform::FSSwitchState stateForSwitchIdentifier(const std::string& switchIdentifier) override;

  // Indeterminate: nothing is written and nothing posted. Otherwise the key is
  // set (false for off, true for any other state) and the whole file written
  // back atomically, but only when it could be read: a missing file is never
  // created, and a file that cannot be read (not a dictionary, not a regular
  // file) is left as it is. The file's lock (platform/file_lock.h) is held
  // from the read to the write; when it cannot be had, nothing is written and
  // the switch reads unchanged. The settings notification is posted either
  // way.
  void applyState(platform::FSSwitchState newState, const std::string& switchIdentifier) override;
};

}  // namespace pelorin
