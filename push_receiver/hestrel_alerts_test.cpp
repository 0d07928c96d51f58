// The alerts of a settings change, decided from the flags before and after.
#include "push_receiver/hestrel_alerts.h"

#include <gtest/gtest.h>

#include <map>

namespace pelorin {
namespace {

using Flags = HestrelAlerts::Flags;

// The receive-mode messages, by a short name.
const std::map<std::string, std::pair<std::string, std::string>>& modeAlerts() {
  static const std::map<std::string, std::pair<std::string, std::string>> alerts = {
      {"restart+duplicates",
       {"SMS Receive via Email",
        "Default email app should be restarted - Enabling Receive by both Mail app and GV App "
        "results in duplicate messages in the Messages app"}},
      {"duplicates",
       {"Pelorin Receive",
        "Enabling Receive by both Mail app and GV App results in duplicate messages in the "
        "Messages app"}},
      {"push",
       {"SMS Receive via GV app",
        "Push Notification banners should be enabled for the Official GV App"}},
      {"restart+forward",
       {"SMS Receive via Email",
        "Default email app should be restarted and SMS from GV should be forwarded to your email "
        "account"}},
      {"forward",
       {"SMS Receive via Email", "SMS from GV should be forwarded to your email account"}},
      {"carrier",
       {"SMS Receive via Carrier",
        "SMS from GV should be forwarded to your iPhone number - carrier SMS service is used"}},
  };
  return alerts;
}

TEST(HestrelAlertsTest, ReceiveModeAlertForEveryChangeOfTheTwoFlags) {
  struct Row {
    bool oO, oM, nO, nM;
    std::string alert;  // "" for none
  };
  const Row rows[] = {
      // Both on: mail just switched on needs a restart; push added to mail does not.
      {false, false, true, true, "restart+duplicates"},
      {true, false, true, true, "restart+duplicates"},
      {false, true, true, true, "duplicates"},
      {true, true, true, true, ""},
      // Push only.
      {false, false, true, false, "push"},
      {false, true, true, false, "push"},
      {true, true, true, false, "push"},
      {true, false, true, false, ""},
      // Mail only.
      {false, false, false, true, "restart+forward"},
      {true, false, false, true, "restart+forward"},
      {true, true, false, true, "forward"},
      {false, true, false, true, ""},
      // Carrier.
      {true, false, false, false, "carrier"},
      {false, true, false, false, "carrier"},
      {true, true, false, false, "carrier"},
      {false, false, false, false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << "push " << row.oO << "->" << row.nO << ", mail " << row.oM << "->" << row.nM);
    // The international flag plays no part in the receive mode.
    for (bool intl : {false, true}) {
      auto alert = HestrelAlerts::receiveModeAlert({row.oO, row.oM, intl}, {row.nO, row.nM, !intl});
      if (row.alert.empty()) {
        EXPECT_FALSE(alert.has_value());
        continue;
      }
      ASSERT_TRUE(alert.has_value());
      EXPECT_EQ(alert->title, modeAlerts().at(row.alert).first);
      EXPECT_EQ(alert->message, modeAlerts().at(row.alert).second);
      EXPECT_EQ(alert->buttons, std::vector<std::string>{"Dismiss"});
    }
  }
}

TEST(HestrelAlertsTest, NumberCheck) {
  const std::string required =
      "iPhone number is required to send International SMS. Please enter a valid US phone number "
      "in settings.";
  const std::string invalid = "iPhone Number should be a valid US phone number.";
  struct Row {
    bool oI, nI;
    Text number;
    std::string message;  // "" for none
  };
  const Row rows[] = {
      {false, true, std::nullopt, required},
      {false, true, "", required},
      {false, true, "12345", required},
      {false, true, "(415) 555-0142", ""},
      {false, true, "+1 415 555 0142", ""},
      // Not just switched on: only a number that is set and wrong alerts.
      {true, true, std::nullopt, ""},
      {true, true, "12345", invalid},
      {false, false, "12345", invalid},
      {true, false, "+44 20 7946 0000", invalid},
      {false, false, "", invalid},
      {false, false, "4155550142", ""},
      {false, false, std::nullopt, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << row.oI << "->" << row.nI << " " << row.number.value_or("(none)"));
    auto alert =
        HestrelAlerts::numberAlert({false, false, row.oI}, {false, false, row.nI}, row.number);
    if (row.message.empty()) {
      EXPECT_FALSE(alert.has_value());
    } else {
      ASSERT_TRUE(alert.has_value());
      EXPECT_EQ(alert->title, "Pelorin");
      EXPECT_EQ(alert->message, row.message);
    }
  }
}

TEST(HestrelAlertsTest, DeviceCheck) {
  EXPECT_FALSE(HestrelAlerts::deviceAlert("iPhone", true));
  EXPECT_FALSE(HestrelAlerts::deviceAlert("iPad", false));
  auto phone = HestrelAlerts::deviceAlert("iPhone", false);
  ASSERT_TRUE(phone);
  EXPECT_EQ(phone->message,
            "Device appears to be an iPhone. The \"Device is iPhone\" toggle should be ON in "
            "settings.");
  for (const char* model : {"iPad", "iPod touch", "iphone", ""}) {
    auto other = HestrelAlerts::deviceAlert(model, true);
    ASSERT_TRUE(other) << model;
    EXPECT_EQ(other->message,
              "Device appears not to be an iPhone. The \"Device is iPhone\" toggle should be OFF "
              "in settings.");
  }
}

TEST(HestrelAlertsTest, OneChangeShowsUpToThreeAlertsInOrder) {
  auto alerts = HestrelAlerts::settingsChangeAlerts({false, false, false}, {true, false, true},
                                                    std::nullopt, "iPad", true);
  ASSERT_EQ(alerts.size(), 3u);
  EXPECT_EQ(alerts[0].title, "SMS Receive via GV app");
  EXPECT_NE(alerts[1].message->find("required"), std::string::npos);
  EXPECT_NE(alerts[2].message->find("appears not to be"), std::string::npos);

  // Saved again unchanged: the mode alert is gone, the two checks repeat
  // while their conditions hold.
  alerts = HestrelAlerts::settingsChangeAlerts({true, false, true}, {true, false, true}, "12345",
                                               "iPad", true);
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0].message, "iPhone Number should be a valid US phone number.");
  EXPECT_NE(alerts[1].message->find("appears not to be"), std::string::npos);

  EXPECT_TRUE(HestrelAlerts::settingsChangeAlerts({true, false, true}, {true, false, true},
                                                  "4155550142", "iPhone", true)
                  .empty());
}

}  // namespace
}  // namespace pelorin
