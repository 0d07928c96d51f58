#include "platform/tweak_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/process_info.h"
#include "platform/property_list.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::platform {
namespace {

Value filterOf(const char* key, Array names) {
  return Value(Dictionary{{"Filter", Dictionary{{key, std::move(names)}}}});
}

TEST(TweakLoaderTest, FilterNamesTheHostByBundleOrExecutable) {
  const Text bundle = "com.example.daemon";
  EXPECT_TRUE(filterMatches(filterOf("Bundles", {"other", "com.example.daemon"}), bundle, "x"));
  EXPECT_TRUE(filterMatches(filterOf("Executables", {"imagent"}), bundle, "imagent"));
  EXPECT_FALSE(filterMatches(filterOf("Executables", {"imagent"}), bundle, "imagent2"));
  EXPECT_FALSE(filterMatches(filterOf("Bundles", {"com.example.daemon"}), std::nullopt, "x"));
  // Wrongly typed or missing filters name nobody.
  EXPECT_FALSE(filterMatches(filterOf("Bundles", {1, true}), bundle, "x"));
  EXPECT_FALSE(filterMatches(Value(Dictionary{{"Filter", "imagent"}}), bundle, "imagent"));
  EXPECT_FALSE(filterMatches(Value(Dictionary{}), bundle, "imagent"));
  EXPECT_FALSE(filterMatches(Value(Array{}), bundle, "imagent"));
}

// Matching tweaks load in name order; one that fails to load, or whose
// filter cannot be read, is reported and skipped; the others still load.
TEST(TweakLoaderTest, LoadsMatchingTweaksInNameOrderAndSkipsOnesThatFail) {
  testing::TemporaryRoot root;
  ::unsetenv("PELORIN_LOADER_PROBE");
  setProcessName("loader-test-host");
  setBundleIdentifier("com.example.loader-test");
  const std::string folder = root.path(std::string(kTweakFolder));
  std::filesystem::create_directories(folder + "/Folder.plist");
  auto install = [&](const std::string& name, const char* library, const Value& filter) {
    if (library) std::filesystem::copy_file(library, folder + "/" + name + ".so");
    writePropertyListAtomically(folder + "/" + name + ".plist", filter);
  };
  install("Beta", LOADER_PROBE_B, filterOf("Bundles", {"com.example.loader-test"}));
  install("Alpha", LOADER_PROBE_A, filterOf("Executables", {"loader-test-host"}));
  install("Gamma", LOADER_PROBE_C, filterOf("Executables", {"some-other-host"}));
  root.writeFile(std::string(kTweakFolder) + "/Broken.so", "not a shared library");
  install("Broken", nullptr, filterOf("Executables", {"loader-test-host"}));
  std::filesystem::copy_file(LOADER_PROBE_C, folder + "/Unfiltered.so");
  std::filesystem::copy_file(LOADER_PROBE_C, folder + "/Folder.so");

  const auto loads = loadTweaks();

  ASSERT_EQ(loads.size(), 4u);
  EXPECT_TRUE(loads[0].name == "Alpha" && loads[0].loaded);
  EXPECT_TRUE(loads[1].name == "Beta" && loads[1].loaded);
  EXPECT_TRUE(loads[2].name == "Broken" && !loads[2].loaded && !loads[2].error.empty());
  EXPECT_TRUE(loads[3].name == "Folder" && !loads[3].loaded);
  EXPECT_NE(loads[3].error.find("Folder.plist"), std::string::npos) << loads[3].error;
  EXPECT_STREQ(std::getenv("PELORIN_LOADER_PROBE"), "A,B");
}

}  // namespace
}  // namespace pelorin::platform
