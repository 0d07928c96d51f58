#include "platform/testing/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace pelorin::platform::testing {
namespace {

using namespace std::chrono_literals;

// Neither gone nor a zombie waiting for its new parent to reap it.
bool running(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string id, name, state;
  return static_cast<bool>(stat >> id >> name >> state) && state != "Z";
}

// A test process that is killed (here a fork of this one) takes its children
// with it.
TEST(ChildProcessTest, ChildrenDoNotOutliveTheTestThatStartedThem) {
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t test = ::fork();
  ASSERT_GE(test, 0);
  if (test == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // the stand-in test dies with the real one
    ChildProcess child({"sleep", "20"});
    const int pid = child.pid();
    [[maybe_unused]] const auto written = ::write(report[1], &pid, sizeof pid);
    for (;;) ::pause();
  }
  ::close(report[1]);
  int child = -1;
  ASSERT_EQ(::read(report[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
  ::close(report[0]);
  ASSERT_TRUE(running(child));
  ::kill(test, SIGKILL);
  ::waitpid(test, nullptr, 0);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (running(child) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(running(child));
  EXPECT_FALSE(ChildProcess({"/no/such/program"}).started());
}

}  // namespace
}  // namespace pelorin::platform::testing
