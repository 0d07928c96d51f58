#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/send_mode.h"
#include "platform/text.h"

namespace pelorin {

// The user's per-prefix send rules: the rules file maps number prefixes (in
// canonical form) to a SendMode. A number gets the mode of the key equal to
// it, else of the longest key that is a proper prefix of it. The rules are
// read at creation and again on readRuleFile(); lookups and re-reads may run
// on different threads, and a lookup sees either the old or the new rules.
class SendRuleHandler {
 public:
  // Reads the rules file at once; the file under the root folder, or the
  // given one.
  SendRuleHandler();
  explicit SendRuleHandler(std::string rulesFile);
  SendRuleHandler(const SendRuleHandler&) = delete;
  SendRuleHandler& operator=(const SendRuleHandler&) = delete;

  // Replaces the rules with the rules file as it now stands; a missing or
  // unreadable file (or one whose root is not a dictionary) means no rules.
  void readRuleFile();

  // The rule's mode for a canonical number, or SendModeNoRule.
  SendMode sendMode(const Text& number);

  // The rule that decides a number: the key (absent when none) and its mode.
  struct RuleMatch {
    Text key;
    SendMode mode = SendModeNoRule;
  };
  RuleMatch matchRule(const Text& number);

 private:
  // The matching prefix key of `number` in ruleKeys_; requires sendRulesLock_.
  Text findMatchingPrefixKey(std::string_view number) const;
  std::optional<std::size_t> firstKeyWithFirstChar(char first) const;
  std::optional<std::size_t> lastKeyWithHead(std::string_view head, std::size_t lo) const;
  Text longestPrefixKeyIn(std::size_t lo, std::size_t hi, std::string_view number) const;

  const std::optional<std::string> rulesFile_;  // absent: the rules file under the root

  mutable std::mutex sendRulesLock_;
  // Guarded by sendRulesLock_: the rules file as last read (absent when it was
  // missing), each value already taken by its integer reading, and its keys
  // in sorted order (every prefix before its extensions).
  std::optional<std::unordered_map<std::string, SendMode>> sendRules_;
  std::optional<std::vector<std::string>> ruleKeys_;
};

}  // namespace pelorin
