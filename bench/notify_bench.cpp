// A system-wide notification between two processes (post, the peer's
// observer posts back, the answer observed), against the bare D-Bus signal
// round trip it rests on, on the same private bus.
//
// The bare peer is this program run again with --bare-echo; the platform
// peer is bus_peer.
#include <benchmark/benchmark.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/session_bus.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"

namespace {

using pelorin::platform::testing::ChildProcess;

constexpr char kPath[] = "/com/talvern/bench/Bare";
constexpr char kInterface[] = "com.talvern.bench.Bare";
std::string selfPath;

// ---- bare sd-bus, one thread per side ----

sd_bus* openBareBus() {
  sd_bus* bus = nullptr;
  return sd_bus_open_user(&bus) >= 0 ? bus : nullptr;
}

void addMatch(sd_bus* bus, const char* member, sd_bus_message_handler_t handler, void* data) {
  const std::string rule = std::string("type='signal',path='") + kPath + "',interface='" +
                           kInterface + "',member='" + member + "'";
  sd_bus_add_match(bus, nullptr, rule.c_str(), handler, data);
}

int bareEcho() {
  sd_bus* bus = openBareBus();
  if (!bus) return 1;
  addMatch(
      bus, "Ping",
      [](sd_bus_message* m, void*, sd_bus_error*) {
        sd_bus_emit_signal(sd_bus_message_get_bus(m), kPath, kInterface, "Pong", "");
        return 0;
      },
      nullptr);
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) {
    if (sd_bus_process(bus, nullptr) > 0) continue;
    if (sd_bus_wait(bus, UINT64_MAX) < 0) return 1;
  }
}

// One side of the bare round trip: Ping out, wait on this thread for Pong.
class BareSide {
 public:
  BareSide() : bus_(openBareBus()) {
    if (bus_) addMatch(bus_, "Pong", &BareSide::onPong, this);
  }
  ~BareSide() { sd_bus_flush_close_unref(bus_); }
  bool ok() const { return bus_ != nullptr; }

  void roundTrip() {
    pong_ = false;
    sd_bus_emit_signal(bus_, kPath, kInterface, "Ping", "");
    while (!pong_) {
      if (sd_bus_process(bus_, nullptr) > 0) continue;
      sd_bus_wait(bus_, UINT64_MAX);
    }
  }

 private:
  static int onPong(sd_bus_message*, void* self, sd_bus_error*) {
    static_cast<BareSide*>(self)->pong_ = true;
    return 0;
  }
  sd_bus* bus_;
  bool pong_ = false;
};

// One side of the notification round trip: post, wait for the answer's
// callback (on the centre's notification thread) to wake this thread.
class NotifySide {
 public:
  NotifySide() {
    center_->addObserver("bench.pong", [this](const std::string&) {
      {
        std::lock_guard lock(mutex_);
        ++pongs_;
      }
      answered_.notify_one();
    });
  }

  void roundTrip() {
    center_->postNotification("bench.ping");
    std::unique_lock lock(mutex_);
    ++expected_;
    answered_.wait(lock, [&] { return pongs_ >= expected_; });
  }

 private:
  std::unique_ptr<pelorin::platform::DarwinNotifyCenter> center_ =
      pelorin::platform::newBusDarwinNotifyCenter();
  std::mutex mutex_;
  std::condition_variable answered_;
  int pongs_ = 0;     // guarded by mutex_
  int expected_ = 0;  // guarded by mutex_
};

void BM_BareSignalRoundTrip(benchmark::State& state) {
  pelorin::platform::testing::PrivateBus privateBus;
  ChildProcess echo({selfPath, "--bare-echo"});
  if (!echo.waitForLine("ready")) return state.SkipWithError("no echo peer");
  BareSide bare;
  for (auto _ : state) bare.roundTrip();
}
BENCHMARK(BM_BareSignalRoundTrip)->UseRealTime()->MinTime(2.0);

// ---- the platform's centre on both sides ----

void BM_NotificationRoundTrip(benchmark::State& state) {
  pelorin::platform::testing::PrivateBus privateBus;
  ChildProcess echo({BUS_PEER, "echo", "bench.ping", "bench.pong"});
  if (!echo.waitForLine("ready")) return state.SkipWithError("no echo peer");
  NotifySide notify;
  for (auto _ : state) notify.roundTrip();
}
BENCHMARK(BM_NotificationRoundTrip)->UseRealTime()->MinTime(2.0);

// Both round trips alternately on one bus, so that both see the same load
// on a shared machine; the counters give each one's mean and their ratio.
void BM_InterleavedRatio(benchmark::State& state) {
  pelorin::platform::testing::PrivateBus privateBus;
  ChildProcess bareEcho({selfPath, "--bare-echo"});
  ChildProcess notifyEcho({BUS_PEER, "echo", "bench.ping", "bench.pong"});
  if (!bareEcho.waitForLine("ready") || !notifyEcho.waitForLine("ready")) {
    return state.SkipWithError("no echo peer");
  }
  BareSide bare;
  NotifySide notify;
  std::chrono::duration<double, std::micro> bareTotal{0}, notifyTotal{0};
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    bare.roundTrip();
    auto middle = std::chrono::steady_clock::now();
    notify.roundTrip();
    auto end = std::chrono::steady_clock::now();
    bareTotal += middle - start;
    notifyTotal += end - middle;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["bare_us"] = bareTotal.count() / n;
  state.counters["notify_us"] = notifyTotal.count() / n;
  state.counters["ratio"] = notifyTotal.count() / bareTotal.count();
}
BENCHMARK(BM_InterleavedRatio)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  selfPath = argv[0];
  if (argc > 1 && std::strcmp(argv[1], "--bare-echo") == 0) return bareEcho();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
