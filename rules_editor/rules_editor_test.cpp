// The editor's behaviour without a terminal: a scripted user against the list
// screen and the rule screen, checked on the list, the rules file and the
// notifications posted. The contact picker is walked in the terminal test.
#include <gtest/gtest.h>

#include <functional>
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

  void add() { list().btnClicked_add(); }
  void open(const std::string& key) { ASSERT_TRUE(list().didSelectRowAtIndexPath(rowOf(key))); }
  void del(const std::string& key) {
    list().commitEditingStyle(RootViewController::EditingStyle::kDelete, rowOf(key));
  }
  void retype(const std::string& text) {
    while (!rule().prefix().empty()) rule().deleteBackward();
    rule().insertText(text);
  }
  void back() { list().willShowViewController(RootViewController::Screen::kList); }

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
  const char* name;
  Dictionary fileBefore;  // empty: no rules file
  std::function<void(User&)> actions;
  std::vector<Row> rows;  // the list afterwards
  Dictionary fileAfter;   // empty: still no rules file
  std::size_t posts;
};

TEST(RulesEditorTest, ScenariosOnTheListTheFileAndTheNotifications) {
  const std::vector<Scenario> scenarios = {
      {"add, open, back: '+' stored as 1; typing (212) stores 1212",
       {},
       [](User& u) {
         u.add();
         u.open("+");
         u.back();
         EXPECT_EQ(u.rows(), (std::vector<Row>{{"1", "Carrier"}}));
         u.open("1");
         u.retype("(212)");
         u.rule().selectSegment(1);
         u.back();
       },
       {{"1212", "Google Voice"}},
       {{"1212", 1}},
       2},
      {"a prefix changed onto another rule's key keeps the last mode",
       {{"1212", 0}, {"1310", 1}},
       [](User& u) {
         u.open("1310");
         u.retype("(212)");
         u.back();
       },
       {{"1212", "Google Voice"}},
       {{"1212", 1}},
       1},
      {"delete writes and posts at once; a pending add goes with it",
       {{"1212", 0}, {"1310", 1}},
       [](User& u) {
         u.add();
         u.del("1212");
       },
       {{"+", "Carrier"}, {"1310", "Google Voice"}},
       {{"+", 0}, {"1310", 1}},
       1},
      {"a rule stored elsewhere meanwhile survives the next save",
       {{"1212", 0}},
       [](User& u) {
         RulesFile::setRule("(310)", 1);
         u.del("1212");
       },
       {{"1310", "Google Voice"}},
       {{"1310", 1}},
       2},
      {"add keeps a '+' rule that is there, with its mode",
       {{"+", 1}},
       [](User& u) { EXPECT_FALSE(u.list().btnClicked_add()); },
       {{"+", "Google Voice"}},
       {{"+", 1}},
       0},
      {"leaving the list without an open rule stores nothing",
       {{"1212", 0}},
       [](User& u) {
         u.back();
         u.list().didSelectRowAtIndexPath(7);
         u.back();
       },
       {{"1212", "Carrier"}},
       {{"1212", 0}},
       0},
  };
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.name);
    platform::testing::TemporaryRoot root;
    const std::string file = root.path(std::string(kRulesFile));
    if (!s.fileBefore.empty()) platform::writePropertyListAtomically(file, s.fileBefore);
    platform::testing::NotificationRecorder recorder;
    const auto book = platform::newSqliteAddressBook();
    User user(*book);
    s.actions(user);
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
  platform::writePropertyListAtomically(root.path(std::string(kRulesFile)),
                                        Dictionary{{"1212", 1}});
  const auto book = platform::newSqliteAddressBook();
  User user(*book);
  user.open("1212");
  EXPECT_TRUE(user.list().editInProgress());
  EXPECT_EQ(user.rows(), std::vector<Row>{});
  EXPECT_EQ(user.rule().prefix(), "1212");
  EXPECT_EQ(user.rule().mode(), 1);
  EXPECT_EQ(platform::readDictionary(root.path(std::string(kRulesFile))),
            (Dictionary{{"1212", 1}}));
}

}  // namespace
}  // namespace pelorin::rules_editor
