#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/address_book.h"
#include "platform/text.h"
#include "rules_editor/people_picker_navigation_controller.h"

namespace pelorin::rules_editor {

// The rule screen: a prefix field, a two-segment mode control (segment 0
// carrier, segment 1 Google Voice) and a button that opens the contact
// picker. One instance serves every edit; the list screen fills it with
// setPrefix() and reads prefix() and mode() back when the user leaves.
class PelorinRuleViewController : public PeoplePickerDelegate {
 public:
  static constexpr int kNoSegment = -1;

  explicit PelorinRuleViewController(platform::AddressBook& addressBook);

  const std::string& title() const { return title_; }

  // Shows `prefix` and selects segment `mode`. A mode other than 0 and 1 has
  // no segment: none is selected, and mode() gives that value back until the
  // user chooses a segment.
  void setPrefix(const std::string& prefix, std::int32_t mode);
  const std::string& prefix() const { return txtPrefix_; }
  std::int32_t mode() const;

  // The prefix field: text typed at its end, and the last character (a whole
  // UTF-8 sequence) removed. The text is not validated.
  void insertText(std::string_view text);
  void deleteBackward();

  // The segmented control: the selected segment, or kNoSegment.
  int selectedSegmentIndex() const { return segMode_; }
  void selectSegment(int segment);  // 0 or 1; anything else is ignored

  // The contact picker, and what the screen shows after a choice it could not
  // use (absent otherwise; cleared by the next picker action).
  void btnClicked_AddContact();
  PeoplePickerNavigationController& abContactPicker() { return abContactPicker_; }
  const Text& pickerNotice() const { return pickerNotice_; }

  void peoplePickerNavigationControllerDidCancel() override;
  bool shouldContinueAfterSelectingPerson(const platform::Person& person) override;
  bool shouldContinueAfterSelectingPerson(const platform::Person& person,
                                          platform::PersonProperty property,
                                          std::size_t identifier) override;

 private:
  // Puts the international prefix form of a phone number into the field.
  void takeNumber(const std::string& number);

  const std::string title_ = "Edit Rule";
  PeoplePickerNavigationController abContactPicker_;
  std::string txtPrefix_;
  int segMode_ = 0;
  std::int32_t modeWithoutSegment_ = 0;  // the opened rule's value when segMode_ is kNoSegment
  Text pickerNotice_;
};

}  // namespace pelorin::rules_editor
