// The message store on its database: what a reopened store finds, paging,
// and files it cannot use.
#include "sim/messaging_daemon/message_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>

#include "platform/testing/temporary_root.h"

namespace pelorin::sim {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

constexpr std::size_t kNoBudget = SIZE_MAX;

StoredMessage received(std::string text) {
  return {0, "SMS", "incoming", "2125551212", {}, std::move(text), "received"};
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

  std::vector<std::uint64_t> serials(const std::vector<StoredMessage>& messages) {
    std::vector<std::uint64_t> result;
    for (const auto& m : messages) result.push_back(m.serial);
    return result;
  }

  platform::testing::TemporaryRoot root_;
  const std::string path_ = root_.path(MessageStore::kDatabasePath);
  std::unique_ptr<MessageStore> store_ = std::make_unique<MessageStore>(path_, nullptr);
};

TEST_F(MessageStoreTest, EveryFieldSurvivesAReopenExactly) {
  const std::string odd("\xff\0x", 3);  // not UTF-8, with a NUL inside
  std::vector<StoredMessage> messages{
      received("hello"),
      {0,
       "SMS",
       "outgoing",
       std::nullopt,
       {"", odd},
       "",
       "sending",
       0,
       std::nullopt,
       std::nullopt,
       {},
       0,
       Strings{}},
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
  for (auto& m : messages) m.serial = store_->add(m);
  EXPECT_EQ(serials(messages), (std::vector<std::uint64_t>{1, 2, 3, 4}));
  EXPECT_EQ(reopen().page(0, 100, kNoBudget).messages, messages);
}

TEST_F(MessageStoreTest, UpdatesChangeTheNewestMatchAndKeysContinueAfterAReopen) {
  auto withId = [](std::string text, std::uint32_t id) {
    StoredMessage m{0, "SMS", "outgoing", {}, {}, std::move(text), "sending", id};
    return m;
  };
  store_->add(withId("older", 5));
  store_->add(withId("newer", 5));
  store_->add(withId("injected", 0xFFFF0001u));
  StoredMessage chat{0, "iMessage", "outgoing", {}, {}, "chat", "sending", {}, "G"};
  store_->add(chat);
  auto mark = [](std::string state) { return [state](StoredMessage& m) { m.state = state; }; };
  EXPECT_TRUE(store_->updateByMessageId(5, mark("sent")));
  EXPECT_FALSE(store_->updateByMessageId(6, mark("sent")));
  EXPECT_TRUE(store_->updateByGuid("G", mark("delivered")));
  EXPECT_FALSE(store_->updateByGuid("H", mark("delivered")));

  MessageStore& again = reopen();
  std::vector<std::string> states;
  for (const auto& m : again.page(0, 100, kNoBudget).messages) states.push_back(m.state);
  EXPECT_EQ(states, (Strings{"sending", "sent", "sending", "delivered"}));
  EXPECT_EQ(again.largestMessageIdBelow(0xFFFF0000u), 5u);
  EXPECT_EQ(again.add(withId("this run's", 7)), 5u);
  EXPECT_EQ(serials(again.sendingFromEarlierRuns()), (std::vector<std::uint64_t>{1, 3}));
}

TEST_F(MessageStoreTest, APageStopsAfterTheMessageThatCrossesTheBudget) {
  for (int i = 0; i < 5; ++i) store_->add(received(std::string(100, 'x')));
  struct Case {
    std::uint64_t offset;
    std::uint32_t limit;
    std::size_t budget;
    std::vector<std::uint64_t> expected;
  };
  const std::vector<Case> cases{
      {0, 10, kNoBudget, {1, 2, 3, 4, 5}},
      {1, 2, kNoBudget, {2, 3}},
      {0, 10, 150, {1, 2}},
      {0, 10, 0, {1}},  // the first message is always read
      {4, 10, 0, {5}},
      {5, 10, kNoBudget, {}},
      {0, 0, kNoBudget, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << " " << c.limit << " " << c.budget);
    const auto page = store_->page(c.offset, c.limit, c.budget);
    EXPECT_EQ(serials(page.messages), c.expected);
    EXPECT_EQ(page.total, 5u);
  }
}

TEST_F(MessageStoreTest, AChatIsKeptOnceUnderItsServiceIdentifierAndStyle) {
  store_->addChat({"SMS", "+1", '-', {"+1"}});
  store_->addChat({"SMS", "+1", '-', {"+2"}});
  store_->addChat({"SMS", "group", '+', {"+1", "+2"}});
  MessageStore& again = reopen();
  EXPECT_EQ(again.findChat("SMS", "+1", '-')->participants, Strings{"+1"});
  EXPECT_EQ(again.findChat("SMS", "group", '+')->participants, (Strings{"+1", "+2"}));
  EXPECT_FALSE(again.findChat("iMessage", "+1", '-'));
  EXPECT_FALSE(again.findChat("SMS", "+1", '+'));
}

TEST_F(MessageStoreTest, TheDatabaseFilesArePrivate) {
  store_->add(received("secret"));
  for (const char* suffix : {"", "-wal", "-shm"}) EXPECT_EQ(modeOf(path_ + suffix), 0600) << suffix;
  store_.reset();
  fs::permissions(path_, fs::perms(0644));
  reopen();
  EXPECT_EQ(modeOf(path_), 0600);
}

TEST_F(MessageStoreTest, AFileItCannotUseIsSetAsideAndAnEmptyOneServes) {
  const fs::path folder = fs::path(path_).parent_path();
  // A database of this store's holding one message, with the schema version
  // in its header (user_version, bytes 60 to 63, big-endian) set to `version`.
  auto databaseOfVersion = [&](char version) {
    { MessageStore(path_, nullptr).add(received("kept")); }
    std::string bytes = root_.readFile(MessageStore::kDatabasePath);
    bytes.at(63) = version;
    return bytes;
  };
  const std::string outside = root_.path("/elsewhere");
  struct Case {
    const char* what;
    std::function<std::string()> plant;  // plants the file; the bytes it holds
  };
  const std::vector<Case> cases{
      {"not a database", [&] { return std::string("no database at all"); }},
      {"a newer version", [&] { return databaseOfVersion(2); }},
      {"another program's", [&] { return databaseOfVersion(0); }},
      {"a link",
       [&] {
         root_.writeFile("/elsewhere", "theirs");
         fs::create_symlink(outside, path_);
         return std::string();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    store_.reset();
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string planted = c.plant();
    if (!planted.empty()) root_.writeFile(MessageStore::kDatabasePath, planted);

    MessageStore& store = reopen();
    EXPECT_EQ(store.add(received("new")), 1u);
    EXPECT_EQ(store.page(0, 10, kNoBudget).total, 1u);
    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().filename().string().rfind("sms.db.unreadable-", 0) == 0)
        aside.push_back(entry.path());
    }
    ASSERT_EQ(aside.size(), 1u);
    if (planted.empty()) {
      EXPECT_TRUE(fs::is_symlink(aside[0]));
      EXPECT_EQ(root_.readFile("/elsewhere"), "theirs");
    } else {
      EXPECT_EQ(root_.readFile(aside[0].string().substr(root_.folder().size())), planted);
    }
  }
}

}  // namespace
}  // namespace pelorin::sim
