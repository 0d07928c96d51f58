// pelorinctl rules set / delete and contacts, against the real program: the
// rules file they leave, and the notification seen on a private bus.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/session_bus.h"
#include "platform/testing/bus_notification_counter.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "tools/pelorinctl/pelorinctl_runner.h"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using ctl::testing::runPelorinctl;
using platform::Dictionary;

// Counts rules-changed notifications seen on the bus.
class RulesChangedCounter : public platform::testing::BusNotificationCounter {
 public:
  RulesChangedCounter() : BusNotificationCounter(std::string(kRulesChangedNotification)) {}
};

TEST(RulesEditCommandsTest, SetAndDeleteStoreLikeTheEditorAndAnnounceEachSave) {
  platform::testing::PrivateBus bus;
  ASSERT_TRUE(bus.started());
  platform::testing::TemporaryRoot root;
  const std::string file = root.path(std::string(kRulesFile));
  platform::writePropertyListAtomically(file, Dictionary{{"+", 0}, {"1310", 5}});

  struct Step {
    std::string arguments;
    int status;
    Dictionary after;
    int notifications;  // in total so far
  };
  const std::vector<Step> steps = {
      {"rules set '(212)' gv", 0, {{"+", 0}, {"1212", 1}, {"1310", 5}}, 1},
      {"rules set +44 1", 0, {{"+", 0}, {"01144", 1}, {"1212", 1}, {"1310", 5}}, 2},
      {"rules set 212 carrier", 0, {{"+", 0}, {"01144", 1}, {"1212", 0}, {"1310", 5}}, 3},
      {"rules set 212 5", 2, {{"+", 0}, {"01144", 1}, {"1212", 0}, {"1310", 5}}, 3},
      {"rules delete +", 0, {{"01144", 1}, {"1212", 0}, {"1310", 5}}, 4},
      {"rules delete '(310)'", 0, {{"01144", 1}, {"1212", 0}}, 5},
      {"rules delete 415", 1, {{"01144", 1}, {"1212", 0}}, 5},
      {"rules set + gv", 0, {{"01144", 1}, {"1", 1}, {"1212", 0}}, 6},  // "+" is stored as 1
      {"rules delete +", 0, {{"01144", 1}, {"1212", 0}}, 7},
  };
  RulesChangedCounter counter;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.arguments);
    EXPECT_EQ(runPelorinctl(step.arguments).status, step.status);
    EXPECT_EQ(platform::readDictionary(file), step.after);
    EXPECT_EQ(counter.waitFor(step.notifications), step.notifications);
  }
}

TEST(RulesEditCommandsTest, AnUnwritableRulesFileIsReportedAsNotSaved) {
  platform::testing::PrivateBus bus;
  ASSERT_TRUE(bus.started());
  platform::testing::TemporaryRoot root;
  std::filesystem::create_directories(root.path(std::string(kRulesFile)) + "/in-the-way");
  RulesChangedCounter counter;
  EXPECT_EQ(runPelorinctl("rules set 212 1").status, 1);
  EXPECT_EQ(counter.waitFor(1), 1);  // posted all the same: readers keep the old file
  EXPECT_NE(runPelorinctl("rules set 212 1 2>&1 | cat")
                .out.find("not saved: cannot write " + root.path(std::string(kRulesFile))),
            std::string::npos);
}

TEST(RulesEditCommandsTest, ContactsAreAddedAndListedByName) {
  platform::testing::TemporaryRoot root;
  EXPECT_EQ(runPelorinctl("contacts list").out, "No contacts.\n");
  EXPECT_EQ(runPelorinctl("contacts add 'Zed Last' --phone 22000").status, 0);
  EXPECT_EQ(runPelorinctl("contacts add 'Ada First' --phone '(212) 555-1212' --phone "
                          "'work:+44 20 7946 0123' --email ada@example.com")
                .status,
            0);
  EXPECT_EQ(
      runPelorinctl("contacts list --json").out,
      R"({"id":2,"name":"Ada First","phones":[{"label":"mobile","value":"(212) 555-1212"},{"label":"work","value":"+44 20 7946 0123"}],"emails":[{"label":"home","value":"ada@example.com"}]})"
      "\n"
      R"({"id":1,"name":"Zed Last","phones":[{"label":"mobile","value":"22000"}],"emails":[]})"
      "\n");
  EXPECT_TRUE(root.exists("/var/mobile/Library/AddressBook/AddressBook.sqlitedb"));
}

}  // namespace
}  // namespace pelorin
