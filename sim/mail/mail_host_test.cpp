// The Mail host as a process on a private bus: its control interface refuses
// bad input, and its maildir mode delivers every file that appears, once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/testing/child_process.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::sim {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using platform::testing::ChildProcess;

class MailHostTest : public ::testing::Test {
 protected:
  void start(std::vector<std::string> extra) {
    ASSERT_TRUE(bus_.started());
    std::vector<std::string> argv{MAIL_HOST, "--json-events", "-", "--account", "me@gmail.com"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    host_ = std::make_unique<ChildProcess>(argv);
    ASSERT_TRUE(next("ready"));
  }

  std::optional<json> next(const std::string& name) {
    while (auto line = host_->readLine(std::chrono::seconds(10))) {
      json event = json::parse(*line, nullptr, false);
      if (event.is_object() && event["event"] == name) return event;
    }
    return std::nullopt;
  }

  bool call(std::vector<std::string> arguments, std::string* output) {
    const std::string name = "com.talvern.sim.Mail";
    std::vector<std::string> argv{"busctl", "--user", "call", name, "/com/talvern/sim/Mail", name};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return platform::testing::runProgram(argv, output) == 0;
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
  std::unique_ptr<ChildProcess> host_;
};

TEST_F(MailHostTest, ControlCallsStoreAnnounceAndRefuseBadInput) {
  start({});
  const std::string sample = std::string(SAMPLES_DIR) + "/gv-plain.eml";
  std::string out;
  ASSERT_TRUE(call({"DeliverMail", "sss", "me@gmail.com", "INBOX", sample}, &out)) << out;
  EXPECT_EQ(out, "s \"plain.0001@txt.voice.google.com\"\n");
  auto stored = next("mailStored");
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["mail"]["firstSender"],
            "Ann Lee <15551230000.12125550123.Ab3dE9@txt.voice.google.com>");
  ASSERT_TRUE(next("bodySet"));

  EXPECT_FALSE(call({"DeliverMail", "sss", "me@gmail.com", "INBOX", sample}, &out));  // stored
  EXPECT_FALSE(call({"DeliverMail", "sss", "me@gmail.com", "INBOX", "/no/such/file"}, &out));
  EXPECT_FALSE(call({"Announce", "s", "unknown"}, &out));
  EXPECT_FALSE(call({"SetBody", "s", "unknown"}, &out));
  ASSERT_TRUE(call({"ListMail"}, &out));
  EXPECT_NE(out.find("\\\"bodiesSet\\\":1"), std::string::npos) << out;
}

TEST_F(MailHostTest, MaildirFilesAreDeliveredOnceAndMovedToCur) {
  const fs::path maildir = fs::path(root_.folder()) / "Maildir";
  fs::create_directories(maildir / "new");
  fs::copy_file(std::string(SAMPLES_DIR) + "/gv-plain.eml", maildir / "new" / "1.first");
  start({"--maildir", maildir.string()});
  auto first = next("mailStored");
  ASSERT_TRUE(first);
  EXPECT_EQ((*first)["mail"]["mailbox"], "INBOX");

  // Written in tmp and moved in, as fetchers do; a dot file is left alone.
  fs::copy_file(std::string(SAMPLES_DIR) + "/gv-latin1-qp.eml", maildir / "tmp" / "2.second");
  std::ofstream(maildir / "new" / ".partial") << "x";
  fs::rename(maildir / "tmp" / "2.second", maildir / "new" / "2.second");
  auto second = next("mailStored");
  ASSERT_TRUE(second);
  EXPECT_EQ((*second)["mail"]["messageID"], "latin1.0002@txt.voice.google.com");
  ASSERT_TRUE(next("bodySet"));
  EXPECT_TRUE(fs::exists(maildir / "cur" / "1.first:2,"));
  EXPECT_TRUE(fs::exists(maildir / "cur" / "2.second:2,"));
  EXPECT_TRUE(fs::exists(maildir / "new" / ".partial"));
}

}  // namespace
}  // namespace pelorin::sim
