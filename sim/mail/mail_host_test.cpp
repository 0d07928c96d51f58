// The Mail host as a process on a private bus: its control interface refuses
// bad input and pages its store, and its maildir mode delivers every mail
// that appears, once, and reads nothing that is not a file in the maildir.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

  static std::string samplePath(const std::string& name) {
    return std::string(SAMPLES_DIR) + "/" + name;
  }
  static std::string sampleBytes(const std::string& name) {
    std::ifstream in(samplePath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // A private file outside any maildir that looks like a text mail.
  std::string secretMail() {
    const std::string path = root_.folder() + "/secret.eml";
    if (!fs::exists(path)) {
      std::ofstream(path) << "From: 1.2.3@txt.voice.google.com\r\nMessage-ID: <secret@x>\r\n\r\n";
      fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    }
    return path;
  }

  // The next `count` mails stored or refused: the stored one's Message-ID up
  // to its "@txt", a refused entry's name and why.
  std::vector<std::string> arrivals(std::size_t count) {
    std::vector<std::string> seen;
    while (seen.size() < count) {
      auto line = host_->readLine(std::chrono::seconds(10));
      if (!line) break;
      json event = json::parse(*line, nullptr, false);
      if (!event.is_object()) continue;
      if (event["event"] == "mailStored") {
        const std::string id = event["mail"]["messageID"];
        seen.push_back(id.substr(0, id.find("@txt")));
      } else if (event["event"] == "mailRefused") {
        const std::string path = event["path"];
        seen.push_back(fs::path(path).filename().string() + ": " +
                       event["error"].get<std::string>());
      }
    }
    return seen;
  }

  // A page of ListMail: the ids, as arrivals() writes them, then "|", total and more.
  std::string listMail(const std::string& offset, const std::string& limit) {
    std::string out;
    if (!call({"ListMail", "uu", offset, limit}, &out)) return "(refused)";
    // busctl writes: s "JSON", with the JSON's quotes escaped.
    std::string text = out.substr(3, out.rfind('"') - 3);
    for (std::size_t at = 0; (at = text.find("\\\"", at)) != std::string::npos;) text.erase(at, 1);
    json page = json::parse(text, nullptr, false);
    std::string summary;
    for (const auto& item : page["items"]) {
      const std::string id = item["messageID"];
      summary += id.substr(0, id.find("@txt")) + " ";
    }
    return summary + "| total " + page["total"].dump() + ", more " + page["more"].dump();
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
  std::unique_ptr<ChildProcess> host_;
};

TEST_F(MailHostTest, ControlCallsStoreAnnounceAndRefuseBadInput) {
  start({});
  const std::string sample = samplePath("gv-plain.eml");
  std::string out;
  ASSERT_TRUE(call({"DeliverMail", "sss", "me@gmail.com", "INBOX", sample}, &out)) << out;
  EXPECT_EQ(out, "s \"plain.0001@txt.voice.google.com\"\n");
  auto stored = next("mailStored");
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["mail"]["firstSender"],
            "Ann Lee <15551230000.12125550123.Ab3dE9@txt.voice.google.com>");
  ASSERT_TRUE(next("bodySet"));

  // None of these may be read, nor block the host: it answers afterwards.
  const std::string second = samplePath("gv-latin1-qp.eml");
  const fs::path folder = root_.folder();
  const std::string fifo = folder / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(secretMail(), folder / "link");
  const std::vector<std::string> refused[] = {
      {"me@gmail.com", "INBOX", sample},  // stored already
      {"me@gmail.com", "INBOX", "/no/such/file"},
      {"me@gmail.com", "INBOX", fifo},
      {"me@gmail.com", "INBOX", "/dev/zero"},
      {"me@gmail.com", "INBOX", folder / "link"},
      {"me@gmail.com", "INBOX", folder},
      {std::string(257, 'a'), "INBOX", second},
      {"me@gmail.com", std::string(257, 'b'), second},
  };
  for (const auto& arguments : refused) {
    EXPECT_FALSE(call({"DeliverMail", "sss", arguments[0], arguments[1], arguments[2]}, &out))
        << arguments[2].substr(0, 40);
  }
  EXPECT_FALSE(call({"Announce", "s", "unknown"}, &out));
  EXPECT_FALSE(call({"SetBody", "s", "unknown"}, &out));

  // Pages of the store, oldest first.
  ASSERT_TRUE(call({"DeliverMail", "sss", "me@gmail.com", "Archive", second}, &out)) << out;
  const std::pair<std::vector<std::string>, std::string> pages[] = {
      {{"0", "0"}, "plain.0001 latin1.0002 | total 2, more false"},
      {{"0", "1"}, "plain.0001 | total 2, more true"},
      {{"1", "5"}, "latin1.0002 | total 2, more false"},
      {{"7", "1"}, "| total 2, more false"},
  };
  for (const auto& [range, expected] : pages) {
    EXPECT_EQ(listMail(range[0], range[1]), expected) << range[0] << " " << range[1];
  }
}

TEST_F(MailHostTest, MaildirDeliversEachMailOnceAndRefusesWhatIsNoFile) {
  const fs::path maildir = fs::path(root_.folder()) / "Maildir";
  fs::create_directories(maildir / "new");
  fs::create_directories(maildir / "cur");
  fs::copy_file(samplePath("gv-plain.eml"), maildir / "new" / "1.first");
  fs::create_symlink(secretMail(), maildir / "new" / "3.link");
  ASSERT_EQ(mkfifo((maildir / "new" / "4.fifo").c_str(), 0600), 0);
  fs::create_directory(maildir / "new" / "5.folder");
  start({"--maildir", maildir.string()});
  std::vector<std::string> expected{"plain.0001", "3.link: a symbolic link", "4.fifo: a FIFO",
                                    "5.folder: a folder"};
  EXPECT_EQ(arrivals(4), expected);

  // Written in tmp and moved in, as fetchers do; a dot file is left alone.
  fs::copy_file(samplePath("gv-latin1-qp.eml"), maildir / "tmp" / "2.second");
  std::ofstream(maildir / "new" / ".partial") << "x";
  fs::rename(maildir / "tmp" / "2.second", maildir / "new" / "2.second");
  // Written in tmp and hard-linked in, as delivery agents do.
  fs::copy_file(samplePath("gv-utf8-base64.eml"), maildir / "tmp" / "6.linked");
  fs::create_hard_link(maildir / "tmp" / "6.linked", maildir / "new" / "6.linked");
  fs::remove(maildir / "tmp" / "6.linked");
  EXPECT_EQ(arrivals(2), (std::vector<std::string>{"latin1.0002", "utf8.0003"}));

  // Written in place: not taken while open, even once another mail was.
  const std::string inPlace = sampleBytes("gv-entities-markup.eml");
  std::ofstream writer(maildir / "new" / "7.in-place", std::ios::binary);
  writer << inPlace.substr(0, inPlace.size() / 2) << std::flush;
  fs::copy_file(samplePath("gv-multipart-alternative.eml"), maildir / "tmp" / "8.after");
  fs::rename(maildir / "tmp" / "8.after", maildir / "new" / "8.after");
  EXPECT_EQ(arrivals(1), std::vector<std::string>{"alternative.0004"});
  writer << inPlace.substr(inPlace.size() / 2);
  writer.close();
  fs::create_symlink(secretMail(), maildir / "new" / "9.link");
  EXPECT_EQ(arrivals(2), (std::vector<std::string>{"entities.0005", "9.link: a symbolic link"}));

  for (const char* name : {"1.first", "2.second", "6.linked", "7.in-place", "8.after"})
    EXPECT_TRUE(fs::exists(maildir / "cur" / (std::string(name) + ":2,"))) << name;
  for (const char* name : {"3.link", "4.fifo", "5.folder", "9.link"})
    EXPECT_TRUE(fs::symlink_status(maildir / "refused" / name).type() != fs::file_type::not_found)
        << name;
  EXPECT_TRUE(fs::exists(maildir / "new" / ".partial"));
  EXPECT_EQ(listMail("4", "0"), "entities.0005 | total 5, more false");
}

}  // namespace
}  // namespace pelorin::sim
