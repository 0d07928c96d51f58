#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::platform {

// The tweak loader: at a host's start it loads into the process every tweak
// library meant for it. A tweak is NAME.so beside a NAME.plist whose "Filter"
// dictionary names the host by bundle identifier ("Bundles", an array of
// texts) or by process name ("Executables"). Loading runs the library's
// constructors, which are its start-up routine.

inline constexpr std::string_view kTweakFolder = "/Library/MobileSubstrate/DynamicLibraries";

struct TweakLoad {
  std::string name;  // NAME of NAME.so
  bool loaded = false;
  std::string error;  // why it did not load
};

// Whether a tweak's filter property list names the process.
bool filterMatches(const Value& filterPlist, const Text& bundleIdentifier,
                   std::string_view processName);

// Loads, in name order, every tweak under the root's tweak folder whose filter
// names this process (process_info.h), on the calling thread. A library that
// fails to load is reported on standard error and skipped; the others load.
// So is one whose filter file exists but cannot be read (not a property list,
// not a regular file, too large): it is never loaded. Returns what happened
// to each matching tweak and to each such one; others are not listed.
std::vector<TweakLoad> loadTweaks();

}  // namespace pelorin::platform
