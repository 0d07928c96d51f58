// The editor's behaviour without a terminal: a scripted user against the list
// screen and the rule screen, checked on the list, the rules file and the
// notifications posted. The contact picker is walked in the terminal test.
#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

#include "common/names.h"
#include "platform/address_book.h"
#include "platform/property_list.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"
#include "rules_editor/pelorin_rules_app_delegate.h"
#include "rules_editor/rules_file.h"

namespace pelorin::rules_editor {
namespace {

using platform::Dictionary;
using Row = std::pair<std::string, std::string>;

// Drives the application as a user would.
class User {
 public:
  explicit User(platform::AddressBook& book) : app_(book) { app_.applicationDidFinishLaunching(); }

  RootViewController& list() { return app_.rootViewController(); }
  PelorinRuleViewController& rule() { return app_.ruleViewController(); }

  // Plays space-separated steps: "+" add, "<" back to the list, "oKEY" open,
  // "xKEY" delete, "tTEXT" retype the prefix, "g" choose Google Voice, "#N"
  // select row N, "sPREFIX" a Google Voice rule stored by another writer.
  void play(const std::string& script) {
    std::istringstream steps(script);
    for (std::string step; steps >> step;) {
      const char verb = step[0];
      const std::string arg = step.substr(1);
      if (verb == '+') list().btnClicked_add();
      if (verb == '<') list().willShowViewController(RootViewController::Screen::kList);
      const bool opened = verb != 'o' || list().didSelectRowAtIndexPath(rowOf(arg));
      ASSERT_TRUE(opened) << step;
      if (verb == 'x')
        list().commitEditingStyle(RootViewController::EditingStyle::kDelete, rowOf(arg));
      if (verb == 't') {
        while (!rule().prefix().empty()) rule().deleteBackward();
        rule().insertText(arg);
      }
      if (verb == 'g') rule().selectSegment(1);
      if (verb == '#') list().didSelectRowAtIndexPath(std::stoul(arg));
      if (verb == 's') RulesFile::setRule(arg, 1);
    }
  }

  std::vector<Row> rows() {
    std::vector<Row> result;
    for (std::size_t i = 0; i < list().numberOfRowsInSection(); ++i) {
      const auto cell = list().cellForRowAtIndexPath(i);
      result.emplace_back(cell.title, cell.detail);
    }
    return result;
  }

 private:
  std::size_t rowOf(const std::string& key) {
    const auto& rules = list().dictRules();
    return static_cast<std::size_t>(std::distance(rules.begin(), rules.find(key)));
  }
  PelorinRulesAppDelegate app_;
};

struct Scenario {
  Dictionary fileBefore;  // empty: no rules file
  const char* steps;      // as User::play takes them
  std::vector<Row> rows;  // the list afterwards
  Dictionary fileAfter;   // empty: still no rules file
  std::size_t posts;
};

TEST(RulesEditorTest, ScenariosOnTheListTheFileAndTheNotifications) {
  const Dictionary two = {{"1212", 0}, {"1310", 1}};
  const Row gv1212 = {"1212", "Google Voice"};
  const std::vector<Scenario> scenarios = {
      {{}, "+ o+ <", {{"1", "Carrier"}}, {{"1", 0}}, 1},  // "+" is stored as 1
      {{}, "+ o+ t(212) g <", {gv1212}, {{"1212", 1}}, 1},
      {two, "o1310 t(212) <", {gv1212}, {{"1212", 1}}, 1},  // onto a key: the last mode wins
      // A delete writes at once, and a pending add goes with it.
      {two, "+ x1212", {{"+", "Carrier"}, {"1310", "Google Voice"}}, {{"+", 0}, {"1310", 1}}, 1},
      // A rule stored elsewhere meanwhile survives the next save.
      {{{"1212", 0}}, "s(310) x1212", {{"1310", "Google Voice"}}, {{"1310", 1}}, 2},
      {{{"+", 1}}, "+", {{"+", "Google Voice"}}, {{"+", 1}}, 0},           // a "+" there is kept
      {{{"1212", 0}}, "< #7 <", {{"1212", "Carrier"}}, {{"1212", 0}}, 0},  // no rule open
  };
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.steps);
    platform::testing::TemporaryRoot root;
    const std::string file = root.path(std::string(kRulesFile));
    if (!s.fileBefore.empty()) platform::writePropertyListAtomically(file, s.fileBefore);
    platform::testing::NotificationRecorder recorder;
    const auto book = platform::newSqliteAddressBook();
    User user(*book);
    user.play(s.steps);
    EXPECT_EQ(user.rows(), s.rows);
    EXPECT_FALSE(user.list().editInProgress());
    EXPECT_EQ(platform::readDictionary(file).value_or(Dictionary{}), s.fileAfter);
    EXPECT_EQ(root.exists(std::string(kRulesFile)), !s.fileAfter.empty());
    EXPECT_EQ(recorder.darwinPosts(),
              std::vector<std::string>(s.posts, std::string(kRulesChangedNotification)));
  }
}

TEST(RulesEditorTest, AnOpenRuleIsOutOfTheListAndTheFileUntilStored) {
  platform::testing::TemporaryRoot root;
  const Dictionary rules = {{"1212", 0}, {"1310", 1}};
  platform::writePropertyListAtomically(root.path(std::string(kRulesFile)), rules);
  const auto book = platform::newSqliteAddressBook();
  User user(*book);
  for (const auto& [key, mode] : {std::pair<std::string, int>{"1212", 0}, {"1310", 1}}) {
    user.play("o" + key);
    EXPECT_TRUE(user.list().editInProgress());
    EXPECT_EQ(user.rows().size(), 1u);
    EXPECT_EQ(user.rule().prefix(), key);
    EXPECT_EQ(user.rule().mode(), mode);
    EXPECT_EQ(user.rule().selectedSegmentIndex(), mode);  // Carrier or Google Voice shown
    EXPECT_EQ(platform::readDictionary(root.path(std::string(kRulesFile))), rules);
    user.play("<");
  }
}

}  // namespace
}  // namespace pelorin::rules_editor
