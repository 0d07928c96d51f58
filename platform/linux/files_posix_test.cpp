#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/files.h"
#include "platform/property_list.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::platform {
namespace {

TEST(FilesTest, OnlyRegularFilesOfSensibleSizeAreReadAndNothingBlocks) {
  testing::TemporaryRoot root;
  const std::string plist = toXmlPropertyList(Value(Dictionary{{"a", 1}}));
  root.writeFile("/prefs/real.plist", plist);
  std::filesystem::create_symlink(root.path("/prefs/real.plist"), root.path("/prefs/link.plist"));
  std::filesystem::create_symlink(root.path("/prefs/loop"), root.path("/prefs/loop"));
  std::filesystem::create_symlink(root.path("/prefs/nowhere"), root.path("/prefs/dangling"));
  ASSERT_EQ(::mkfifo(root.path("/prefs/fifo").c_str(), 0644), 0);
  std::filesystem::create_directories(root.path("/prefs/folder"));
  root.writeFile("/prefs/huge", "");
  std::filesystem::resize_file(root.path("/prefs/huge"), kMaxReadableFileSize + 1);
  root.writeFile("/prefs/garbage", "not a property list");

  struct Case {
    const char* name;
    bool read;
    bool missing;
  };
  for (const Case& c :
       {Case{"real.plist", true, false}, Case{"link.plist", true, false},
        Case{"absent", false, true}, Case{"dangling", false, true}, Case{"loop", false, false},
        Case{"fifo", false, false}, Case{"folder", false, false}, Case{"huge", false, false}}) {
    const FileRead file = readFile(root.path("/prefs/") + c.name);
    EXPECT_EQ(file.bytes.has_value(), c.read) << c.name;
    EXPECT_EQ(file.missing, c.missing) << c.name;
    EXPECT_EQ(file.problem.empty(), c.read) << c.name;
    const PropertyListRead list = readPropertyListFile(root.path("/prefs/") + c.name);
    EXPECT_EQ(list.value.has_value(), c.read) << c.name;
    EXPECT_EQ(list.missing, c.missing) << c.name;
  }
  const PropertyListRead garbage = readPropertyListFile(root.path("/prefs/garbage"));
  EXPECT_FALSE(garbage.value || garbage.missing || garbage.problem.empty());
}

// An event log: created 0600 with its header, then appended to, never through a link.
TEST(FilesTest, APrivateFileIsCreatedOnceThenAppendedToNeverThroughALink) {
  testing::TemporaryRoot root;
  const std::string path = root.path("/logs/events.log"), link = root.path("/logs/link.log");
  EXPECT_EQ(appendToPrivateFile(path, "head\n", "one\n"), PrivateAppend::kCreated);
  EXPECT_EQ(appendToPrivateFile(path, "head\n", "two\n"), PrivateAppend::kAppended);
  std::filesystem::create_symlink(path, link);
  EXPECT_EQ(appendToPrivateFile(link, "", "three\n"), PrivateAppend::kFailed);
  EXPECT_EQ(root.readFile("/logs/events.log"), "head\none\ntwo\n");
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace pelorin::platform
