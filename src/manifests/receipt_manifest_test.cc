#include "manifests/receipt_manifest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "manifests/manifest_test_world.h"
#include "manifests/receipt_cache.h"

namespace qu {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::ManifestWorld;
using testing::strings;

TEST(ReceiptCacheTest, FindsBundlesByExactIdentifierAndTheLaterNameWins) {
  ManifestWorld world;
  world.receipt("A.pkg", strings({{"CFBundleIdentifier", "com.x.pkg"}}));
  const std::string later = world.receipt("B.pkg", strings({{"CFBundleIdentifier", "com.x.pkg"}}));
  const std::string flat = world.tmp.at("Library/Receipts/Flat.pkg");
  world.tmp.writeFile("Library/Receipts/Flat.pkg/Info.plist",
                      plist::toXml(strings({{"CFBundleIdentifier", "com.flat"}})));
  // Entries that are not bundles with an identifier are passed over.
  world.tmp.writeFile("Library/Receipts/notes.txt", "not a bundle");
  world.tmp.makeDirectory("Library/Receipts/Empty.pkg");
  world.receipt("NoId.pkg", strings({{"CFBundleName", "X"}}));
  world.tmp.writeFile("Library/Receipts/Broken.pkg/Contents/Info.plist", "<plist");
  plist::Dictionary numericId;
  numericId.set("CFBundleIdentifier", plist::Value::integer(7));
  world.receipt("Numeric.pkg", numericId);

  ReceiptCache receipts(world.platform);
  ASSERT_NE(receipts.receiptWithIdentifier("com.x.pkg"), nullptr);
  EXPECT_EQ(receipts.receiptWithIdentifier("com.x.pkg")->path(), later);
  ASSERT_NE(receipts.receiptWithIdentifier("com.flat"), nullptr);
  EXPECT_EQ(receipts.receiptWithIdentifier("com.flat")->path(), flat);
  EXPECT_EQ(receipts.receiptWithIdentifier("COM.X.PKG"), nullptr);
  EXPECT_EQ(receipts.receiptWithIdentifier("com.x"), nullptr);
  EXPECT_EQ(receipts.receiptWithIdentifier("7"), nullptr);
  EXPECT_EQ(receipts.scanCount(), 1);
}

TEST(ReceiptCacheTest, ScansOnceEvenWhenTheDirectoryIsMissing) {
  for (bool directoryPresent : {true, false}) {
    SCOPED_TRACE(directoryPresent);
    ManifestWorld world;
    if (!directoryPresent) std::filesystem::remove_all(world.tmp.at("Library/Receipts"));
    ReceiptCache receipts(world.platform);
    EXPECT_EQ(receipts.scanCount(), 0);
    EXPECT_EQ(receipts.receiptWithIdentifier("com.x.pkg"), nullptr);

    // A receipt that appears later in the run is not seen.
    world.receipt("X.pkg", strings({{"CFBundleIdentifier", "com.x.pkg"}}));
    EXPECT_EQ(receipts.receiptWithIdentifier("com.x.pkg"), nullptr);
    EXPECT_EQ(ReceiptManifest::manifestWithIdentifier(world.platform, receipts, "com.x.pkg"),
              nullptr);
    EXPECT_EQ(receipts.scanCount(), 1);
  }
}

struct LocalizedCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> tables;  // relative path, content
  std::string expected;
  friend void PrintTo(const LocalizedCase& c, std::ostream* os) { *os << c.name; }
};

class BundleLocalizedTest : public ::testing::TestWithParam<LocalizedCase> {};

TEST_P(BundleLocalizedTest, LocalizedValueComesBeforeInfoPlist) {
  ManifestWorld world;
  const std::string path = world.receipt(
      "X.pkg", strings({{"CFBundleIdentifier", "com.x.pkg"}, {"IFPkgFlagDefaultLocation", "/"}}));
  for (const auto& [relative, content] : GetParam().tables) {
    world.tmp.writeFile("Library/Receipts/X.pkg/Contents/Resources/" + relative, content);
  }
  BundlePtr bundle = Bundle::open(world.platform, path);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->infoString("IFPkgFlagDefaultLocation"), GetParam().expected);
  EXPECT_EQ(bundle->identifier(), "com.x.pkg");
}

const std::string kEnglishTable =
    plist::toXml(strings({{"IFPkgFlagDefaultLocation", "/English"}}));
const std::string kEnTable = plist::toXml(strings({{"IFPkgFlagDefaultLocation", "/en"}}));

INSTANTIATE_TEST_SUITE_P(
    Tables, BundleLocalizedTest,
    ::testing::Values(
        LocalizedCase{"En", {{"en.lproj/InfoPlist.strings", kEnTable}}, "/en"},
        LocalizedCase{"EnBeforeEnglish",
                      {{"en.lproj/InfoPlist.strings", kEnTable},
                       {"English.lproj/InfoPlist.strings", kEnglishTable}},
                      "/en"},
        LocalizedCase{"UnparsableEnFallsBack",
                      {{"en.lproj/InfoPlist.strings", "<plist"},
                       {"English.lproj/InfoPlist.strings", kEnglishTable}},
                      "/English"},
        LocalizedCase{"KeyMissingFromTable",
                      {{"en.lproj/InfoPlist.strings", plist::toXml(strings({{"Other", "x"}}))}},
                      "/"}),
    [](const auto& tested) { return std::string(tested.param.name); });

