#include "platform/property_list.h"

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/linux/property_list_guard.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::platform {
namespace {

using namespace std::string_literals;

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::optional<Value> parse(const std::string& bytes) {
  return parsePropertyList(bytesOf(bytes));
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::string bigEndian(std::uint64_t value, int width) {
  std::string out;
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
    out += static_cast<char>(value >> shift);
  return out;
}

// Encoded binary objects; references are four bytes wide.
std::string array(const std::vector<std::uint32_t>& references) {
  std::string out(1, static_cast<char>(0xA0 | references.size()));
  for (auto reference : references) out += bigEndian(reference, 4);
  return out;
}
std::string ascii(const std::string& text) {
  return static_cast<char>(0x50 | text.size()) + text;
}
std::string date(double seconds) {
  std::uint64_t raw = 0;
  std::memcpy(&raw, &seconds, sizeof raw);
  return "\x33" + bigEndian(raw, 8);
}
const std::string kOne = "\x10\x01";

// A binary list of `objects`, the first one at the top.
std::string binaryList(const std::vector<std::string>& objects) {
  std::string out = "bplist00";
  std::string offsets;
  for (const auto& object : objects) {
    offsets += bigEndian(out.size(), 4);
    out += object;
  }
  const std::size_t table = out.size();
  return out + offsets + std::string(6, '\0') + "\x04\x04" + bigEndian(objects.size(), 8) +
         bigEndian(0, 8) + bigEndian(table, 8);
}

// The binary form of an XML property list, as a phone would store it.
std::string toBinary(const std::string& xml) {
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::string out(bytes, length);
  std::free(bytes);
  plist_free(root);
  return out;
}

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PropertyListTest, EveryKindReadsBackFromBothFormsAndOrdinaryFilesRead) {
  const Value sample(Dictionary{
      {"rule", -2},
      {"big", std::int64_t{1} << 40},
      {"name", "Zoë & <friends>"},
      {"ratio", 0.25},
      {"on", true},
      {"off", false},
      {"none", ""},
      {"list", Array{Value("1212"), Value(1), Value(Array{})}},
      {"blob", Data{0, 1, 2, 255}},
      {"when", Date{86400}},  // XML keeps whole seconds
  });
  const std::string xml = toXmlPropertyList(sample);
  EXPECT_NE(xml.find("<integer>-2</integer>"), std::string::npos);
  // Sixty levels, each with a commented-out close and a self-closing array.
  std::string sections =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">" +
      repeated("<array><!-- </array> --><array/>", 60) +
      "<string><![CDATA[a </dict> & b]]> &amp; &#60;</string>" + repeated("</array>", 60) +
      "</plist>";
  Value nested("a </dict> & b & <");
  for (int i = 0; i < 60; ++i) nested = Value(Array{Value(Array{}), nested});
  const std::pair<std::string, Value> rows[] = {
      {xml, sample},
      {toBinary(xml), sample},
      {sections, nested},
      // Writers store equal values once and refer to them from several places.
      {binaryList({array({1, 1, 2}), ascii("1212"), kOne}), Value(Array{"1212", "1212", 1})},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(parse(rows[i].first), rows[i].second) << "row " << i;
  }
  // Dates beyond any calendar clamp to what libplist can store when written.
  for (double seconds : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity()}) {
    const auto value = parse(binaryList({array({1}), date(seconds)}));
    ASSERT_TRUE(value) << seconds;
    value->description();
    EXPECT_TRUE(parse(toXmlPropertyList(*value))) << seconds;
  }
}

// Inputs that once crashed or exhausted the reader (found by fuzzing and by
// hand), and malformed ones: each reads as nothing, quickly, and all but the
// first few are refused before libplist sees them.
TEST(PropertyListTest, BadAndHostileBytesReadAsNothing) {
  const std::string xml = toXmlPropertyList(Value(Dictionary{{"a", Array{1, "b"}}}));
  const std::string binary = toBinary(xml);
  const int levels = 200'000;  // overflowed libplist's recursive parsers
  const std::string deep = repeated("<array>", levels) + repeated("</array>", levels);
  // Closing tags inside a section once cancelled the real nesting that followed.
  const auto hidden = [&](const std::string& open, const std::string& close) {
    return open + repeated("</array>", levels) + close + deep;
  };
  std::vector<std::string> chain;
  for (std::uint32_t i = 1; i < levels; ++i) chain.push_back(array({i}));
  chain.push_back(kOne);
  std::vector<std::string> ladder;  // each array refers twice to the next: 2^40 nodes unfolded
  for (std::uint32_t i = 1; i <= 40; ++i) ladder.push_back(array({i, i}));
  ladder.push_back(kOne);
  const std::tuple<const char*, std::string, bool> rows[] = {
      {"empty", "", false},
      {"not a property list", "not a plist", false},
      {"truncated XML", xml.substr(0, xml.size() / 2), false},
      {"truncated binary", binary.substr(0, binary.size() - 9), true},
      {"a binary header only", "bplist00", true},
      {"NUL in an ASCII string", binaryList({array({1}), ascii("a\0b"s)}), true},
      {"NUL in a UTF-16 string", binaryList({array({1}), "\x62\0a\0\0"s}), true},
      {"NUL in XML", "<plist><array><string>a\0b</string></array></plist>"s, true},
      {"XML nesting", "<plist>" + deep + "</plist>", true},
      {"binary nesting", binaryList(chain), true},
      {"nesting behind a comment", hidden("<!--", "-->"), true},
      {"behind CDATA", hidden("<plist><string><![CDATA[", "]]></string>"), true},
      {"behind a processing instruction", hidden("<?pi ", "?>"), true},
      {"behind an internal subset", hidden("<!DOCTYPE plist [", "]>"), true},
      {"behind a quoted declaration", hidden("<!DOCTYPE plist \"", "\">"), true},
      {"behind a subset in quotes", hidden("<!DOCTYPE plist '>[", "]>"), true},
      {"behind an attribute", hidden("<plist version=\"", "\">"), true},
      {"behind single quotes", hidden("<plist a='\"'>", "\">"), true},  // libplist honours only "
      {"behind a closing tag's attribute", hidden("<plist><array/></array a=\"", "\">"), true},
      {"a close in each level's attributes",
       "<plist>" + repeated("<array a=\"</array>\">", levels) + repeated("</array>", levels), true},
      {"a declared entity (libplist expands none)",
       "<!DOCTYPE plist [<!ENTITY deep \"<array>\">]><plist><array>&deep;</array></plist>", true},
      {"shared objects unfolding without bound", binaryList(ladder), true},
      {"a cycle", binaryList({array({1}), array({0})}), true},
      {"a reference out of range", binaryList({array({7})}), true},
      {"an unknown object kind", binaryList({array({1}), "\x70"}), true},
  };
  for (const auto& [what, bytes, refusedByTheGuard] : rows) {
    EXPECT_EQ(parse(bytes), std::nullopt) << what;
    EXPECT_NE(isSafeForLibplist(bytesOf(bytes)), refusedByTheGuard) << what;
  }
}

// Every input kept in the fuzzer's corpus (crashes it found included) is read
// as the fuzzer reads it.
TEST(PropertyListTest, FuzzCorpusReplays) {
  std::size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PELORIN_PLIST_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ++inputs;
    const auto value = parse(bytes);
    if (!value) continue;
    value->integerReading();
    value->description();
    EXPECT_TRUE(parse(toXmlPropertyList(*value))) << entry.path();
  }
  EXPECT_GT(inputs, 0u);
}

