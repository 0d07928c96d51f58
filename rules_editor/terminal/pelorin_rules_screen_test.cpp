// pelorin-rules driven the way a person uses it: in a real terminal (tmux,
// 80x24), by keystrokes, reading the screen; checked on the screen, the rules
// file and the notifications seen on a private bus.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/names.h"
#include "platform/address_book.h"
#include "platform/property_list.h"
#include "platform/session_bus.h"
#include "platform/testing/bus_notification_counter.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "rules_editor/terminal/testing/editor_terminal.h"

namespace pelorin::rules_editor {
namespace {

using platform::Dictionary;
using Terminal = testing::EditorTerminal;

// Counts rules-changed notifications seen on the bus.
class RulesChangedCounter : public platform::testing::BusNotificationCounter {
 public:
  RulesChangedCounter() : BusNotificationCounter(std::string(kRulesChangedNotification)) {}
};

// A list row as drawn: the prefix on the left, the mode and the disclosure
// mark at the right edge (captured without trailing blanks).
std::string row(const std::string& prefix, const std::string& mode, std::size_t width = 80) {
  std::string line = " " + prefix;
  const std::string right = mode + "  >";
  line.resize(width - right.size() - 1, ' ');
  return line + right + "\n";
}

class PelorinRulesScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.started());
    auto book = platform::newSqliteAddressBook();
    book->addPerson("Bea Many", {{"home", "(310) 555-0000"}, {"work", "+44 20 7946 0123"}},
                    {{"home", "bea@example.com"}});
    book->addPerson("Ada One", {{"mobile", "(212) 555-1212"}}, {});
  }

  Dictionary file() {
    return platform::readDictionary(root_.path(std::string(kRulesFile))).value_or(Dictionary{});
  }
  void seed(const Dictionary& rules) {
    platform::writePropertyListAtomically(root_.path(std::string(kRulesFile)), rules);
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
};

TEST_F(PelorinRulesScreenTest, AddOpenTypePickDeleteAndQuit) {
  seed({{"1310", 1}, {"1415", 7}});
  RulesChangedCounter saves;
  Terminal t(root_.folder(), bus_.address());
  ASSERT_TRUE(t.started());

  // The launch alert, dismissed with Enter.
  ASSERT_TRUE(t.waitFor("Dorvessa Rules")) << t.screen();
  t.keys({"Enter"});
  ASSERT_TRUE(t.waitForGone("Dismiss")) << t.screen();
  EXPECT_NE(t.screen().find(row("1310", "Google Voice")), std::string::npos) << t.screen();
  EXPECT_NE(t.screen().find(row("1415", "(Unknown)")), std::string::npos);

  // Add (from the second row): a "+" row first in display order, neither
  // saved nor announced, and selected; a second Add says it is there.
  t.keys({"Down", "a"});
  ASSERT_TRUE(t.waitFor(row("+", "Carrier"))) << t.screen();
  EXPECT_EQ(file(), (Dictionary{{"1310", 1}, {"1415", 7}}));
  EXPECT_EQ(saves.waitFor(0), 0);
  t.keys({"a"});
  ASSERT_TRUE(t.waitFor("The new rule (+) is in the list: open it with Enter.")) << t.screen();

  // Enter opens it; type (212), choose Google Voice, go back: stored as 1212.
  t.keys({"Enter"});
  ASSERT_TRUE(t.waitFor("Prefix    [+ ")) << t.screen();
  t.keys({"BSpace"});
  t.type("(212)");
  t.keys({"Tab", "Right"});
  ASSERT_TRUE(t.waitFor("Send via  [ Carrier |*Google Voice*]")) << t.screen();
  t.keys({"Escape"});
  ASSERT_TRUE(t.waitFor(row("1212", "Google Voice"))) << t.screen();
  EXPECT_EQ(file(), (Dictionary{{"1212", 1}, {"1310", 1}, {"1415", 7}}));
  EXPECT_EQ(saves.waitFor(1), 1);

  // The stored rule stays selected; reopen it and take a number from a
  // contact with several values (the e-mail address is refused).
  t.keys({"Enter"});
  ASSERT_TRUE(t.waitFor("Edit Rule"));
  t.keys({"Tab", "Tab", "Enter"});
  ASSERT_TRUE(t.waitFor("Ada One")) << t.screen();
  t.keys({"Down", "Enter"});
  ASSERT_TRUE(t.waitFor("bea@example.com")) << t.screen();
  t.keys({"Down", "Down", "Enter"});
  ASSERT_TRUE(t.waitFor("Only a phone number can become a prefix.")) << t.screen();
  t.keys({"Up", "Enter"});
  ASSERT_TRUE(t.waitFor("+442079460123")) << t.screen();
  t.keys({"Escape"});
  ASSERT_TRUE(t.waitFor(row("011442079460123", "Google Voice"))) << t.screen();
  EXPECT_EQ(file(), (Dictionary{{"011442079460123", 1}, {"1310", 1}, {"1415", 7}}));
  EXPECT_EQ(saves.waitFor(2), 2);

  // An unknown mode shows no segment and is kept when the control is untouched.
  t.keys({"Down", "Down", "Enter"});
  ASSERT_TRUE(t.waitFor("Mode 7 (Unknown): kept unless you choose one.")) << t.screen();
  EXPECT_NE(t.screen().find("[ Carrier | Google Voice ]"), std::string::npos);
  t.keys({"Escape"});
  ASSERT_TRUE(t.waitFor(row("1415", "(Unknown)"))) << t.screen();
  EXPECT_EQ(file(), (Dictionary{{"011442079460123", 1}, {"1310", 1}, {"1415", 7}}));
  EXPECT_EQ(saves.waitFor(3), 3);

  // Editing mode: Enter opens nothing, d deletes the selected row at once.
  t.keys({"e"});
  ASSERT_TRUE(t.waitFor("[Done]")) << t.screen();
  t.keys({"Enter", "Up", "d"});
  ASSERT_TRUE(t.waitForGone("1310")) << t.screen();
  EXPECT_NE(t.screen().find("[Done]"), std::string::npos) << t.screen();
  EXPECT_EQ(file(), (Dictionary{{"011442079460123", 1}, {"1415", 7}}));
  EXPECT_EQ(saves.waitFor(4), 4);

  t.keys({"q"});
  EXPECT_TRUE(t.ended());
}

TEST_F(PelorinRulesScreenTest, RedrawsOnResizeAndSaysWhenRulesWereNotSaved) {
  seed({{"1212", 0}, {"1310", 1}});
  Terminal t(root_.folder(), bus_.address());
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("Dismiss"));
  t.keys({"Enter"});
  ASSERT_TRUE(t.waitFor(row("1212", "Carrier"))) << t.screen();

  t.resize(60, 20);
  ASSERT_TRUE(t.waitFor(row("1310", "Google Voice", 60))) << t.screen();
  t.resize(80, 24);
  ASSERT_TRUE(t.waitFor(row("1310", "Google Voice"))) << t.screen();

  // A folder in the rules file's place makes every write fail.
  std::filesystem::remove(root_.path(std::string(kRulesFile)));
  std::filesystem::create_directories(root_.path(std::string(kRulesFile)) + "/in-the-way");
  t.keys({"e", "d"});
  ASSERT_TRUE(t.waitFor("Rules NOT saved")) << t.screen();
  std::filesystem::remove_all(root_.path(std::string(kRulesFile)));
  t.keys({"d"});
  ASSERT_TRUE(t.waitForGone("Rules NOT saved")) << t.screen();
  EXPECT_EQ(file(), Dictionary{});
}

}  // namespace
}  // namespace pelorin::rules_editor
