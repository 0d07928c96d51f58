// pelorin-rules driven the way a person uses it, in one walk: in a real
// terminal (tmux), by keystrokes, each screen compared whole, attributes
// included, with its expected form in screens/. A running simulated device
// (Quenlow.so in the daemon host, on the same private bus and root) routes
// its next text by the rule saved in the editor. No Google Voice service is
// reachable, so a text routed there fails.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/names.h"
#include "outgoing/testing/quenlow_device.h"
#include "platform/address_book.h"
#include "platform/property_list.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "rules_editor/terminal/testing/editor_terminal.h"

namespace pelorin::rules_editor {
namespace {

using nlohmann::json;
using pelorin::testing::QuenlowDevice;
using platform::Dictionary;
using Terminal = testing::EditorTerminal;

::testing::AssertionResult shows(Terminal& t, const std::string& name) {
  if (t.shows(std::string(PELORIN_SCREENS_DIR) + "/" + name + ".txt")) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "not the screen " << name << ":\n" << t.screen(true);
}

// A list row as drawn at `width` columns (captured without trailing blanks).
std::string row(const std::string& prefix, const std::string& mode, std::size_t width) {
  std::string line = " " + prefix;
  const std::string right = mode + "  >";
  line.resize(width - right.size() - 1, ' ');
  return line + right + "\n";
}

// How the device's host reported the SMS `id`: its final state and whether it
// went to the carrier.
std::pair<std::string, bool> follow(QuenlowDevice& device, std::uint32_t id) {
  bool carrier = false;
  const auto last = device.nextEvent([&](const json& e) {
    if (e.value("event", "") == "carrierSendSMS" && e["messageId"] == id) carrier = true;
    return e.contains("message") && e["message"]["messageId"] == id &&
           (e["message"]["state"] == "sent" || e["message"]["state"] == "failed");
  });
  return {last ? (*last)["message"]["state"].get<std::string>() : "", carrier};
}

class PelorinRulesScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    // A closed loopback port: nothing leaves the machine and Google Voice fails at once.
    setenv("PELORIN_GV_URL", "https://127.0.0.1:9", 1);
    auto book = platform::newSqliteAddressBook();
    book->addPerson("Bea Many", {{"home", "(310) 555-0000"}, {"work", "+44 20 7946 0123"}},
                    {{"home", "bea@example.com"}});
    book->addPerson("Ada One", {{"mobile", "(212) 555-1212"}}, {});
    write(kRulesFile, Dictionary{{"1310", 1}, {"1415", 7}});
    // Logging only so that the daemon's re-read of the rules can be awaited.
    write(kSettingsFile, Dictionary{{"enableLogging", true}});
  }
  void TearDown() override { unsetenv("PELORIN_GV_URL"); }

  void write(std::string_view file, const Dictionary& contents) {
    ASSERT_TRUE(platform::writePropertyListAtomically(root_.path(std::string(file)), contents));
  }
  Dictionary rules() {
    return platform::readDictionary(root_.path(std::string(kRulesFile))).value_or(Dictionary{});
  }
  std::string log() { return root_.readFile(std::string(kLogFile)); }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
};

TEST_F(PelorinRulesScreenTest, OneWalkThroughEveryScreen) {
  QuenlowDevice device;
  ASSERT_TRUE(device.started());
  EXPECT_EQ(follow(device, device.sendSMS({"2125551212"}, "before")),
            std::make_pair(std::string("failed"), false));

  Terminal t(root_.folder(), bus_.address(), 50, 14);
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(shows(t, "alert"));
  t.keys({"Enter"});
  ASSERT_TRUE(shows(t, "list"));
  t.resize(60, 16);
  ASSERT_TRUE(t.waitFor(row("1415", "(Unknown)", 60))) << t.screen();
  // A window with room for one row scrolls to keep the selected one shown.
  t.resize(50, 6);
  t.keys({"Down"});
  ASSERT_TRUE(t.waitFor(row("1415", "(Unknown)", 50))) << t.screen();
  t.keys({"Up"});
  t.resize(50, 14);
  ASSERT_TRUE(shows(t, "list"));

  // Add from the second row: "+" first and selected; a second Add says so.
  t.keys({"Down", "a", "a"});
  ASSERT_TRUE(shows(t, "list-added"));
  EXPECT_EQ(rules(), (Dictionary{{"1310", 1}, {"1415", 7}}));
  // Open it, type (212), choose Carrier after Google Voice, go back: stored
  // as 1212 and kept selected; the device routes the next text by it.
  t.keys({"Enter", "BSpace"});
  t.type("(212)");
  t.keys({"Tab", "Right", "Left"});
  ASSERT_TRUE(shows(t, "rule"));
  const std::size_t logSize = log().size();
  t.keys({"Escape"});
  ASSERT_TRUE(shows(t, "list-saved"));
  EXPECT_EQ(rules(), (Dictionary{{"1212", 0}, {"1310", 1}, {"1415", 7}}));
  ASSERT_TRUE(t.waitUntil([&](const std::string&) {
    return log().find("Array of keys", logSize) != std::string::npos;
  })) << log();
  EXPECT_EQ(follow(device, device.sendSMS({"2125551212"}, "after")),
            std::make_pair(std::string("sent"), true));

  // Reopen it and take a number from a contact with several values; the
  // e-mail address is refused with a notice.
  t.keys({"Enter", "Tab", "Tab"});
  ASSERT_TRUE(shows(t, "rule-contacts"));
  t.keys({"Enter"});
  ASSERT_TRUE(shows(t, "picker"));
  t.keys({"Down", "Enter", "Down", "Down", "Enter"});
  ASSERT_TRUE(shows(t, "person-notice"));
  t.keys({"Up", "Enter"});
  ASSERT_TRUE(t.waitFor("+442079460123")) << t.screen();
  t.keys({"Escape"});
  ASSERT_TRUE(t.waitFor(row("011442079460123", "Carrier", 50))) << t.screen();

  // An unknown mode shows no segment, says it is kept, and keeps it.
  t.keys({"Down", "Down", "Enter"});
  ASSERT_TRUE(shows(t, "rule-unknown"));
  t.keys({"Escape"});
  ASSERT_TRUE(t.waitForGone("Edit Rule")) << t.screen();
  EXPECT_EQ(rules(), (Dictionary{{"011442079460123", 0}, {"1310", 1}, {"1415", 7}}));

  // Editing mode: Enter opens nothing, d deletes the selected (last) row at
  // once and the new last row is selected.
  t.keys({"e", "Enter", "d"});
  ASSERT_TRUE(shows(t, "editing"));
  EXPECT_EQ(rules(), (Dictionary{{"011442079460123", 0}, {"1310", 1}}));

  // A folder in the rules file's place makes every write fail, and says so.
  std::filesystem::remove(root_.path(std::string(kRulesFile)));
  std::filesystem::create_directories(root_.path(std::string(kRulesFile)) + "/in-the-way");
  t.keys({"d"});
  ASSERT_TRUE(shows(t, "not-saved"));
  std::filesystem::remove_all(root_.path(std::string(kRulesFile)));
  t.keys({"d"});
  ASSERT_TRUE(t.waitForGone("NOT saved")) << t.screen();
  EXPECT_EQ(rules(), Dictionary{});

  t.keys({"q"});
  EXPECT_TRUE(t.ended());
}

}  // namespace
}  // namespace pelorin::rules_editor
