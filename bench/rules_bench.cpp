// Send-rule lookups: SendRuleHandler::sendMode with logging off against a
// std::map longest-prefix probe over the same keys, and the cost of reading a
// large rules file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/logger.h"
#include "common/names.h"
#include "outgoing/send_rule_handler.h"
#include "platform/property_list.h"

namespace {

using pelorin::SendMode;
using pelorin::platform::Dictionary;

// Rule keys as people make them: area codes, exchanges, whole numbers, and
// international prefixes, all in canonical form.
std::map<std::string, int> makeRules(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  auto digits = [&](int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += static_cast<char>('0' + random() % 10);
    return text;
  };
  std::map<std::string, int> rules;
  while (rules.size() < count) {
    const unsigned shape = random() % 10;
    std::string key;
    if (shape < 3)
      key = "1" + std::to_string(2 + random() % 8) + digits(2);  // area code
    else if (shape < 6)
      key = "1" + std::to_string(2 + random() % 8) + digits(5);  // exchange
    else if (shape < 9)
      key = "1" + std::to_string(2 + random() % 8) + digits(9);  // number
    else
      key = "011" + std::to_string(2 + random() % 8) +
            digits(static_cast<int>(random() % 6));  // abroad
    rules.emplace(key, static_cast<int>(random() % 2));
  }
  return rules;
}

std::vector<std::string> makeNumbers(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::string> numbers;
  for (int i = 0; i < 1024; ++i) {
    std::string number = i % 8 == 0 ? "0114420" : "1" + std::to_string(2 + random() % 8);
    while (number.size() < (i % 8 == 0 ? 15u : 11u))
      number += static_cast<char>('0' + random() % 10);
    numbers.push_back(number);
  }
  return numbers;
}

// A root folder holding a rules file of `count` keys; PELORIN_ROOT points at it.
std::string prepareRoot(const std::map<std::string, int>& rules) {
  std::string folder = (std::filesystem::temp_directory_path() / "pelorin-bench-XXXXXX").string();
  ::mkdtemp(folder.data());
  ::setenv("PELORIN_ROOT", folder.c_str(), 1);
  Dictionary dictionary;
  for (const auto& [key, mode] : rules) dictionary.emplace(key, mode);
  pelorin::platform::writePropertyListAtomically(pelorin::resolvedPath(pelorin::kRulesFile),
                                                 pelorin::platform::Value(std::move(dictionary)));
  return folder;
}

SendMode mapProbe(const std::map<std::string, int>& rules, const std::string& number) {
  if (auto exact = rules.find(number); exact != rules.end()) return exact->second;
  for (std::size_t length = number.size() - 1; length > 0; --length) {
    if (auto found = rules.find(number.substr(0, length)); found != rules.end())
      return found->second;
  }
  return pelorin::SendModeNoRule;
}

void BM_SendMode(benchmark::State& state) {
  pelorin::Logger::sharedInstance().setEnableLogging(false);
  const auto rules = makeRules(static_cast<std::size_t>(state.range(0)), 7);
  const std::string root = prepareRoot(rules);
  pelorin::SendRuleHandler handler;
  const auto numbers = makeNumbers(11);
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(handler.sendMode(numbers[i++ & 1023]));
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_SendMode)->Arg(10)->Arg(1000)->Arg(100000);

void BM_MapLongestPrefix(benchmark::State& state) {
  const auto rules = makeRules(static_cast<std::size_t>(state.range(0)), 7);
  const auto numbers = makeNumbers(11);
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(mapProbe(rules, numbers[i++ & 1023]));
}
BENCHMARK(BM_MapLongestPrefix)->Arg(10)->Arg(1000)->Arg(100000);

void BM_ReadRulesFile(benchmark::State& state) {
  pelorin::Logger::sharedInstance().setEnableLogging(false);
  const std::string root = prepareRoot(makeRules(10000, 3));
  pelorin::SendRuleHandler handler;
  for (auto _ : state) handler.readRuleFile();
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_ReadRulesFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
