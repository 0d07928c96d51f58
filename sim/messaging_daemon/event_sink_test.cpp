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

int modeOf(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777) : -1;
}

TEST(EventSinkTest, TheLogIsAPrivateRegularFileReachedWithoutALink) {
  platform::testing::TemporaryRoot root;
  const std::string log = root.path("/events.json");
  const std::string other = root.path("/other");
  struct Case {
    const char* what;
    std::function<void()> plant;
    bool ready;
    int logMode;    // of the path itself (a link: itself)
    int otherMode;  // of the file a link points at
  };
  const std::vector<Case> cases{
      {"missing", [] {}, true, 0600, -1},
      {"readable by others",
       [&] {
         root.writeFile("/events.json", "{}\n");
         fs::permissions(log, fs::perms(0644));
       },
       true, 0600, -1},
      {"a link",
       [&] {
         root.writeFile("/other", "");
         fs::permissions(other, fs::perms(0644));
         fs::create_symlink(other, log);
       },
       false, 0777, 0644},
      {"a FIFO", [&] { ::mkfifo(log.c_str(), 0644); }, false, 0644, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(log);
    fs::remove(other);
    c.plant();
    EventSink sink(platform::RunLoop::current(), nullptr, "/p", "i.f", log);
    EXPECT_EQ(sink.ready(), c.ready);
    EXPECT_EQ(modeOf(log), c.logMode);
    EXPECT_EQ(modeOf(other), c.otherMode);
  }
}

}  // namespace
}  // namespace pelorin::sim
