// The library of Dorvessa.bundle: the switch host finds the principal class
// through this one exported function.
#include "toggle/dorvessa_switch.h"

extern "C" __attribute__((visibility("default"))) pelorin::platform::FSSwitchDataSource*
DorvessaSwitch() {
  static auto* const instance = new pelorin::DorvessaSwitch();
  return instance;
}
