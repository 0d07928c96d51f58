#include "tools/pelorinctl/commands.h"

namespace pelorin::ctl {

// Registered in a later step.
void addNotifyCommands(CLI::App&) {}

}  // namespace pelorin::ctl
