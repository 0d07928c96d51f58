#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace pelorin::platform::testing {

// A child process for tests: started with the current environment, its
// standard output readable line by line (standard error is inherited).
// Destroying it terminates the child (SIGTERM, then SIGKILL) and reaps it.
// The child is also killed (SIGKILL) when the test crashes or is killed, so a
// red run leaves nothing running. That signal follows the thread that
// started the child, not the process: start children from a thread that
// outlives them (the test's main thread).
class ChildProcess {
 public:
  // argv[0] is looked up in PATH when it has no slash. started() is false
  // when the program could not be run.
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  int pid() const { return pid_; }

  // The next line of output without its line feed; nothing when the child
  // closed its output or the time ran out.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads lines until one equals `line`; false on time-out or end of output.
  bool waitForLine(const std::string& line,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // The exit status once the child has ended (a signal counts as 128 + its
  // number); nothing if it is still running after `timeout`.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Sends SIGTERM and waits for the end (SIGKILL after five seconds).
  void terminate();

 private:
  int pid_ = -1;
  int output_ = -1;
  std::string buffered_;
  std::optional<int> status_;
};

// Runs a program to its end; its exit status, or nothing when it could not
// run or outlived `timeout` (it is killed then). Its output is discarded
// unless `output` is given. Like a ChildProcess, it dies with the test.
std::optional<int> runProgram(const std::vector<std::string>& argv, std::string* output = nullptr,
                              std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace pelorin::platform::testing
