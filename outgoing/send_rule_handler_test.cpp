#include "outgoing/send_rule_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

using platform::Dictionary;
using platform::Value;

class SendRuleHandlerTest : public ::testing::Test {
 protected:
  void writeRules(const Dictionary& rules) {
    ASSERT_TRUE(
        platform::writePropertyListAtomically(root_.path(std::string(kRulesFile)), Value(rules)));
  }

  // Expects `number` to be decided by `key` (absent: no rule) with `mode`.
  void expectMatch(SendRuleHandler& handler, const std::string& number, const Text& key,
                   SendMode mode) {
    const auto match = handler.matchRule(number);
    EXPECT_EQ(match.key, key) << number;
    EXPECT_EQ(match.mode, mode) << number;
    EXPECT_EQ(handler.sendMode(number), mode) << number;
  }

  platform::testing::TemporaryRoot root_;
};

TEST_F(SendRuleHandlerTest, ExactKeyBeatsPrefixAndEqualLengthKeysMatchOnlyExactly) {
  writeRules({{"1212", 1}, {"12125551212", 0}, {"12125550000", 1}});
  SendRuleHandler handler;
  expectMatch(handler, "12125551212", "12125551212", 0);
  expectMatch(handler, "12125559999", "1212", 1);
  expectMatch(handler, "12125550001", "1212", 1);
  expectMatch(handler, "13105551212", std::nullopt, SendModeNoRule);
  expectMatch(handler, "1212", "1212", 1);
  expectMatch(handler, "121", std::nullopt, SendModeNoRule);
}

// A plain binary search over "keys shorter than m count as greater" steps onto
// the key 1 and misses 12; the route must be the one of the longest prefix.
TEST_F(SendRuleHandlerTest, LongerPrefixIsFoundPastAShorterFirstKey) {
  writeRules({{"1", 0}, {"12", 1}, {"13", 0}, {"14", 0}, {"15", 0}});
  SendRuleHandler handler;
  expectMatch(handler, "12345678901", "12", 1);
  expectMatch(handler, "16345678901", "1", 0);
}

TEST_F(SendRuleHandlerTest, FirstKeyLongerThanTheNumberMeansNoRuleWithFiveOrMoreKeys) {
  writeRules({{"10000000000000", 1}, {"12", 1}, {"2", 0}, {"3", 0}, {"4", 0}});
  SendRuleHandler handler;
  expectMatch(handler, "1234", std::nullopt, SendModeNoRule);

  writeRules({{"10000000000000", 1}, {"12", 1}, {"2", 0}});  // fewer keys: whole-range scan
  handler.readRuleFile();
  expectMatch(handler, "1234", "12", 1);
}

TEST_F(SendRuleHandlerTest, PlaceholderKeyMatchesNothingAndValuesUseTheIntegerReading) {
  writeRules({{"+", 1},
              {"1212", "1"},
              {"1310", -2},
              {"1415", 1.9},
              {"1646", true},
              {"1718", Dictionary{}},
              {"1917", 7}});
  SendRuleHandler handler;
  expectMatch(handler, "+", "+", 1);  // only as the exact text, which no canonical number is
  expectMatch(handler, "18005551212", std::nullopt, SendModeNoRule);
  expectMatch(handler, "12125551212", "1212", 1);
  expectMatch(handler, "13105551212", "1310", SendModeFailed);
  expectMatch(handler, "14155551212", "1415", 1);
  expectMatch(handler, "16465551212", "1646", 1);
  expectMatch(handler, "17185551212", "1718", 0);
  expectMatch(handler, "19175551212", "1917", 7);
}

TEST_F(SendRuleHandlerTest, MissingOrBadFilesMeanNoRules) {
  SendRuleHandler handler;
  expectMatch(handler, "12125551212", std::nullopt, SendModeNoRule);
  EXPECT_EQ(handler.sendMode(std::nullopt), SendModeNoRule);

  for (const std::string& bytes : {std::string("garbage\x01\x02"), std::string("bplist00\xff"),
                                   std::string("<?xml version=\"1.0\"?><plist><dict><key>1</key>"),
                                   platform::toXmlPropertyList(Value(platform::Array{"1212"}))}) {
    root_.writeFile(std::string(kRulesFile), bytes);
    handler.readRuleFile();
    expectMatch(handler, "12125551212", std::nullopt, SendModeNoRule);
  }
}

TEST_F(SendRuleHandlerTest, RulesChangeOnlyWhenReadAgain) {
  writeRules({{"1212", 1}});
  SendRuleHandler handler;
  writeRules({{"1212", 0}});
  EXPECT_EQ(handler.sendMode("12125551212"), 1);
  handler.readRuleFile();
  EXPECT_EQ(handler.sendMode("12125551212"), 0);
}

// The longest proper prefix, by brute force, with the one documented exception.
SendRuleHandler::RuleMatch referenceMatch(const std::vector<std::string>& sortedKeys,
                                          const Dictionary& rules, const std::string& number) {
  if (rules.contains(number))
    return {number, static_cast<SendMode>(rules.at(number).integerReading())};
  if (sortedKeys.size() >= 5) {
    auto first = std::find_if(sortedKeys.begin(), sortedKeys.end(), [&](const std::string& k) {
      return !k.empty() && k[0] == number[0];
    });
    if (first == sortedKeys.end() || first->size() > number.size()) return {};
  }
  Text best;
  for (const auto& key : sortedKeys) {
    if (key.size() < number.size() && number.starts_with(key) &&
        (!best || key.size() > best->size()))
      best = key;
  }
  if (!best) return {};
  return {best, static_cast<SendMode>(rules.at(*best).integerReading())};
}

TEST_F(SendRuleHandlerTest, AgreesWithBruteForceOnRandomRuleSets) {
  std::mt19937 random(20261206);
  auto digits = [&](std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
      text += static_cast<char>('0' + random() % 3 + (i == 0));
    return text;
  };
  for (int round = 0; round < 60; ++round) {
    Dictionary rules;
    const std::size_t count = 1 + random() % (round < 30 ? 8 : 300);
    while (rules.size() < count)
      rules.insert_or_assign(digits(1 + random() % 7), static_cast<int>(random() % 2));
    writeRules(rules);
    SendRuleHandler handler;
    std::vector<std::string> keys;
    for (const auto& entry : rules) keys.push_back(entry.first);
    for (int probe = 0; probe < 40; ++probe) {
      const std::string number = digits(1 + random() % 9);
      const auto expected = referenceMatch(keys, rules, number);
      const auto actual = handler.matchRule(number);
      ASSERT_EQ(actual.key, expected.key) << "number " << number << " with " << count << " keys";
      ASSERT_EQ(actual.mode, expected.mode) << number;
    }
  }
}

TEST(SendRuleHandlerConcurrencyTest, LookupsSeeEitherTheOldOrTheNewRules) {
  platform::testing::TemporaryRoot root;
  const std::string path = root.path(std::string(kRulesFile));
  Dictionary carrier, googleVoice;
  for (int i = 200; i < 400; ++i) {
    carrier.emplace("1" + std::to_string(i), 0);
    googleVoice.emplace("1" + std::to_string(i), 1);
  }
  platform::writePropertyListAtomically(path, Value(carrier));
  SendRuleHandler handler;
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!done) {
        const SendMode mode = handler.sendMode("13125551212");
        if (mode != 0 && mode != 1) ++bad;
      }
    });
  }
  for (int i = 0; i < 50; ++i) {
    platform::writePropertyListAtomically(path, Value(i % 2 ? carrier : googleVoice));
    handler.readRuleFile();
  }
  done = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace pelorin
