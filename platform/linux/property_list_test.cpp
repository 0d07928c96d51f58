#include "platform/property_list.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/testing/temporary_root.h"

namespace pelorin::platform {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
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

const Value kSample(Dictionary{
    {"rule", -2},
    {"big", std::int64_t{1} << 40},
    {"name", "Zoë & <friends>"},
    {"ratio", 0.25},
    {"on", true},
    {"list", Array{Value("1212"), Value(1), Value(Array{})}},
    {"blob", Data{0, 1, 2, 255}},
    {"when", Date{86400}},  // XML keeps whole seconds
});

TEST(PropertyListTest, XmlAndBinaryFormsReadBackTheSameValue) {
  const std::string xml = toXmlPropertyList(kSample);
  EXPECT_NE(xml.find("<integer>-2</integer>"), std::string::npos);
  EXPECT_EQ(parsePropertyList(bytesOf(xml)), kSample);
  EXPECT_EQ(parsePropertyList(bytesOf(toBinary(xml))), kSample);
}

TEST(PropertyListTest, HandWrittenXmlReadsAsThePhoneWouldStoreIt) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>defaultSMSSend</key><integer>-1</integer>"
      "<key>sendsig</key><string></string>"
      "<key>isAniPhone</key><false/></dict></plist>";
  const auto value = parsePropertyList(bytesOf(xml));
  ASSERT_TRUE(value && value->asDictionary());
  const Dictionary& settings = *value->asDictionary();
  EXPECT_EQ(settings.at("defaultSMSSend").integerReading(), -1);
  EXPECT_EQ(settings.at("sendsig"), Value(""));
  EXPECT_FALSE(settings.at("isAniPhone").boolReading());
}

TEST(PropertyListTest, BadBytesReadAsNothing) {
  const std::string xml = toXmlPropertyList(kSample);
  const std::string binary = toBinary(xml);
  for (const std::string& bad :
       {std::string(), std::string("not a plist"), xml.substr(0, xml.size() / 2),
        binary.substr(0, binary.size() - 9), std::string("bplist00")}) {
    EXPECT_EQ(parsePropertyList(bytesOf(bad)), std::nullopt) << bad.size();
  }
}

TEST(PropertyListTest, FilesAreReplacedWholeAndReadByRootKind) {
  testing::TemporaryRoot root;
  const std::string path = root.path("/var/mobile/Library/Preferences/x.plist");
  EXPECT_EQ(readDictionary(path), std::nullopt);

  ASSERT_TRUE(writePropertyListAtomically(path, Value(Dictionary{{"a", 1}})));
  EXPECT_EQ(readDictionary(path), (Dictionary{{"a", 1}}));
  EXPECT_EQ(readArray(path), std::nullopt);

  ASSERT_TRUE(writePropertyListAtomically(path, Value(Array{Value("b")})));
  EXPECT_EQ(readArray(path), (Array{Value("b")}));
  EXPECT_EQ(readDictionary(path), std::nullopt);

  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
    ++entries;
  EXPECT_EQ(entries, 1u) << "no temporary file is left behind";
}

TEST(PropertyListTest, FailedWriteReportsFailureAndLeavesNoTemporaryFile) {
  testing::TemporaryRoot root;
  const std::string path = root.path("/prefs/x.plist");
  root.writeFile("/prefs/x.plist/occupied", "a folder stands where the file should go");
  EXPECT_FALSE(writePropertyListAtomically(path, Value(Dictionary{{"a", 2}})));
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(root.path("/prefs")))
    ++entries;
  EXPECT_EQ(entries, 1u);
  EXPECT_FALSE(writePropertyListAtomically(root.path("/prefs/x.plist/occupied/y.plist"), Value(1)));
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

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PropertyListTest, TemporaryFilesOfKilledWritersAreClearedByTheNextWrite) {
  testing::TemporaryRoot root;
  const std::string folder = root.path("/prefs");
  const std::string path = folder + "/x.plist";
  // Writers killed at random points between creating and renaming.
  for (int round = 0; round < 20; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) writePropertyListAtomically(path, Value(Dictionary{{"n", i}}));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500 + 700 * round));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  // Also a leftover whose process id is in use again, but long ago; one of a
  // live writer (this process); one of another file.
  const std::string reused = path + ".pelorin-tmp.1.AAAAAA";
  root.writeFile("/prefs/x.plist.pelorin-tmp.1.AAAAAA", "old");
  std::filesystem::last_write_time(
      reused, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  const std::string live = "x.plist.pelorin-tmp." + std::to_string(::getpid()) + ".BBBBBB";
  root.writeFile("/prefs/" + live, "in progress");
  root.writeFile("/prefs/y.plist.pelorin-tmp.999999999.CCCCCC", "another file's");

  ASSERT_TRUE(writePropertyListAtomically(path, Value(Dictionary{{"n", -1}})));
  EXPECT_EQ(entriesOf(folder),
            (std::vector<std::string>{"x.plist", live, "y.plist.pelorin-tmp.999999999.CCCCCC"}));
  EXPECT_EQ(readDictionary(path), (Dictionary{{"n", -1}}));
}

}  // namespace
}  // namespace pelorin::platform
