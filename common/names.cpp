#include "common/names.h"

#include "platform/root_path.h"

namespace pelorin {

std::string resolvedPath(std::string_view file) {
  return platform::resolvePath(file);
}

}  // namespace pelorin
