#pragma once

#include <string>
#include <string_view>

namespace pelorin::platform {

// Every fixed path of the system ("/var/mobile/...", "/var/tmp/...",
// "/usr/lib/...", "/Library/...") lives under a root folder taken from the
// environment variable PELORIN_ROOT (default "/"), so that tests and the demo
// run in a folder of their own. The variable is read on every call.
std::string rootFolder();

// `absolutePath` (which begins with "/") placed under the root folder.
std::string resolvePath(std::string_view absolutePath);

}  // namespace pelorin::platform
