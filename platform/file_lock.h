#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>

namespace pelorin::platform {

// How long a writer waits for a shared file's lock before it gives up.
inline constexpr std::chrono::milliseconds kFileLockWait{5000};

// An exclusive advisory lock on a shared file, held by a writer for the whole
// of a read-modify-write (and by a whole-file writer, so that it cannot land
// in the middle of one): writers that take it never lose each other's
// changes. Readers take none, as every write replaces the file whole.
//
// Writers replace a file by renaming a new one over it, so the lock is not
// taken on the file itself (a writer that opened the new file would lock an
// inode nobody else locks) but on "<file>.lock" beside it: an empty regular
// file, created 0600 when missing, never opened through a symbolic link, and
// left in place afterwards (removing it would let two writers lock two
// different files). The lock is flock(2)'s: it excludes other processes and
// other FileLock objects of this process alike, and ends with the object or
// the process.
//
// Movable, not copyable. Any thread.
class FileLock {
 public:
  // Takes the lock of the file at the full path `path`, creating missing
  // parent folders, and waits up to fileLockWait() while another writer holds
  // it. held() says whether it was taken; if not, problem() says why.
  static FileLock acquire(const std::string& path);

  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();  // releases the lock

  bool held() const { return descriptor_ >= 0; }

  // When not held: why, for a person, naming the file.
  const std::string& problem() const { return problem_; }

 private:
  FileLock(int descriptor, std::string problem)
      : descriptor_(descriptor), problem_(std::move(problem)) {}

  int descriptor_ = -1;  // the open lock file, -1 when not held
  std::string problem_;
};

// The bound on FileLock::acquire()'s wait: kFileLockWait unless a test set
// another.
std::chrono::milliseconds fileLockWait();

// Tests: every later acquire() waits at most `wait`; nullopt restores
// kFileLockWait.
void setFileLockWaitForTesting(std::optional<std::chrono::milliseconds> wait);

}  // namespace pelorin::platform
