// A contact's values as the rules editor's picker turns them into a prefix:
// a person with any phone numbers and an e-mail address, any choice. Only a
// phone number reaches the prefix field, as "+" and digits that the number
// itself holds (a "1" in front at most), and the key stored for it is digits.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/address_book.h"
#include "rules_editor/pelorin_rule_view_controller.h"
#include "rules_editor/prefix_forms.h"

namespace {

using pelorin::platform::LabeledValue;
using pelorin::platform::Person;

void require(bool condition) {
  if (!condition) std::abort();
}

bool allDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string digitsOf(std::string_view s) {
  std::string out;
  std::copy_if(s.begin(), s.end(), std::back_inserter(out),
               [](char c) { return c >= '0' && c <= '9'; });
  return out;
}

class OnePersonBook final : public pelorin::platform::AddressBook {
 public:
  std::vector<Person> people() override { return {person}; }
  std::optional<std::int64_t> addPerson(const std::string&, const std::vector<LabeledValue>&,
                                        const std::vector<LabeledValue>&) override {
    return std::nullopt;
  }
  Person person;
};

// The field after a phone number `number` was taken from the contact.
void requireTakenFrom(const std::string& field, const std::string& number) {
  require(field.starts_with('+'));
  const std::string rest = field.substr(1);
  require(allDigits(rest) && (rest == "1" || ("1" + digitsOf(number)).ends_with(rest)));
  const std::string key = pelorin::rules_editor::toCanonicalPhoneNumber(field);
  require(!key.empty() && allDigits(key));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t choice = data[0];
  // Phone numbers one per line; the last line is the e-mail address.
  std::vector<std::string> lines(1);
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += static_cast<char>(data[i]);
    }
  }
  OnePersonBook book;
  book.person = {1, "Fuzz", {}, {{"home", lines.back()}}};
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) book.person.phones.push_back({"", lines[i]});
  const auto& phones = book.person.phones;

  pelorin::rules_editor::PelorinRuleViewController rule(book);
  rule.setPrefix("untouched", 0);
  auto& picker = rule.abContactPicker();
  rule.btnClicked_AddContact();
  picker.selectPerson(0);
  if (phones.size() == 1) {
    require(!picker.isPresented());
    requireTakenFrom(rule.prefix(), phones.front().value);
    return 0;
  }
  require(picker.shownPerson() != nullptr && rule.prefix() == "untouched");
  const std::size_t entry = choice % (phones.size() + 1);  // the last one is the e-mail address
  picker.selectEntry(entry);
  if (entry == phones.size()) {
    require(picker.isPresented() && rule.pickerNotice() && rule.prefix() == "untouched");
  } else {
    require(!picker.isPresented());
    requireTakenFrom(rule.prefix(), phones[entry].value);
  }
  return 0;
}
