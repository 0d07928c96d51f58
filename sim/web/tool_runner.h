#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace pelorin::sim::web {

// What a finished tool left behind.
struct ToolResult {
  int exitStatus = -1;  // -1 when it could not be started, was killed or timed out
  std::string out;      // standard output, at most kMaxOutputBytes
  std::string err;      // standard error, likewise
  std::string problem;  // why it did not run to its end, for a person
};

// Runs the device's command-line tools (pelorinctl, pelorin-switches) for the
// web server. Each program is looked for at `toolsDir/NAME` and, when not
// there, on PATH. Page input only ever travels as argv elements: no shell.
// Thread-safe: every run is its own child process.
class ToolRunner {
 public:
  static constexpr std::size_t kMaxOutputBytes = std::size_t{4} << 20;

  ToolRunner(std::string toolsDir, std::chrono::milliseconds timeout)
      : toolsDir_(std::move(toolsDir)), timeout_(timeout) {}

  // Runs NAME with `arguments`, its standard input /dev/null, and waits for
  // it; a child still running after the time-out is killed. The child
  // inherits the server's environment.
  ToolResult run(const std::string& name, const std::vector<std::string>& arguments) const;

 private:
  std::string programPath(const std::string& name) const;

  const std::string toolsDir_;
  const std::chrono::milliseconds timeout_;
};

}  // namespace pelorin::sim::web
