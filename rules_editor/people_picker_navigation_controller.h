#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/address_book.h"
#include "rules_editor/people_picker_delegate.h"

namespace pelorin::rules_editor {

// The contact picker: the people of the address book by name; choosing one
// asks the delegate, which may take the person at once or let the picker show
// the person's values (phone numbers, then e-mail addresses) to choose one.
class PeoplePickerNavigationController {
 public:
  // One row of a shown person: the property and position of a value.
  struct Entry {
    platform::PersonProperty property;
    std::size_t identifier;
    const platform::LabeledValue* value;  // valid while the person is shown
  };

  PeoplePickerNavigationController(platform::AddressBook& addressBook,
                                   PeoplePickerDelegate& delegate)
      : addressBook_(addressBook), delegate_(delegate) {}

  // Reads the people from the book and shows their list.
  void present();
  void dismiss();
  bool isPresented() const { return presented_; }

  const std::vector<platform::Person>& people() const { return people_; }
  // The person whose values are shown, or nothing while the list is shown.
  const platform::Person* shownPerson() const;
  std::vector<Entry> entries() const;

  // The user's moves; out-of-range positions do nothing.
  void selectPerson(std::size_t index);
  void selectEntry(std::size_t index);
  void back();    // from a person back to the list
  void cancel();  // tells the delegate

 private:
  platform::AddressBook& addressBook_;
  PeoplePickerDelegate& delegate_;
  bool presented_ = false;
  std::vector<platform::Person> people_;
  std::optional<std::size_t> shown_;
};

}  // namespace pelorin::rules_editor
