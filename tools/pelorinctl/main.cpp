// pelorinctl: the command-line tool for Pelorin and the simulated device.
#include <CLI/CLI.hpp>

#include <iostream>

#include "pelorin/version.h"
#include "tools/pelorinctl/commands.h"

namespace pelorin::ctl {

int& exitStatus() {
  static int status = 0;
  return status;
}

}  // namespace pelorin::ctl

int main(int argc, char** argv) {
  using namespace pelorin::ctl;
  CLI::App app{
      "pelorinctl: drives Pelorin and the simulated device: texts sent and pushed, the "
      "message store, alerts, settings, send rules, contacts, how a number would be routed, "
      "the Google Voice client and notifications. See pelorinctl(1)."};
  app.set_version_flag("--version", std::string("pelorinctl ") + pelorin::kPelorinVersion);
  app.require_subcommand(1);
  addNumberCommands(app);
  addRulesCommands(app);
  addGvCommands(app);
  addNotifyCommands(app);
  addContactsCommands(app);
  addRouteCommands(app);
  addSettingsCommands(app);
  addSendCommands(app);
  addPushCommands(app);
  addListingCommands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e, std::cout, std::cerr);
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "pelorinctl: " << e.what() << "\n";
    return 1;
  }
  return exitStatus();
}
