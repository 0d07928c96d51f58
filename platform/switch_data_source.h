#pragma once

#include <string>
#include <string_view>

namespace pelorin::platform {

// The switch host's data-source protocol: a switch bundle's principal class
// answers for the state of its switches and applies the state the user chose.
// The host calls these on one thread (its own); implementations must not
// throw.

// A switch state, as the host passes and expects it.
using FSSwitchState = int;
inline constexpr FSSwitchState FSSwitchStateOff = 0;
inline constexpr FSSwitchState FSSwitchStateOn = 1;
inline constexpr FSSwitchState FSSwitchStateIndeterminate = -1;

// Every operation has the host's default; a switch overrides what it needs.
class FSSwitchDataSource {
 public:
  FSSwitchDataSource() = default;
  FSSwitchDataSource(const FSSwitchDataSource&) = delete;
  FSSwitchDataSource& operator=(const FSSwitchDataSource&) = delete;
  virtual ~FSSwitchDataSource() = default;

  // The current state of the switch `switchIdentifier`. Default: indeterminate.
  virtual FSSwitchState stateForSwitchIdentifier(const std::string& switchIdentifier) {
    static_cast<void>(switchIdentifier);
    return FSSwitchStateIndeterminate;
  }

  // Puts the switch into `newState`. Default: nothing.
  virtual void applyState(FSSwitchState newState, const std::string& switchIdentifier) {
    static_cast<void>(newState);
    static_cast<void>(switchIdentifier);
  }

  // What a tap on the switch does. Default: flips it, off when it is on and
  // on otherwise (an indeterminate switch is switched on).
  virtual void applyActionForSwitchIdentifier(const std::string& switchIdentifier) {
    applyState(stateForSwitchIdentifier(switchIdentifier) == FSSwitchStateOn ? FSSwitchStateOff
                                                                             : FSSwitchStateOn,
               switchIdentifier);
  }
};

// A switch bundle is a folder NAME.bundle holding an "Info.plist" and the
// bundle's library. The property list names the switch identifier
// ("CFBundleIdentifier"), its title ("CFBundleDisplayName"), the principal
// class ("NSPrincipalClass") and the library's file name in the folder
// ("CFBundleExecutable"). The library exports, under the principal class's
// name, a C function of type SwitchDataSourceFactory.
inline constexpr std::string_view kSwitchFolder = "/Library/Switches";
inline constexpr std::string_view kSwitchInfoFile = "Info.plist";
inline constexpr std::string_view kSwitchIdentifierKey = "CFBundleIdentifier";
inline constexpr std::string_view kSwitchTitleKey = "CFBundleDisplayName";
inline constexpr std::string_view kSwitchPrincipalClassKey = "NSPrincipalClass";
inline constexpr std::string_view kSwitchExecutableKey = "CFBundleExecutable";

// The principal class's one instance, created by the first call. The bundle
// owns it and never destroys it; the host keeps the pointer for the life of
// the process. nullptr when it cannot be made.
using SwitchDataSourceFactory = FSSwitchDataSource*();

}  // namespace pelorin::platform
