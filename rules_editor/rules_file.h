#pragma once

#include <cstdint>
#include <string>

#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::rules_editor {

// The rules file as the editor keeps it: a dictionary from prefix (in
// canonical prefix form) to a send mode. The editor and pelorinctl store
// rules only through here, so both write the same file the same way.
class RulesFile {
 public:
  // The rules file under the root folder; empty when it is missing or
  // unreadable (the first save creates it).
  static platform::Dictionary read();

  // Writes the whole dictionary atomically, then posts the rules-changed
  // notification. The notification goes out even when the write failed
  // (observers then read the old file again, which is harmless); the result
  // says whether the file now holds `rules`, so the caller can tell the user.
  static bool save(const platform::Dictionary& rules);

  // What a one-rule change did: the key concerned, whether a rule was there
  // to delete, and whether the file was written.
  struct Change {
    std::string key;
    bool found = true;
    bool saved = false;
  };

  // Stores `mode` under the canonical prefix form of `prefix`, replacing a
  // rule with the same key, and saves.
  static Change setRule(const Text& prefix, std::int32_t mode);

  // Removes the rule whose key is `prefix` as written (such as "+", a rule
  // added and never opened), else the one under its canonical prefix form,
  // and saves. Nothing is written when there is no such rule.
  static Change deleteRule(const std::string& prefix);
};

}  // namespace pelorin::rules_editor
