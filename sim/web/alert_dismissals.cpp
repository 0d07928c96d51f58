#include "sim/web/alert_dismissals.h"

#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/files.h"

namespace pelorin::sim::web {

AlertDismissals::AlertDismissals(std::string file, std::string busAddress)
    : file_(std::move(file)), busAddress_(std::move(busAddress)) {
  const auto bytes = platform::readWholeFile(file_);
  if (!bytes) return;
  std::istringstream lines(*bytes);
  for (std::string line; std::getline(lines, line);) {
    const auto entry = nlohmann::json::parse(line, nullptr, false);
    if (!entry.is_object() || entry.value("bus", "") != busAddress_) continue;
    const auto host = entry.find("host");
    const auto index = entry.find("index");
    if (host == entry.end() || !host->is_string() || index == entry.end() ||
        !index->is_number_unsigned()) {
      continue;
    }
    dismissed_.emplace(host->get<std::string>(), index->get<std::uint64_t>());
  }
}

bool AlertDismissals::dismiss(const std::string& host, std::uint64_t index,
                              const std::string& button, const std::string& title) {
  {
    std::lock_guard lock(mutex_);
    dismissed_.emplace(host, index);
  }
  const nlohmann::json entry = {
      {"bus", busAddress_}, {"host", host}, {"index", index}, {"button", button}, {"title", title}};
  const std::string line =
      entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  return platform::appendToPrivateFile(file_, "", line) != platform::PrivateAppend::kFailed;
}

bool AlertDismissals::dismissed(const std::string& host, std::uint64_t index) const {
  std::lock_guard lock(mutex_);
  return dismissed_.count({host, index}) != 0;
}

}  // namespace pelorin::sim::web
