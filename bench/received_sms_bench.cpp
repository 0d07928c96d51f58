// Received-SMS records in the daemon host (Quenlow.so loaded, on a private bus):
//
// - BM_CentreToStoreAgainstBareRoundTrip: a record sent over the received-SMS
//   centre, as the home screen and the Mail application send it, until the
//   injected message is in the daemon host's store (its Event signal for the
//   stored message), against a bare D-Bus method round trip to the same host
//   on the same bus. The two alternate, so both see the same load.
// - BM_ResidentMemory: the daemon host's VmRSS every 10,000 texts up to
//   100,000, in three hosts: Quenlow loaded and the texts injected over the
//   centre; Quenlow loaded and the same texts delivered by the host's own
//   DeliverSMS; no Quenlow and the same texts by DeliverSMS.
#include <benchmark/benchmark.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/daemon_bus_driver.h"
#include "common/names.h"
#include "platform/messaging_center.h"
#include "platform/session_bus.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"

namespace {

using pelorin::platform::testing::ChildProcess;
namespace fs = std::filesystem;

constexpr const char* kDaemon = DaemonBusDriver::kDaemon;
constexpr const char* kDaemonPath = DaemonBusDriver::kDaemonPath;

struct Device {
  pelorin::platform::testing::TemporaryRoot root;
  pelorin::platform::testing::PrivateBus bus;
  std::unique_ptr<ChildProcess> daemon;

  bool start(bool withQuenlow) {
    if (!bus.started()) return false;
    if (withQuenlow) {
      const std::string folder = root.path("/Library/MobileSubstrate/DynamicLibraries");
      fs::create_directories(folder);
      for (const char* file : {QUENLOW_SO, QUENLOW_PLIST}) {
        fs::copy_file(file, folder + "/" + fs::path(file).filename().string());
      }
      fs::create_directories(root.path("/usr/lib"));
      fs::copy_file(ROCKETBOOTSTRAP, root.path("/usr/lib/librocketbootstrap.so"));
    }
    daemon = std::make_unique<ChildProcess>(std::vector<std::string>{DAEMON_HOST});
    if (!bus.waitForName(kDaemon)) return false;
    return !withQuenlow || bus.waitForName(std::string(pelorin::kSMSRecvCenterName));
  }

  // The host's resident set in KiB (VmRSS), or -1.
  long residentKiB() const {
    std::ifstream status("/proc/" + std::to_string(daemon->pid()) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
  }
};

// This side: one connection, one thread, for the host's control calls and
// its events. Records go over the platform's centre client, as the
// libraries that find texts send them (a provider of its own per bus: each
// measurement runs on a fresh one).
class Driver : public DaemonBusDriver {
 public:
  explicit Driver(const std::string& address)
      : centres_(pelorin::platform::newBusMessagingCenters(address)),
        centre_(centres_->centerNamed(std::string(pelorin::kSMSRecvCenterName))) {}

  bool ping() { return DaemonBusDriver::ping(kDaemon, kDaemonPath); }

  bool sendRecord(const std::string& text, const std::string& sender) {
    return centre_->sendMessageName(std::string(pelorin::kSMSReceivedMessageName),
                                    {{std::string(pelorin::kSMSTextMessageKey), text},
                                     {std::string(pelorin::kSMSSenderPhoneKey), sender}});
  }

  bool deliverSMS(const std::string& text, const std::string& sender) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(bus_, kDaemon, kDaemonPath, kDaemon, "DeliverSMS", &error,
                                     &reply, "ss", sender.c_str(), text.c_str());
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return r >= 0;
  }

 private:
  std::unique_ptr<pelorin::platform::MessagingCenterProvider> centres_;
  std::shared_ptr<pelorin::platform::CPDistributedMessagingCenter> centre_;
};

void percentiles(benchmark::State& state, std::vector<double>& micros, const std::string& name) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters[name + "_p50_us"] = micros[micros.size() / 2];
  state.counters[name + "_p99_us"] = micros[micros.size() * 99 / 100];
}

// One of 100 ten-digit senders, as texts come from a bounded set of people.
std::string senderFor(int serial) {
  char number[16];
  std::snprintf(number, sizeof number, "64655501%02d", serial % 100);
  return number;
}

