// pelorinctl number / prefix: how the system reads a phone number, and the
// rules editor's forms of a prefix.
#include <CLI/CLI.hpp>

#include <iostream>

#include "common/common_utils.h"
#include "platform/json_object.h"
#include "rules_editor/prefix_forms.h"
#include "tools/pelorinctl/commands.h"
#include "tools/pelorinctl/text_table.h"

namespace pelorin::ctl {

using platform::JsonObject;
namespace number_detail {

struct Options {
  std::vector<std::string> texts;
  bool json = false;
};

void printNumbers(const Options& options) {
  TextTable table({"INPUT", "TYPE", "CANONICAL", "INTERNATIONAL", "SMS"});
  for (const auto& text : options.texts) {
    const auto forms = CommonUtils::numberForms(text);
    const bool validForSMS = forms.type > PhoneNumberTypeSpecial;
    if (options.json) {
      std::cout << JsonObject()
                       .add("input", text)
                       .add("type", numberTypeName(forms.type))
                       .add("canonical", forms.canonical)
                       .add("international", forms.international)
                       .add("validForSMS", validForSMS)
                       .str()
                << "\n";
    } else {
      table.addRow({text, numberTypeName(forms.type), forms.canonical.value_or(""),
                    forms.international.value_or(""), validForSMS ? "yes" : "no"});
    }
  }
  if (!options.json) table.print(std::cout);
}

void printPrefixes(const Options& options) {
  TextTable table({"INPUT", "CANONICAL", "INTERNATIONAL"});
  for (const auto& text : options.texts) {
    const std::string canonical = rules_editor::toCanonicalPhoneNumber(text);
    const std::string international = rules_editor::toInternationalPhoneNumber(text);
    if (options.json) {
      std::cout << JsonObject()
                       .add("input", text)
                       .add("canonical", canonical)
                       .add("international", international)
                       .str()
                << "\n";
    } else {
      table.addRow({text, canonical, international});
    }
  }
  if (!options.json) table.print(std::cout);
}

void addTextCommand(CLI::App& app, const char* name, const char* description,
                    void (*print)(const Options&)) {
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(name, description);
  command->add_flag("--json", options->json, "One JSON object per line, in argument order");
  command
      ->add_option("texts", options->texts, "Texts to read (use -- before texts that begin with -)")
      ->required();
  command->callback([options, print] {
    print(*options);
    exitStatus() = 0;
  });
}

}  // namespace number_detail

void addNumberCommands(CLI::App& app) {
  using namespace number_detail;
  addTextCommand(app, "number",
                 "Classify phone numbers and show their canonical and international forms",
                 printNumbers);
  addTextCommand(app, "prefix",
                 "Show the rules editor's canonical and international forms of prefixes",
                 printPrefixes);
}

const char* numberTypeName(PhoneNumberType type) {
  switch (type) {
    case PhoneNumberTypeSpecial:
      return "special";
    case PhoneNumberTypeUS:
      return "us";
    case PhoneNumberTypeInternational:
      return "international";
    case PhoneNumberTypeShortCode:
      return "shortcode";
    default:
      return "invalid";
  }
}

}  // namespace pelorin::ctl
