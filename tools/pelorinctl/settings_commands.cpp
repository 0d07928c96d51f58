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
#include "tools/pelorinctl/device_bus.h"
#include "tools/pelorinctl/text_table.h"

namespace pelorin::ctl {
namespace settings_detail {

enum class Kind { Bool, Integer, String };

// One key of the settings file: its type, the value its readers assume when
// it is absent (none for texts), the integers that mean something (any when
// empty), and what a person must do for a change to take effect, if more
// than the settings notification.
struct Setting {
  std::string_view key;
  Kind kind;
  std::optional<platform::Value> fallback;
  std::vector<std::int32_t> allowed = {};
  std::string_view afterChange = {};
};

const std::vector<Setting>& settingsTable() {
  namespace k = pelorin::settings;
  static const std::vector<Setting> table = {
      {k::kEnableLogging, Kind::Bool, false},
      {k::kEnableOmniSend, Kind::Bool, false},
      {k::kEvalSendRules, Kind::Bool, true},
      {k::kDefaultSMSSend, Kind::Integer, 1, {0, 1}},
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
      {k::kEnableMailReceive,
       Kind::Bool,
       false,
       {},
       "the Mail application reads it when it starts: pelorin-sim restart mail"},
      {k::kRecvSig, Kind::String, std::nullopt},
      {k::kUsername, Kind::String, std::nullopt},
      {k::kPassword, Kind::String, std::nullopt},
      {k::kPhoneNumber, Kind::String, std::nullopt},
      {k::kAuthCheck, Kind::Bool, false},
      {k::kMonitorOptions, Kind::Integer, 1, {0, 1, 2}},
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
      const auto& allowed = setting.allowed;
      if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), number) == allowed.end()) {
        return std::nullopt;
      }
      return platform::Value(number);
    }
    case Kind::String:
      break;
  }
  return platform::Value(text);
}

// ", one of: 0, 1" for a setting that allows only some integers.
std::string allowedText(const Setting& setting) {
  std::string text;
  for (auto number : setting.allowed)
    text += (text.empty() ? ", one of: " : ", ") + std::to_string(number);
  return text;
}

// A value as `set` confirms it.
std::string shownValue(const platform::Value& value) {
  if (const bool* flag = value.asBoolean()) return *flag ? "true" : "false";
  if (const std::string* text = value.asString()) return nlohmann::json(*text).dump();
  return std::to_string(value.int32Reading());
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
      line["source"] = isDefault ? "default" : "file";
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
int store(const std::vector<std::pair<std::string, platform::Value>>& changes) {
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
  for (const auto& [key, value] : changes) settings[key] = value;
  if (!platform::writePropertyListAtomically(path, platform::Value(std::move(settings)))) {
    std::fprintf(stderr, "pelorinctl: could not write %s\n", path.c_str());
    return 1;
  }
  return 0;
}

// Posts the settings notification unless asked not to, then says in one
// line what was set (the password's value is not shown) and, on standard
// error, what else a change needs to take effect.
int announce(const std::vector<std::pair<std::string, platform::Value>>& changes, bool noNotify) {
  std::string done = "Set";
  for (const auto& [key, value] : changes) {
    done += " " + key + "=" + (key == settings::kPassword ? "(hidden)" : shownValue(value));
  }
  if (!noNotify) {
    if (!deviceBusReachable()) {
      std::fprintf(stderr, "pelorinctl: settings written, but no process was told\n");
      return 1;
    }
    platform::newBusDarwinNotifyCenter()->postNotification(std::string(kSettingsNotification));
  }
  std::printf("%s%s\n", done.c_str(),
              noNotify ? " (no notification posted)" : "; settings notification posted");
  for (const auto& [key, value] : changes) {
    const auto note = findSetting(key)->afterChange;
    if (!note.empty()) {
      std::fprintf(stderr, "pelorinctl: %s: %.*s\n", key.c_str(), static_cast<int>(note.size()),
                   note.data());
    }
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
      std::fprintf(stderr, "pelorinctl: \"%s\" is not a valid %s for %s%s\n",
                   options.pairs[i + 1].c_str(), kindName(setting->kind), key.c_str(),
                   allowedText(*setting).c_str());
      return 2;
    }
    changes.emplace_back(key, std::move(*value));
  }

  if (const int status = store(changes); status != 0) return status;
  return announce(changes, options.noNotify);
}

}  // namespace settings_detail

void addSettingsCommands(CLI::App& app) {
  using namespace settings_detail;
  CLI::App* settings = app.add_subcommand("settings", "Show or change the settings file");
  settings->require_subcommand(1);

  auto showOptions = std::make_shared<ShowOptions>();
  CLI::App* showCommand = settings->add_subcommand(
      "show", "Every settings key with its value in the file, or its default");
  showCommand->add_flag("--json", showOptions->json,
                        "One JSON object per key: key, type, value, source (file or default)");
  showCommand->callback([showOptions] { exitStatus() = show(*showOptions); });

  auto setOptions = std::make_shared<SetOptions>();
  CLI::App* setCommand = settings->add_subcommand(
      "set",
      "Set KEY to VALUE (pairs), keeping the other keys, then post the settings "
      "notification; pelorin-settings(5) lists the keys and their values");
  setCommand->add_flag("--no-notify", setOptions->noNotify, "Do not post the notification");
  setCommand->add_option("pairs", setOptions->pairs, "KEY VALUE [KEY VALUE...]")->required();
  setCommand->callback([setOptions] { exitStatus() = set(*setOptions); });
}

}  // namespace pelorin::ctl
