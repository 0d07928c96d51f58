// A Google Voice push from the home screen's DeliverPush until the text is in
// the daemon host's store (Hestrel.so and Quenlow.so in their real hosts,
// the received-SMS centre between them), against a bare D-Bus method round
// trip to the home-screen host on the same bus. The two alternate, so both
// see the same load; each reports p50 and p99.
#include <benchmark/benchmark.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/daemon_bus_driver.h"
#include "platform/property_list.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"

namespace {

using pelorin::platform::testing::ChildProcess;
namespace fs = std::filesystem;

constexpr char kSpringBoard[] = "com.talvern.sim.SpringBoard";
constexpr char kSpringBoardPath[] = "/com/talvern/sim/SpringBoard";

struct Device {
  pelorin::platform::testing::TemporaryRoot root;
  pelorin::platform::testing::PrivateBus bus;
  std::unique_ptr<ChildProcess> daemon;
  std::unique_ptr<ChildProcess> springBoard;

  bool start() {
    if (!bus.started()) return false;
    const std::string folder = root.path("/Library/MobileSubstrate/DynamicLibraries");
    fs::create_directories(folder);
    for (const char* file : {HESTREL_SO, HESTREL_PLIST, QUENLOW_SO, QUENLOW_PLIST}) {
      fs::copy_file(file, folder + "/" + fs::path(file).filename().string());
    }
    fs::create_directories(root.path("/usr/lib"));
    fs::copy_file(ROCKETBOOTSTRAP, root.path("/usr/lib/librocketbootstrap.so"));
    const pelorin::platform::Dictionary settings{{"enableReceiveOfficialGV", true}};
    if (!pelorin::platform::writePropertyListAtomically(
            root.path("/var/mobile/Library/Preferences/com.talvern.Pelorin.plist"), settings)) {
      return false;
    }
    daemon = std::make_unique<ChildProcess>(std::vector<std::string>{DAEMON_HOST});
    if (!bus.waitForName("com.talvern.sim.MessagingDaemon")) return false;
    springBoard = std::make_unique<ChildProcess>(std::vector<std::string>{SPRINGBOARD_HOST});
    return bus.waitForName(kSpringBoard);
  }
};

// This side: pings the home screen and pushes, then waits for the daemon's event.
class Driver : public DaemonBusDriver {
 public:
  bool ping() { return DaemonBusDriver::ping(kSpringBoard, kSpringBoardPath); }

  // Delivers a push with a text of its own and waits until the daemon stored it.
  bool pushUntilStored(int serial) {
    expect("bench " + std::to_string(serial));
    const std::string alert = "Text from (415) 555-0199:\nbench " + std::to_string(serial);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, kSpringBoard, kSpringBoardPath, kSpringBoard, "DeliverPush",
                               &error, &reply, "sa{sv}", "com.google.GVDialer", 1, "aps", "a{sv}",
                               1, "alert", "s", alert.c_str());
    int shown = 1;
    if (r >= 0) r = sd_bus_message_read_basic(reply, 'b', &shown);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    if (r < 0 || shown) return false;
    return waitUntilStored(std::chrono::seconds(5));
  }
};

void percentiles(benchmark::State& state, std::vector<double>& micros, const std::string& name) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters[name + "_p50_us"] = micros[micros.size() / 2];
  state.counters[name + "_p99_us"] = micros[micros.size() * 99 / 100];
}

void BM_PushToStoreAgainstBareRoundTrip(benchmark::State& state) {
  Device device;
  if (!device.start()) return state.SkipWithError("the device did not come up");
  Driver driver;
  if (!driver.ok()) return state.SkipWithError("no bus");
  std::vector<double> bare, push;
  int serial = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!driver.ping()) return state.SkipWithError("ping failed");
    auto middle = std::chrono::steady_clock::now();
    if (!driver.pushUntilStored(++serial)) return state.SkipWithError("push not stored");
    auto end = std::chrono::steady_clock::now();
    bare.push_back(std::chrono::duration<double, std::micro>(middle - start).count());
    push.push_back(std::chrono::duration<double, std::micro>(end - middle).count());
  }
  percentiles(state, bare, "bare");
  percentiles(state, push, "push");
  if (!bare.empty()) state.counters["ratio_p50"] = push[push.size() / 2] / bare[bare.size() / 2];
}
BENCHMARK(BM_PushToStoreAgainstBareRoundTrip)->UseRealTime()->Iterations(2000);

}  // namespace

BENCHMARK_MAIN();