void BM_CentreToStoreAgainstBareRoundTrip(benchmark::State& state) {
  Device device;
  if (!device.start(true)) return state.SkipWithError("the daemon host did not come up");
  Driver driver(device.bus.address());
  if (!driver.ok()) return state.SkipWithError("no bus");
  std::vector<double> bare, send, record;
  int serial = 0;
  for (auto _ : state) {
    const std::string text = "bench " + std::to_string(++serial);
    driver.expect(text);
    auto start = std::chrono::steady_clock::now();
    if (!driver.ping()) return state.SkipWithError("ping failed");
    auto middle = std::chrono::steady_clock::now();
    if (!driver.sendRecord(text, senderFor(serial))) return state.SkipWithError("not sent");
    auto sent = std::chrono::steady_clock::now();
    if (!driver.waitUntilStored(std::chrono::seconds(10)))
      return state.SkipWithError("record not stored");
    auto end = std::chrono::steady_clock::now();
    bare.push_back(std::chrono::duration<double, std::micro>(middle - start).count());
    send.push_back(std::chrono::duration<double, std::micro>(sent - middle).count());
    record.push_back(std::chrono::duration<double, std::micro>(end - middle).count());
  }
  percentiles(state, bare, "bare");
  // The client's part alone: the centre's owner checked, the record written.
  percentiles(state, send, "send");
  percentiles(state, record, "record");
  if (!bare.empty()) {
    state.counters["ratio_p50"] = record[record.size() / 2] / bare[bare.size() / 2];
  }
}
BENCHMARK(BM_CentreToStoreAgainstBareRoundTrip)->UseRealTime()->Iterations(2000);

constexpr int kTexts = 100'000;
constexpr int kSampleEvery = 10'000;
constexpr int kBatch = 100;  // texts in flight before waiting for the last one's arrival

enum class Road { kInjected, kQuenlowDeliverSMS, kBareDeliverSMS };

// The host's VmRSS before the first text and after every kSampleEvery texts.
std::vector<long> residentSamples(Road road, std::string& error) {
  Device device;
  if (!device.start(road != Road::kBareDeliverSMS)) {
    error = "the daemon host did not come up";
    return {};
  }
  Driver driver(device.bus.address());
  if (!driver.ok()) {
    error = "no bus";
    return {};
  }
  std::vector<long> samples{device.residentKiB()};
  for (int serial = 1; serial <= kTexts; ++serial) {
    // The same texts and senders on every road.
    const std::string text = "text number " + std::to_string(serial);
    const std::string sender = senderFor(serial);
    const bool last = serial % kBatch == 0;
    if (last) driver.expect(text);
    const bool sent =
        road == Road::kInjected ? driver.sendRecord(text, sender) : driver.deliverSMS(text, sender);
    if (!sent) {
      error = "a text was refused";
      return {};
    }
    if (last && !driver.waitUntilStored(std::chrono::seconds(10))) {
      error = "a text was not stored";
      return {};
    }
    if (serial % kSampleEvery == 0) samples.push_back(device.residentKiB());
  }
  return samples;
}

void BM_ResidentMemory(benchmark::State& state) {
  const struct {
    Road road;
    const char* name;
  } roads[] = {{Road::kInjected, "quenlow_injected"},
               {Road::kQuenlowDeliverSMS, "quenlow_deliver"},
               {Road::kBareDeliverSMS, "bare_deliver"}};
  std::vector<std::vector<long>> samples;
  for (auto _ : state) {
    samples.clear();
    for (const auto& road : roads) {
      std::string error;
      samples.push_back(residentSamples(road.road, error));
      if (samples.back().empty()) return state.SkipWithError(error.c_str());
    }
  }
  std::fprintf(stderr, "%8s %18s %18s %18s %12s %12s\n", "texts", "quenlow_injected",
               "quenlow_deliver", "bare_deliver", "inj-bare", "dlv-bare");
  for (std::size_t i = 0; i < samples[0].size(); ++i) {
    std::fprintf(stderr, "%8zu %15ld KiB %15ld KiB %15ld KiB %8ld KiB %8ld KiB\n", i * kSampleEvery,
                 samples[0][i], samples[1][i], samples[2][i], samples[0][i] - samples[2][i],
                 samples[1][i] - samples[2][i]);
  }
  for (std::size_t r = 0; r < samples.size(); ++r) {
    const std::string name = roads[r].name;
    state.counters[name + "_start_kib"] = samples[r].front();
    state.counters[name + "_100k_kib"] = samples[r].back();
    // Growth per text from the first sample on, past the start-up's own allocations.
    state.counters[name + "_bytes_per_text"] =
        (samples[r].back() - samples[r][1]) * 1024.0 / (kTexts - kSampleEvery);
  }
}
BENCHMARK(BM_ResidentMemory)->UseRealTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
