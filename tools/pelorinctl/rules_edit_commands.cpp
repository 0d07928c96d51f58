// pelorinctl rules set / delete: changes one rule the way the rules editor
// stores it (canonical prefix form as key, the whole file written atomically,
// then the rules-changed notification).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <iostream>

#include "rules_editor/rules_file.h"
#include "tools/pelorinctl/commands.h"

namespace pelorin::ctl::rules_edit_detail {

struct EditOptions {
  std::string prefix;
  std::string mode;
};

// The modes the editor offers: 0 or "carrier", 1 or "gv" / "google-voice".
std::optional<std::int32_t> parseMode(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (text == "0" || text == "carrier") return 0;
  if (text == "1" || text == "gv" || text == "google-voice") return 1;
  return std::nullopt;
}

int reportUnsaved(const rules_editor::RulesFile::Change& change) {
  std::cerr << "pelorinctl: the rules were not saved: " << change.problem << "\n";
  return 1;
}

int setRule(const EditOptions& options) {
  const auto mode = parseMode(options.mode);
  if (!mode) {
    std::cerr << "pelorinctl: MODE must be 0 (carrier) or 1 (gv)\n";
    return 2;
  }
  const auto change = rules_editor::RulesFile::setRule(options.prefix, *mode);
  if (!change.saved) return reportUnsaved(change);
  std::cout << "Rule " << change.key << ": " << (*mode == 0 ? "Carrier" : "Google Voice") << "\n";
  return 0;
}

int deleteRule(const EditOptions& options) {
  const auto change = rules_editor::RulesFile::deleteRule(options.prefix);
  if (!change.found) {
    std::cerr << "pelorinctl: no rule " << change.key << "\n";
    return 1;
  }
  if (!change.saved) return reportUnsaved(change);
  std::cout << "Deleted rule " << change.key << "\n";
  return 0;
}

}  // namespace pelorin::ctl::rules_edit_detail

namespace pelorin::ctl {

void addRulesEditCommands(CLI::App& rules) {
  using namespace rules_edit_detail;
  auto setOptions = std::make_shared<EditOptions>();
  auto* set = rules.add_subcommand(
      "set", "Store MODE (0 carrier, 1 gv) under the canonical form of PREFIX, as the editor does");
  set->add_option("prefix", setOptions->prefix, "The prefix as a person would type it")->required();
  set->add_option("mode", setOptions->mode, "0 or carrier, 1 or gv")->required();
  set->callback([setOptions] { exitStatus() = setRule(*setOptions); });

  auto deleteOptions = std::make_shared<EditOptions>();
  auto* del = rules.add_subcommand(
      "delete", "Delete the rule PREFIX (the key as listed, or its canonical form)");
  del->add_option("prefix", deleteOptions->prefix, "The rule's key or prefix")->required();
  del->callback([deleteOptions] { exitStatus() = deleteRule(*deleteOptions); });
}

}  // namespace pelorin::ctl
