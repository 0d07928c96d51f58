#include "rules_editor/pelorin_rule_view_controller.h"

#include "rules_editor/prefix_forms.h"

namespace pelorin::rules_editor {

using platform::PersonProperty;

PelorinRuleViewController::PelorinRuleViewController(platform::AddressBook& addressBook)
    : abContactPicker_(addressBook, *this) {}

void PelorinRuleViewController::setPrefix(const std::string& prefix, std::int32_t mode) {
  txtPrefix_ = prefix;
  if (mode == 0 || mode == 1) {
    segMode_ = mode;
  } else {
    segMode_ = kNoSegment;
    modeWithoutSegment_ = mode;
  }
}

std::int32_t PelorinRuleViewController::mode() const {
  return segMode_ == kNoSegment ? modeWithoutSegment_ : segMode_;
}

void PelorinRuleViewController::insertText(std::string_view text) {
  txtPrefix_.append(text);
}

void PelorinRuleViewController::deleteBackward() {
  while (!txtPrefix_.empty()) {
    const auto byte = static_cast<unsigned char>(txtPrefix_.back());
    txtPrefix_.pop_back();
    if ((byte & 0xC0) != 0x80) break;  // stop after the lead byte of a sequence
  }
}

void PelorinRuleViewController::selectSegment(int segment) {
  if (segment == 0 || segment == 1) segMode_ = segment;
}

void PelorinRuleViewController::btnClicked_AddContact() {
  pickerNotice_.reset();
  abContactPicker_.present();
}

void PelorinRuleViewController::peoplePickerNavigationControllerDidCancel() {
  pickerNotice_.reset();
  abContactPicker_.dismiss();
}

bool PelorinRuleViewController::shouldContinueAfterSelectingPerson(const platform::Person& person) {
  pickerNotice_.reset();
  if (person.phones.size() != 1) return true;
  takeNumber(person.phones.front().value);
  abContactPicker_.dismiss();
  return false;
}

// Only a phone number becomes a prefix; any other value (an e-mail address)
// leaves the field alone and the person shown, with a notice.
bool PelorinRuleViewController::shouldContinueAfterSelectingPerson(const platform::Person& person,
                                                                   PersonProperty property,
                                                                   std::size_t identifier) {
  const auto& values = person.values(property);
  if (property != PersonProperty::kPhone || identifier >= values.size()) {
    pickerNotice_ = "Only a phone number can become a prefix.";
    return true;
  }
  pickerNotice_.reset();
  takeNumber(values[identifier].value);
  abContactPicker_.dismiss();
  return false;
}

void PelorinRuleViewController::takeNumber(const std::string& number) {
  txtPrefix_ = toInternationalPhoneNumber(number);
}

}  // namespace pelorin::rules_editor
