#pragma once

#include "common/common_utils.h"

namespace CLI {
class App;
}

// Each group of pelorinctl commands registers its subcommands on the app. A
// command's callback stores its exit status in exitStatus(): 0 success,
// 1 failure, 2 bad usage; errors go to standard error.
namespace pelorin::ctl {

int& exitStatus();

void addNumberCommands(CLI::App& app);    // number, prefix
void addRulesCommands(CLI::App& app);     // rules, auto-rules
void addGvCommands(CLI::App& app);        // gv
void addNotifyCommands(CLI::App& app);    // notify
void addRouteCommands(CLI::App& app);     // route
void addSettingsCommands(CLI::App& app);  // settings
void addSendCommands(CLI::App& app);      // send
void addPushCommands(CLI::App& app);      // push (the home-screen host)
void addListingCommands(CLI::App& app);   // messages, alerts

// contacts; and rules set / rules delete, under the rules command.
void addContactsCommands(CLI::App& app);
void addRulesEditCommands(CLI::App& rules);

// The name of a number type in output: invalid, special, us, international
// or shortcode (number and route).
const char* numberTypeName(PhoneNumberType type);

}  // namespace pelorin::ctl
