// The switch panel as a person or a script runs it: the real program in a
// temporary root with the Dorvessa bundle installed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/property_list.h"
#include "platform/testing/bus_notification_counter.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "tools/pelorinctl/pelorinctl_runner.h"

namespace pelorin::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::Dictionary;
using platform::Value;

constexpr char kSettings[] = "/var/mobile/Library/Preferences/com.talvern.Pelorin.plist";
constexpr char kSwitchFolder[] = "/Library/Switches";
constexpr char kDorvessa[] = "com.talvern.dorvessa";
constexpr char kSettingsNotification[] = "com.talvern.PelorinSettingsNotification";

struct PanelRun {
  std::optional<int> status;
  std::string out;
  std::string err;
};

class PelorinSwitchesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_.path(kSwitchFolder));
    fs::copy(DORVESSA_BUNDLE, root_.path(std::string(kSwitchFolder) + "/Dorvessa.bundle"),
             fs::copy_options::recursive);
  }

  // Runs the panel with `arguments` (already quoted for the shell), keeping
  // standard output and standard error apart.
  PanelRun run(const std::string& arguments, const std::string& environment = "") {
    const std::string errFile = root_.path("/stderr.txt");
    PanelRun result;
    result.status = platform::testing::runProgram(
        {"sh", "-c",
         environment + " exec " PELORIN_SWITCHES " " + arguments + " 2>'" + errFile + "'"},
        &result.out, 20s);
    result.err = root_.readFile("/stderr.txt");
    return result;
  }

  void writeSettings(const Dictionary& settings) {
    ASSERT_TRUE(platform::writePropertyListAtomically(root_.path(kSettings), Value(settings)));
  }

  std::optional<Value> stored(const std::string& key) const {
    const auto settings = platform::readDictionary(root_.path(kSettings));
    if (!settings || settings->count(key) == 0) return std::nullopt;
    return settings->at(key);
  }
  std::optional<Value> omniSend() const { return stored("enableOmniSend"); }

  platform::testing::TemporaryRoot root_;
};

TEST_F(PelorinSwitchesTest, ListShowsEachLoadedSwitchAndSkipsBrokenBundles) {
  const std::string folder = root_.path(kSwitchFolder);
  fs::create_directories(folder + "/Empty.bundle");
  fs::create_directories(folder + "/NoSymbol.bundle");
  fs::copy_file(SIM_TEST_TWEAK, folder + "/NoSymbol.bundle/NoSymbol.so");
  platform::writePropertyListAtomically(
      folder + "/NoSymbol.bundle/Info.plist",
      Value(Dictionary{{"CFBundleIdentifier", "com.example.nosymbol"},
                       {"NSPrincipalClass", "NoSuchClass"}}));
  fs::copy(folder + "/Dorvessa.bundle", folder + "/Twin.bundle", fs::copy_options::recursive);
  writeSettings({{"enableOmniSend", true}});

  PanelRun listed = run("list");
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, std::string(kDorvessa) + "\ton\tGoogle Voice for all\n");
  for (const char* skipped : {"Empty.bundle", "NoSymbol.bundle", "Twin.bundle"})
    EXPECT_NE(listed.err.find(std::string("skipped ") + folder + "/" + skipped), std::string::npos)
        << listed.err;

  fs::remove_all(folder);
  listed = run("list");
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out + listed.err, "");
}

// Each step's exit status, printed state and the key stored after it, with
// no bus to post on: nothing but the state is ever printed. Without a
// settings file the switch stays off and nothing is created; bad usage (2)
// and an unknown switch (1) are refused with a reason.
TEST_F(PelorinSwitchesTest, CommandsReadAndFlipTheSettingsKey) {
  const std::string id = std::string(" ") + kDorvessa;
  struct Step {
    std::string arguments;
    int status;
    std::string printed;
    std::optional<Value> stored;
  };
  const auto walk = [&](const std::vector<Step>& steps) {
    for (const auto& [arguments, status, printed, stored] : steps) {
      const PanelRun result =
          run(arguments, "DBUS_SESSION_BUS_ADDRESS=unix:path=" + root_.path("/no-bus"));
      EXPECT_EQ(result.status, status) << arguments;
      EXPECT_EQ(result.out, printed) << arguments;
      EXPECT_EQ(result.err.empty(), status == 0) << arguments << ": " << result.err;
      EXPECT_EQ(omniSend(), stored) << arguments;
    }
  };
  walk({{"set" + id + " on", 0, "off\n", {}},
        {"toggle" + id, 0, "off\n", {}},
        {"", 2, "", {}},
        {"flip" + id, 2, "", {}},
        {"state", 2, "", {}},
        {"set" + id + " maybe", 2, "", {}},
        {"state" + id + " extra", 2, "", {}},
        {"state com.example.none", 1, "", {}},
        {"toggle com.example.none", 1, "", {}}});
  EXPECT_FALSE(fs::exists(root_.path("/var")));

  writeSettings({{"username", "alice@example.com"}, {"defaultSMSSend", 2}});
  walk({{"state" + id, 0, "off\n", {}},
        {"set" + id + " on", 0, "on\n", true},
        {"toggle" + id, 0, "off\n", false},
        {"toggle" + id, 0, "on\n", true},
        {"set" + id + " indeterminate", 0, "on\n", true},
        {"set" + id + " off", 0, "off\n", false},
        {"toggle --json" + id, 0,
         R"({"identifier":"com.talvern.dorvessa","state":"on"})"
         "\n",
         true}});
  const auto settings = platform::readDictionary(root_.path(kSettings));
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->at("username"), Value("alice@example.com"));
  EXPECT_EQ(settings->at("defaultSMSSend"), Value(2));

  // A FIFO at the settings path must not hang the panel, and is never replaced.
  fs::remove(root_.path(kSettings));
  ASSERT_EQ(::mkfifo(root_.path(kSettings).c_str(), 0644), 0);
  const PanelRun result = run("set" + id + " on");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "off\n");
  EXPECT_TRUE(fs::is_fifo(root_.path(kSettings)));
}