constexpr const char* kBom =
    "d .\n"
    "d ./Applications\n"
    "d ./Applications/X.app\n"
    "f ./Applications/X.app/Contents/MacOS/X\n"
    "f ./Applications/X.app/Contents/Info.plist\n";

TEST(ReceiptManifestTest, ReadsTheBillOfMaterialsUnderTheDefaultLocation) {
  ManifestWorld world;
  const std::string path = world.receipt(
      "X.pkg", strings({{"CFBundleIdentifier", "com.x.pkg"}, {"IFPkgFlagDefaultLocation", "/"}}),
      kBom);
  ManifestPtr manifest = world.receiptManifest("com.x.pkg");
  ASSERT_NE(manifest, nullptr);
  EXPECT_THAT(world.platform.queries, IsEmpty());

  ASSERT_TRUE(manifest->files().has_value());
  EXPECT_THAT(*manifest->files(), ElementsAre("/./Applications/X.app/Contents/Info.plist",
                                              "/./Applications/X.app/Contents/MacOS/X"));
  ASSERT_TRUE(manifest->directories().has_value());
  EXPECT_THAT(*manifest->directories(),
              ElementsAre("/./Applications/X.app", "/./Applications", "/."));

  const std::string lsbom = world.platform.locations().lsbom;
  const std::string bom = path + "/Contents/Archive.bom";
  EXPECT_THAT(world.platform.queries,
              ElementsAre(testing::ProgramCall{lsbom, {"-fls", bom}},
                          testing::ProgramCall{lsbom, {"-ds", bom}}));
  EXPECT_THAT(world.platform.logLines, IsEmpty());
}

TEST(ReceiptManifestTest, MissingBillOfMaterialsLeavesBothListsUnavailable) {
  ManifestWorld world;
  const std::string path = world.receipt(
      "X.pkg", strings({{"CFBundleIdentifier", "com.x.pkg"}, {"IFPkgFlagDefaultLocation", "/"}}));
  ManifestPtr manifest =
      ReceiptManifest::manifestWithBundle(world.platform, Bundle::open(world.platform, path));
  ASSERT_NE(manifest, nullptr);
  EXPECT_FALSE(manifest->files().has_value());
  EXPECT_FALSE(manifest->directories().has_value());
  EXPECT_FALSE(manifest->files().has_value());
  EXPECT_EQ(world.platform.queries.size(), 3u);
  EXPECT_THAT(world.platform.logLines, IsEmpty());
}

struct LocationCase {
  const char* name;
  plist::Dictionary info;
  std::string logged;
  friend void PrintTo(const LocationCase& c, std::ostream* os) { *os << c.name; }
};

class ReceiptLocationTest : public ::testing::TestWithParam<LocationCase> {};

// Without an absolute install location the relative bill-of-materials paths
// cannot be placed: the lists are unavailable and the reason is logged once.
TEST_P(ReceiptLocationTest, UnusableLocationMakesListsUnavailable) {
  ManifestWorld world;
  plist::Dictionary info = GetParam().info;
  info.set("CFBundleIdentifier", plist::Value("com.x.pkg"));
  world.receipt("X.pkg", info, kBom);
  ManifestPtr manifest = world.receiptManifest("com.x.pkg");
  ASSERT_NE(manifest, nullptr);

  EXPECT_FALSE(manifest->files().has_value());
  EXPECT_FALSE(manifest->directories().has_value());
  EXPECT_FALSE(manifest->files().has_value());
  EXPECT_THAT(world.platform.queries, IsEmpty());
  ASSERT_THAT(world.platform.logLines, ::testing::SizeIs(1));
  EXPECT_THAT(world.platform.logLines[0], HasSubstr("com.x.pkg"));
  EXPECT_THAT(world.platform.logLines[0], HasSubstr(GetParam().logged));
}

INSTANTIATE_TEST_SUITE_P(
    Locations, ReceiptLocationTest,
    ::testing::Values(
        LocationCase{"Missing", {}, "No install location"},
        LocationCase{"Empty", strings({{"IFPkgFlagDefaultLocation", ""}}), "\"\""},
        LocationCase{"Relative", strings({{"IFPkgFlagDefaultLocation", "Applications"}}),
                     "\"Applications\""}),
    [](const auto& tested) { return std::string(tested.param.name); });

// "/Applications" and "./X.app" would name nothing ("/Applications./X.app").
TEST(ReceiptManifestTest, PrefixWithoutTrailingSlashGetsOne) {
  ManifestWorld world;
  world.receipt("X.pkg",
                strings({{"CFBundleIdentifier", "com.x.pkg"},
                         {"IFPkgFlagDefaultLocation", "/Applications"}}),
                "f ./X.app\n");
  ManifestPtr manifest = world.receiptManifest("com.x.pkg");
  ASSERT_NE(manifest, nullptr);
  ASSERT_TRUE(manifest->files().has_value());
  EXPECT_THAT(*manifest->files(), ElementsAre("/Applications/./X.app"));
}

}  // namespace
}  // namespace qu
