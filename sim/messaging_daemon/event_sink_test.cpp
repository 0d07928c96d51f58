// The event log file: private, and never anything but a regular file of ours.
#include "sim/messaging_daemon/event_sink.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "platform/testing/temporary_root.h"

namespace pelorin::sim {
namespace {

namespace fs = std::filesystem;

TEST(EventSinkTest, TheLogIsOnlyEverAPrivateRegularFileOfOurs) {
  platform::testing::TemporaryRoot root;
  const std::string log = root.path("/events.jsonl");
  const std::vector<std::tuple<const char*, std::function<void()>, bool>> cases{
      {"missing", [] {}, true},
      {"readable by others",
       [&] {
         root.writeFile("/events.jsonl", "{}\n");
         fs::permissions(log, fs::perms(0644));
       },
       true},
      {"a link", [&] { fs::create_symlink(root.path("/other"), log); }, false},
      {"a FIFO", [&] { ::mkfifo(log.c_str(), 0600); }, false},
  };
  root.writeFile("/other", "");
  for (const auto& [what, plant, ready] : cases) {
    SCOPED_TRACE(what);
    fs::remove(log);
    plant();
    EventSink sink(platform::RunLoop::current(), nullptr, "/p", "i.f", log);
    EXPECT_EQ(sink.ready(), ready);
    struct stat status {};
    const bool found = ::stat(log.c_str(), &status) == 0;
    if (ready) {
      EXPECT_TRUE(found && (status.st_mode & 0777) == 0600);
    }
  }
}

}  // namespace
}  // namespace pelorin::sim
