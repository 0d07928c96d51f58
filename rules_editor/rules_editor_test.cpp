// The editor's behaviour without a terminal: a scripted user against the list
// screen, the rule screen and the contact picker, checked on the list, the
// rules file and the notifications posted.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"
#include "rules_editor/pelorin_rules_app_delegate.h"
#include "rules_editor/rules_file.h"

namespace pelorin::rules_editor {
namespace {

using platform::Dictionary;
using platform::LabeledValue;
using platform::Person;
using Row = std::pair<std::string, std::string>;

class MemoryAddressBook final : public platform::AddressBook {
 public:
  explicit MemoryAddressBook(std::vector<Person> people) : people_(std::move(people)) {}
  std::vector<Person> people() override { return people_; }
  std::optional<std::int64_t> addPerson(const std::string&, const std::vector<LabeledValue>&,
                                        const std::vector<LabeledValue>&) override {
    return std::nullopt;
  }

 private:
  std::vector<Person> people_;
};

// The contacts every scenario can pick from, in name order.
std::vector<Person> contacts() {
  return {
      {1, "Ada One", {{"mobile", "(212) 555-1212"}}, {}},
      {2,
       "Bea Many",
       {{"home", "(310) 555-0000"}, {"work", "+44 20 7946 0123"}},
       {{"home", "bea@example.com"}}},
      {3, "Cy Mail", {}, {{"home", "cy@example.com"}}},
  };
}

// Drives the application as a user would.
class User {
 public:
  explicit User(platform::AddressBook& book) : app_(book) { app_.applicationDidFinishLaunching(); }

  PelorinRulesAppDelegate& app() { return app_; }
  RootViewController& list() { return app_.rootViewController(); }
  PelorinRuleViewController& rule() { return app_.ruleViewController(); }
  PeoplePickerNavigationController& picker() { return rule().abContactPicker(); }

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
      {"add twice: one row, not saved",
       {},
       [](User& u) {
         u.add();
         u.add();
       },
       {{"+", "Carrier"}},
       {},
       0},
      {"add, open, back: '+' stored as 1",
       {},
       [](User& u) {
         u.add();
         u.open("+");
         u.back();
       },
       {{"1", "Carrier"}},
       {{"1", 0}},
       1},
      {"typing (212) stores 1212",
       {},
       [](User& u) {
         u.add();
         u.open("+");
         u.retype("(212)");
         u.rule().selectSegment(1);
         u.back();
       },
       {{"1212", "Google Voice"}},
       {{"1212", 1}},
       1},
      {"a contact with several values: e-mail refused, then a number",
       {},
       [](User& u) {
         u.add();
         u.open("+");
         u.retype("5");
         u.rule().btnClicked_AddContact();
         u.picker().selectPerson(1);
         ASSERT_TRUE(u.picker().shownPerson());
         ASSERT_EQ(u.picker().entries().size(), 3u);
         u.picker().selectEntry(2);  // the e-mail address
         EXPECT_EQ(u.rule().prefix(), "5");
         EXPECT_TRUE(u.rule().pickerNotice());
         EXPECT_TRUE(u.picker().isPresented());
         u.picker().selectEntry(1);
         EXPECT_FALSE(u.picker().isPresented());
         u.back();
       },
       {{"011442079460123", "Carrier"}},
       {{"011442079460123", 0}},
       1},
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
      {"an unknown value shows (Unknown) and survives an untouched edit",
       {{"1212", 5}},
       [](User& u) {
         EXPECT_EQ(u.rows(), (std::vector<Row>{{"1212", "(Unknown)"}}));
         u.open("1212");
         EXPECT_EQ(u.rule().selectedSegmentIndex(), PelorinRuleViewController::kNoSegment);
         u.back();
       },
       {{"1212", "(Unknown)"}},
       {{"1212", 5}},
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
      {"a list in editing mode opens no row",
       {{"1212", 0}},
       [](User& u) {
         u.list().btnClicked_edit();
         EXPECT_FALSE(u.list().didSelectRowAtIndexPath(0));
       },
       {{"1212", "Carrier"}},
       {{"1212", 0}},
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
    MemoryAddressBook book(contacts());
    User user(book);
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
  MemoryAddressBook book({});
  User user(book);
  user.open("1212");
  EXPECT_TRUE(user.list().editInProgress());
  EXPECT_EQ(user.rows(), std::vector<Row>{});
  EXPECT_EQ(user.rule().prefix(), "1212");
  EXPECT_EQ(user.rule().mode(), 1);
  EXPECT_EQ(platform::readDictionary(root.path(std::string(kRulesFile))),
            (Dictionary{{"1212", 1}}));
}

TEST(RulesEditorTest, AFailedWriteStillPostsAndIsReported) {
  platform::testing::TemporaryRoot root;
  platform::writePropertyListAtomically(root.path(std::string(kRulesFile)),
                                        Dictionary{{"1212", 1}, {"1310", 0}});
  platform::testing::NotificationRecorder recorder;
  MemoryAddressBook book({});
  User user(book);
  // A folder cannot take the rules file's place: every write fails.
  std::filesystem::remove(root.path(std::string(kRulesFile)));
  std::filesystem::create_directories(root.path(std::string(kRulesFile)) + "/blocked");
  user.del("1212");
  EXPECT_TRUE(user.list().lastSaveFailed());
  EXPECT_EQ(recorder.darwinPosts().size(), 1u);
  std::filesystem::remove_all(root.path(std::string(kRulesFile)));
  user.del("1310");
  EXPECT_FALSE(user.list().lastSaveFailed());
  EXPECT_TRUE(root.exists(std::string(kRulesFile)));
}

TEST(RulesEditorTest, ScriptedSetAndDeleteUseTheEditorsKeys) {
  platform::testing::TemporaryRoot root;
  platform::testing::NotificationRecorder recorder;
  EXPECT_EQ(RulesFile::setRule("(212)", 1).key, "1212");
  EXPECT_EQ(RulesFile::read(), (Dictionary{{"1212", 1}}));

  struct DeleteCase {
    std::string prefix;
    std::string key;
    bool found;
  };
  platform::writePropertyListAtomically(root.path(std::string(kRulesFile)),
                                        Dictionary{{"+", 0}, {"1", 1}, {"1212", 1}});
  for (const auto& c : std::vector<DeleteCase>{
           {"+", "+", true}, {"+", "1", true}, {"212", "1212", true}, {"212", "1212", false}}) {
    const auto change = RulesFile::deleteRule(c.prefix);
    EXPECT_EQ(change.key, c.key);
    EXPECT_EQ(change.found, c.found);
    EXPECT_EQ(change.saved, c.found);
  }
  EXPECT_EQ(RulesFile::read(), Dictionary{});
  EXPECT_EQ(recorder.darwinPosts().size(), 4u);  // one set, three deletes found
}

}  // namespace
}  // namespace pelorin::rules_editor
