// pelorinctl settings: the settings file under the root, shown and changed
// as the settings screen would (the stand-in for that screen).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"
#include "platform/session_bus.h"
#include "tools/pelorinctl/commands.h"
#include "tools/pelorinctl/text_table.h"

namespace pelorin::ctl {
namespace settings_detail {

enum class Kind { Bool, Integer, String };

// One key of the settings file: its type and the value its readers assume
// when it is absent (none for texts).
struct Setting {
  std::string_view key;
  Kind kind;
  std::optional<platform::Value> fallback;
};

const std::vector<Setting>& settingsTable() {
  namespace k = pelorin::settings;
  static const std::vector<Setting> table = {
      {k::kEnableLogging, Kind::Bool, false},
      {k::kEnableOmniSend, Kind::Bool, false},
      {k::kEvalSendRules, Kind::Bool, true},
      {k::kDefaultSMSSend, Kind::Integer, 1},
      {k::kIntlSMSviaGV, Kind::Bool, false},
      {k::kIntliMsgviaGV, Kind::Bool, false},
      {k::kEnableAutoRules, Kind::Bool, false},
      {k::kEnableiMessageSendRules, Kind::Bool, false},
      {k::kGVSMSviaCarrier, Kind::Bool, false},
      {k::kAllGVasSMS, Kind::Bool, true},
      {k::kShortCodeviaGV, Kind::Bool, false},
      {k::kSendSig, Kind::String, std::nullopt},
      {k::kIsAniPhone, Kind::Bool, true},
      {k::kEnableReceiveOfficialGV, Kind::Bool, false},
      {k::kEnableMailReceive, Kind::Bool, false},
      {k::kRecvSig, Kind::String, std::nullopt},
      {k::kUsername, Kind::String, std::nullopt},
      {k::kPassword, Kind::String, std::nullopt},
      {k::kPhoneNumber, Kind::String, std::nullopt},
      {k::kAuthCheck, Kind::Bool, false},
      {k::kMonitorOptions, Kind::Integer, 1},
      {k::kMonitoredAccount, Kind::String, std::nullopt},
      {k::kMonitoredLabel, Kind::String, std::nullopt},
  };
  return table;
}

const Setting* findSetting(std::string_view key) {
  const auto& table = settingsTable();
  auto it =
      std::find_if(table.begin(), table.end(), [&](const Setting& s) { return s.key == key; });
  return it == table.end() ? nullptr : &*it;
}

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::Bool:
      return "bool";
    case Kind::Integer:
      return "integer";
    case Kind::String:
      break;
  }
  return "string";
}

