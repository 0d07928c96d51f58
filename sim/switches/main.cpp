// pelorin-switches: the stand-in for the switch panel. Loads every switch
// bundle under the root and reads or flips a switch through its data source,
// as the switch host does when the user looks at or taps it.
#include <CLI/CLI.hpp>

#include <iostream>
#include <nlohmann/json.hpp>

#include "pelorin/version.h"
#include "platform/switch_data_source.h"
#include "sim/switches/switch_panel.h"

namespace {

using pelorin::sim::LoadedSwitch;
using pelorin::sim::stateName;

struct Options {
  bool json = false;
  std::string identifier;
  std::string state;
};

// One switch as a line: its identifier, state and title, or a JSON object.
void print(const LoadedSwitch& loaded, bool json, bool withDetails) {
  const auto state = stateName(loaded.dataSource->stateForSwitchIdentifier(loaded.identifier));
  if (json) {
    nlohmann::json line{{"identifier", loaded.identifier}, {"state", state}};
    if (withDetails) {
      line["title"] = loaded.title;
      line["bundle"] = loaded.bundlePath;
    }
    std::cout << line.dump() << "\n";
  } else if (withDetails) {
    std::cout << loaded.identifier << "\t" << state << "\t" << loaded.title << "\n";
  } else {
    std::cout << state << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "pelorin-switches: the switch panel of the simulated device: lists, reads and flips the "
      "switches installed under PELORIN_ROOT. See pelorin-switches(1)."};
  app.set_version_flag("--version", std::string("pelorin-switches ") + pelorin::kPelorinVersion);
  app.require_subcommand(1);
  Options options;
  app.add_flag("--json", options.json, "One JSON object per line");

  auto* list = app.add_subcommand("list", "Every loaded switch: identifier, state, title");
  auto* state = app.add_subcommand("state", "Print the switch's state: on, off or indeterminate");
  auto* set = app.add_subcommand("set", "Apply a state to the switch, then print its state");
  auto* toggle = app.add_subcommand("toggle", "Tap the switch, then print its state");
  for (auto* command : {list, state, set, toggle})
    command->add_flag("--json", options.json, "One JSON object per line");
  for (auto* command : {state, set, toggle})
    command->add_option("id", options.identifier, "Switch identifier")->required();
  set->add_option("state", options.state, "on, off or indeterminate")
      ->required()
      ->check(CLI::IsMember({"on", "off", "indeterminate"}));

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e, std::cout, std::cerr);
    return 2;
  }

  const auto panel = pelorin::sim::SwitchPanel::load(std::cerr);
  if (list->parsed()) {
    for (const auto& loaded : panel.switches()) print(loaded, options.json, true);
    return 0;
  }
  const LoadedSwitch* loaded = panel.find(options.identifier);
  if (loaded == nullptr) {
    std::cerr << "pelorin-switches: no switch " << options.identifier << "\n";
    return 1;
  }
  if (set->parsed()) {
    loaded->dataSource->applyState(pelorin::sim::stateNamed(options.state), loaded->identifier);
  } else if (toggle->parsed()) {
    loaded->dataSource->applyActionForSwitchIdentifier(loaded->identifier);
  }
  print(*loaded, options.json, false);
  return 0;
}
