#pragma once

#include <string>

namespace pelorin::platform::testing {

// A fresh, empty root folder for one test: PELORIN_ROOT points at it while the
// object lives, and the folder is removed afterwards.
class TemporaryRoot {
 public:
  TemporaryRoot();
  ~TemporaryRoot();
  TemporaryRoot(const TemporaryRoot&) = delete;
  TemporaryRoot& operator=(const TemporaryRoot&) = delete;

  const std::string& folder() const { return folder_; }

  // `absolutePath` under this root, like platform::resolvePath.
  std::string path(const std::string& absolutePath) const { return folder_ + absolutePath; }

  // Writes raw bytes to `absolutePath` under the root, creating folders.
  void writeFile(const std::string& absolutePath, const std::string& bytes) const;

  // The file's bytes, or "" when it does not exist.
  std::string readFile(const std::string& absolutePath) const;
  bool exists(const std::string& absolutePath) const;

 private:
  std::string folder_;
  std::string previousRoot_;
  bool hadPreviousRoot_ = false;
};

}  // namespace pelorin::platform::testing
