#include "outgoing/send_rule_handler.h"

#include <algorithm>

#include "common/logger.h"
#include "common/names.h"
#include "platform/property_list.h"

namespace pelorin {
namespace {

// Below this many keys (in the list, or from the first candidate to the end)
// the matching key is looked for in the whole remaining range.
constexpr std::size_t kSearchThreshold = 5;

std::size_t commonPrefixLength(std::string_view a, std::string_view b) {
  const std::size_t limit = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

bool isProperPrefixOf(std::string_view key, std::string_view number) {
  return key.size() < number.size() && number.starts_with(key);
}

void logKeys(const std::optional<std::vector<std::string>>& keys) {
  if (keys) {
    Logger::log("Array of keys: %@", *keys);
  } else {
    Logger::log("Array of keys: %@", Text());
  }
}

}  // namespace

SendRuleHandler::SendRuleHandler() {
  readRuleFile();
}

SendRuleHandler::SendRuleHandler(std::string rulesFile) : rulesFile_(std::move(rulesFile)) {
  readRuleFile();
}

void SendRuleHandler::readRuleFile() {
  std::optional<std::vector<std::string>> keysForLog;
  {
    std::lock_guard lock(sendRulesLock_);
    sendRules_.reset();
    ruleKeys_.reset();
    if (auto file = platform::readDictionary(rulesFile_ ? *rulesFile_ : resolvedPath(kRulesFile))) {
      sendRules_.emplace();
      ruleKeys_.emplace();
      sendRules_->reserve(file->size());
      ruleKeys_->reserve(file->size());
      for (const auto& [key, value] : *file) {
        sendRules_->emplace(key, value.int32Reading());
        ruleKeys_->push_back(key);  // a dictionary yields its keys in sorted order
      }
    }
    if (Logger::sharedInstance().enableLogging()) keysForLog = ruleKeys_;
  }
  logKeys(keysForLog);
}

SendMode SendRuleHandler::sendMode(const Text& number) {
  return matchRule(number).mode;
}

SendRuleHandler::RuleMatch SendRuleHandler::matchRule(const Text& number) {
  Logger::log("Phone %@ being checked for send mode", number);
  std::lock_guard lock(sendRulesLock_);
  if (sendRules_ && number) {
    if (auto exact = sendRules_->find(*number); exact != sendRules_->end()) {
      return {exact->first, exact->second};
    }
  }
  Logger::log("Phone %@ to be checked for matching prefix key", number);
  Text key = number ? findMatchingPrefixKey(*number) : std::nullopt;
  Logger::log("Phone %@ finished checking for matching prefix key", number);
  if (!key) return {};
  return {key, sendRules_->at(*key)};
}

// The longest rule key that is a proper prefix of the number, found by binary
// searches over the sorted keys. One documented exception stays: with five or
// more keys, when the first key sharing the number's first digit is longer
// than the number, nothing matches.
Text SendRuleHandler::findMatchingPrefixKey(std::string_view number) const {
  if (!ruleKeys_ || ruleKeys_->empty() || number.empty()) return std::nullopt;
  const std::vector<std::string>& keys = *ruleKeys_;
  const std::size_t n = keys.size();
  if (n < kSearchThreshold) return longestPrefixKeyIn(0, n - 1, number);

  const auto lo = firstKeyWithFirstChar(number.front());
  if (!lo) return std::nullopt;
  const std::string& first = keys[*lo];
  Logger::log("First key found: %@", first);
  if (first.size() > number.size()) return std::nullopt;
  if (n - *lo < kSearchThreshold) return longestPrefixKeyIn(*lo, n - 1, number);

  const std::size_t common = commonPrefixLength(number, first);
  Logger::log("Common prefix found %@", number.substr(0, common));
  if (common == number.size()) return std::nullopt;  // the first key is the number itself
  const auto hi = lastKeyWithHead(number.substr(0, common + 1), *lo);
  if (!hi) {
    if (common == first.size() && isProperPrefixOf(first, number)) return first;
    return std::nullopt;
  }
  Logger::log("Last key found: %@", keys[*hi]);
  return longestPrefixKeyIn(*lo, *hi, number);
}

// Binary search comparing only first characters.
std::optional<std::size_t> SendRuleHandler::firstKeyWithFirstChar(char first) const {
  const std::vector<std::string>& keys = *ruleKeys_;
  std::size_t left = 0;
  std::size_t right = keys.size();
  while (left < right) {
    const std::size_t mid = left + (right - left) / 2;
    const std::string& key = keys[mid];
    Logger::log("Rule key: %@ first char: %@", key, std::string_view(&first, 1));
    if (!key.empty() && key.front() >= first) {
      right = mid;
    } else {
      left = mid + 1;
    }
  }
  if (left == keys.size() || keys[left].empty() || keys[left].front() != first) return std::nullopt;
  return left;
}

// The last key from `lo` on whose first head.size() characters equal `head`.
// A key shorter than the head compares by its own characters, which keeps the
// order monotone over the sorted keys, so a plain binary search is exact.
std::optional<std::size_t> SendRuleHandler::lastKeyWithHead(std::string_view head,
                                                            std::size_t lo) const {
  const std::vector<std::string>& keys = *ruleKeys_;
  const std::size_t m = head.size();
  std::size_t left = lo;
  std::size_t right = keys.size();
  while (left < right) {
    const std::size_t mid = left + (right - left) / 2;
    const std::string_view key = keys[mid];
    if (key.size() >= m) Logger::log("Phone prefix: %@ rule key: %@", head, key);
    if (key.substr(0, m) <= head) {
      left = mid + 1;
    } else {
      right = mid;
    }
  }
  if (left == lo || std::string_view(keys[left - 1]).substr(0, m) != head) return std::nullopt;
  return left - 1;
}

// The last key in [lo, hi] that is a proper prefix of the number, which is the
// longest one, since prefixes of one number sort by length. Rather than walk
// the range, look for the last key not after the number; when it is not a
// prefix, no longer key past their common part can be, so shorten and repeat.
Text SendRuleHandler::longestPrefixKeyIn(std::size_t lo, std::size_t hi,
                                         std::string_view number) const {
  const std::vector<std::string>& keys = *ruleKeys_;
  const auto begin = keys.begin() + static_cast<std::ptrdiff_t>(lo);
  const auto end = keys.begin() + static_cast<std::ptrdiff_t>(hi) + 1;
  std::string_view probe = number.substr(0, number.size() - 1);
  while (!probe.empty()) {
    auto after = std::upper_bound(begin, end, probe,
                                  [](std::string_view p, const std::string& k) { return p < k; });
    if (after == begin) return std::nullopt;
    const std::string& candidate = *(after - 1);
    if (isProperPrefixOf(candidate, number)) return candidate;
    probe = probe.substr(0, commonPrefixLength(probe, candidate));
  }
  // The empty key, if there is one, sorts first and is a prefix of every number.
  if (begin->empty()) return std::string();
  return std::nullopt;
}

}  // namespace pelorin
