#include "tools/pelorinctl/pelorinctl_runner.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace pelorin::ctl::testing {

CommandResult runPelorinctl(const std::string& arguments) {
  const std::string command = std::string(PELORINCTL_PATH) + " " + arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string out;
  std::array<char, 4096> buffer;
  while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
    out.append(buffer.data(), n);
  }
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

}  // namespace pelorin::ctl::testing
