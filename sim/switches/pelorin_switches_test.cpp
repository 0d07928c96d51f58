// The switch panel as a person or a script runs it: the real program in a
// temporary root with the Dorvessa bundle installed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "platform/property_list.h"
#include "platform/session_bus.h"
#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"

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

  std::optional<Value> omniSend() const {
    const auto settings = platform::readDictionary(root_.path(kSettings));
    if (!settings || settings->count("enableOmniSend") == 0) return std::nullopt;
    return settings->at("enableOmniSend");
  }

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

// Each step's printed state and what the settings file then holds.
TEST_F(PelorinSwitchesTest, CommandsReadAndFlipTheSettingsKey) {
  writeSettings({{"username", "alice@example.com"}, {"defaultSMSSend", 2}});
  const std::string id = kDorvessa;
  const std::vector<std::tuple<std::string, std::string, std::optional<Value>>> steps{
      {"state " + id, "off\n", std::nullopt},
      {"set " + id + " on", "on\n", true},
      {"toggle " + id, "off\n", false},
      {"toggle " + id, "on\n", true},
      {"set " + id + " indeterminate", "on\n", true},
      {"set " + id + " off", "off\n", false},
      {"toggle --json " + id,
       R"({"identifier":"com.talvern.dorvessa","state":"on"})"
       "\n",
       true},
  };
  for (const auto& [arguments, printed, stored] : steps) {
    const PanelRun result = run(arguments);
    EXPECT_EQ(result.status, 0) << arguments;
    EXPECT_EQ(result.out, printed) << arguments;
    EXPECT_EQ(omniSend(), stored) << arguments;
  }
  const auto settings = platform::readDictionary(root_.path(kSettings));
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->at("username"), Value("alice@example.com"));
  EXPECT_EQ(settings->at("defaultSMSSend"), Value(2));
}

TEST_F(PelorinSwitchesTest, ExitStatusTellsBadUsageFromAnUnknownSwitch) {
  const std::vector<std::pair<std::string, int>> cases{
      {"", 2},
      {"flip com.talvern.dorvessa", 2},
      {"state", 2},
      {"set com.talvern.dorvessa maybe", 2},
      {"state com.talvern.dorvessa extra", 2},
      {"state com.example.none", 1},
      {"toggle com.example.none", 1},
  };
  for (const auto& [arguments, status] : cases) {
    const PanelRun result = run(arguments);
    EXPECT_EQ(result.status, status) << arguments;
    EXPECT_NE(result.err, "") << arguments;
  }
  EXPECT_FALSE(root_.exists(kSettings));
}

TEST_F(PelorinSwitchesTest, WithoutSettingsFileTheSwitchStaysOffAndCreatesNothing) {
  for (const std::string arguments :
       {"set com.talvern.dorvessa on", "toggle com.talvern.dorvessa"}) {
    const PanelRun result = run(arguments);
    EXPECT_EQ(result.status, 0) << arguments;
    EXPECT_EQ(result.out, "off\n") << arguments;
  }
  EXPECT_FALSE(fs::exists(root_.path("/var")));
}

// Observes the settings notification on the test's private bus.
class SettingsWatcher {
 public:
  explicit SettingsWatcher(const std::string& address)
      : center_(platform::newBusDarwinNotifyCenter(address)) {
    center_->addObserver(kSettingsNotification, [this](const std::string&) {
      std::lock_guard lock(mutex_);
      ++heard_;
      arrived_.notify_all();
    });
  }

  // Whether `count` notifications in all have arrived within `timeout`.
  bool heard(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return heard_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  int heard_ = 0;  // guarded by mutex_
  std::unique_ptr<platform::DarwinNotifyCenter> center_;
};

TEST_F(PelorinSwitchesTest, FlippingPostsTheSettingsNotificationOnTheSessionBus) {
  platform::testing::PrivateBus bus;
  ASSERT_TRUE(bus.started());
  SettingsWatcher watcher(bus.address());

  EXPECT_EQ(run("set com.talvern.dorvessa on").status, 0);  // no file: posted all the same
  EXPECT_TRUE(watcher.heard(1, 10s));
  writeSettings({{"enableOmniSend", false}});
  EXPECT_EQ(run("toggle com.talvern.dorvessa").status, 0);
  EXPECT_TRUE(watcher.heard(2, 10s));
  EXPECT_EQ(omniSend(), Value(true));

  EXPECT_EQ(run("set com.talvern.dorvessa indeterminate").status, 0);
  EXPECT_EQ(run("state com.talvern.dorvessa").status, 0);
  EXPECT_EQ(run("set com.talvern.dorvessa off").status, 0);  // a marker after the silent ones
  EXPECT_TRUE(watcher.heard(3, 10s));
  EXPECT_FALSE(watcher.heard(4, 300ms));
  EXPECT_EQ(omniSend(), Value(false));
}

TEST_F(PelorinSwitchesTest, WithoutABusTheSwitchStillWritesAndSaysNothing) {
  writeSettings({{"enableOmniSend", false}});
  const PanelRun result = run("set com.talvern.dorvessa on",
                              "DBUS_SESSION_BUS_ADDRESS=unix:path=" + root_.path("/no-bus"));
  EXPECT_EQ(result.out + result.err, "on\n");
  EXPECT_EQ(omniSend(), Value(true));
}

// A FIFO at the settings path must not hang the panel, and is never replaced.
TEST_F(PelorinSwitchesTest, FifoAtTheSettingsPathReadsOffAndIsLeftAlone) {
  fs::create_directories(fs::path(root_.path(kSettings)).parent_path());
  ASSERT_EQ(::mkfifo(root_.path(kSettings).c_str(), 0644), 0);
  const PanelRun result = run("set com.talvern.dorvessa on");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "off\n");
  EXPECT_TRUE(fs::is_fifo(root_.path(kSettings)));
}

}  // namespace
}  // namespace pelorin::sim
