#include "manifests/database_manifest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "manifests/manifest_test_world.h"

namespace qu {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using testing::ManifestWorld;
using testing::packageInfo;
using testing::ProgramCall;

TEST(DatabaseManifestTest, UnknownPackageGivesNoManifestAndNoListQuery) {
  ManifestWorld world;
  EXPECT_EQ(DatabaseManifest::manifestWithIdentifier(world.platform, "com.unknown"), nullptr);
  EXPECT_THAT(world.platform.queries,
              ElementsAre(ProgramCall{world.platform.locations().pkgutil,
                                      {"--pkg-info-plist", "com.unknown"}}));
}

TEST(DatabaseManifestTest, QueriesTheDatabaseWithExactArguments) {
  ManifestWorld world;
  world.databasePackage("com.x.pkg", packageInfo({{"volume", "/"}, {"install-location", "/"}}));
  world.databaseFiles("com.x.pkg", "Library/X/a\nLibrary/X/bin/tool\n");
  world.databaseDirectories("com.x.pkg", "Library/X\nLibrary/X/bin\n");

  ManifestPtr manifest = DatabaseManifest::manifestWithIdentifier(world.platform, "com.x.pkg");
  ASSERT_NE(manifest, nullptr);
  ASSERT_TRUE(manifest->files().has_value());
  EXPECT_THAT(*manifest->files(), ElementsAre("//Library/X/bin/tool", "//Library/X/a"));
  ASSERT_TRUE(manifest->directories().has_value());
  EXPECT_THAT(*manifest->directories(), ElementsAre("//Library/X/bin", "//Library/X"));

  const std::string pkgutil = world.platform.locations().pkgutil;
  EXPECT_THAT(world.platform.queries,
              ElementsAre(ProgramCall{pkgutil, {"--pkg-info-plist", "com.x.pkg"}},
                          ProgramCall{pkgutil, {"", "--files", "com.x.pkg"}},
                          ProgramCall{pkgutil, {"--only-dirs", "--files", "com.x.pkg"}}));
  EXPECT_THAT(world.platform.logLines, IsEmpty());
}

struct JoinCase {
  const char* name;
  std::string volume;
  std::string installLocation;
  std::string expected;
  friend void PrintTo(const JoinCase& c, std::ostream* os) { *os << c.name; }
};

class DatabaseLocationJoinTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(DatabaseLocationJoinTest, VolumeInstallLocationAndPathAreJoinedWithOneSlash) {
  const JoinCase& c = GetParam();
  ManifestWorld world;
  world.databasePackage(
      "com.x.pkg", packageInfo({{"volume", c.volume}, {"install-location", c.installLocation}}));
  world.databaseFiles("com.x.pkg", "X.app\n");
  ManifestPtr manifest = DatabaseManifest::manifestWithIdentifier(world.platform, "com.x.pkg");
  ASSERT_NE(manifest, nullptr);
  ASSERT_TRUE(manifest->files().has_value());
  EXPECT_THAT(*manifest->files(), ElementsAre(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Locations, DatabaseLocationJoinTest,
    ::testing::Values(
        JoinCase{"RelativeInstallLocation", "/", "Applications", "/Applications/X.app"},
        JoinCase{"VolumeWithoutSlash", "/Volumes/Data", "Applications",
                 "/Volumes/Data/Applications/X.app"},
        JoinCase{"DoubledSlash", "/", "/", "//X.app"},
        JoinCase{"OtherVolume", "/Volumes/Data", "/Applications/",
                 "/Volumes/Data/Applications/X.app"}),
    [](const auto& tested) { return std::string(tested.param.name); });

struct UnusableCase {
  const char* name;
  std::string info;
  std::string logged;
  friend void PrintTo(const UnusableCase& c, std::ostream* os) { *os << c.name; }
};

class DatabaseUnusableLocationTest : public ::testing::TestWithParam<UnusableCase> {};

TEST_P(DatabaseUnusableLocationTest, ListsAreUnavailableAndTheReasonIsLoggedOnce) {
  ManifestWorld world;
  world.databasePackage("com.x.pkg", GetParam().info);
  world.databaseFiles("com.x.pkg", "X.app\n");
  world.databaseDirectories("com.x.pkg", "Library\n");
  ManifestPtr manifest = DatabaseManifest::manifestWithIdentifier(world.platform, "com.x.pkg");
  ASSERT_NE(manifest, nullptr);

  EXPECT_FALSE(manifest->files().has_value());
  EXPECT_FALSE(manifest->directories().has_value());
  EXPECT_FALSE(manifest->files().has_value());
  EXPECT_THAT(world.platform.queries, SizeIs(1));  // only the information query
  ASSERT_THAT(world.platform.logLines, SizeIs(1));
  EXPECT_THAT(world.platform.logLines[0], HasSubstr("com.x.pkg"));
  EXPECT_THAT(world.platform.logLines[0], HasSubstr(GetParam().logged));
}

INSTANTIATE_TEST_SUITE_P(
    Information, DatabaseUnusableLocationTest,
    ::testing::Values(
        UnusableCase{"NotAPropertyList", "garbage\n", "not a readable dictionary"},
        UnusableCase{"NotADictionary", plist::toXml(plist::Array{plist::Value("/")}),
                     "not a readable dictionary"},
        UnusableCase{"NoVolume", packageInfo({{"install-location", "/"}}), "No install location"},
        UnusableCase{"NoInstallLocation", packageInfo({{"volume", "/"}}), "No install location"},
        UnusableCase{"Relative",
                     packageInfo({{"volume", ""}, {"install-location", "Applications"}}),
                     "\"Applications\""}),
    [](const auto& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace qu
