#include "rules_editor/people_picker_navigation_controller.h"

namespace pelorin::rules_editor {

using platform::PersonProperty;

void PeoplePickerNavigationController::present() {
  people_ = addressBook_.people();
  shown_.reset();
  presented_ = true;
}

void PeoplePickerNavigationController::dismiss() {
  presented_ = false;
  shown_.reset();
}

const platform::Person* PeoplePickerNavigationController::shownPerson() const {
  return shown_ ? &people_[*shown_] : nullptr;
}

std::vector<PeoplePickerNavigationController::Entry> PeoplePickerNavigationController::entries()
    const {
  std::vector<Entry> result;
  const platform::Person* person = shownPerson();
  if (!person) return result;
  for (const auto property : {PersonProperty::kPhone, PersonProperty::kEmail}) {
    const auto& values = person->values(property);
    for (std::size_t i = 0; i < values.size(); ++i) result.push_back({property, i, &values[i]});
  }
  return result;
}

void PeoplePickerNavigationController::selectPerson(std::size_t index) {
  if (!presented_ || shown_ || index >= people_.size()) return;
  // The delegate may dismiss the picker; keep the person alive meanwhile.
  const platform::Person person = people_[index];
  if (delegate_.shouldContinueAfterSelectingPerson(person) && presented_) shown_ = index;
}

void PeoplePickerNavigationController::selectEntry(std::size_t index) {
  const auto all = entries();
  if (!presented_ || index >= all.size()) return;
  const platform::Person person = people_[*shown_];
  delegate_.shouldContinueAfterSelectingPerson(person, all[index].property, all[index].identifier);
}

void PeoplePickerNavigationController::back() {
  shown_.reset();
}

void PeoplePickerNavigationController::cancel() {
  if (presented_) delegate_.peoplePickerNavigationControllerDidCancel();
}

}  // namespace pelorin::rules_editor
