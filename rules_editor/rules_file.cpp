#include "rules_editor/rules_file.h"

#include "common/darwin_observer_redirect.h"
#include "common/names.h"
#include "platform/property_list.h"
#include "rules_editor/prefix_forms.h"

namespace pelorin::rules_editor {

platform::Dictionary RulesFile::read() {
  return platform::readDictionary(resolvedPath(kRulesFile)).value_or(platform::Dictionary{});
}

bool RulesFile::save(const platform::Dictionary& rules) {
  const bool written =
      platform::writePropertyListAtomically(resolvedPath(kRulesFile), platform::Value(rules));
  DarwinObserverRedirect::postNotification(kRulesChangedNotification);
  return written;
}

RulesFile::Change RulesFile::setRule(const Text& prefix, std::int32_t mode) {
  platform::Dictionary rules = read();
  Change change{toCanonicalPhoneNumber(prefix)};
  rules[change.key] = platform::Value(mode);
  change.saved = save(rules);
  return change;
}

RulesFile::Change RulesFile::deleteRule(const std::string& prefix) {
  platform::Dictionary rules = read();
  Change change{prefix};
  if (!rules.contains(prefix)) change.key = toCanonicalPhoneNumber(prefix);
  change.found = rules.erase(change.key) > 0;
  if (change.found) change.saved = save(rules);
  return change;
}

}  // namespace pelorin::rules_editor
