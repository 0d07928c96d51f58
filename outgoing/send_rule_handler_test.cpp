#include "outgoing/send_rule_handler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

using platform::Dictionary;
using platform::Value;
constexpr SendMode kNone = SendModeNoRule;

class SendRuleHandlerTest : public ::testing::Test {
 protected:
  void writeRules(const Dictionary& rules) {
    ASSERT_TRUE(platform::writePropertyListAtomically(path(), Value(rules)));
  }
  std::string path() const { return root_.path(std::string(kRulesFile)); }

  platform::testing::TemporaryRoot root_;
};

TEST_F(SendRuleHandlerTest, AnEqualKeyElseTheLongestProperPrefixDecides) {
  struct Row {
    const char* number;
    Text key;
    SendMode mode;
  };
  const std::vector<std::pair<Dictionary, std::vector<Row>>> cases = {
      // A plain binary search would step onto the key 1 and miss 12.
      {{{"1", 0}, {"12", 1}, {"13", 0}, {"14", 0}, {"15", 0}},
       {{"12345678901", "12", 1}, {"16345678901", "1", 0}, {"2", {}, kNone}}},
      // With five keys or more, a first key longer than the number means no rule.
      {{{"10000000000000", 1}, {"12", 1}, {"2", 0}, {"3", 0}, {"4", 0}}, {{"1234", {}, kNone}}},
      {{{"10000000000000", 1}, {"12", 1}, {"2", 0}}, {{"1234", "12", 1}}},
      // Values by their integer reading; "+" only as the exact text, which no number is.
      {{{"+", 1},
        {"1212", "1"},
        {"1310", -2},
        {"1415", 1.9},
        {"1646", true},
        {"1718", Dictionary{}},
        {"1917", 7}},
       {{"+", "+", 1},
        {"18005551212", {}, kNone},
        {"12125551212", "1212", 1},
        {"13105551212", "1310", SendModeFailed},
        {"14155551212", "1415", 1},
        {"16465551212", "1646", 1},
        {"17185551212", "1718", 0},
        {"19175551212", "1917", 7}}},
  };
  SendRuleHandler handler;
  EXPECT_EQ(handler.sendMode("12125551212"), kNone);  // no file
  EXPECT_EQ(handler.sendMode(std::nullopt), kNone);
  for (const auto& [rules, rows] : cases) {
    writeRules(rules);
    EXPECT_EQ(handler.matchRule(rows[0].number).key, std::nullopt);  // until read again
    handler.readRuleFile();
    for (const auto& row : rows) {
      const auto match = handler.matchRule(row.number);
      EXPECT_EQ(match.key, row.key) << row.number;
      EXPECT_EQ(match.mode, row.mode) << row.number;
      EXPECT_EQ(handler.sendMode(row.number), row.mode) << row.number;
    }
    std::filesystem::remove(path());
    handler.readRuleFile();
  }
  for (const std::string& bytes : {std::string("garbage\x01\x02"), std::string("bplist00\xff"),
                                   std::string("<?xml version=\"1.0\"?><plist><dict><key>1</key>"),
                                   platform::toXmlPropertyList(Value(platform::Array{"1212"}))}) {
    root_.writeFile(std::string(kRulesFile), bytes);
    handler.readRuleFile();
    EXPECT_EQ(handler.matchRule("12125551212").key, std::nullopt);
  }
}

// Random rule sets against the plain reading: an equal key, else the longest
// proper prefix; except that with five keys or more, a number whose first
// key by first digit is missing or longer than the number has no rule.
TEST_F(SendRuleHandlerTest, AgreesWithThePlainReadingOnRandomRuleSets) {
  std::mt19937 random(20261206);
  auto digits = [&](std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += static_cast<char>('0' + random() % 3 + !i);
    return text;
  };
  for (int round = 0; round < 60; ++round) {
    Dictionary rules;
    const std::size_t count = 1 + random() % (round < 30 ? 8 : 300);
    while (rules.size() < count)
      rules.insert_or_assign(digits(1 + random() % 7), int(random() % 2));
    writeRules(rules);
    SendRuleHandler handler;
    for (int probe = 0; probe < 40; ++probe) {
      const std::string number = digits(1 + random() % 9);
      const auto first = rules.lower_bound(number.substr(0, 1));
      const bool none =
          rules.size() >= 5 && (first == rules.end() || first->first[0] != number[0] ||
                                first->first.size() > number.size());
      Text key = rules.contains(number) ? Text(number) : std::nullopt;
      for (std::size_t n = number.size() - 1; !key && !none && n > 0; --n) {
        if (rules.contains(number.substr(0, n))) key = number.substr(0, n);
      }
      const auto match = handler.matchRule(number);
      ASSERT_EQ(match.key, key) << number << " with " << count << " keys";
      ASSERT_EQ(match.mode, key ? rules.at(*key).integerReading() : kNone) << number;
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
