#include "platform/testing/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

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

// In the child between fork and exec, so only async-signal-safe calls: the
// test may run other threads. The child is killed when the thread that
// started it ends, so that a test that crashes or is killed leaves nothing
// running; a parent already gone before the request is noticed here.
[[noreturn]] void execChild(char* const* argv, pid_t parent, int output, int failure) {
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && ::getppid() == parent &&
      ::dup2(output, STDOUT_FILENO) >= 0) {
    ::execvp(argv[0], argv);
  }
  const int error = errno;
  [[maybe_unused]] const auto written = ::write(failure, &error, sizeof error);
  ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int output[2];
  int failure[2];  // carries exec's error; closed unread once the program runs
  if (argv.empty() || ::pipe2(output, O_CLOEXEC) != 0) return;
  if (::pipe2(failure, O_CLOEXEC) != 0) {
    ::close(output[0]);
    ::close(output[1]);
    return;
  }
  // Room for a few large lines the test has not read yet, so that a child
  // writing them does not stall meanwhile.
  ::fcntl(output[0], F_SETPIPE_SZ, 1 << 20);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) execChild(args.data(), parent, output[1], failure[1]);
  ::close(output[1]);
  ::close(failure[1]);
  output_ = output[0];
  int error = 0;
  ssize_t got = 0;
  do {
    got = ::read(failure[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(failure[0]);
  if (pid > 0 && got == sizeof error) {
    ::waitpid(pid, nullptr, 0);
  } else if (pid > 0) {
    pid_ = pid;
  }
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
