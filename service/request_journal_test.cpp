#include "service/request_journal.h"

#include <gtest/gtest.h>

namespace pelorin::service {
namespace {

// However long it runs and whatever it is sent, the journal keeps the latest
// entries and the start of each body, and still counts everything.
TEST(RequestJournalTest, KeepsTheLatestEntriesAndTheStartOfEachBody) {
  RequestJournal journal;
  const std::size_t total = RequestJournal::kMaxEntries + 5;
  for (std::size_t i = 0; i < total; ++i) {
    journal.record(
        {.target = "/" + std::to_string(i), .peer = "127.0.0.1:" + std::to_string(i % 3)});
  }
  const auto entries = journal.entries();
  ASSERT_EQ(entries.size(), RequestJournal::kMaxEntries);
  EXPECT_EQ(entries.front().target, "/5");
  EXPECT_EQ(entries.back().target, "/" + std::to_string(total - 1));
  EXPECT_EQ(entries.back().sequence, total);
  EXPECT_EQ(journal.requestCount(), total);
  EXPECT_EQ(journal.connectionCount(), 3u);

  for (const std::size_t size :
       {RequestJournal::kMaxBodyBytes, RequestJournal::kMaxBodyBytes + 1}) {
    journal.record({.body = std::string(size, 'x')});
    EXPECT_EQ(journal.entries().back().body.size(), RequestJournal::kMaxBodyBytes) << size;
    EXPECT_EQ(journal.entries().back().bodySize, size);
  }
}

}  // namespace
}  // namespace pelorin::service