// The value as the readers take it: the boolean or integer reading, a text as
// it is (another kind reads as no text).
nlohmann::json readingOf(const Setting& setting, const platform::Value& value) {
  switch (setting.kind) {
    case Kind::Bool:
      return value.boolReading();
    case Kind::Integer:
      return value.int32Reading();
    case Kind::String:
      break;
  }
  const std::string* text = value.asString();
  return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

// The typed value of a command-line text, or nothing when it does not fit.
std::optional<platform::Value> parseValue(const Setting& setting, const std::string& text) {
  switch (setting.kind) {
    case Kind::Bool: {
      std::string lower = text;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (lower == "true" || lower == "yes" || lower == "1") return platform::Value(true);
      if (lower == "false" || lower == "no" || lower == "0") return platform::Value(false);
      return std::nullopt;
    }
    case Kind::Integer: {
      std::int32_t number = 0;
      const char* end = text.data() + text.size();
      auto [ptr, error] = std::from_chars(text.data(), end, number);
      if (text.empty() || error != std::errc() || ptr != end) return std::nullopt;
      return platform::Value(number);
    }
    case Kind::String:
      break;
  }
  return platform::Value(text);
}

struct ShowOptions {
  bool json = false;
};

struct SetOptions {
  std::vector<std::string> pairs;
  bool noNotify = false;
};

int show(const ShowOptions& options) {
  const auto file =
      platform::readDictionary(resolvedPath(kSettingsFile)).value_or(platform::Dictionary{});
  TextTable table({"KEY", "TYPE", "VALUE"});
  for (const auto& setting : settingsTable()) {
    auto stored = file.find(std::string(setting.key));
    const bool isDefault = stored == file.end();
    const nlohmann::json value =
        isDefault ? (setting.fallback ? readingOf(setting, *setting.fallback) : nullptr)
                  : readingOf(setting, stored->second);
    if (options.json) {
      nlohmann::ordered_json line;
      line["key"] = setting.key;
      line["type"] = kindName(setting.kind);
      line["value"] = value;
      line["default"] = isDefault;
      std::cout << line.dump() << "\n";
    } else {
      std::string shown = value.is_null()     ? "(none)"
                          : value.is_string() ? value.get<std::string>()
                                              : value.dump();
      if (isDefault) shown += " (default)";
      table.addRow({std::string(setting.key), kindName(setting.kind), shown});
    }
  }
  if (!options.json) table.print(std::cout);
  return 0;
}

// Applies `changes` to the settings file, holding its lock from the read to
// the write so that no other writer's change is lost. 0, or 1 with a message.
int store(std::vector<std::pair<std::string, platform::Value>>& changes) {
  const std::string path = resolvedPath(kSettingsFile);
  const auto lock = platform::FileLock::acquire(path);
  if (!lock.held()) {
    std::fprintf(stderr, "pelorinctl: the settings were not changed: %s\n", lock.problem().c_str());
    return 1;
  }
  platform::Dictionary settings;
  std::error_code error;
  if (std::filesystem::exists(path, error)) {
    auto existing = platform::readDictionary(path);
    if (!existing) {
      // Replacing it would lose whatever the user keeps there.
      std::fprintf(stderr, "pelorinctl: %s is not a settings dictionary; not changed\n",
                   path.c_str());
      return 1;
    }
    settings = std::move(*existing);
  }
  for (auto& [key, value] : changes) settings[key] = std::move(value);
  if (!platform::writePropertyListAtomically(path, platform::Value(std::move(settings)))) {
    std::fprintf(stderr, "pelorinctl: could not write %s\n", path.c_str());
    return 1;
  }
  return 0;
}

int set(const SetOptions& options) {
  if (options.pairs.size() % 2 != 0) {
    std::fprintf(stderr, "pelorinctl: settings set takes KEY VALUE pairs\n");
    return 2;
  }
  std::vector<std::pair<std::string, platform::Value>> changes;
  for (std::size_t i = 0; i < options.pairs.size(); i += 2) {
    const std::string& key = options.pairs[i];
    const Setting* setting = findSetting(key);
    if (!setting) {
      std::fprintf(stderr, "pelorinctl: unknown settings key \"%s\"\n", key.c_str());
      return 2;
    }
    auto value = parseValue(*setting, options.pairs[i + 1]);
    if (!value) {
      std::fprintf(stderr, "pelorinctl: \"%s\" is not a valid %s for %s\n",
                   options.pairs[i + 1].c_str(), kindName(setting->kind), key.c_str());
      return 2;
    }
    changes.emplace_back(key, std::move(*value));
  }

  if (const int status = store(changes); status != 0) return status;
  if (options.noNotify) return 0;
  if (!platform::busReachable()) {
    std::fprintf(stderr, "pelorinctl: settings written; no session bus reachable to notify\n");
    return 1;
  }
  platform::newBusDarwinNotifyCenter()->postNotification(std::string(kSettingsNotification));
  return 0;
}

}  // namespace settings_detail

void addSettingsCommands(CLI::App& app) {
  using namespace settings_detail;
  CLI::App* settings = app.add_subcommand("settings", "Show or change the settings file");
  settings->require_subcommand(1);

  auto showOptions = std::make_shared<ShowOptions>();
  CLI::App* showCommand = settings->add_subcommand(
      "show", "Every settings key with its value in the file, or its default");
  showCommand->add_flag("--json", showOptions->json, "One JSON object per key");
  showCommand->callback([showOptions] { exitStatus() = show(*showOptions); });

  auto setOptions = std::make_shared<SetOptions>();
  CLI::App* setCommand = settings->add_subcommand(
      "set",
      "Set KEY to VALUE (pairs), keeping the other keys, then post the settings "
      "notification");
  setCommand->add_flag("--no-notify", setOptions->noNotify, "Do not post the notification");
  setCommand->add_option("pairs", setOptions->pairs, "KEY VALUE [KEY VALUE...]")->required();
  setCommand->callback([setOptions] { exitStatus() = set(*setOptions); });
}

}  // namespace pelorin::ctl
