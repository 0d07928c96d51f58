// pelorin-sim: a device brought up, used, restarted and taken down; one tied
// to a parent that dies; its command line; and the bootstrap stand-in it installs.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "pelorin/version.h"
#include "platform/dynamic_library.h"
#include "platform/property_list.h"
#include "platform/rocketbootstrap.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::testing::ChildProcess;
using platform::testing::runProgram;
using Strings = std::vector<std::string>;

constexpr char kSettings[] = "/var/mobile/Library/Preferences/com.talvern.Pelorin.plist";
constexpr char kTweaks[] = "/Library/MobileSubstrate/DynamicLibraries/";

// The `export NAME='VALUE'` lines of `up`.
std::map<std::string, std::string> exportsIn(const std::string& output) {
  static const std::regex line("^export (\\w+)='([^']*)'", std::regex::multiline);
  std::map<std::string, std::string> values;
  for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it)
    values[(*it)[1]] = (*it)[2];
  return values;
}

// Running, and not a zombie left for whoever adopted it.
bool running(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (pid <= 0 || !std::getline(in, stat)) return false;
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// A process's NUL-separated /proc file ("cmdline", "environ").
Strings procEntries(int pid, const std::string& file) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  Strings entries;
  for (std::string entry; std::getline(in, entry, '\0');) entries.push_back(entry);
  return entries;
}

