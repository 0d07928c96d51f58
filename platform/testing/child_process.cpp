#include "platform/testing/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace pelorin::platform::testing {
namespace {

using Clock = std::chrono::steady_clock;

int millisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

int decodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  return 128 + WTERMSIG(raw);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int fds[2];
  if (argv.empty() || ::pipe2(fds, O_CLOEXEC) != 0) return;
  // Room for a few large lines the test has not read yet, so that a child
  // writing them does not stall meanwhile.
  ::fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int result = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  output_ = fds[0];
  if (result == 0) pid_ = pid;
}

ChildProcess::~ChildProcess() {
  terminate();
  if (output_ >= 0) ::close(output_);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return line;
    }
    pollfd fd{output_, POLLIN, 0};
    if (output_ < 0 || ::poll(&fd, 1, millisLeft(deadline)) <= 0) return std::nullopt;
    char chunk[4096];
    const auto count = ::read(output_, chunk, sizeof chunk);
    if (count <= 0) return std::nullopt;
    buffered_.append(chunk, static_cast<std::size_t>(count));
  }
}

bool ChildProcess::waitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (auto next = readLine(std::chrono::milliseconds(millisLeft(deadline)))) {
    if (*next == line) return true;
  }
  return false;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  if (status_ || pid_ <= 0) return status_;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
      status_ = decodeStatus(raw);
      return status_;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    // No descriptor tells a child's end portably; poll its state briefly.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::terminate() {
  if (pid_ <= 0 || status_) return;
  ::kill(pid_, SIGTERM);
  if (!waitForExit(std::chrono::seconds(5))) {
    ::kill(pid_, SIGKILL);
    waitForExit(std::chrono::seconds(5));
  }
}

std::optional<int> runProgram(const std::vector<std::string>& argv, std::string* output,
                              std::chrono::milliseconds timeout) {
  ChildProcess child(argv);
  if (!child.started()) return std::nullopt;
  const auto deadline = Clock::now() + timeout;
  while (auto line = child.readLine(std::chrono::milliseconds(millisLeft(deadline)))) {
    if (output) *output += *line + "\n";
  }
  return child.waitForExit(std::chrono::milliseconds(millisLeft(deadline)));
}

}  // namespace pelorin::platform::testing
