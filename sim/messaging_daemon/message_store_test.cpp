// The message store on its database: what a reopened store finds, paging,
// and files it cannot use.
#include "sim/messaging_daemon/message_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>

#include "platform/clock.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::sim {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Serials = std::vector<std::uint64_t>;

StoredMessage message(std::string text, std::string state = "received",
                      std::optional<std::uint32_t> id = {}, Text guid = {}) {
  return {0, "SMS", "incoming", "2125551212", {}, std::move(text), std::move(state), id, guid};
}

Serials serials(const std::vector<StoredMessage>& messages) {
  Serials result;
  for (const auto& m : messages) result.push_back(m.serial);
  return result;
}

int modeOf(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777) : -1;
}

class MessageStoreTest : public ::testing::Test {
 protected:
  // The store opened afresh on the same database, as after a restart.
  MessageStore& reopen() {
    store_.reset();
    store_ = std::make_unique<MessageStore>(path_, nullptr);
    return *store_;
  }
  std::vector<StoredMessage> all() { return store_->page(0, 100, SIZE_MAX).messages; }

  platform::testing::TemporaryRoot root_;
  const std::string path_ = root_.path(MessageStore::kDatabasePath);
  std::unique_ptr<MessageStore> store_ = std::make_unique<MessageStore>(path_, nullptr);
};

TEST_F(MessageStoreTest, EveryFieldSurvivesAReopenExactly) {
  const std::string odd("\xff\0x", 3);  // not UTF-8, with a NUL inside
  std::vector<StoredMessage> messages{
      message("hello", "received", 7),
      {0, "SMS", "outgoing", std::nullopt, {"", odd}, "", "sending", 0, {}, {}, {}, 0, Strings{}},
      {0,
       "iMessage",
       "outgoing",
       "",
       {"+1"},
       std::nullopt,
       "failed",
       std::nullopt,
       "G-1",
       "+1",
       {"a.jpg", odd},
       -4,
       Strings{"+1", odd}},
      {0, "SMS", "outgoing", odd, {}, odd, "sent", UINT32_MAX, odd, odd, {}, INT64_MIN},
  };
  platform::setCurrentDateForTesting(1234.5);  // each message is stamped when stored
  for (auto& m : messages) {
    m.serial = store_->add(m);
    m.time = 1234.5;
  }
  platform::setCurrentDateForTesting(std::nullopt);
  EXPECT_EQ(serials(messages), (Serials{1, 2, 3, 4}));
  MessageStore& again = reopen();
  EXPECT_EQ(all(), messages);
  EXPECT_EQ(again.largestMessageIdBelow(0xFFFF0000u), 7u);  // past the ids tweaks inject
  EXPECT_EQ(again.add(message("this run's", "sending")), 5u);
  EXPECT_EQ(serials(again.sendingFromEarlierRuns()), Serials{2});
}

TEST_F(MessageStoreTest, APageStopsAfterTheMessageThatCrossesTheBudget) {
  for (int i = 0; i < 5; ++i) store_->add(message(std::string(100, 'x')));
  struct Case {
    std::uint64_t offset;
    std::uint32_t limit;
    std::size_t budget;
    Serials expected;
  };
  const std::vector<Case> cases{
      {1, 2, SIZE_MAX, {2, 3}}, {0, 10, 150, {1, 2}},  {0, 10, 0, {1}},
      {4, 10, 0, {5}},          {5, 10, SIZE_MAX, {}}, {0, 0, SIZE_MAX, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << " " << c.limit << " " << c.budget);
    const auto page = store_->page(c.offset, c.limit, c.budget);
    EXPECT_EQ(serials(page.messages), c.expected);
    EXPECT_EQ(page.total, 5u);
  }
}

TEST_F(MessageStoreTest, TheDatabaseFilesArePrivate) {
  store_->add(message("secret"));
  for (const char* suffix : {"", "-wal"}) EXPECT_EQ(modeOf(path_ + suffix), 0600) << suffix;
  store_.reset();
  fs::permissions(path_, fs::perms(0644));
  reopen();
  EXPECT_EQ(modeOf(path_), 0600);
}

TEST_F(MessageStoreTest, AFileItCannotUseIsSetAsideAndAnEmptyOneServes) {
  // Each case plants the file and gives what must be found set aside.
  auto plantFile = [&](std::string bytes) {
    root_.writeFile(MessageStore::kDatabasePath, bytes);
    return bytes;
  };
  // A database of this store's with one message, its schema version (the
  // header's user_version, bytes 60 to 63, big-endian) then set to `version`.
  auto databaseOfVersion = [&](char version) {
    MessageStore(path_, nullptr).add(message("kept"));
    std::string bytes = root_.readFile(MessageStore::kDatabasePath);
    bytes.at(63) = version;
    return plantFile(bytes);
  };
  const std::string outside = root_.path("/elsewhere");
  const std::vector<std::pair<const char*, std::function<std::string()>>> cases{
      {"not a database", [&] { return plantFile("no database at all"); }},
      {"a newer version", [&] { return databaseOfVersion(2); }},
      {"another program's", [&] { return databaseOfVersion(0); }},
      {"a link",
       [&] {
         root_.writeFile("/elsewhere", "theirs");
         fs::create_symlink(outside, path_);
         return outside;
       }},
  };
  const fs::path folder = fs::path(path_).parent_path();
  std::multiset<std::string> expected;  // none is ever lost, however close in time
  for (const auto& [what, plant] : cases) {
    SCOPED_TRACE(what);
    store_.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path_ + suffix);
    expected.insert(plant());

    EXPECT_EQ(reopen().add(message("new")), 1u);
    std::multiset<std::string> aside;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("sms.db.unreadable-", 0) != 0 || name.find("-wal") != std::string::npos ||
          name.find("-shm") != std::string::npos)
        continue;
      aside.insert(entry.is_symlink()
                       ? fs::read_symlink(entry).string()
                       : root_.readFile(entry.path().string().substr(root_.folder().size())));
    }
    EXPECT_EQ(aside, expected);
  }
  EXPECT_EQ(root_.readFile("/elsewhere"), "theirs");
}

}  // namespace
}  // namespace pelorin::sim
