// pelorinctl rules / auto-rules: which rule decides a number, and what the
// rules files hold.
#include <CLI/CLI.hpp>

#include <iostream>

#include "common/names.h"
#include "outgoing/send_rule_handler.h"
#include "platform/json_object.h"
#include "platform/property_list.h"
#include "tools/pelorinctl/commands.h"
#include "tools/pelorinctl/text_table.h"

namespace pelorin::ctl {

using platform::JsonObject;
namespace rules_detail {

struct Options {
  std::string rulesFile;
  std::vector<std::string> numbers;
  bool json = false;
};

std::string rulesPath(const Options& options) {
  return options.rulesFile.empty() ? resolvedPath(kRulesFile) : options.rulesFile;
}

// The root of a rules file, when it can be used. The default file not
// existing means there are no rules yet; any other failure (a named file
// missing, a folder, unreadable, not a property list, another root kind) is
// told on standard error and yields nullopt.
std::optional<platform::Value> readRulesFile(const std::string& path, bool named,
                                             platform::Value::Kind kind, const char* what) {
  auto read = platform::readPropertyListFile(path);
  std::string problem = std::move(read.problem);
  if (read.value && read.value->kind() == kind) return std::move(read.value);
  if (read.value) {
    problem = kind == platform::Value::Kind::kArray ? "its root is not an array"
                                                    : "its root is not a dictionary";
  } else if (read.missing && !named) {
    return kind == platform::Value::Kind::kArray ? platform::Value(platform::Array{})
                                                 : platform::Value(platform::Dictionary{});
  }
  std::cerr << "pelorinctl: cannot read the " << what << " file " << path << ": " << problem
            << "\n";
  return std::nullopt;
}

std::optional<platform::Value> readSendRules(const Options& options) {
  return readRulesFile(rulesPath(options), !options.rulesFile.empty(),
                       platform::Value::Kind::kDictionary, "send rules");
}

// How the rules editor names a mode.
const char* modeName(SendMode mode) {
  if (mode == SendModeCarrier) return "Carrier";
  if (mode == SendModeGoogleVoice) return "Google Voice";
  return "(Unknown)";
}

bool matchNumbers(const Options& options) {
  if (!readSendRules(options)) return false;
  SendRuleHandler handler(rulesPath(options));
  TextTable table({"NUMBER", "RULE", "MODE"});
  for (const auto& number : options.numbers) {
    const auto match = handler.matchRule(number);
    if (options.json) {
      std::cout
          << JsonObject().add("number", number).add("key", match.key).add("mode", match.mode).str()
          << "\n";
    } else {
      table.addRow(
          {number, match.key.value_or("(none)"),
           match.key ? std::to_string(match.mode) + " " + modeName(match.mode) : "-1 no rule"});
    }
  }
  if (!options.json) table.print(std::cout);
  return true;
}

bool listRules(const Options& options) {
  const auto file = readSendRules(options);
  if (!file) return false;
  const platform::Dictionary& rules = *file->asDictionary();
  TextTable table({"PREFIX", "MODE"});
  for (const auto& [key, value] : rules) {  // byte order, as the editor shows them
    const SendMode mode = value.int32Reading();
    if (options.json) {
      std::cout << JsonObject().add("key", key).add("mode", mode).add("name", modeName(mode)).str()
                << "\n";
    } else {
      table.addRow({key, modeName(mode)});
    }
  }
  if (!options.json) rules.empty() ? void(std::cout << "No send rules.\n") : table.print(std::cout);
  return true;
}

bool listAutoRules(const Options& options) {
  const auto file = readRulesFile(resolvedPath(kAutoRulesFile), false,
                                  platform::Value::Kind::kArray, "automatic rules");
  if (!file) return false;
  const platform::Array& array = *file->asArray();
  TextTable table({"NUMBER"});
  std::size_t count = 0;
  for (const auto& item : array) {
    const std::string* number = item.asString();
    if (!number) continue;
    ++count;
    if (options.json) {
      std::cout << JsonObject().add("number", *number).str() << "\n";
    } else {
      table.addRow({*number});
    }
  }
  if (!options.json)
    count == 0 ? void(std::cout << "No automatic rules.\n") : table.print(std::cout);
  return true;
}

}  // namespace rules_detail

void addRulesCommands(CLI::App& app) {
  using namespace rules_detail;
  auto options = std::make_shared<Options>();
  auto run = [](auto action, std::shared_ptr<Options> o) {
    return [action, o] { exitStatus() = action(*o) ? 0 : 1; };
  };

  CLI::App* rules = app.add_subcommand("rules", "The per-prefix send rules");
  rules->require_subcommand(1);
  CLI::App* match =
      rules->add_subcommand("match", "Show the rule and mode that decide each number, as given");
  match->add_flag("--json", options->json, "One JSON object per line, in argument order");
  match->add_option("--rules-file", options->rulesFile,
                    "Rules file (XML or binary); default: the one under the root");
  match->add_option("numbers", options->numbers, "Numbers in canonical form")->required();
  match->callback(run(matchNumbers, options));

  CLI::App* list = rules->add_subcommand("list", "List the send rules in display order");
  list->add_flag("--json", options->json, "One JSON object per rule");
  list->add_option("--rules-file", options->rulesFile,
                   "Rules file; default: the one under the root");
  list->callback(run(listRules, options));
  addRulesEditCommands(*rules);

  CLI::App* autoRules = app.add_subcommand(
      "auto-rules", "The automatic rules (numbers that wrote through Google Voice)");
  autoRules->require_subcommand(1);
  CLI::App* autoList = autoRules->add_subcommand("list", "List the automatic rules");
  autoList->add_flag("--json", options->json, "One JSON object per number");
  autoList->callback(run(listAutoRules, options));
}

}  // namespace pelorin::ctl