TEST(PropertyListTest, FilesAreReplacedWholeOrNotAtAllAndReadByRootKind) {
  testing::TemporaryRoot root;
  const std::string path = root.path("/prefs/x.plist");
  EXPECT_EQ(readDictionary(path), std::nullopt);
  ASSERT_TRUE(writePropertyListAtomically(path, Value(Dictionary{{"a", 1}})));
  EXPECT_EQ(readDictionary(path), (Dictionary{{"a", 1}}));
  EXPECT_EQ(readArray(path), std::nullopt);
  ASSERT_TRUE(writePropertyListAtomically(path, Value(Array{Value("b")})));
  EXPECT_EQ(readArray(path), (Array{Value("b")}));
  EXPECT_EQ(readDictionary(path), std::nullopt);
  // A folder stands where the file should go: the write fails and leaves nothing.
  root.writeFile("/prefs/y.plist/occupied", "");
  EXPECT_FALSE(writePropertyListAtomically(root.path("/prefs/y.plist"), Value(1)));
  EXPECT_FALSE(writePropertyListAtomically(root.path("/prefs/y.plist/occupied/z"), Value(1)));
  EXPECT_EQ(entriesOf(root.path("/prefs")), (std::vector<std::string>{"x.plist", "y.plist"}));
}

// A rewrite keeps the permissions of the file it replaces, whatever the umask;
// a new file is 0600, and so is one put in the place of a link, whose target
// is left alone.
TEST(PropertyListTest, RewritesKeepPermissionsAndNewFilesArePrivate) {
  testing::TemporaryRoot root;
  const std::string path = root.path("/prefs/x.plist");
  const std::string target = root.path("/prefs/target");
  root.writeFile("/prefs/target", "the link's target");
  std::filesystem::permissions(target, std::filesystem::perms(0644));
  const auto existing = [&](mode_t mode) {
    return [&, mode] {
      root.writeFile("/prefs/x.plist", "old");
      std::filesystem::permissions(path, std::filesystem::perms(mode));
    };
  };
  const std::vector<std::tuple<const char*, std::function<void()>, mode_t>> cases{
      {"new", [] {}, 0600},
      {"0600", existing(0600), 0600},
      {"0640", existing(0640), 0640},
      {"0604", existing(0604), 0604},
      {"link", [&] { std::filesystem::create_symlink(target, path); }, 0600},
  };
  for (const mode_t umask : {0, 022, 077}) {
    for (const auto& [what, plant, expected] : cases) {
      SCOPED_TRACE(std::string(what) + " under umask " + std::to_string(umask));
      std::filesystem::remove(path);
      plant();
      const mode_t previous = ::umask(umask);
      ASSERT_TRUE(writePropertyListAtomically(path, Value(Dictionary{{"a", 1}})));
      ::umask(previous);
      struct stat status {};
      ASSERT_EQ(::lstat(path.c_str(), &status), 0);
      EXPECT_TRUE(S_ISREG(status.st_mode));
      EXPECT_EQ(status.st_mode & 07777, expected);
    }
  }
  EXPECT_EQ(root.readFile("/prefs/target"), "the link's target");
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0644));
}

