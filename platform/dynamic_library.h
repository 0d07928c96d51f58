#pragma once

#include <string>

namespace pelorin::platform {

// Run-time binding of a function in a shared library that the caller does not
// link against. Full paths (see root_path.h).

// A function of any type, erased; cast back to its real type before calling.
using FunctionAddress = void (*)();

// Opens the library at `path` with lazy binding (it stays loaded for the life
// of the process) and looks up `symbol`. nullptr when the library cannot be
// opened or lacks the symbol; nothing is reported, and a later call tries again.
FunctionAddress findLibraryFunction(const std::string& path, const std::string& symbol);

template <class Function>
Function* findLibraryFunction(const std::string& path, const std::string& symbol) {
  return reinterpret_cast<Function*>(findLibraryFunction(path, symbol));
}

}  // namespace pelorin::platform
