// The command-line contracts that scripts rely on, checked against the real
// program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/testing/temporary_root.h"
#include "tools/pelorinctl/pelorinctl_runner.h"

namespace pelorin {
namespace {

using ctl::testing::CommandResult;

CommandResult pelorinctl(const std::string& arguments) {
  return ctl::testing::runPelorinctl(arguments);
}

TEST(PelorinctlTest, NumberPrintsOneJsonObjectPerArgumentInOrder) {
  const CommandResult run =
      pelorinctl("number --json -- '(212) 555-1212' 911 '' -5 '+44 20 7946 0123'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(
      run.out,
      R"({"input":"(212) 555-1212","type":"us","canonical":"12125551212","international":"+12125551212","validForSMS":true})"
      "\n"
      R"({"input":"911","type":"special","canonical":"911","international":"911","validForSMS":false})"
      "\n"
      R"({"input":"","type":"invalid","canonical":"","international":"","validForSMS":false})"
      "\n"
      R"({"input":"-5","type":"shortcode","canonical":"5","international":"5","validForSMS":true})"
      "\n"
      R"({"input":"+44 20 7946 0123","type":"international","canonical":"011442079460123","international":"+442079460123","validForSMS":true})"
      "\n");
}

TEST(PelorinctlTest, RulesMatchReadsTheRootsFileOrTheGivenOne) {
  platform::testing::TemporaryRoot root;
  platform::writePropertyListAtomically(
      root.path(std::string(kRulesFile)),
      platform::Value(platform::Dictionary{{"1212", 1}, {"1310", -2}}));
  const CommandResult run =
      pelorinctl("rules match --json 12125551212 13105551212 14155551212 1212");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "{\"number\":\"12125551212\",\"key\":\"1212\",\"mode\":1}\n"
            "{\"number\":\"13105551212\",\"key\":\"1310\",\"mode\":-2}\n"
            "{\"number\":\"14155551212\",\"key\":null,\"mode\":-1}\n"
            "{\"number\":\"1212\",\"key\":\"1212\",\"mode\":1}\n");
}

// What a run printed on standard error (the runner keeps standard output; the
// trailing '#' comments out its own redirection).
CommandResult errorsOf(const std::string& arguments) {
  return pelorinctl(arguments + " 2>&1 >/dev/null #");
}

TEST(PelorinctlTest, RulesFilesThatCannotBeReadAreToldAndFail) {
  platform::testing::TemporaryRoot root;
  root.writeFile("/bad/corrupt.plist", "not a property list");
  root.writeFile(
      "/bad/array.plist",
      platform::toXmlPropertyList(platform::Value(platform::Array{platform::Value("1212")})));
  std::filesystem::create_directories(root.path("/bad/folder.plist"));
  std::filesystem::create_symlink(root.path("/bad/loop.plist"), root.path("/bad/loop.plist"));
  ASSERT_EQ(::mkfifo(root.path("/bad/fifo.plist").c_str(), 0644), 0);
  for (const char* name : {"missing.plist", "corrupt.plist", "array.plist", "folder.plist",
                           "loop.plist", "fifo.plist"}) {
    const std::string file = root.path("/bad/") + name;
    for (const std::string& command :
         {"rules list --rules-file " + file, "rules match --rules-file " + file + " 12125551212"}) {
      const CommandResult run = pelorinctl(command);
      EXPECT_EQ(run.status, 1) << command;
      EXPECT_EQ(run.out, "") << command;
      const CommandResult errors = errorsOf(command);
      EXPECT_NE(errors.out.find("cannot read the send rules file " + file + ": "),
                std::string::npos)
          << errors.out;
    }
  }

  // Default files that do not exist hold no rules; ones that are bad fail.
  EXPECT_EQ(pelorinctl("rules list").out, "No send rules.\n");
  root.writeFile(std::string(kRulesFile), "garbage");
  std::filesystem::create_directories(root.path(std::string(kAutoRulesFile)));
  EXPECT_EQ(pelorinctl("rules list").status, 1);
  const CommandResult autoRules = errorsOf("auto-rules list");
  EXPECT_EQ(autoRules.status, 1);
  EXPECT_NE(autoRules.out.find("automatic rules file"), std::string::npos) << autoRules.out;
}

TEST(PelorinctlTest, EveryJsonLineIsValidWhateverTheInputBytes) {
  platform::testing::TemporaryRoot root;
  platform::writePropertyListAtomically(root.path(std::string(kRulesFile)),
                                        platform::Value(platform::Dictionary{{"1212\xfe", 1}}));
  platform::writePropertyListAtomically(
      root.path(std::string(kAutoRulesFile)),
      platform::Value(platform::Array{platform::Value("1212\xfe")}));
  // Invalid UTF-8, a control character, a quote and a backslash (printf's
  // octal escapes, as the runner's shell may not know $'...').
  const std::string quoted = "\"$(printf '2125551212\\377\\303(\\355\\240\\200\\001\\042\\134')\"";
  std::size_t lines = 0;
  for (const std::string& command :
       {"number --json -- " + quoted, "prefix --json -- " + quoted,
        "rules match --json -- " + quoted, std::string("rules list --json"),
        std::string("auto-rules list --json")}) {
    const CommandResult run = pelorinctl(command);
    ASSERT_EQ(run.status, 0) << command;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line); ++lines) {
      EXPECT_TRUE(nlohmann::json::accept(line)) << command << ": " << line;
      EXPECT_NE(line.find("\xef\xbf\xbd"), std::string::npos) << line;  // U+FFFD
    }
  }
  EXPECT_EQ(lines, 5u);
}

TEST(PelorinctlTest, ListsRulesInDisplayOrderWithTheEditorsModeNames) {
  platform::testing::TemporaryRoot root;
  platform::writePropertyListAtomically(
      root.path(std::string(kRulesFile)),
      platform::Value(platform::Dictionary{{"1310", 0}, {"+", 1}, {"1212", 5}}));
  platform::writePropertyListAtomically(
      root.path(std::string(kAutoRulesFile)),
      platform::Value(platform::Array{platform::Value("12125551212")}));
  EXPECT_EQ(pelorinctl("rules list --json").out,
            "{\"key\":\"+\",\"mode\":1,\"name\":\"Google Voice\"}\n"
            "{\"key\":\"1212\",\"mode\":5,\"name\":\"(Unknown)\"}\n"
            "{\"key\":\"1310\",\"mode\":0,\"name\":\"Carrier\"}\n");
  EXPECT_EQ(pelorinctl("rules list").out,
            "PREFIX  MODE\n"
            "+       Google Voice\n"
            "1212    (Unknown)\n"
            "1310    Carrier\n");
}

}  // namespace
}  // namespace pelorin
