#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::rules_editor {

// The rules file as the editor keeps it: a dictionary from prefix (in
// canonical prefix form) to a send mode. The editor and pelorinctl store
// rules only through here, so both write the same file the same way.
//
// Every change is a read-modify-write under the file's lock
// (platform/file_lock.h): the file is read again, changed and written whole
// atomically, so changes made meanwhile by another writer are kept. A write
// is followed by the rules-changed notification, posted even when the write
// failed (observers then read the old file again, which is harmless). When
// the lock cannot be had, nothing is written and nothing posted.
class RulesFile {
 public:
  // The rules file under the root folder; empty when it is missing or
  // unreadable (the first save creates it).
  static platform::Dictionary read();

  // Saves the editor's edits: `before` is the rules as the editor last read
  // or saved them, `after` as the user left them. Keys gone from `after` are
  // removed from the file, keys added or changed in `after` are stored; other
  // rules stay as the file has them. The rules the file then holds, or
  // nullopt when they could not be saved.
  static std::optional<platform::Dictionary> saveEdits(const platform::Dictionary& before,
                                                       const platform::Dictionary& after);

  // What a one-rule change did: the key concerned, whether a rule was there
  // to delete, and whether the file was written (if not, why, for a person).
  struct Change {
    std::string key;
    bool found = true;
    bool saved = false;
    std::string problem;
  };

  // Stores `mode` under the canonical prefix form of `prefix`, replacing a
  // rule with the same key, and saves.
  static Change setRule(const Text& prefix, std::int32_t mode);

  // Removes the rule whose key is `prefix` as written (such as "+", a rule
  // added and never opened), else the one under its canonical prefix form,
  // and saves. Nothing is written when there is no such rule.
  static Change deleteRule(const std::string& prefix);

 private:
  // Under the lock: reads the file, lets `edit` change the rules and, when it
  // returns true, writes them and posts. Sets `change.saved` and
  // `change.problem`.
  static void update(const std::function<bool(platform::Dictionary&)>& edit, Change& change);
};

}  // namespace pelorin::rules_editor
