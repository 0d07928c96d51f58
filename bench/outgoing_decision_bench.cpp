// The outgoing decision for one SMS as the send hook makes it: classification,
// switches, 10,000 send rules, logging off; for a Google Voice route the
// worker thread's start is included (its client has no account, so the
// worker ends without a request). Reports p50 and p99 per decision.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/logger.h"
#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "outgoing/outgoing_message_handler.h"
#include "platform/messaging/ct_message.h"
#include "platform/property_list.h"
#include "voice/gv_interface.h"

namespace {

using namespace pelorin;

// A root with a rules file of `count` keys shaped like people's rules.
std::string makeRoot(std::size_t count) {
  const std::string root =
      (std::filesystem::temp_directory_path() / ("pelorin-bench-" + std::to_string(getpid())))
          .string();
  setenv("PELORIN_ROOT", root.c_str(), 1);
  std::mt19937 random(7);
  auto digits = [&](int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += static_cast<char>('0' + random() % 10);
    return text;
  };
  platform::Dictionary rules;
  while (rules.size() < count) {
    const unsigned shape = random() % 3;
    const std::string area = "1" + std::to_string(3 + random() % 7);
    rules.emplace(area + digits(shape == 0   ? 2
                                : shape == 1 ? 5
                                             : 9),
                  static_cast<int>(random() % 2));
  }
  rules["1212"] = 0;  // the carrier case below
  platform::writePropertyListAtomically(resolvedPath(kRulesFile), platform::Value(rules));
  return root;
}

struct Fixture {
  Fixture() : root(makeRoot(10'000)) {
    Logger::sharedInstance().setEnableLogging(false);
    handler = std::make_unique<OutgoingMessageHandler>(
        OutgoingMessageHandler::Dependencies{.rulesFile = std::nullopt,
                                             .autoRuleHandler = &autoRules,
                                             .incomingMessageHandler = &incoming,
                                             .gvInterface = &gv});
  }
  ~Fixture() { std::filesystem::remove_all(root); }

  std::string root;
  AutoRuleHandler autoRules;
  IncomingMessageHandler incoming;
  GVInterface gv{"https://127.0.0.1:9"};
  std::unique_ptr<OutgoingMessageHandler> handler;
};

Fixture& fixture() {
  static auto* const f = new Fixture();
  return *f;
}

void decide(benchmark::State& state, const std::string& recipient) {
  Fixture& f = fixture();
  std::vector<double> micros;
  micros.reserve(1 << 16);
  for (auto _ : state) {
    state.PauseTiming();
    auto message = std::make_shared<platform::CTMessage>();
    message->setMessageType(platform::CTMessage::kPlainSMSType);
    message->setMessageId(1);
    message->addText("hello there");
    message->addRecipient(platform::CTPhoneNumber::phoneNumberWithDigits(recipient, "us"));
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    bool returnValue = true;
    benchmark::DoNotOptimize(f.handler->processOutgoingSMS(message, returnValue));
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) {
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let workers end
}

void BM_OutgoingSMSDecision_Carrier(benchmark::State& state) {
  decide(state, "(212) 555-1212");
}
void BM_OutgoingSMSDecision_GoogleVoiceWorker(benchmark::State& state) {
  decide(state, "(415) 555-0100");
}
BENCHMARK(BM_OutgoingSMSDecision_Carrier)->Iterations(20'000);
BENCHMARK(BM_OutgoingSMSDecision_GoogleVoiceWorker)->Iterations(20'000);

}  // namespace

BENCHMARK_MAIN();
