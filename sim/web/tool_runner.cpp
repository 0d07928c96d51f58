#include "sim/web/tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace pelorin::sim::web {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
  int read = -1;
  int write = -1;
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  bool open() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    read = fds[0];
    write = fds[1];
    return true;
  }
  void closeRead() { closeOne(read); }
  void closeWrite() { closeOne(write); }
  static void closeOne(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

// Spawn attributes: the child starts with no blocked signal and the default
// handling of the stop signals, whatever the server set for itself.
struct SpawnAttributes {
  posix_spawnattr_t attributes;
  SpawnAttributes() {
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGTERM, SIGINT, SIGPIPE, SIGHUP}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions(const Pipe& out, const Pipe& err) {
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);
  }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

// Reads what is ready on `pipe` into `text` (up to the cap; the rest is
// read and dropped), closing it at its end.
void drain(Pipe& pipe, std::string& text, short revents, std::array<char, 16384>& buffer) {
  if (pipe.read < 0 || revents == 0) return;
  const ssize_t n = ::read(pipe.read, buffer.data(), buffer.size());
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
    pipe.closeRead();
    return;
  }
  if (n < 0) return;
  const std::size_t room = ToolRunner::kMaxOutputBytes - text.size();
  text.append(buffer.data(), std::min(room, static_cast<std::size_t>(n)));
}

// Reads both pipes until they close or the deadline passes; false on time-out.
bool collect(Pipe& out, Pipe& err, ToolResult& result, Clock::time_point deadline) {
  std::array<char, 16384> buffer;
  while (out.read >= 0 || err.read >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) return false;
    drain(out, result.out, fds[0].revents, buffer);
    drain(err, result.err, fds[1].revents, buffer);
  }
  return true;
}

}  // namespace

std::string ToolRunner::programPath(const std::string& name) const {
  const std::string beside = toolsDir_ + "/" + name;
  return access(beside.c_str(), X_OK) == 0 ? beside : name;
}

ToolResult ToolRunner::run(const std::string& name,
                           const std::vector<std::string>& arguments) const {
  ToolResult result;
  Pipe out, err;
  if (!out.open() || !err.open()) {
    result.problem = "cannot make a pipe: " + std::string(std::strerror(errno));
    return result;
  }
  const std::string program = programPath(name);
  std::vector<char*> argv{const_cast<char*>(name.c_str())};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t child = -1;
  {
    SpawnAttributes attributes;
    FileActions actions(out, err);
    const int spawned = posix_spawnp(&child, program.c_str(), &actions.actions,
                                     &attributes.attributes, argv.data(), environ);
    if (spawned != 0) {
      result.problem = "cannot run " + name + ": " + std::strerror(spawned);
      return result;
    }
  }
  out.closeWrite();
  err.closeWrite();
  const bool finished = collect(out, err, result, Clock::now() + timeout_);
  if (!finished) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!finished) {
    result.problem = name + " did not finish in time";
  } else if (WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  } else {
    result.problem = name + " stopped by signal " + std::to_string(WTERMSIG(status));
  }
  return result;
}

}  // namespace pelorin::sim::web
