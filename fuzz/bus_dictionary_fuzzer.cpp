// The user info of a centre message as the receiving side reads it off the
// bus: a message built from the input, whose a{sv} holds whatever D-Bus
// types a sender may put in it, nested. A well-formed a{sv} always reads (the
// kinds a property list has no place for are left out), anything else never
// does, and what was read, sent again, reads back the same.
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/bus_connection.h"

namespace {

using pelorin::platform::Dictionary;
using pelorin::platform::Value;

void require(bool condition) {
  if (!condition) std::abort();
}

// The input read front to back as the description of a message; zeros once used up.
class Program {
 public:
  Program(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t next() { return position_ < size_ ? data_[position_++] : 0; }
  template <class T>
  T number() {
    T value{};
    auto* bytes = reinterpret_cast<std::uint8_t*>(&value);
    for (std::size_t i = 0; i < sizeof value; ++i) bytes[i] = next();
    return value;
  }
  std::string text() {
    std::string out(next() % 16, '\0');
    for (auto& c : out) c = static_cast<char>(next());
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

constexpr int kMaxDepth = 6;

int appendVariant(sd_bus_message* m, Program& p, int depth);

int appendEntries(sd_bus_message* m, Program& p, int depth) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  for (int n = p.next() % 4; r >= 0 && n > 0; --n) {
    r = sd_bus_message_open_container(m, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append_basic(m, 's', p.text().c_str());
    if (r >= 0) r = appendVariant(m, p, depth + 1);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  return r < 0 ? r : sd_bus_message_close_container(m);
}

template <class T>
int appendBasic(sd_bus_message* m, char type, T value) {
  return sd_bus_message_append_basic(m, type, &value);
}

// The contents of one variant, whose signature is `contents`.
int appendContents(sd_bus_message* m, Program& p, int depth, std::string_view contents) {
  if (contents == "s") return sd_bus_message_append_basic(m, 's', p.text().c_str());
  if (contents == "o")
    return sd_bus_message_append_basic(m, 'o', ("/p" + std::to_string(p.next())).c_str());
  if (contents == "g") return sd_bus_message_append_basic(m, 'g', p.next() % 2 ? "a{sv}" : "(id)");
  if (contents == "b") return appendBasic<int>(m, 'b', p.next() % 2);
  if (contents == "y") return appendBasic(m, 'y', p.next());
  if (contents == "n") return appendBasic(m, 'n', p.number<std::int16_t>());
  if (contents == "q") return appendBasic(m, 'q', p.number<std::uint16_t>());
  if (contents == "i") return appendBasic(m, 'i', p.number<std::int32_t>());
  if (contents == "u") return appendBasic(m, 'u', p.number<std::uint32_t>());
  if (contents == "x") return appendBasic(m, 'x', p.number<std::int64_t>());
  if (contents == "t") return appendBasic(m, 't', p.number<std::uint64_t>());
  if (contents == "d") return appendBasic(m, 'd', p.number<double>());
  if (contents == "(d)") return sd_bus_message_append(m, "(d)", p.number<double>());
  if (contents == "(si)") return sd_bus_message_append(m, "(si)", p.text().c_str(), 7);
  if (contents == "ay") {
    const std::string bytes = p.text();
    return sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size());
  }
  if (contents == "a{sv}") return appendEntries(m, p, depth);
  if (contents == "v") return appendVariant(m, p, depth + 1);
  // The arrays: "as", "a{ss}", "ai" and "av".
  const std::string element(contents.substr(1));
  int r = sd_bus_message_open_container(m, 'a', element.c_str());
  for (int n = p.next() % 4; r >= 0 && n > 0; --n) {
    if (element == "{ss}") {
      r = sd_bus_message_append(m, "{ss}", p.text().c_str(), p.text().c_str());
    } else if (element == "s") {
      r = sd_bus_message_append_basic(m, 's', p.text().c_str());
    } else if (element == "i") {
      r = appendBasic(m, 'i', p.number<std::int32_t>());
    } else {
      r = appendVariant(m, p, depth + 1);
    }
  }
  return r < 0 ? r : sd_bus_message_close_container(m);
}

int appendVariant(sd_bus_message* m, Program& p, int depth) {
  static constexpr std::string_view kBasic[] = {"s",   "o",    "g",  "b",  "y",     "n",
                                                "q",   "i",    "u",  "x",  "t",     "d",
                                                "(d)", "(si)", "ay", "as", "a{ss}", "ai"};
  static constexpr std::string_view kNested[] = {"av", "a{sv}", "v"};
  const std::uint8_t choice = p.next();
  constexpr std::size_t basics = std::size(kBasic);
  const bool nested = depth < kMaxDepth && choice % (basics + 3) >= basics;
  const std::string contents(nested ? kNested[choice % (basics + 3) - basics]
                                    : kBasic[choice % basics]);
  int r = sd_bus_message_open_container(m, 'v', contents.c_str());
  if (r >= 0) r = appendContents(m, p, depth, contents);
  return r < 0 ? r : sd_bus_message_close_container(m);
}

// Equality that holds for a real that is not a number, too: D-Bus carries reals bit for bit.
bool same(const Value& a, const Value& b);

bool same(const Dictionary& a, const Dictionary& b) {
  if (a.size() != b.size()) return false;
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
    if (i->first != j->first || !same(i->second, j->second)) return false;
  }
  return true;
}

bool same(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  if (const auto* real = a.asReal()) return std::memcmp(real, b.asReal(), sizeof *real) == 0;
  if (const auto* date = a.asDate()) {
    return std::memcmp(&date->secondsSince2001, &b.asDate()->secondsSince2001, sizeof(double)) == 0;
  }
  if (const auto* dictionary = a.asDictionary()) return same(*dictionary, *b.asDictionary());
  if (const auto* array = a.asArray()) {
    const auto& other = *b.asArray();
    if (array->size() != other.size()) return false;
    for (std::size_t i = 0; i < array->size(); ++i) {
      if (!same((*array)[i], other[i])) return false;
    }
    return true;
  }
  return a == b;
}

// A bus object to make messages with; it is never connected to anything.
sd_bus* messageFactory() {
  static sd_bus* const bus = [] {
    int fds[2];
    sd_bus* made = nullptr;
    require(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0 && sd_bus_new(&made) >= 0);
    require(sd_bus_set_fd(made, fds[0], fds[0]) >= 0 && sd_bus_start(made) >= 0);
    return made;
  }();
  return bus;
}

pelorin::platform::bus::MessagePtr newMessage() {
  sd_bus_message* raw = nullptr;
  require(sd_bus_message_new_signal(messageFactory(), &raw, "/p", "p.Fuzz", "Send") >= 0);
  return pelorin::platform::bus::MessagePtr(raw);
}

// Seals the message and reads its body from the start.
std::optional<Dictionary> readBack(sd_bus_message* m) {
  static std::uint64_t cookie = 0;
  require(sd_bus_message_seal(m, ++cookie, 0) >= 0 && sd_bus_message_rewind(m, 1) >= 0);
  return pelorin::platform::bus::readDictionary(m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Program program(data, size);
  auto message = newMessage();
  const std::uint8_t shape = program.next() % 8;
  int r = 0;
  if (shape == 6) {
    r = sd_bus_message_append(message.get(), "a{ss}", 1, "key", "value");
  } else if (shape != 7) {  // 7: an empty body
    r = appendEntries(message.get(), program, 0);
  }
  if (r < 0) return 0;  // a message sd-bus itself would not build (bad UTF-8, ...)
  const auto read = readBack(message.get());
  require(read.has_value() == (shape < 6));
  if (!read) return 0;

  auto again = newMessage();
  require(pelorin::platform::bus::appendDictionary(again.get(), *read) >= 0);
  const auto reread = readBack(again.get());
  require(reread && same(*read, *reread));
  return 0;
}
