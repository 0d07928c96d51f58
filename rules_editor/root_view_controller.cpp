#include "rules_editor/root_view_controller.h"

#include <iterator>
#include <utility>

#include "rules_editor/prefix_forms.h"
#include "rules_editor/rules_file.h"

namespace pelorin::rules_editor {

void RootViewController::viewDidLoad() {
  dictRules_ = RulesFile::read();
  rulesAsSaved_ = dictRules_;
}

bool RootViewController::btnClicked_add() {
  return dictRules_.emplace(kNewRuleKey, platform::Value(0)).second;
}

std::string RootViewController::modeTitle(const platform::Value& value) {
  switch (value.int32Reading()) {
    case 0:
      return "Carrier";
    case 1:
      return "Google Voice";
    default:
      return "(Unknown)";
  }
}

const std::string& RootViewController::keyAt(std::size_t row) const {
  return std::next(dictRules_.begin(), static_cast<std::ptrdiff_t>(row))->first;
}

RootViewController::Cell RootViewController::cellForRowAtIndexPath(std::size_t row) const {
  if (row >= dictRules_.size()) return {};
  const auto it = std::next(dictRules_.begin(), static_cast<std::ptrdiff_t>(row));
  return {it->first, modeTitle(it->second)};
}

void RootViewController::commitEditingStyle(EditingStyle style, std::size_t row) {
  if (style != EditingStyle::kDelete || row >= dictRules_.size()) return;
  dictRules_.erase(keyAt(row));
  save();
}

bool RootViewController::didSelectRowAtIndexPath(std::size_t row) {
  if (editing_ || row >= dictRules_.size()) return false;
  const auto it = std::next(dictRules_.begin(), static_cast<std::ptrdiff_t>(row));
  smsRuleViewController_.setPrefix(it->first, it->second.int32Reading());
  dictRules_.erase(it);
  editInProgress_ = true;
  return true;
}

std::optional<std::size_t> RootViewController::rowForKey(std::string_view key) const {
  const auto it = dictRules_.find(std::string(key));
  if (it == dictRules_.end()) return std::nullopt;
  return static_cast<std::size_t>(std::distance(dictRules_.begin(), it));
}

void RootViewController::willShowViewController(Screen screen) {
  if (screen != Screen::kList || !editInProgress_) return;
  editInProgress_ = false;
  const std::string key = toCanonicalPhoneNumber(smsRuleViewController_.prefix());
  dictRules_.insert_or_assign(key, platform::Value(smsRuleViewController_.mode()));
  save();
}

// Only the user's edits since the last read or save go to the file, so rules
// another writer stored meanwhile survive and appear in the list.
void RootViewController::save() {
  auto saved = RulesFile::saveEdits(rulesAsSaved_, dictRules_);
  lastSaveFailed_ = !saved;
  if (!saved) return;
  dictRules_ = *saved;
  rulesAsSaved_ = std::move(*saved);
}

}  // namespace pelorin::rules_editor
