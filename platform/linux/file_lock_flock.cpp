#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include "platform/file_lock.h"

namespace pelorin::platform {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::chrono::milliseconds::rep> waitForTesting{-1};

// The lock file, opened and checked; -1 and the reason when it cannot be used.
int openLockFile(const std::string& lockPath, std::string& problem) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(lockPath).parent_path(), ignored);
  // O_NONBLOCK: a FIFO planted at the path must not hang the writer.
  const int fd = ::open(lockPath.c_str(),
                        O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) {
    problem = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return -1;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    problem = "it is not a regular file";
    ::close(fd);
    return -1;
  }
  return fd;
}

// Polls, as flock() cannot wait with a bound; the pauses grow so that a long
// wait costs little, and stay short so that a freed lock is taken soon.
bool lockWithin(int fd, std::chrono::milliseconds wait, std::string& problem) {
  const auto deadline = Clock::now() + wait;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      problem = std::strerror(errno);
      return false;
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      problem = "another writer held it for longer than " + std::to_string(wait.count()) + " ms";
      return false;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

}  // namespace

FileLock FileLock::acquire(const std::string& path) {
  const std::string lockPath = path + ".lock";
  std::string problem;
  const int fd = openLockFile(lockPath, problem);
  if (fd >= 0 && lockWithin(fd, fileLockWait(), problem)) return FileLock(fd, {});
  if (fd >= 0) ::close(fd);
  return FileLock(-1, "cannot lock " + path + " (" + lockPath + "): " + problem);
}

FileLock::FileLock(FileLock&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), problem_(std::move(other.problem_)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
    problem_ = std::move(other.problem_);
  }
  return *this;
}

FileLock::~FileLock() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

std::chrono::milliseconds fileLockWait() {
  const auto forTesting = waitForTesting.load(std::memory_order_relaxed);
  return forTesting >= 0 ? std::chrono::milliseconds(forTesting) : kFileLockWait;
}

void setFileLockWaitForTesting(std::optional<std::chrono::milliseconds> wait) {
  waitForTesting.store(wait ? wait->count() : -1, std::memory_order_relaxed);
}

}  // namespace pelorin::platform
