// The alerts of a settings change, decided from the flags before and after,
// the own number and the device: one row per change, alerts in shown order.
#include "push_receiver/hestrel_alerts.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace pelorin {
namespace {

// A row's flags: 'g' receive by the GV app, 'm' receive by mail, 'i' international.
HestrelAlerts::Flags flags(std::string_view set) {
  auto has = [&](char flag) { return set.find(flag) != std::string_view::npos; };
  return {has('g'), has('m'), has('i')};
}

// Each alert by its title and the start of its message.
const std::map<std::string, std::pair<std::string, std::string>> kAlerts = {
    {"bothR", {"SMS Receive via Email", "Default email app should be restarted - Enabling Rec"}},
    {"both", {"Pelorin Receive", "Enabling Receive by both Mail app and GV App results in"}},
    {"push", {"SMS Receive via GV app", "Push Notification banners should be enabled"}},
    {"mailR", {"SMS Receive via Email", "Default email app should be restarted and SMS from"}},
    {"mail", {"SMS Receive via Email", "SMS from GV should be forwarded to your email"}},
    {"carrier", {"SMS Receive via Carrier", "SMS from GV should be forwarded to your iPhone"}},
    {"required", {"Pelorin", "iPhone number is required to send International SMS."}},
    {"invalid", {"Pelorin", "iPhone Number should be a valid US phone number."}},
    {"isPhone", {"Pelorin", "Device appears to be an iPhone."}},
    {"notPhone", {"Pelorin", "Device appears not to be an iPhone."}},
};

TEST(HestrelAlertsTest, EverySettingsChangeShowsItsAlertsInOrder) {
  const Text ok = "(415) 555-0142";
  struct Row {
    const char *before, *after;
    Text number;
    std::string model;
    bool isAniPhone;
    std::string alerts;  // keys of kAlerts, space-separated
  };
  std::vector<Row> rows = {
      // The own number: international just switched on needs a valid one;
      // otherwise only a number that is set and wrong alerts.
      {"", "i", std::nullopt, "iPhone", true, "required"},
      {"", "i", "12345", "iPhone", true, "required"},
      {"", "i", "4155550142", "iPhone", true, ""},
      {"i", "i", std::nullopt, "iPhone", true, ""},
      {"i", "i", "12345", "iPhone", true, "invalid"},
      {"i", "", "12345", "iPhone", true, "invalid"},
      {"", "", "", "iPhone", true, "invalid"},
      // The device against its setting.
      {"", "", ok, "iPhone", false, "isPhone"},
      {"", "", ok, "iPad", true, "notPhone"},
      {"", "", ok, "iphone", true, "notPhone"},
      {"", "", ok, "iPad", false, ""},
      {"", "gi", "12345", "iPad", true, "push required notPhone"},
  };
  // Receive mode, before (down) against after (across): mail just switched on
  // needs a restart.
  const char* modes[] = {"", "g", "m", "gm"};
  const char* modeAlerts[4][4] = {
      {"", "push", "mailR", "bothR"},
      {"carrier", "", "mailR", "bothR"},
      {"carrier", "push", "", "both"},
      {"carrier", "push", "mail", ""},
  };
  for (int b = 0; b < 4; ++b) {
    for (int a = 0; a < 4; ++a) {
      rows.push_back({modes[b], modes[a], ok, "iPhone", true, modeAlerts[b][a]});
    }
  }
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows.data());  // the mode rows come last
    std::istringstream keys(row.alerts);
    const auto shown = HestrelAlerts::settingsChangeAlerts(flags(row.before), flags(row.after),
                                                           row.number, row.model, row.isAniPhone);
    std::size_t count = 0;
    for (std::string key; keys >> key; ++count) {
      ASSERT_LT(count, shown.size()) << key;
      EXPECT_EQ(shown[count].title, kAlerts.at(key).first);
      EXPECT_TRUE(shown[count].message.value_or("").starts_with(kAlerts.at(key).second)) << key;
      EXPECT_EQ(shown[count].buttons, std::vector<std::string>{"Dismiss"});
    }
    EXPECT_EQ(shown.size(), count);
  }
}

}  // namespace
}  // namespace pelorin
