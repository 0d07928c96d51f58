#include "sim/switches/switch_panel.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <variant>

#include "platform/dynamic_library.h"
#include "platform/property_list.h"
#include "platform/root_path.h"

namespace pelorin::sim {
namespace {

std::optional<std::string> textFor(const platform::Dictionary& info, std::string_view key) {
  const auto it = info.find(std::string(key));
  if (it == info.end() || it->second.asString() == nullptr || it->second.asString()->empty())
    return std::nullopt;
  return *it->second.asString();
}

// The bundle's switch, or the reason it cannot be had.
std::variant<LoadedSwitch, std::string> loadBundle(const std::filesystem::path& bundle) {
  const auto info = platform::readDictionary((bundle / platform::kSwitchInfoFile).string());
  if (!info) return std::string("no readable ") + std::string(platform::kSwitchInfoFile);
  const auto identifier = textFor(*info, platform::kSwitchIdentifierKey);
  const auto principalClass = textFor(*info, platform::kSwitchPrincipalClassKey);
  if (!identifier) return std::string(platform::kSwitchInfoFile) + " names no switch identifier";
  if (!principalClass) return std::string(platform::kSwitchInfoFile) + " names no principal class";
  const std::string library =
      (bundle /
       textFor(*info, platform::kSwitchExecutableKey).value_or(bundle.stem().string() + ".so"))
          .string();
  auto* factory =
      platform::findLibraryFunction<platform::SwitchDataSourceFactory>(library, *principalClass);
  if (factory == nullptr) return "cannot load " + library + " or it lacks " + *principalClass;
  platform::FSSwitchDataSource* dataSource = factory();
  if (dataSource == nullptr) return *principalClass + " gave no data source";
  return LoadedSwitch{*identifier, textFor(*info, platform::kSwitchTitleKey).value_or(*identifier),
                      bundle.string(), dataSource};
}

}  // namespace

SwitchPanel SwitchPanel::load(std::ostream& errors) {
  namespace fs = std::filesystem;
  SwitchPanel panel;
  std::error_code error;
  std::vector<fs::path> bundles;
  for (fs::directory_iterator it(platform::resolvePath(platform::kSwitchFolder), error), end;
       !error && it != end; it.increment(error)) {
    if (it->path().extension() == ".bundle" && it->is_directory(error))
      bundles.push_back(it->path());
  }
  std::sort(bundles.begin(), bundles.end());
  for (const auto& bundle : bundles) {
    auto loaded = loadBundle(bundle);
    if (const auto* why = std::get_if<std::string>(&loaded)) {
      errors << "pelorin-switches: skipped " << bundle.string() << ": " << *why << "\n";
      continue;
    }
    auto& found = std::get<LoadedSwitch>(loaded);
    if (panel.find(found.identifier) != nullptr) {
      errors << "pelorin-switches: skipped " << bundle.string() << ": switch " << found.identifier
             << " is already loaded\n";
      continue;
    }
    panel.switches_.push_back(std::move(found));
  }
  return panel;
}

const LoadedSwitch* SwitchPanel::find(std::string_view identifier) const {
  const auto it = std::find_if(switches_.begin(), switches_.end(),
                               [&](const LoadedSwitch& s) { return s.identifier == identifier; });
  return it == switches_.end() ? nullptr : &*it;
}

std::string_view stateName(platform::FSSwitchState state) {
  if (state == platform::FSSwitchStateOn) return "on";
  if (state == platform::FSSwitchStateOff) return "off";
  return "indeterminate";
}

platform::FSSwitchState stateNamed(std::string_view name) {
  if (name == "on") return platform::FSSwitchStateOn;
  if (name == "off") return platform::FSSwitchStateOff;
  return platform::FSSwitchStateIndeterminate;
}

}  // namespace pelorin::sim
