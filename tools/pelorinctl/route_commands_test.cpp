// pelorinctl route against the real program: the daemon library's decisions
// with the files under a temporary root, and nothing written.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/testing/temporary_root.h"
#include "tools/pelorinctl/message_route.h"
#include "tools/pelorinctl/pelorinctl_runner.h"

namespace pelorin {
namespace {

using nlohmann::json;

class RouteCommandTest : public ::testing::Test {
 protected:
  void write(std::string_view file, platform::Value value) {
    platform::writePropertyListAtomically(root_.path(std::string(file)), value);
  }
  std::vector<json> route(const std::string& arguments) {
    const auto run = ctl::testing::runPelorinctl("route --json " + arguments);
    EXPECT_EQ(run.status, 0);
    std::vector<json> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    return lines;
  }
  std::vector<std::string> filesUnderRoot() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_.folder())) {
      if (entry.is_regular_file()) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  platform::testing::TemporaryRoot root_;
};

TEST_F(RouteCommandTest, EachNumberIsExplainedWithTheDaemonsDecision) {
  write(kSettingsFile, platform::Dictionary{{"intlSMSviaGV", true}, {"enableAutoRules", true}});
  write(kRulesFile, platform::Dictionary{{"1212", 0}, {"1310", -2}, {"01144", 1}});
  write(kAutoRulesFile, platform::Array{"16465550100"});
  const auto before = filesUnderRoot();

  const auto lines = route(
      "-- 2125551212 3105551212 '(646) 555-0100' 4155550100 "
      "'+44 20 7946 0123' 911");
  const std::vector<json> expected = {
      json::parse(R"({"input":"2125551212","type":"us","canonical":"12125551212",
        "ruleKey":"1212","autoRule":false,"mode":0,"route":"carrier"})"),
      json::parse(R"({"input":"3105551212","type":"us","canonical":"13105551212",
        "ruleKey":"1310","autoRule":false,"mode":-2,"route":"failed"})"),
      json::parse(R"({"input":"(646) 555-0100","type":"us","canonical":"16465550100",
        "ruleKey":null,"autoRule":true,"mode":1,"route":"google-voice"})"),
      json::parse(R"({"input":"4155550100","type":"us","canonical":"14155550100",
        "ruleKey":null,"autoRule":false,"mode":1,"route":"google-voice"})"),
      json::parse(R"({"input":"+44 20 7946 0123","type":"international",
        "canonical":"011442079460123","ruleKey":"01144","autoRule":false,"mode":1,
        "route":"carrier-to-access-number"})"),
      json::parse(R"({"input":"911","type":"special","canonical":null,"ruleKey":null,
        "autoRule":false,"mode":0,"route":"carrier"})"),
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(filesUnderRoot(), before);  // no file written, not even a log
}

TEST_F(RouteCommandTest, SettingsOverridesAndiMessageModes) {
  // Not an iPhone: automatic rules off whatever the file says, and the
  // default for iMessage participants is Google Voice.
  write(kSettingsFile, platform::Dictionary{{"isAniPhone", false},
                                            {"enableAutoRules", true},
                                            {"gvSMSviaCarrier", true},
                                            {"shortCodeviaGV", true},
                                            {"enableLogging", true}});
  write(kAutoRulesFile, platform::Array{"16465550100"});
  const auto before = filesUnderRoot();

  auto sms = route("-- 6465550100 22000");
  ASSERT_EQ(sms.size(), 2u);
  EXPECT_EQ(sms[0]["autoRule"], false);
  EXPECT_EQ(sms[0]["route"], "carrier-to-access-number");
  EXPECT_EQ(sms[1]["mode"], 2);
  EXPECT_EQ(sms[1]["route"], "google-voice");

  auto iMessage = route("--imessage -- +16465550100 someone@example.com");
  EXPECT_EQ(iMessage,
            (std::vector<json>{json::parse(R"({"input":"+16465550100","mode":1})"),
                               json::parse(R"({"input":"someone@example.com","mode":0})")}));
  EXPECT_EQ(filesUnderRoot(), before);  // the automatic rules were only read
}

TEST_F(RouteCommandTest, HumanExplanationNamesTheDecidingStep) {
  write(kRulesFile, platform::Dictionary{{"1212", 0}});
  const auto run = ctl::testing::runPelorinctl("route 2125551212 911");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("send rule \"1212\" gives 0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("not a number to route"), std::string::npos) << run.out;
  EXPECT_EQ(ctl::testing::runPelorinctl("route").status, 2);
}

}  // namespace
}  // namespace pelorin

namespace pelorin {
namespace {

// The route a stored text took, as pelorinctl messages reads it from the
// daemon's store element.
TEST(MessageRouteTest, TheRouteTakenComesFromTheCarrierRecipientsAndTheState) {
  using nlohmann::json;
  const struct {
    const char* service;
    const char* carrierRecipients;  // JSON
    const char* state;
    json route;
  } rows[] = {
      {"SMS", R"(["1212"])", "sent", "carrier"},
      {"SMS", R"(["1415"])", "sent", "carrier-to-access-number"},
      {"SMS", "null", "sent", "google-voice"},
      {"SMS", "null", "failed", "google-voice"},
      {"SMS", "null", "sending", nullptr},
      {"iMessage", "null", "sent", "imessage"},
  };
  for (const auto& row : rows) {
    const json element{{"direction", "outgoing"},
                       {"service", row.service},
                       {"recipients", {"1212"}},
                       {"carrierRecipients", json::parse(row.carrierRecipients)},
                       {"state", row.state}};
    EXPECT_EQ(ctl::routeTaken(element), row.route) << element;
  }
  EXPECT_EQ(ctl::routeTaken(json{{"direction", "incoming"}, {"state", "received"}}), nullptr);
}

}  // namespace
}  // namespace pelorin
