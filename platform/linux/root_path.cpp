#include "platform/root_path.h"

#include <cstdlib>

namespace pelorin::platform {

std::string rootFolder() {
  const char* root = std::getenv("PELORIN_ROOT");
  if (root == nullptr || *root == '\0') return "/";
  return root;
}

std::string resolvePath(std::string_view absolutePath) {
  std::string root = rootFolder();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root == "/") return std::string(absolutePath);
  return root + std::string(absolutePath);
}

}  // namespace pelorin::platform
