// The Mail host as a process on a private bus, in maildir mode: every mail
// that appears is delivered once, nothing but a file in the maildir is read,
// and its control interface refuses bad input and pages the store.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "sim/testing/host_process.h"

namespace pelorin::sim {
namespace {

namespace fs = std::filesystem;
using testing::HostProcess;
using testing::json;
using Strings = std::vector<std::string>;

std::string sample(const std::string& name) {
  return std::string(SAMPLES_DIR) + "/" + name;
}

// A message ID up to its "@txt".
std::string shortID(const std::string& id) {
  return id.substr(0, id.find("@txt"));
}

class MailHostTest : public ::testing::Test {
 protected:
  // The next `count` mails stored or refused: the stored one's short ID, a
  // refused entry's name and why.
  Strings arrivals(std::size_t count) {
    Strings seen;
    while (seen.size() < count) {
      const auto event = host_->next([](const json& e) {
        return e.is_object() && e.value("event", "").starts_with("mail") &&
               e["event"] != "mailAnnounced";
      });
      if (!event) break;
      seen.push_back((*event)["event"] == "mailStored"
                         ? shortID((*event)["mail"]["messageID"])
                         : fs::path((*event)["path"].get<std::string>()).filename().string() +
                               ": " + (*event)["error"].get<std::string>());
    }
    return seen;
  }

