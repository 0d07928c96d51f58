// Classifying and normalising phone numbers: Pelorin's numberForms against
// libphonenumber, and against a bare pass that only counts the digits of the
// same texts. All three read one fixed corpus of 100,000 mixed numbers.
#include <benchmark/benchmark.h>
#include <phonenumbers/phonenumberutil.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/common_utils.h"

namespace {

using pelorin::CommonUtils;
using pelorin::Text;

constexpr std::size_t kCorpusSize = 100'000;
constexpr std::uint32_t kSeed = 0x5EED'2024;

// Writes numbers the way they reach the system: contact cards, web pages,
// typed by hand. The same seed gives the same corpus on every run.
class NumberWriter {
 public:
  std::string next() {
    const unsigned roll = below(100);
    if (roll < 45) return us();
    if (roll < 70) return international();
    if (roll < 80) return digits(1 + below(6));  // short codes
    if (roll < 85) return pick({"911", "411", "611", "011"});
    return invalid();
  }

 private:
  unsigned below(unsigned n) { return static_cast<unsigned>(random_() % n); }
  std::string pick(std::initializer_list<const char*> choices) {
    return *(choices.begin() + below(static_cast<unsigned>(choices.size())));
  }
  std::string digits(unsigned count) {
    std::string out;
    for (unsigned i = 0; i < count; ++i) out += static_cast<char>('0' + below(10));
    return out;
  }
  std::string areaCode() { return static_cast<char>('2' + below(8)) + digits(2); }

  std::string us() {
    const std::string a = areaCode(), e = digits(3), l = digits(4);
    switch (below(10)) {
      case 0:
        return "(" + a + ") " + e + "-" + l;
      case 1:
        return a + "-" + e + "-" + l;
      case 2:
        return a + "." + e + "." + l;
      case 3:
        return a + e + l;
      case 4:
        return "1" + a + e + l;
      case 5:
        return "+1" + a + e + l;
      case 6:
        return "+1 (" + a + ") " + e + "-" + l;
      case 7:
        return "1-" + a + "-" + e + "-" + l;
      case 8:
        return "1 " + a + " " + e + " " + l;
      default:
        return " " + a + e + l + " ";
    }
  }

  std::string international() {
    const std::string country = pick({"44", "33", "49", "86", "81", "61", "353", "91", "52"});
    const std::string rest = digits(2) + " " + digits(4) + " " + digits(4);
    switch (below(5)) {
      case 0:
        return "+" + country + " " + rest;
      case 1:
        return "011 " + country + " " + rest;
      case 2:
        return "+" + country + " (" + digits(2) + ") " + digits(4) + "-" + digits(4);
      case 3:
        return "00" + country + " " + rest;
      default:
        return country + digits(10);
    }
  }

  std::string invalid() {
    switch (below(6)) {
      case 0:
        return digits(3) + "-" + digits(4);
      case 1:
        return areaCode() + "-" + digits(3) + "-" + digits(4) + " x" + digits(2);
      case 2:
        return "+1" + digits(3);
      case 3:
        return "(" + areaCode() + " " + digits(3) + "-" + digits(4);
      case 4:
        return "John Appleseed";
      default:
        return areaCode() + "\t" + digits(7);
    }
  }

  std::mt19937 random_{kSeed};
};

const std::vector<Text>& corpus() {
  static const std::vector<Text> numbers = [] {
    NumberWriter writer;
    std::vector<Text> out;
    out.reserve(kCorpusSize);
    for (std::size_t i = 0; i < kCorpusSize; ++i) out.emplace_back(writer.next());
    return out;
  }();
  return numbers;
}

// Reports the time per number next to the time per pass over the corpus.
void countNumbers(benchmark::State& state) {
  state.counters["per_number"] = benchmark::Counter(
      static_cast<double>(kCorpusSize),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PelorinNumberForms(benchmark::State& state) {
  const auto& numbers = corpus();
  for (auto _ : state) {
    for (const Text& number : numbers) {
      auto forms = CommonUtils::numberForms(number);
      benchmark::DoNotOptimize(forms);
    }
  }
  countNumbers(state);
}
BENCHMARK(BM_PelorinNumberForms);

void BM_LibphonenumberParseTypeFormat(benchmark::State& state) {
  using i18n::phonenumbers::PhoneNumber;
  using i18n::phonenumbers::PhoneNumberUtil;
  const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
  const auto& numbers = corpus();
  for (auto _ : state) {
    for (const Text& number : numbers) {
      PhoneNumber parsed;
      std::string e164;
      if (util.Parse(*number, "US", &parsed) == PhoneNumberUtil::NO_PARSING_ERROR) {
        benchmark::DoNotOptimize(util.GetNumberType(parsed));
        util.Format(parsed, PhoneNumberUtil::E164, &e164);
      }
      benchmark::DoNotOptimize(e164);
    }
  }
  countNumbers(state);
}
BENCHMARK(BM_LibphonenumberParseTypeFormat)->Unit(benchmark::kMillisecond);

// The floor: one pass over the same bytes that does nothing but count digits.
void BM_DigitCountFloor(benchmark::State& state) {
  const auto& numbers = corpus();
  for (auto _ : state) {
    for (const Text& number : numbers) {
      std::size_t count = 0;
      for (const char c : *number) count += (c >= '0' && c <= '9') ? 1 : 0;
      benchmark::DoNotOptimize(count);
    }
  }
  countNumbers(state);
}
BENCHMARK(BM_DigitCountFloor);

}  // namespace

BENCHMARK_MAIN();