bool has(const Strings& entries, const std::string& entry) {
  return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

// A device root, with pelorin-sim taking its tweaks from a folder of the
// test's (one tweak with its filter, one without) and tying every device to
// this process.
class PelorinSimTest : public ::testing::Test {
 protected:
  PelorinSimTest() {
    fs::create_directories(tweaks_);
    fs::copy_file(SIM_TEST_TWEAK, tweaks_ + "/SimTestTweak.so");
    fs::copy_file(SIM_TEST_TWEAK, tweaks_ + "/Unfiltered.so");
    platform::Dictionary filter{{"Executables", platform::Array{"imagent"}}};
    platform::writePropertyListAtomically(
        tweaks_ + "/SimTestTweak.plist", platform::Value(platform::Dictionary{{"Filter", filter}}));
    ::setenv("PELORIN_SIM_TWEAKS", tweaks_.c_str(), 1);
    ::setenv("PELORIN_SIM_EXIT_WITH", std::to_string(::getpid()).c_str(), 1);
  }
  ~PelorinSimTest() override {
    runProgram({PELORIN_SIM, "down", "--root", root_.folder()});
    for (const char* name : {"PELORIN_SIM_TWEAKS", "PELORIN_SIM_EXIT_WITH", "PELORIN_GV_URL",
                             "DBUS_SESSION_BUS_ADDRESS"}) {
      ::unsetenv(name);
    }
    fs::remove_all(tweaks_);
  }

  std::string state(const std::string& name) const {
    return root_.path("/var/run/pelorin-sim/" + name);
  }
  int pid(const std::string& name) const {
    std::ifstream in(state(name + ".pid"));
    int pid = 0;
    in >> pid;
    return pid;
  }
  Strings running(const Strings& names) const {
    Strings found;
    for (const auto& name : names) {
      if (sim::running(pid(name))) found.push_back(name);
    }
    return found;
  }

  platform::testing::TemporaryRoot root_;
  const std::string tweaks_ = root_.folder() + "-tweaks";
};

TEST_F(PelorinSimTest, UpWiresTheDeviceRestartKeepsItsOptionsAndDownStopsAll) {
  std::string output;
  ASSERT_EQ(
      runProgram({PELORIN_SIM, "up", "--root", root_.folder(), "--gv-service", "--model", "iPad"},
                 &output),
      0)
      << output;
  auto env = exportsIn(output);
  EXPECT_EQ(env["PELORIN_ROOT"], root_.folder());
  EXPECT_TRUE(env["PELORIN_GV_URL"].starts_with("https://127.0.0.1:")) << output;
  EXPECT_TRUE(fs::exists(env["PELORIN_GV_CACERT"]));
  ::setenv("DBUS_SESSION_BUS_ADDRESS", env["DBUS_SESSION_BUS_ADDRESS"].c_str(), 1);

  // What up installs: the filtered tweak, loaded; the bootstrap stand-in; the
  // switch; the demo settings; every file of its own private.
  EXPECT_TRUE(root_.exists(std::string(kTweaks) + "SimTestTweak.so"));
  EXPECT_FALSE(root_.exists(std::string(kTweaks) + "Unfiltered.so"));
  EXPECT_TRUE(
      root_.readFile("/var/tmp/sim-test-tweak.log").starts_with("replaced CTMessageCenter"));
  EXPECT_TRUE(root_.exists("/usr/lib/librocketbootstrap.so"));
  EXPECT_TRUE(root_.exists("/Library/Switches/Dorvessa.bundle/Info.plist"));
  for (const std::string& file : {state("env"), state("host.log"), state("events.jsonl"),
                                  state("messages.log"), state("options"), root_.path(kSettings)}) {
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << file;
  }
  // Every host on the device's bus and root, with the service's address; the
  // model goes to the hosts that show alerts only.
  const Strings daemonEnv = procEntries(pid("host"), "environ");
  EXPECT_TRUE(has(daemonEnv, "PELORIN_GV_CACERT=" + env["PELORIN_GV_CACERT"]));
  EXPECT_FALSE(has(procEntries(pid("host"), "cmdline"), "--model"));
  for (const char* host : {"springboard", "messages", "mail"}) {
    const Strings hostEnv = procEntries(pid(host), "environ");
    for (const auto& entry : daemonEnv) {
      if (entry.starts_with("DBUS_SESSION_BUS_ADDRESS=") || entry.starts_with("PELORIN_ROOT=")) {
        EXPECT_TRUE(has(hostEnv, entry)) << host << " " << entry;
      }
    }
  }
  for (const char* host : {"springboard", "messages"}) {
    EXPECT_TRUE(has(procEntries(pid(host), "cmdline"), "iPad")) << host;
  }

  // The device serves: the daemon lists, pelorinctl posts and hears, the
  // Messages host sends; a second up is refused.
  const std::string name = "com.talvern.sim.MessagingDaemon";
  const Strings list{"busctl", "--user",       "call", name, "/com/talvern/sim/MessagingDaemon",
                     name,     "ListMessages", "uu",   "0",  "0"};
  output.clear();
  EXPECT_EQ(runProgram(list, &output), 0);
  EXPECT_EQ(output,
            "s \"{\\\"items\\\":[],\\\"more\\\":false,\\\"offset\\\":0,\\\"total\\\":0}\"\n");
  ChildProcess watcher(
      {PELORINCTL, "notify", "watch", "--count", "1", "--timeout", "20", "test.wanted"});
  std::optional<std::string> heard;  // the watcher says nothing until it listens
  for (int attempt = 0; attempt < 50 && !heard; ++attempt) {
    ASSERT_EQ(runProgram({PELORINCTL, "notify", "post", "test.unwanted", "test.wanted"}), 0);
    heard = watcher.readLine(200ms);
  }
  EXPECT_EQ(heard, "test.wanted");
  EXPECT_EQ(watcher.waitForExit(), 0);
  EXPECT_EQ(runProgram({PELORINCTL, "notify", "watch", "--timeout", "0.2", "test.silent"}), 1);
  output.clear();
  EXPECT_EQ(runProgram({PELORINCTL, "send", "--to", "2125551212", "hi"}, &output), 0);
  EXPECT_EQ(output, "sent\n");
  // The home screen's door refuses a push without a topic or with one too long.
  const std::string board = "com.talvern.sim.SpringBoard";
  for (const auto& [topic, why] : {std::pair<std::string, std::string>{"", "needs a topic"},
                                   {std::string(256, 't'), "topic"}}) {
    output.clear();
    EXPECT_NE(
        runProgram({"sh", "-c", "exec \"$@\" 2>&1", "sh", "busctl", "--user", "call", board,
                    "/com/talvern/sim/SpringBoard", board, "DeliverPush", "sa{sv}", topic, "0"},
                   &output),
        0);
    EXPECT_NE(output.find(why), std::string::npos) << output;
  }
  EXPECT_NE(runProgram({PELORIN_SIM, "up", "--root", root_.folder()}), 0);

  const int before = pid("messages");
  ASSERT_EQ(runProgram({PELORIN_SIM, "restart", "messages", "--root", root_.folder()}), 0);
  EXPECT_FALSE(sim::running(before));
  EXPECT_TRUE(has(procEntries(pid("messages"), "cmdline"), "iPad"));

  const Strings all{"host", "springboard", "messages", "mail", "gv", "bus", "watchdog"};
  EXPECT_EQ(running(all), all);
  std::map<std::string, int> pids;
  for (const auto& process : all) pids[process] = pid(process);
  ASSERT_EQ(runProgram({PELORIN_SIM, "down", "--root", root_.folder()}), 0);
  for (const auto& [process, id] : pids) EXPECT_FALSE(sim::running(id)) << process;
  EXPECT_NE(runProgram(list), 0);
}

// A device without tweaks or optional hosts, brought up by a parent that then
// dies without taking it down: the watchdog does.
TEST_F(PelorinSimTest, ADeviceTiedToAParentGoesDownWhenTheParentIsKilled) {
  ::setenv("PELORIN_GV_URL", "https://127.0.0.1:9", 1);
  ChildProcess parent({"sh", "-c",
                       "PELORIN_SIM_EXIT_WITH=$$ \"$0\" up --root \"$1\" --no-tweaks --no-iphone "
                       "--no-springboard --no-messages >/dev/null && echo up && exec sleep 600",
                       PELORIN_SIM, root_.folder()});
  ASSERT_TRUE(parent.waitForLine("up", 60s));
  const Strings device{"host", "mail", "bus", "watchdog"};
  EXPECT_EQ(running(device), device);
  EXPECT_EQ(running({"springboard", "messages", "gv"}), Strings{});
  EXPECT_FALSE(root_.exists(std::string(kTweaks) + "SimTestTweak.so"));
  EXPECT_FALSE(root_.exists(kSettings));
  EXPECT_TRUE(has(procEntries(pid("host"), "environ"), "PELORIN_GV_URL=https://127.0.0.1:9"));
  EXPECT_TRUE(has(procEntries(pid("host"), "cmdline"), "--no-iphone"));
  const auto env = exportsIn(root_.readFile("/var/run/pelorin-sim/env"));
  EXPECT_EQ(env.at("PELORIN_GV_URL"), "https://127.0.0.1:9");
  ::setenv("DBUS_SESSION_BUS_ADDRESS", env.at("DBUS_SESSION_BUS_ADDRESS").c_str(), 1);
  std::string output;
  EXPECT_EQ(runProgram({PELORINCTL, "send", "--to", "2125551212", "hi"}, &output), 1);
  EXPECT_EQ(output, "");

  std::map<std::string, int> pids;
  for (const auto& process : device) pids[process] = pid(process);
  ::kill(parent.pid(), SIGKILL);
  parent.waitForExit();
  for (const auto& [process, id] : pids) {
    for (int i = 0; i < 100 && sim::running(id); ++i) std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(sim::running(id)) << process;
  }
}

// Help and version print and start nothing; bad use, and a root where
// nothing runs, are refused.
TEST(PelorinSimCommandLineTest, HelpVersionAndRefusals) {
  platform::testing::TemporaryRoot root;
  const std::string absent = root.folder() + "/absent";
  const std::tuple<Strings, int, std::string> rows[] = {
      {{"--help"}, 0, "usage: pelorin-sim COMMAND"},
      {{"up", "--root", absent, "--help"}, 0, "usage: pelorin-sim up"},
      {{"--version"}, 0, std::string("pelorin-sim ") + kPelorinVersion + "\n"},
      {{"bogus"}, 2, ""},
      {{"restart", "phone", "--root", root.folder()}, 2, ""},
      {{"restart", "mail", "--root", root.folder()}, 1, ""},
      {{"down", "--root", root.folder()}, 1, ""},
      {{"up", "--root", absent}, 1, ""},  // with PELORIN_SIM_EXIT_WITH naming no process
  };
  ::setenv("PELORIN_SIM_EXIT_WITH", "999999999", 1);
  for (const auto& [arguments, status, printed] : rows) {
    Strings argv{PELORIN_SIM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    EXPECT_EQ(runProgram(argv, &output), status) << arguments[0];
    EXPECT_EQ(output.substr(0, printed.size()), printed) << arguments[0];
  }
  ::unsetenv("PELORIN_SIM_EXIT_WITH");
  EXPECT_FALSE(fs::exists(absent));
}

TEST(RocketBootstrapStandInTest, ExportsTheTwoFunctionsAndRecordsCalls) {
  auto* apply = platform::findLibraryFunction<platform::RocketBootstrapApply>(
      ROCKETBOOTSTRAP, std::string(platform::kRocketBootstrapApplySymbol));
  auto* unlock = platform::findLibraryFunction<platform::RocketBootstrapUnlock>(
      ROCKETBOOTSTRAP, std::string(platform::kRocketBootstrapUnlockSymbol));
  auto* calls = platform::findLibraryFunction<unsigned(const char*)>(
      ROCKETBOOTSTRAP, "pelorin_rocketbootstrap_calls");
  ASSERT_TRUE(apply && unlock && calls);
  apply(nullptr);
  EXPECT_EQ(unlock("com.talvern.PelorinSMSRecvCenter"), 0);
  EXPECT_EQ(calls("apply"), 1u);
  EXPECT_EQ(calls("unlock"), 1u);
}

}  // namespace
}  // namespace pelorin::sim
