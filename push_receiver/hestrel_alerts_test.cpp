// The alerts of a settings change, decided from the flags before and after.
#include "push_receiver/hestrel_alerts.h"

#include <gtest/gtest.h>

#include <map>

namespace pelorin {
namespace {

using Flags = HestrelAlerts::Flags;

// The receive-mode alerts, by a short name: the title and a part of the message
// that tells them apart.
const std::map<std::string, std::pair<std::string, std::string>>& modeAlerts() {
  static const std::map<std::string, std::pair<std::string, std::string>> alerts = {
      {"restart+duplicates", {"SMS Receive via Email", "restarted - Enabling Receive by both"}},
      {"duplicates", {"Pelorin Receive", "Enabling Receive by both Mail app and GV App"}},
      {"push", {"SMS Receive via GV app", "Push Notification banners"}},
      {"restart+forward", {"SMS Receive via Email", "restarted and SMS from GV"}},
      {"forward", {"SMS Receive via Email", "SMS from GV should be forwarded to your email"}},
      {"carrier", {"SMS Receive via Carrier", "carrier SMS service is used"}},
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
      const auto& message = alert->message.value_or("");
      EXPECT_NE(message.find(modeAlerts().at(row.alert).second), std::string::npos) << message;
      EXPECT_EQ(message.starts_with("Default"), row.alert.starts_with("restart")) << message;
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
      {false, true, "12345", required},
      {false, true, "(415) 555-0142", ""},
      // Not just switched on: only a number that is set and wrong alerts.
      {true, true, std::nullopt, ""},
      {true, true, "12345", invalid},
      {false, false, "12345", invalid},
      {false, false, "", invalid},
      {false, false, "4155550142", ""},
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
  for (const char* model : {"iPad", "iphone"}) {
    auto other = HestrelAlerts::deviceAlert(model, true);
    ASSERT_TRUE(other) << model;
    EXPECT_EQ(other->message,
              "Device appears not to be an iPhone. The \"Device is iPhone\" toggle should be OFF "
              "in settings.");
  }
}

}  // namespace
}  // namespace pelorin
