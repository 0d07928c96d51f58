#pragma once

#include <cstddef>

#include "platform/address_book.h"

namespace pelorin::rules_editor {

// What the contact picker tells its delegate. The two selection calls return
// whether the picker goes on: true shows the person's values (or, for a
// value, leaves the person shown), false means the delegate took the choice
// and dismissed the picker.
class PeoplePickerDelegate {
 public:
  virtual ~PeoplePickerDelegate() = default;
  virtual void peoplePickerNavigationControllerDidCancel() = 0;
  virtual bool shouldContinueAfterSelectingPerson(const platform::Person& person) = 0;
  virtual bool shouldContinueAfterSelectingPerson(const platform::Person& person,
                                                  platform::PersonProperty property,
                                                  std::size_t identifier) = 0;
};

}  // namespace pelorin::rules_editor
