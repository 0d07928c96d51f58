// Property lists through libplist's C API (libplist++ leaks on nested
// dictionaries, so it is not used).
#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>

#include "platform/files.h"
#include "platform/linux/property_list_guard.h"
#include "platform/property_list.h"

namespace pelorin::platform {
namespace {

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::optional<Value> fromNode(plist_t node, int depth);

std::optional<Value> dictionaryFromNode(plist_t node, int depth) {
  Dictionary dictionary;
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(node, &iter);
  if (iter == nullptr) return Value(std::move(dictionary));
  for (;;) {
    char* key = nullptr;
    plist_t item = nullptr;
    plist_dict_next_item(node, iter, &key, &item);
    if (key == nullptr) break;
    std::string keyText(key);
    std::free(key);
    if (item == nullptr) continue;
    auto value = fromNode(item, depth + 1);
    if (!value) {
      std::free(iter);
      return std::nullopt;
    }
    dictionary.insert_or_assign(std::move(keyText), std::move(*value));
  }
  std::free(iter);
  return Value(std::move(dictionary));
}

std::optional<Value> arrayFromNode(plist_t node, int depth) {
  Array array;
  const uint32_t size = plist_array_get_size(node);
  array.reserve(size);
  for (uint32_t i = 0; i < size; ++i) {
    auto value = fromNode(plist_array_get_item(node, i), depth + 1);
    if (!value) return std::nullopt;
    array.push_back(std::move(*value));
  }
  return Value(std::move(array));
}

std::optional<Value> fromNode(plist_t node, int depth) {
  if (node == nullptr || depth > kMaxPropertyListDepth) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_DICT:
      return dictionaryFromNode(node, depth);
    case PLIST_ARRAY:
      return arrayFromNode(node, depth);
    case PLIST_STRING:
    case PLIST_KEY: {
      char* text = nullptr;
      if (plist_get_node_type(node) == PLIST_KEY) {
        plist_get_key_val(node, &text);
      } else {
        plist_get_string_val(node, &text);
      }
      std::string value = text ? text : "";
      std::free(text);
      return Value(std::move(value));
    }
    case PLIST_UINT: {
      // libplist hands negative integers back as their two's complement.
      uint64_t raw = 0;
      plist_get_uint_val(node, &raw);
      return Value(static_cast<std::int64_t>(raw));
    }
    case PLIST_REAL: {
      double real = 0;
      plist_get_real_val(node, &real);
      return Value(real);
    }
    case PLIST_BOOLEAN: {
      uint8_t flag = 0;
      plist_get_bool_val(node, &flag);
      return Value(flag != 0);
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      Data data(bytes, bytes + (bytes ? length : 0));
      std::free(bytes);
      return Value(std::move(data));
    }
    case PLIST_DATE: {
      int32_t seconds = 0;
      int32_t micros = 0;
      plist_get_date_val(node, &seconds, &micros);
      return Value(Date{seconds + micros / 1e6});
    }
    case PLIST_UID: {
      uint64_t uid = 0;
      plist_get_uid_val(node, &uid);
      return Value(static_cast<std::int64_t>(uid));
    }
    default:
      return std::nullopt;
  }
}

plist_t toNode(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kDictionary: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, item] : *value.asDictionary()) {
        plist_dict_set_item(dict, key.c_str(), toNode(item));
      }
      return dict;
    }
    case Value::Kind::kArray: {
      plist_t array = plist_new_array();
      for (const auto& item : *value.asArray()) plist_array_append_item(array, toNode(item));
      return array;
    }
    case Value::Kind::kString:
      return plist_new_string(value.asString()->c_str());
    case Value::Kind::kInteger:
      return plist_new_uint(static_cast<uint64_t>(*value.asInteger()));
    case Value::Kind::kReal:
      return plist_new_real(*value.asReal());
    case Value::Kind::kBoolean:
      return plist_new_bool(*value.asBoolean() ? 1 : 0);
    case Value::Kind::kData: {
      const Data& data = *value.asData();
      return plist_new_data(reinterpret_cast<const char*>(data.data()), data.size());
    }
    case Value::Kind::kDate: {
      // libplist keeps dates as 32-bit seconds; a binary list may hold any
      // double, so the time is clamped to that range (not a number: 2001).
      double t = value.asDate()->secondsSince2001;
      if (std::isnan(t)) t = 0;
      t = std::clamp(t, double{std::numeric_limits<int32_t>::min()},
                     double{std::numeric_limits<int32_t>::max()});
      const auto seconds = static_cast<int32_t>(t);
      return plist_new_date(seconds, static_cast<int32_t>((t - seconds) * 1e6));
    }
  }
  return plist_new_string("");
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// A write's temporary file is TARGET.pelorin-tmp.PID.XXXXXX. A writer killed
// between creating and renaming it leaves it behind; the next write of the
// same target removes those whose writer is gone, and any old enough that no
// write can still be using them (the process id may have been reused).
constexpr std::string_view kTemporaryMark = ".pelorin-tmp.";
constexpr auto kAbandonedAfter = std::chrono::minutes(10);

