#include "rules_editor/rules_file.h"

#include "common/darwin_observer_redirect.h"
#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"
#include "rules_editor/prefix_forms.h"

namespace pelorin::rules_editor {

platform::Dictionary RulesFile::read() {
  return platform::readDictionary(resolvedPath(kRulesFile)).value_or(platform::Dictionary{});
}

void RulesFile::update(const std::function<bool(platform::Dictionary&)>& edit, Change& change) {
  const std::string path = resolvedPath(kRulesFile);
  {
    const auto lock = platform::FileLock::acquire(path);
    if (!lock.held()) {
      change.problem = lock.problem();
      return;
    }
    platform::Dictionary rules = read();
    if (!edit(rules)) return;
    change.saved = platform::writePropertyListAtomically(path, platform::Value(std::move(rules)));
  }
  if (!change.saved) change.problem = "cannot write " + path;
  DarwinObserverRedirect::postNotification(kRulesChangedNotification);
}

std::optional<platform::Dictionary> RulesFile::saveEdits(const platform::Dictionary& before,
                                                         const platform::Dictionary& after) {
  Change change;
  platform::Dictionary saved;
  update(
      [&](platform::Dictionary& rules) {
        for (const auto& [key, value] : before) {
          if (!after.contains(key)) rules.erase(key);
        }
        for (const auto& [key, value] : after) {
          const auto old = before.find(key);
          if (old == before.end() || old->second != value) rules.insert_or_assign(key, value);
        }
        saved = rules;
        return true;
      },
      change);
  if (!change.saved) return std::nullopt;
  return saved;
}

RulesFile::Change RulesFile::setRule(const Text& prefix, std::int32_t mode) {
  Change change{toCanonicalPhoneNumber(prefix)};
  update(
      [&](platform::Dictionary& rules) {
        rules[change.key] = platform::Value(mode);
        return true;
      },
      change);
  return change;
}

RulesFile::Change RulesFile::deleteRule(const std::string& prefix) {
  Change change{prefix};
  update(
      [&](platform::Dictionary& rules) {
        if (!rules.contains(prefix)) change.key = toCanonicalPhoneNumber(prefix);
        change.found = rules.erase(change.key) > 0;
        return change.found;
      },
      change);
  return change;
}

}  // namespace pelorin::rules_editor
