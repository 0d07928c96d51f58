#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "platform/value.h"
#include "rules_editor/pelorin_rule_view_controller.h"

namespace pelorin::rules_editor {

// The list screen: the rules in display order (keys in byte order), Edit and
// Done, Add, Delete, and opening a rule in the rule screen. It keeps the
// rules in memory and saves at each delete and each finished edit: the
// user's edits since the last save are merged into the file as it is then,
// and the list shows the result. An added rule reaches the file with the
// next save.
class RootViewController {
 public:
  enum class EditingStyle { kNone, kDelete, kInsert };
  enum class Screen { kList, kRule };

  struct Cell {
    std::string title;   // the prefix
    std::string detail;  // "Carrier", "Google Voice" or "(Unknown)"
  };

  explicit RootViewController(PelorinRuleViewController& smsRuleViewController)
      : smsRuleViewController_(smsRuleViewController) {}

  // Reads the rules file; a missing or unreadable one gives an empty list.
  void viewDidLoad();

  // Edit and Done toggle the table's editing mode. In editing mode the left
  // button is Done and there is no right button; otherwise Edit and Add.
  void btnClicked_edit() { setEditing(!editing_); }
  void setEditing(bool editing) { editing_ = editing; }
  bool isEditing() const { return editing_; }
  std::string leftButtonTitle() const { return editing_ ? "Done" : "Edit"; }
  Text rightButtonTitle() const { return editing_ ? Text() : Text("Add"); }

  // The key of a rule added with Add and not yet opened.
  static constexpr std::string_view kNewRuleKey = "+";

  // Stores Carrier under "+" in memory only; nothing is written or posted.
  // False, changing nothing, when a "+" rule is in the list already (opening
  // it gives it a key of its own).
  bool btnClicked_add();

  std::size_t numberOfRowsInSection() const { return dictRules_.size(); }
  Cell cellForRowAtIndexPath(std::size_t row) const;
  bool canEditRowAtIndexPath(std::size_t row) const { return row < dictRules_.size(); }

  // Deletes row `row` and saves; other styles and rows out of range do nothing.
  void commitEditingStyle(EditingStyle style, std::size_t row);

  // Opens row `row` in the rule screen and takes it out of the list until the
  // edit is stored. False (nothing happens) when the row does not exist or
  // the list is in editing mode, which selects no row.
  bool didSelectRowAtIndexPath(std::size_t row);
  // The row of the rule stored under `key`, if there is one.
  std::optional<std::size_t> rowForKey(std::string_view key) const;

  // The navigation stack is about to show `screen`: back on the list after an
  // edit, the rule screen's prefix and mode are stored and saved.
  void willShowViewController(Screen screen);

  bool editInProgress() const { return editInProgress_; }
  const platform::Dictionary& dictRules() const { return dictRules_; }

  // Whether the last save failed to write the rules file (cleared by the next
  // save that succeeds), so the screen can say the rules were not saved; the
  // edits stay in the list and go with the next save.
  bool lastSaveFailed() const { return lastSaveFailed_; }

  // How a rule's value is shown: 0 "Carrier", 1 "Google Voice", else "(Unknown)".
  static std::string modeTitle(const platform::Value& value);

 private:
  void save();
  // The key of row `row` in display order.
  const std::string& keyAt(std::size_t row) const;

  PelorinRuleViewController& smsRuleViewController_;
  platform::Dictionary dictRules_;
  // The rules as last read or saved: what the user's edits are measured from.
  platform::Dictionary rulesAsSaved_;
  bool editing_ = false;
  // Set from opening a rule until it is stored; one list screen per process.
  bool editInProgress_ = false;
  bool lastSaveFailed_ = false;
};

}  // namespace pelorin::rules_editor