// Each flip posts the settings notification, even with no file yet; reading
// the state and the indeterminate state post nothing.
TEST_F(PelorinSwitchesTest, FlippingPostsTheSettingsNotificationOnTheSessionBus) {
  platform::testing::PrivateBus bus;
  ASSERT_TRUE(bus.started());
  platform::testing::BusNotificationCounter heard(kSettingsNotification);
  const std::string id = std::string(" ") + kDorvessa;
  EXPECT_EQ(run("set" + id + " on").status, 0);
  EXPECT_EQ(heard.waitFor(1), 1);
  writeSettings({{"enableOmniSend", false}});
  EXPECT_EQ(run("toggle" + id).status, 0);
  EXPECT_EQ(heard.waitFor(2), 2);
  EXPECT_EQ(run("set" + id + " indeterminate").status, 0);
  EXPECT_EQ(run("state" + id).status, 0);
  EXPECT_EQ(run("set" + id + " off").status, 0);  // a marker after the silent ones
  EXPECT_EQ(heard.waitFor(3), 3);
}

// The settings file keeps its permissions through every rewrite, whatever
// the umask, and is created private.
TEST_F(PelorinSwitchesTest, RewritesLeaveTheSettingsFileAsPrivateAsItWas) {
  const std::string path = root_.path(kSettings);
  const auto permissions = [&] { return fs::status(path).permissions(); };
  const std::string toggle = std::string("toggle ") + kDorvessa;
  for (const mode_t mask : {022, 077}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    const mode_t previous = ::umask(mask);
    fs::remove(path);
    EXPECT_EQ(ctl::testing::runPelorinctl("settings set --no-notify password secret").status, 0);
    EXPECT_EQ(permissions(), fs::perms(0600));
    EXPECT_EQ(run(toggle).status, 0);
    EXPECT_EQ(ctl::testing::runPelorinctl("settings set --no-notify recvsig x").status, 0);
    EXPECT_EQ(permissions(), fs::perms(0600));
    fs::permissions(path, fs::perms(0640));
    EXPECT_EQ(run(toggle).status, 0);
    EXPECT_EQ(permissions(), fs::perms(0640));
    ::umask(previous);
  }
}

// Writers as separate processes side by side, each alone changing one key.
// What a writer last reported storing under its key must be in the file
// whenever it looks again: a writer that rewrote the file from a stale read
// would have undone it.
TEST_F(PelorinSwitchesTest, SideBySideWritersNeverUndoAChangeReportedAsMade) {
  writeSettings({{"password", "secret"}});
  const std::string toggle = "DBUS_SESSION_BUS_ADDRESS=unix:path=" + root_.path("/no-bus") +
                             " exec " PELORIN_SWITCHES " toggle " + kDorvessa + " 2>/dev/null";
  // One round of writing: the value the writer reported storing, or nothing.
  using Write = std::function<std::optional<Value>(int round)>;
  const auto settingsSet = [](const std::string& key) -> Write {
    return [key](int round) -> std::optional<Value> {
      const std::string value = key + std::to_string(round);
      const auto result =
          ctl::testing::runPelorinctl("settings set --no-notify " + key + " " + value);
      return result.status ? std::nullopt : std::optional<Value>(value);
    };
  };
  const std::vector<std::pair<std::string, Write>> writers{
      {"recvsig", settingsSet("recvsig")},
      {"sendsig", settingsSet("sendsig")},
      {"enableOmniSend", [&](int) -> std::optional<Value> {
         std::string out;
         if (platform::testing::runProgram({"sh", "-c", toggle}, &out) != 0) return std::nullopt;
         return Value(out == "on\n");
       }}};
  constexpr int kRounds = 30;
  std::atomic<int> reported = 0, undone = 0;
  std::vector<std::thread> threads;
  for (const auto& [key, write] : writers) {
    threads.emplace_back([&] {
      std::optional<Value> last;
      for (int round = 0; round <= kRounds; ++round) {
        if (last && stored(key) != last) ++undone;
        if (round == kRounds) break;
        if (auto value = write(round)) {
          last = std::move(value);
          ++reported;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(undone, 0);
  EXPECT_GT(reported, kRounds * 2);
  EXPECT_EQ(stored("password"), Value("secret"));
}

}  // namespace
}  // namespace pelorin::sim