TEST(PropertyListTest, TemporaryFilesOfKilledWritersAreClearedByTheNextWrite) {
  testing::TemporaryRoot root;
  const std::string path = root.path("/prefs/x.plist");
  // Writers killed at random points between creating and renaming.
  for (int round = 0; round < 20; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // not left running by a test that dies
      for (int i = 0;; ++i) writePropertyListAtomically(path, Value(Dictionary{{"n", i}}));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500 + 700 * round));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  // Also a leftover whose process id is in use again, but long ago; one of a
  // live writer (this process); one of another file.
  root.writeFile("/prefs/x.plist.pelorin-tmp.1.AAAAAA", "old");
  std::filesystem::last_write_time(
      path + ".pelorin-tmp.1.AAAAAA",
      std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  const std::string live = "x.plist.pelorin-tmp." + std::to_string(::getpid()) + ".BBBBBB";
  root.writeFile("/prefs/" + live, "in progress");
  root.writeFile("/prefs/y.plist.pelorin-tmp.999999999.CCCCCC", "another file's");

  ASSERT_TRUE(writePropertyListAtomically(path, Value(Dictionary{{"n", -1}})));
  EXPECT_EQ(entriesOf(root.path("/prefs")),
            (std::vector<std::string>{"x.plist", live, "y.plist.pelorin-tmp.999999999.CCCCCC"}));
  EXPECT_EQ(readDictionary(path), (Dictionary{{"n", -1}}));
}

}  // namespace
}  // namespace pelorin::platform
