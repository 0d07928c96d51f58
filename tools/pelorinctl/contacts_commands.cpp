// pelorinctl contacts: fills and shows the address book from which the rules
// editor's contact picker takes a prefix.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <iostream>

#include "platform/address_book.h"
#include "tools/pelorinctl/commands.h"
#include "tools/pelorinctl/text_table.h"

namespace pelorin::ctl::contacts_detail {

struct ContactOptions {
  std::string name;
  std::vector<std::string> phones;
  std::vector<std::string> emails;
  bool json = false;
};

// "LABEL:VALUE" gives its own label (a word of letters); anything else is a
// bare value with the default label.
platform::LabeledValue labeled(const std::string& text, const char* defaultLabel) {
  const auto colon = text.find(':');
  if (colon != std::string::npos && colon > 0 &&
      std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon),
                  [](unsigned char c) { return std::isalpha(c) != 0; })) {
    return {text.substr(0, colon), text.substr(colon + 1)};
  }
  return {defaultLabel, text};
}

int addContact(const ContactOptions& options) {
  std::vector<platform::LabeledValue> phones;
  std::vector<platform::LabeledValue> emails;
  for (const auto& phone : options.phones) phones.push_back(labeled(phone, "mobile"));
  for (const auto& email : options.emails) emails.push_back(labeled(email, "home"));
  const auto id = platform::newSqliteAddressBook()->addPerson(options.name, phones, emails);
  if (!id) {
    std::cerr << "pelorinctl: cannot write the address book " << platform::addressBookPath()
              << "\n";
    return 1;
  }
  std::cout << "Added " << options.name << " (id " << *id << ")\n";
  return 0;
}

nlohmann::ordered_json valuesJson(const std::vector<platform::LabeledValue>& values) {
  auto array = nlohmann::ordered_json::array();
  for (const auto& v : values) array.push_back({{"label", v.label}, {"value", v.value}});
  return array;
}

int listContacts(const ContactOptions& options) {
  const auto people = platform::newSqliteAddressBook()->people();
  TextTable table({"NAME", "KIND", "LABEL", "VALUE"});
  for (const auto& person : people) {
    if (options.json) {
      const nlohmann::ordered_json object = {{"id", person.id},
                                             {"name", person.name},
                                             {"phones", valuesJson(person.phones)},
                                             {"emails", valuesJson(person.emails)}};
      std::cout << object.dump() << "\n";
      continue;
    }
    if (person.phones.empty() && person.emails.empty()) table.addRow({person.name, "-", "", ""});
    for (const auto& phone : person.phones)
      table.addRow({person.name, "phone", phone.label, phone.value});
    for (const auto& email : person.emails)
      table.addRow({person.name, "e-mail", email.label, email.value});
  }
  if (!options.json) people.empty() ? void(std::cout << "No contacts.\n") : table.print(std::cout);
  return 0;
}

}  // namespace pelorin::ctl::contacts_detail

namespace pelorin::ctl {

void addContactsCommands(CLI::App& app) {
  using namespace contacts_detail;
  auto* contacts = app.add_subcommand("contacts", "The address book the rules editor picks from");
  contacts->require_subcommand(1);

  auto addOptions = std::make_shared<ContactOptions>();
  auto* add =
      contacts->add_subcommand("add", "Add a person with phone numbers and e-mail addresses");
  add->add_option("name", addOptions->name, "The person's name")->required();
  add->add_option("--phone", addOptions->phones,
                  "A phone number, or LABEL:NUMBER (default label mobile)")
      ->allow_extra_args(false);
  add->add_option("--email", addOptions->emails,
                  "An e-mail address, or LABEL:ADDRESS (default label home)")
      ->allow_extra_args(false);
  add->callback([addOptions] { exitStatus() = addContact(*addOptions); });

  auto listOptions = std::make_shared<ContactOptions>();
  auto* list = contacts->add_subcommand("list", "List the people by name with their values");
  list->add_flag("--json", listOptions->json, "One JSON object per person");
  list->callback([listOptions] { exitStatus() = listContacts(*listOptions); });
}

}  // namespace pelorin::ctl
