// A host method called directly, through the runtime unreplaced, and through
// the runtime with a replacement that calls the saved implementation (what
// every tweak hook does).
#include <benchmark/benchmark.h>

#include "platform/runtime.h"

namespace {

using namespace pelorin::platform::runtime;

struct Host {
  using Add = int(Host&, int);
  int base = 1;
  __attribute__((noinline)) static int add(Host& self, int amount) { return self.base + amount; }
};

std::atomic<Host::Add*> saved{nullptr};
int replacement(Host& self, int amount) {
  return saved.load(std::memory_order_acquire)(self, amount);
}

void BM_DirectCall(benchmark::State& state) {
  Host host;
  int amount = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(amount = Host::add(host, amount) & 0xFF);
  }
}
BENCHMARK(BM_DirectCall);

void BM_CallThroughRuntime(benchmark::State& state) {
  static MethodSlot<Host::Add> slot;
  slot.registerIn("BenchUnreplaced", "add:", &Host::add);
  Host host;
  int amount = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(amount = slot.call(&Host::add, host, amount) & 0xFF);
  }
}
BENCHMARK(BM_CallThroughRuntime);

void BM_CallThroughReplacedMethod(benchmark::State& state) {
  static MethodSlot<Host::Add> slot;
  slot.registerIn("BenchReplaced", "add:", &Host::add);
  if (!saved.load()) hookMethod<Host::Add>("BenchReplaced", "add:", &replacement, saved);
  Host host;
  int amount = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(amount = slot.call(&Host::add, host, amount) & 0xFF);
  }
}
BENCHMARK(BM_CallThroughReplacedMethod);

}  // namespace

BENCHMARK_MAIN();