  // A page of ListMail: the short IDs, then "|", total and more.
  std::string listMail(std::uint32_t offset, std::uint32_t limit) {
    const json page = host_->page("ListMail", offset, limit);
    std::string summary;
    for (const auto& item : page["items"]) summary += shortID(item["messageID"]) + " ";
    return summary + "| total " + page["total"].dump() + ", more " + page["more"].dump();
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::PrivateBus bus_;
  std::unique_ptr<HostProcess> host_;
};

TEST_F(MailHostTest, MaildirAndControlCallsDeliverEachMailOnceAndReadOnlyFiles) {
  ASSERT_TRUE(bus_.started());
  const fs::path folder = root_.folder();
  const fs::path maildir = folder / "Maildir";
  // A private file outside the maildir that looks like a text mail.
  const fs::path secret = folder / "secret.eml";
  std::ofstream(secret) << "From: 1.2.3@txt.voice.google.com\r\nMessage-ID: <secret@x>\r\n\r\n";
  fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directories(maildir / "new");
  fs::copy_file(sample("gv-plain.eml"), maildir / "new" / "1.first");
  fs::create_symlink(secret, maildir / "new" / "3.link");
  ASSERT_EQ(mkfifo((maildir / "new" / "4.fifo").c_str(), 0600), 0);
  fs::create_directory(maildir / "new" / "5.folder");
  host_ = std::make_unique<HostProcess>(
      "com.talvern.sim.Mail",
      Strings{MAIL_HOST, "--account", "me@gmail.com", "--maildir", maildir.string()});
  ASSERT_TRUE(host_->ready());
  EXPECT_EQ(arrivals(4), (Strings{"plain.0001", "3.link: a symbolic link", "4.fifo: a FIFO",
                                  "5.folder: a folder"}));

  // Through the control interface: stored; none of the others may be read,
  // nor block the host, which answers afterwards.
  const std::string news = sample("not-text-mail.eml");
  EXPECT_EQ(host_->call("DeliverMail", {"sss", "me@gmail.com", "Archive", news}),
            "s \"news.0006@example.com\"\n");
  // Each stored mail's body is set with flags updated.
  ASSERT_TRUE(host_->next([](const json& e) {
    return e.value("event", "") == "bodySet" && e["messageID"] == "news.0006@example.com";
  }));
  EXPECT_EQ(host_->call("SetBody", {"s", "news.0006@example.com"}), "");
  ASSERT_TRUE(host_->next([](const json& e) { return e.value("event", "") == "bodySet"; }));
  EXPECT_EQ(host_->seen("bodySet", {{"updateFlags", true}}).size(), 3u);
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  fs::create_symlink(secret, folder / "link");
  const Strings refused[] = {
      {"sss", "me@gmail.com", "INBOX", news},  // stored already
      {"sss", "me@gmail.com", "INBOX", "/no/such/file"},
      {"sss", "me@gmail.com", "INBOX", folder / "fifo"},
      {"sss", "me@gmail.com", "INBOX", "/dev/zero"},
      {"sss", "me@gmail.com", "INBOX", folder / "link"},
      {"sss", "me@gmail.com", "INBOX", folder},
      {"sss", std::string(257, 'a'), "INBOX", sample("gv-latin1-qp.eml")},
      {"sss", "me@gmail.com", std::string(257, 'b'), sample("gv-latin1-qp.eml")},
  };
  for (const auto& arguments : refused) {
    bool ok = true;
    host_->call("DeliverMail", arguments, &ok);
    EXPECT_FALSE(ok) << arguments[3].substr(0, 40);
  }
  for (const char* method : {"Announce", "SetBody"}) {
    bool ok = true;
    host_->call(method, {"s", "unknown"}, &ok);
    EXPECT_FALSE(ok) << method;
  }

  // Written in tmp and moved in, as fetchers do; a dot file is left alone;
  // written in tmp and hard-linked in, as delivery agents do.
  fs::copy_file(sample("gv-latin1-qp.eml"), maildir / "tmp" / "2.second");
  std::ofstream(maildir / "new" / ".partial") << "x";
  fs::rename(maildir / "tmp" / "2.second", maildir / "new" / "2.second");
  fs::copy_file(sample("gv-utf8-base64.eml"), maildir / "tmp" / "6.linked");
  fs::create_hard_link(maildir / "tmp" / "6.linked", maildir / "new" / "6.linked");
  fs::remove(maildir / "tmp" / "6.linked");
  EXPECT_EQ(arrivals(2), (Strings{"latin1.0002", "utf8.0003"}));

  // Written in place: not taken while open, even once another mail was.
  std::ifstream in(sample("gv-entities-markup.eml"), std::ios::binary);
  const std::string inPlace(std::istreambuf_iterator<char>(in), {});
  std::ofstream writer(maildir / "new" / "7.in-place", std::ios::binary);
  writer << inPlace.substr(0, inPlace.size() / 2) << std::flush;
  fs::copy_file(sample("gv-multipart-alternative.eml"), maildir / "tmp" / "8.after");
  fs::rename(maildir / "tmp" / "8.after", maildir / "new" / "8.after");
  EXPECT_EQ(arrivals(1), Strings{"alternative.0004"});
  writer << inPlace.substr(inPlace.size() / 2);
  writer.close();
  fs::create_symlink(secret, maildir / "new" / "9.link");
  EXPECT_EQ(arrivals(2), (Strings{"entities.0005", "9.link: a symbolic link"}));

  for (const char* name : {"1.first", "2.second", "6.linked", "7.in-place", "8.after"})
    EXPECT_TRUE(fs::exists(maildir / "cur" / (std::string(name) + ":2,"))) << name;
  for (const char* name : {"3.link", "4.fifo", "5.folder", "9.link"})
    EXPECT_TRUE(fs::symlink_status(maildir / "refused" / name).type() != fs::file_type::not_found)
        << name;
  EXPECT_TRUE(fs::exists(maildir / "new" / ".partial"));

  // Pages of the store, oldest first.
  const std::tuple<std::uint32_t, std::uint32_t, std::string> pages[] = {
      {0, 0,
       "plain.0001 news.0006@example.com latin1.0002 utf8.0003 alternative.0004 entities.0005 "
       "| total 6, more false"},
      {0, 1, "plain.0001 | total 6, more true"},
      {5, 5, "entities.0005 | total 6, more false"},
      {7, 1, "| total 6, more false"},
  };
  for (const auto& [offset, limit, expected] : pages) {
    EXPECT_EQ(listMail(offset, limit), expected) << offset << " " << limit;
  }
}

}  // namespace
}  // namespace pelorin::sim
