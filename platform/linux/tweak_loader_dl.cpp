#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/process_info.h"
#include "platform/property_list.h"
#include "platform/root_path.h"
#include "platform/tweak_loader.h"

namespace pelorin::platform {
namespace {

bool arrayHolds(const Dictionary& filter, const char* key, std::string_view wanted) {
  auto it = filter.find(key);
  if (it == filter.end() || it->second.asArray() == nullptr) return false;
  const Array& entries = *it->second.asArray();
  return std::any_of(entries.begin(), entries.end(), [&](const Value& entry) {
    return entry.asString() != nullptr && *entry.asString() == wanted;
  });
}

// NAME of every NAME.so in the folder, in byte order.
std::vector<std::string> libraryNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const auto& path = it->path();
    if (path.extension() == ".so") names.push_back(path.stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TweakLoad load(const std::filesystem::path& library, const std::string& name) {
  TweakLoad result{name, false, {}};
  // Bound now, so that a tweak with a missing symbol is refused here instead
  // of failing inside the host later.
  if (::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr) {
    result.loaded = true;
    std::fprintf(stderr, "pelorin: loaded tweak %s\n", name.c_str());
  } else {
    const char* why = ::dlerror();
    result.error = why ? why : "unknown error";
    std::fprintf(stderr, "pelorin: cannot load tweak %s: %s\n", name.c_str(), result.error.c_str());
  }
  return result;
}

}  // namespace

bool filterMatches(const Value& filterPlist, const Text& bundleIdentifier,
                   std::string_view processName) {
  const Dictionary* root = filterPlist.asDictionary();
  if (root == nullptr) return false;
  auto filter = root->find("Filter");
  if (filter == root->end() || filter->second.asDictionary() == nullptr) return false;
  const Dictionary& rules = *filter->second.asDictionary();
  return (bundleIdentifier && arrayHolds(rules, "Bundles", *bundleIdentifier)) ||
         arrayHolds(rules, "Executables", processName);
}

std::vector<TweakLoad> loadTweaks() {
  const std::filesystem::path folder = resolvePath(kTweakFolder);
  const Text bundle = bundleIdentifier();
  const std::string process = processName();
  std::vector<TweakLoad> loads;
  for (const auto& name : libraryNames(folder)) {
    const std::string filterPath = (folder / (name + ".plist")).string();
    const auto filter = readPropertyListFile(filterPath);
    if (!filter.value && !filter.missing) {
      // Whoever it was meant for, it cannot be loaded: say so, and go on.
      TweakLoad skipped{name, false,
                        "cannot read its filter " + filterPath + ": " + filter.problem};
      std::fprintf(stderr, "pelorin: skipping tweak %s: %s\n", name.c_str(), skipped.error.c_str());
      loads.push_back(std::move(skipped));
      continue;
    }
    if (!filter.value || !filterMatches(*filter.value, bundle, process)) continue;
    loads.push_back(load(folder / (name + ".so"), name));
  }
  return loads;
}

}  // namespace pelorin::platform
