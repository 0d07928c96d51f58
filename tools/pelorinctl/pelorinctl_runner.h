#pragma once

#include <string>

namespace pelorin::ctl::testing {

// What a pelorinctl run printed on standard output, and its exit status.
struct CommandResult {
  int status;
  std::string out;
};

// Runs the built pelorinctl with `arguments` (already quoted for the shell),
// standard error discarded.
CommandResult runPelorinctl(const std::string& arguments);

}  // namespace pelorin::ctl::testing