bool writerIsGone(std::string_view pidText) {
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(pidText.data(), pidText.data() + pidText.size(), pid);
  if (error != std::errc() || end != pidText.data() + pidText.size() || pid <= 0) return true;
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

void removeStaleTemporaryFiles(const std::filesystem::path& target) {
  const std::string prefix = target.filename().string() + std::string(kTemporaryMark);
  const auto now = std::filesystem::file_time_type::clock::now();
  std::error_code error;
  for (std::filesystem::directory_iterator it(target.parent_path(), error), end;
       !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(prefix)) continue;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    const std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos) continue;
    std::error_code timeError;
    const auto modified = std::filesystem::last_write_time(it->path(), timeError);
    const bool old = !timeError && now - modified > kAbandonedAfter;
    if (old || writerIsGone(rest.substr(0, dot))) ::unlink(it->path().c_str());
  }
}

// The permissions of the file that replaces `path`: those of the regular file
// there, so that a file its owner made private stays private; 0600 for a new
// file, as these files hold passwords and phone numbers. A link at
// the path is not followed (the rename replaces the link itself).
mode_t replacementMode(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) return status.st_mode & 0777;
  return 0600;
}

}  // namespace

std::optional<Value> parsePropertyList(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  if (!isSafeForLibplist(bytes)) return std::nullopt;
  plist_t root = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<uint32_t>(bytes.size()), &root);
  PlistPtr owner(root);
  return fromNode(root, 0);
}

std::string toXmlPropertyList(const Value& value) {
  PlistPtr root(toNode(value));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  std::string out(xml ? xml : "", xml ? length : 0);
  plist_to_xml_free(xml);
  return out;
}

PropertyListRead readPropertyListFile(const std::string& path) {
  FileRead file = readFile(path);
  if (!file.bytes) return PropertyListRead{std::nullopt, file.missing, std::move(file.problem)};
  const std::string& bytes = *file.bytes;
  auto value =
      parsePropertyList({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  if (!value) return PropertyListRead{std::nullopt, false, "it is not a readable property list"};
  return PropertyListRead{std::move(value), false, {}};
}

std::optional<Value> readPropertyList(const std::string& path) {
  return readPropertyListFile(path).value;
}

std::optional<Dictionary> readDictionary(const std::string& path) {
  auto value = readPropertyList(path);
  if (!value || !value->asDictionary()) return std::nullopt;
  return std::move(*value->asDictionary());
}

std::optional<Array> readArray(const std::string& path) {
  auto value = readPropertyList(path);
  if (!value || !value->asArray()) return std::nullopt;
  return *value->asArray();
}

bool writePropertyListAtomically(const std::string& path, const Value& value) {
  const std::string xml = toXmlPropertyList(value);
  std::error_code ignored;
  const std::filesystem::path target(path);
  std::filesystem::create_directories(target.parent_path(), ignored);
  removeStaleTemporaryFiles(target);
  std::string temporary =
      path + std::string(kTemporaryMark) + std::to_string(::getpid()) + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  const bool ok = ::fchmod(fd, replacementMode(path)) == 0 && writeAll(fd, xml) && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace pelorin::platform
