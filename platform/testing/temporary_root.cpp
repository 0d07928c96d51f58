#include "platform/testing/temporary_root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pelorin::platform::testing {

TemporaryRoot::TemporaryRoot() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-root-XXXXXX").string();
  folder_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  if (const char* previous = std::getenv("PELORIN_ROOT")) {
    hadPreviousRoot_ = true;
    previousRoot_ = previous;
  }
  ::setenv("PELORIN_ROOT", folder_.c_str(), 1);
}

TemporaryRoot::~TemporaryRoot() {
  if (hadPreviousRoot_) {
    ::setenv("PELORIN_ROOT", previousRoot_.c_str(), 1);
  } else {
    ::unsetenv("PELORIN_ROOT");
  }
  std::error_code ignored;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

void TemporaryRoot::writeFile(const std::string& absolutePath, const std::string& bytes) const {
  const std::filesystem::path target = path(absolutePath);
  std::filesystem::create_directories(target.parent_path());
  std::ofstream(target, std::ios::binary) << bytes;
}

std::string TemporaryRoot::readFile(const std::string& absolutePath) const {
  std::ifstream in(path(absolutePath), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool TemporaryRoot::exists(const std::string& absolutePath) const {
  return std::filesystem::exists(path(absolutePath));
}

}  // namespace pelorin::platform::testing
