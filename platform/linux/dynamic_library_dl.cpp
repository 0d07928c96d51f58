#include <dlfcn.h>

#include "platform/dynamic_library.h"

namespace pelorin::platform {

FunctionAddress findLibraryFunction(const std::string& path, const std::string& symbol) {
  void* library = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  return reinterpret_cast<FunctionAddress>(::dlsym(library, symbol.c_str()));
}

}  // namespace pelorin::platform
