// The rules and auto-rules files as the daemon reads them, from arbitrary
// bytes: reading and looking numbers up never fails, whatever the file holds.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/names.h"
#include "outgoing/auto_rule_handler.h"
#include "outgoing/send_rule_handler.h"

namespace {

const std::string& fuzzRoot() {
  static const std::string root = [] {
    std::string folder = (std::filesystem::temp_directory_path() / "pelorin-fuzz-XXXXXX").string();
    ::mkdtemp(folder.data());
    ::setenv("PELORIN_ROOT", folder.c_str(), 1);
    std::filesystem::create_directories(
        std::filesystem::path(pelorin::resolvedPath(pelorin::kRulesFile)).parent_path());
    return folder;
  }();
  return root;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzRoot();
  const std::string rules = pelorin::resolvedPath(pelorin::kRulesFile);
  writeFile(rules, data, size);
  pelorin::SendRuleHandler handler(rules);
  for (const char* number : {"12125551212", "1", "011442079460123", "+", ""}) {
    const auto match = handler.matchRule(std::string(number));
    if (!match.key && match.mode != pelorin::SendModeNoRule) std::abort();
  }

  writeFile(pelorin::resolvedPath(pelorin::kAutoRulesFile), data, size);
  pelorin::AutoRuleHandler autoRules;
  autoRules.setEnableAutoSendRules(true);
  autoRules.recipientFound("12125551212");
  return 0;
}
