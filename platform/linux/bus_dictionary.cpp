// Property-list values carried as D-Bus variants.
#include <limits>

#include "platform/linux/bus_connection.h"

namespace pelorin::platform::bus {
namespace {

int appendValue(sd_bus_message* message, const Value& value);

int appendArray(sd_bus_message* message, const Array& array) {
  int r = sd_bus_message_open_container(message, 'a', "v");
  for (std::size_t i = 0; r >= 0 && i < array.size(); ++i) r = appendValue(message, array[i]);
  return r < 0 ? r : sd_bus_message_close_container(message);
}

// One value as a variant.
int appendValue(sd_bus_message* message, const Value& value) {
  int r = 0;
  auto open = [&](const char* contents) {
    r = sd_bus_message_open_container(message, 'v', contents);
  };
  if (const auto* text = value.asString()) {
    open("s");
    if (r >= 0) r = sd_bus_message_append_basic(message, 's', text->c_str());
  } else if (const auto* integer = value.asInteger()) {
    open("x");
    if (r >= 0) r = sd_bus_message_append_basic(message, 'x', integer);
  } else if (const auto* real = value.asReal()) {
    open("d");
    if (r >= 0) r = sd_bus_message_append_basic(message, 'd', real);
  } else if (const auto* boolean = value.asBoolean()) {
    const int flag = *boolean ? 1 : 0;
    open("b");
    if (r >= 0) r = sd_bus_message_append_basic(message, 'b', &flag);
  } else if (const auto* data = value.asData()) {
    open("ay");
    if (r >= 0) r = sd_bus_message_append_array(message, 'y', data->data(), data->size());
  } else if (const auto* date = value.asDate()) {
    open("(d)");
    if (r >= 0) r = sd_bus_message_append(message, "(d)", date->secondsSince2001);
  } else if (const auto* dictionary = value.asDictionary()) {
    open("a{sv}");
    if (r >= 0) r = appendDictionary(message, *dictionary);
  } else if (const auto* array = value.asArray()) {
    open("av");
    if (r >= 0) r = appendArray(message, *array);
  }
  return r < 0 ? r : sd_bus_message_close_container(message);
}

std::optional<Value> readVariantOrSkip(sd_bus_message* message, bool& malformed);

template <class T>
std::optional<Value> readBasic(sd_bus_message* message, char type) {
  T item{};
  if (sd_bus_message_read_basic(message, type, &item) < 0) return std::nullopt;
  if constexpr (std::is_same_v<T, std::uint64_t>) {
    return Value(static_cast<std::int64_t>(
        std::min<std::uint64_t>(item, std::numeric_limits<std::int64_t>::max())));
  } else {
    return Value(static_cast<std::int64_t>(item));
  }
}

std::optional<Value> readText(sd_bus_message* message, char type) {
  const char* text = nullptr;
  if (sd_bus_message_read_basic(message, type, &text) < 0) return std::nullopt;
  return Value(std::string(text ? text : ""));
}

std::optional<Value> readData(sd_bus_message* message) {
  const void* bytes = nullptr;
  std::size_t size = 0;
  if (sd_bus_message_read_array(message, 'y', &bytes, &size) < 0) return std::nullopt;
  const auto* begin = static_cast<const std::uint8_t*>(bytes);
  return Value(Data(begin, begin + size));
}

// The elements of an array whose elements have the signature `element`.
std::optional<Value> readArray(sd_bus_message* message, const char* element) {
  if (sd_bus_message_enter_container(message, 'a', element) < 0) return std::nullopt;
  Array array;
  const bool variants = std::string_view(element) == "v";
  while (sd_bus_message_at_end(message, false) == 0) {
    bool malformed = false;
    auto item = variants ? readVariantOrSkip(message, malformed) : readText(message, 's');
    if (malformed || (!variants && !item)) return std::nullopt;
    // Elements of kinds without a place in a property list are left out.
    if (item) array.push_back(std::move(*item));
  }
  if (sd_bus_message_exit_container(message) < 0) return std::nullopt;
  return Value(std::move(array));
}

std::optional<Value> readDate(sd_bus_message* message) {
  double seconds = 0;
  if (sd_bus_message_read(message, "(d)", &seconds) < 0) return std::nullopt;
  return Value(Date{seconds});
}

// The contents of the variant the message is at, of signature `contents`;
// nothing for kinds a property list has no place for.
std::optional<Value> readContents(sd_bus_message* message, std::string_view contents) {
  if (contents.size() == 1) {
    switch (contents[0]) {
      case 's':
      case 'o':
      case 'g':
        return readText(message, contents[0]);
      case 'b': {
        int flag = 0;
        if (sd_bus_message_read_basic(message, 'b', &flag) < 0) return std::nullopt;
        return Value(flag != 0);
      }
      case 'd': {
        double real = 0;
        if (sd_bus_message_read_basic(message, 'd', &real) < 0) return std::nullopt;
        return Value(real);
      }
      case 'y':
        return readBasic<std::uint8_t>(message, 'y');
      case 'n':
        return readBasic<std::int16_t>(message, 'n');
      case 'q':
        return readBasic<std::uint16_t>(message, 'q');
      case 'i':
        return readBasic<std::int32_t>(message, 'i');
      case 'u':
        return readBasic<std::uint32_t>(message, 'u');
      case 'x':
        return readBasic<std::int64_t>(message, 'x');
      case 't':
        return readBasic<std::uint64_t>(message, 't');
    }
  }
  if (contents == "ay") return readData(message);
  if (contents == "av") return readArray(message, "v");
  if (contents == "as") return readArray(message, "s");
  if (contents == "(d)") return readDate(message);
  if (contents == "a{sv}") {
    auto dictionary = readDictionary(message);
    return dictionary ? std::optional<Value>(Value(std::move(*dictionary))) : std::nullopt;
  }
  return std::nullopt;
}

// A variant: its value, or nothing for a kind without a place (skipped) or a
// malformed message.
std::optional<Value> readVariantOrSkip(sd_bus_message* message, bool& malformed) {
  char type = 0;
  const char* contents = nullptr;
  if (sd_bus_message_peek_type(message, &type, &contents) <= 0 || type != 'v' || !contents) {
    malformed = true;
    return std::nullopt;
  }
  if (sd_bus_message_enter_container(message, 'v', contents) < 0) {
    malformed = true;
    return std::nullopt;
  }
  auto value = readContents(message, contents);
  if (!value && sd_bus_message_skip(message, contents) < 0) malformed = true;
  if (sd_bus_message_exit_container(message) < 0) malformed = true;
  return value;
}

}  // namespace

int appendDictionary(sd_bus_message* message, const Dictionary& dictionary) {
  int r = sd_bus_message_open_container(message, 'a', "{sv}");
  for (auto it = dictionary.begin(); r >= 0 && it != dictionary.end(); ++it) {
    r = sd_bus_message_open_container(message, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append_basic(message, 's', it->first.c_str());
    if (r >= 0) r = appendValue(message, it->second);
    if (r >= 0) r = sd_bus_message_close_container(message);
  }
  return r < 0 ? r : sd_bus_message_close_container(message);
}

std::optional<Dictionary> readDictionary(sd_bus_message* message) {
  if (sd_bus_message_enter_container(message, 'a', "{sv}") <= 0) return std::nullopt;
  Dictionary dictionary;
  while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read_basic(message, 's', &key) < 0) return std::nullopt;
    bool malformed = false;
    auto value = readVariantOrSkip(message, malformed);
    if (malformed || sd_bus_message_exit_container(message) < 0) return std::nullopt;
    // Entries of kinds without a place in a property list are left out.
    if (value) dictionary.insert_or_assign(std::string(key ? key : ""), std::move(*value));
  }
  if (sd_bus_message_exit_container(message) < 0) return std::nullopt;
  return dictionary;
}

}  // namespace pelorin::platform::bus
