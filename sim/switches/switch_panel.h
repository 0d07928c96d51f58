#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "platform/switch_data_source.h"

namespace pelorin::sim {

// One switch of a loaded bundle. The data source belongs to the bundle and
// lives as long as the process.
struct LoadedSwitch {
  std::string identifier;
  std::string title;
  std::string bundlePath;
  platform::FSSwitchDataSource* dataSource = nullptr;
};

// The stand-in for the switch host: the switch bundles found under the root's
// switch folder, loaded into this process as the host loads them.
class SwitchPanel {
 public:
  // Loads, in name order, every NAME.bundle folder under <root>/Library/Switches:
  // reads its Info.plist, opens its library and asks the principal class's
  // factory for the data source. A bundle that cannot be loaded, or whose
  // identifier an earlier bundle already has, is reported on `errors` and
  // skipped. A missing switch folder means no switches.
  static SwitchPanel load(std::ostream& errors);

  const std::vector<LoadedSwitch>& switches() const { return switches_; }

  // The switch with `identifier`, or nullptr.
  const LoadedSwitch* find(std::string_view identifier) const;

 private:
  std::vector<LoadedSwitch> switches_;
};

// "on", "off" or "indeterminate" (any state other than on and off), and back;
// stateNamed() gives indeterminate for an unknown name.
std::string_view stateName(platform::FSSwitchState state);
platform::FSSwitchState stateNamed(std::string_view name);

}  // namespace pelorin::sim
