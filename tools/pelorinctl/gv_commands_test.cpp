// pelorinctl gv against the stand-in service, as a script would run it.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "common/names.h"
#include "platform/property_list.h"
#include "platform/root_path.h"
#include "platform/testing/temporary_root.h"
#include "service/testing/gv_service_process.h"
#include "tools/pelorinctl/pelorinctl_runner.h"

namespace pelorin {
namespace {

using service::testing::GvServiceProcess;

using ctl::testing::CommandResult;

class PelorinctlGvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.running());
    platform::Dictionary settings = {{"username", GvServiceProcess::kUser},
                                     {"password", GvServiceProcess::kPassword},
                                     {"phoneNumber", "415-555-0100"}};
    ASSERT_TRUE(
        platform::writePropertyListAtomically(platform::resolvePath(kSettingsFile), settings));
  }

  // Runs "pelorinctl gv" with `arguments` (quoted for the shell) against the stand-in.
  CommandResult gv(const std::string& arguments) {
    return ctl::testing::runPelorinctl("gv --service-url " + service_.baseURL() + " --cacert " +
                                       service_.caFile() + " " + arguments);
  }
  // What the command prints on standard error ("#" ends the runner's redirection).
  std::string gvErrors(const std::string& arguments) {
    return gv(arguments + " 2>&1 >/dev/null #").out;
  }

  platform::testing::TemporaryRoot root_;
  GvServiceProcess service_;
};

// One service, every command in turn; each step starts from the one before.
TEST_F(PelorinctlGvTest, EveryCommandAgainstOneService) {
  // Credentials never go out in clear: a service URL that is not https:// is
  // refused before any request.
  const std::string plain = "--service-url http" + service_.baseURL().substr(5);
  EXPECT_EQ(gv("login " + plain).status, 2);
  EXPECT_NE(gvErrors("login " + plain).find("must start with https://"), std::string::npos);
  // The call-back target is checked as a text's recipient is: nothing is
  // asked of the service for a target that is no phone number.
  for (const char* target : {"'(((('", "\"$(head -c 131071 /dev/zero | tr '\\0' 9)\"",
                             "\"$(printf '2125551212\\377')\"", "''"}) {
    EXPECT_EQ(gv(std::string("callback --json ") + target).status, 2) << target;
  }
  EXPECT_TRUE(service_.journal().empty());
  EXPECT_EQ(gv("callback '+1 (212) 555-0199'").status, 0);
  ASSERT_EQ(service_.callbacks().size(), 1u);
  EXPECT_EQ(service_.callbacks()[0].outgoing, "12125550199");

  // Each recipient in one session; then a failed recipient stops the rest.
  service_.clearJournal();
  auto run = gv("send --json --to '(415) 555-0123' --to 2125550199 'hello & bye'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "{\"to\":\"14155550123\",\"sent\":true}\n{\"to\":\"12125550199\",\"sent\":true}\n");
  const auto texts = service_.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1].text, "hello & bye");
  EXPECT_EQ(service_.journal().size(), 4u);  // sign-in, cookie, two sends
  service_.clearJournal();
  service_.addFault({.path = "/voice/m/x?m=sms", .count = 9, .sendSmsResponse = 2});
  run = gv("send --json --to 4155550123 --to 2125550199 hi");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "{\"to\":\"14155550123\",\"sent\":false}\n");
  for (const auto& record : service_.journal()) {
    EXPECT_EQ(record.target.find("2125550199"), std::string::npos);
  }
  service_.clearFaults();

  // Account queries.
  EXPECT_EQ(gv("login").status, 0);
  EXPECT_EQ(gv("login --password wrong").status, 1);
  EXPECT_EQ(gv("number --json").out, "{\"gvNumber\":\"14155550142\",\"balance\":\"$4.20\"}\n");
  EXPECT_EQ(gv("inbox --json --sender \"Ann O'Brien\"").out,
            "{\"sender\":\"Ann O'Brien\",\"number\":\"+14155550101\"}\n");
  run = gv("access-number --json 2125550199");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\"accessNumber\":\"14155553000\""), std::string::npos);
  EXPECT_NE(root_.readFile(std::string(kAccessNumberCacheFile)).find("12125550199"),
            std::string::npos);
  EXPECT_EQ(gv("cancel-callback").status, 0);

  // Usage and reachability.
  EXPECT_EQ(gv("send hi").status, 2);               // no recipient
  EXPECT_EQ(gv("number --username ''").status, 2);  // no credentials
  // A service that does not answer: refused, not a crash or a usage error.
  EXPECT_EQ(gv("login --service-url https://127.0.0.1:1").status, 1);

  // A settings file that is there but cannot be read is reported as such (1);
  // one that does not exist means only that nothing comes from the settings.
  namespace fs = std::filesystem;
  const std::string path = platform::resolvePath(kSettingsFile);
  const auto corrupt = [&] { root_.writeFile(std::string(kSettingsFile), "<plist><dict><key>"); };
  const auto folder = [&] { fs::create_directory(path); };
  const auto linkLoop = [&] { fs::create_symlink(path, path); };
  for (const auto& plant : std::vector<std::function<void()>>{corrupt, folder, linkLoop}) {
    fs::remove_all(path);
    plant();
    EXPECT_EQ(gv("login").status, 1);
    EXPECT_NE(gvErrors("login").find("cannot read the settings file"), std::string::npos);
  }
  fs::remove_all(path);
  EXPECT_EQ(gv("login").status, 2);  // no settings: no user name
}

}  // namespace
}  // namespace pelorin
