#include "items/gallery_item.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "extensions/plist_io.h"
#include "items/item_json.h"
#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

using ::qu::testing::RecordingPlatform;
using ::qu::testing::TempDir;

std::string metadataWith(const std::string& strings) {
  return "<?xml version=\"1.0\"?>\n<lom:lom xmlns:lom=\"http://ltsc.ieee.org/xsd/LOM\">"
         "<lom:general><lom:title>\n" + strings + "\n</lom:title></lom:general></lom:lom>\n";
}

std::string title(const std::string& language, const std::string& text) {
  return "<lom:string language=\"" + language + "\">" + text + "</lom:string>";
}

// A machine with the gallery preferences file and collection folders in a
// temporary tree.
class GalleryWorld : public ::testing::Test {
 protected:
  GalleryWorld() : platform_(qu::testing::locationsUnder(root_.path())) {}

  // Installs a collection (manifest, uninstall information, English title)
  // and returns the record that registers it.
  plist::Dictionary installCollection(const std::string& name) {
    const std::string folder = "Gallery/" + name + "/";
    root_.writeFile(folder + "imsmanifest.xml",
                    "<manifest xmlns:lom=\"urn:lom\">"
                    "<lom:version>2010-03-05</lom:version></manifest>");
    root_.writeFile(folder + "Uninstall/updateinfo.xml", "<updateinfo/>");
    root_.writeFile(folder + "metadata.xml", metadataWith(title("en", name + " Title")));
    plist::Dictionary record;
    record.set("ImsManifestXml", root_.at(folder + "imsmanifest.xml"));
    record.set("AppPath", root_.at(folder + "GallerySetup"));
    record.set("MetadataXml", root_.at(folder + "metadata.xml"));
    return record;
  }

  std::shared_ptr<GalleryItem> build(const plist::Value& record, UninstallItem* parent = nullptr) {
    return GalleryItem::galleryWithDictionary(platform_, record, "{tour-guid}", parent);
  }

  void writePreferences(const std::string& bytes) {
    const std::string& path = platform_.locations().galleryPreferences;
    root_.writeFile(path.substr(root_.path().size() + 1), bytes);
  }

  void registerCollections(const plist::Value& teamContent) {
    plist::Dictionary gallery, maker, software, preferences;
    gallery.set("TeamContent", teamContent);
    maker.set("Gallery", gallery);
    software.set("Quorvane Technologies", maker);
    preferences.set("Software", software);
    writePreferences(plist::toXml(preferences));
  }

  TempDir root_;
  RecordingPlatform platform_;
};

TEST_F(GalleryWorld, CollectionBecomesAVisibleLeaf) {
  plist::Dictionary record = installCollection("Tour");
  std::shared_ptr<GalleryItem> item = build(record);

  ASSERT_TRUE(item);
  EXPECT_EQ(item->identifier(), "{tour-guid}");
  EXPECT_EQ(item->displayName(), "Tour Title");
  EXPECT_EQ(item->iconPath(), platform_.locations().defaultPackageIcon);
  EXPECT_EQ(item->gallerySetupPath(), *record.find("AppPath")->string());
  EXPECT_EQ(item->version(), "3/5/10");
  EXPECT_EQ(item->versionDate(), (CalendarDate{2010, 3, 5}));
  EXPECT_TRUE(item->isVisible());
  EXPECT_EQ(item->parent(), nullptr);
  // Scripts get the date itself, with its century.
  EXPECT_EQ(itemJson(*item).dump(),
            R"({"identifier":"{tour-guid}","name":"Tour Title","kind":"gallery",)"
            R"("version":"2010-03-05","visible":true})");
}

struct RecordCase {
  const char* name;
  std::function<void(plist::Dictionary& record, const TempDir& root)> change;
  bool kept;
};
void PrintTo(const RecordCase& c, std::ostream* out) { *out << c.name; }

class RecordQualificationTest : public GalleryWorld,
                                public ::testing::WithParamInterface<RecordCase> {};

TEST_P(RecordQualificationTest, OnlyInstalledRemovableCollectionsQualify) {
  plist::Dictionary record = installCollection("Tour");
  GetParam().change(record, root_);
  EXPECT_EQ(build(record) != nullptr, GetParam().kept);
  EXPECT_TRUE(platform_.logLines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordQualificationTest,
    ::testing::Values(
        RecordCase{"Complete", [](auto&, auto&) {}, true},
        RecordCase{"RemoteTrue", [](auto& r, auto&) { r.set("Remote", true); }, false},
        RecordCase{"RemoteOne", [](auto& r, auto&) { r.set("Remote", plist::Value::integer(1)); },
                   false},
        RecordCase{"RemoteTextOne", [](auto& r, auto&) { r.set("Remote", "1"); }, false},
        RecordCase{"RemoteTextZero", [](auto& r, auto&) { r.set("Remote", "0"); }, true},
        RecordCase{"NoUpdateInfo",
                   [](auto&, auto& root) {
                     (void)std::remove(root.at("Gallery/Tour/Uninstall/updateinfo.xml").c_str());
                   },
                   false},
        RecordCase{"NoManifestPath", [](auto& r, auto&) { r.erase("ImsManifestXml"); }, false},
        RecordCase{"ManifestPathNotText",
                   [](auto& r, auto&) { r.set("ImsManifestXml", plist::Value::integer(7)); },
                   false},
        RecordCase{"NoMetadataPath", [](auto& r, auto&) { r.erase("MetadataXml"); }, false},
        RecordCase{"MetadataMissing",
                   [](auto& r, auto& root) { r.set("MetadataXml", root.at("absent.xml")); },
                   false},
        RecordCase{"MetadataWithoutMarkup",
                   [](auto&, auto& root) { root.writeFile("Gallery/Tour/metadata.xml", "Tour"); },
                   false},
        RecordCase{"NoSetupTool", [](auto& r, auto&) { r.erase("AppPath"); }, true}),
    [](const ::testing::TestParamInfo<RecordCase>& param) { return param.param.name; });

TEST_F(GalleryWorld, OddlyTypedRecordsAndFields) {
  installCollection("Tour");
  EXPECT_FALSE(build(plist::Value("Gallery/Tour")));

  plist::Dictionary record = installCollection("Tour");
  record.set("AppPath", plist::Value::integer(3));
  std::shared_ptr<GalleryItem> item = build(record);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->gallerySetupPath(), std::nullopt);
}

TEST_F(GalleryWorld, ManifestWithoutUsableDateGivesUnknownVersion) {
  plist::Dictionary record = installCollection("Tour");
  root_.writeFile("Gallery/Tour/imsmanifest.xml", "<manifest><lom:version>2010-03-05");
  std::shared_ptr<GalleryItem> item = build(record);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->version(), "Unknown");
  EXPECT_EQ(item->versionDate(), std::nullopt);
  EXPECT_TRUE(itemJson(*item)["version"].is_null());
}

TEST_F(GalleryWorld, GivenParentTakesTheItemAmongItsChildren) {
  std::shared_ptr<GalleryItem> parent = build(installCollection("Parent"));
  ASSERT_TRUE(parent);
  std::shared_ptr<GalleryItem> item = build(installCollection("Tour"), parent.get());
  ASSERT_TRUE(item);
  EXPECT_EQ(item->parent(), parent.get());
  EXPECT_EQ(parent->children(), ItemList{item});
}

struct TitleCase {
  const char* name;
  std::string metadata;
  std::optional<std::string> expected;
};
void PrintTo(const TitleCase& c, std::ostream* out) { *out << c.name; }

class DisplayNameTest : public GalleryWorld, public ::testing::WithParamInterface<TitleCase> {};

TEST_P(DisplayNameTest, ComesFromTheFirstEnglishString) {
  plist::Dictionary record = installCollection("Tour");
  root_.writeFile("Gallery/Tour/metadata.xml", GetParam().metadata);
  ::testing::internal::CaptureStderr();
  std::shared_ptr<GalleryItem> item = build(record);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  ASSERT_TRUE(item);
  EXPECT_EQ(item->displayName(), GetParam().expected);
  EXPECT_EQ(item->description(), GetParam().expected.value_or("{tour-guid}"));
}

INSTANTIATE_TEST_SUITE_P(
    Metadata, DisplayNameTest,
    ::testing::Values(
        TitleCase{"RegionalEnglishFirst", metadataWith(title("en-US", "US") + title("en", "En")),
                  "US"},
        TitleCase{"FrenchNeverUsed", metadataWith(title("fr", "Visite") + title("en", "Tour")),
                  "Tour"},
        TitleCase{"FirstInDocumentOrder",
                  "<lom:lom xmlns:lom=\"urn:lom\"><a><b>" + title("en", "Deep") + "</b></a>" +
                      title("en", "Shallow") + "</lom:lom>",
                  "Deep"},
        TitleCase{"EntityInTheText", metadataWith(title("en", "Tips &amp; Tricks")),
                  "Tips & Tricks"},
        TitleCase{"CommentInTheText", metadataWith(title("en", "Tour<!-- x --> Guide")),
                  "Tour Guide"},
        TitleCase{"CharacterDataInTheText", metadataWith(title("en", "A <![CDATA[<Tour>]]>")),
                  "A <Tour>"},
        TitleCase{"PrefixDeclaredBelowTheRootForAnyUri",
                  "<root><meta xmlns:lom=\"urn:other\">" + title("en", "Tour") + "</meta></root>",
                  "Tour"},
        TitleCase{"UnclosedTagIsRepaired",
                  "<lom:lom xmlns:lom=\"urn:lom\">" + title("en", "Tour") + "<lom:description>",
                  "Tour"},
        TitleCase{
            "BytesThatDoNotFitTheDeclaredEncoding",
            "<?xml version=\"1.0\" encoding=\"SHIFT_JIS\"?>\n<lom:lom xmlns:lom=\"urn:lom\">" +
                title("en", "Tour") + "<x>\x81\x20</x></lom:lom>",
            "Tour"},
        // Declared entities are neither expanded nor, when external, fetched.
        TitleCase{"DeclaredEntitiesStayUnexpanded",
                  "<!DOCTYPE lom:lom [<!ENTITY word \"Secret\"><!ENTITY file SYSTEM "
                  "\"file:///etc/hostname\">]>" +
                      metadataWith(title("en", "Tour &word;&file;")),
                  "Tour "},
        TitleCase{"NoEnglishString", metadataWith(title("fr", "Visite")), std::nullopt},
        TitleCase{"PrefixNeverDeclared", "<lom>" + title("en", "Tour") + "</lom>",
                  std::nullopt}),
    [](const ::testing::TestParamInfo<TitleCase>& param) { return param.param.name; });

TEST_F(GalleryWorld, UnreadablePreferencesAreLoggedOnceAndGiveNothing) {
  const std::string expected =
      "Could not load Gallery Plist: " + platform_.locations().galleryPreferences;
  EXPECT_TRUE(loadGalleryItems(platform_).empty());
  EXPECT_EQ(platform_.logLines, std::vector<std::string>{expected});

  for (const std::string& bytes : {std::string("not a property list"),
                                   plist::toXml(plist::Array{plist::Value("TeamContent")})}) {
    platform_.logLines.clear();
    writePreferences(bytes);
    EXPECT_TRUE(loadGalleryItems(platform_).empty()) << bytes;
    EXPECT_EQ(platform_.logLines, std::vector<std::string>{expected}) << bytes;
  }
}

TEST_F(GalleryWorld, TeamContentThatIsNoDictionaryRegistersNothing) {
  for (const plist::Value& teamContent : {plist::Value("Tour"), plist::Value(plist::Array{})}) {
    registerCollections(teamContent);
    EXPECT_TRUE(loadGalleryItems(platform_).empty());
  }
  writePreferences(plist::toXml(plist::Dictionary{}));
  EXPECT_TRUE(loadGalleryItems(platform_).empty());
  EXPECT_TRUE(platform_.logLines.empty());
}

TEST_F(GalleryWorld, CatalogueFollowsTheFileOrderAndLeavesOutWhatDoesNotQualify) {
  plist::Dictionary remote = installCollection("Remote");
  remote.set("Remote", true);
  plist::Dictionary teamContent;
  teamContent.set("zeta", installCollection("Zeta"));
  teamContent.set("remote", remote);
  teamContent.set("alpha", installCollection("Alpha"));
  teamContent.set("mid", installCollection("Mid"));
  registerCollections(teamContent);

  Catalogue items = loadGalleryItems(platform_);

  std::vector<std::string> identifiers;
  for (const auto& entry : items.entries()) identifiers.push_back(entry.first);
  EXPECT_EQ(identifiers, (std::vector<std::string>{"zeta", "alpha", "mid"}));
  EXPECT_EQ(items.find("alpha")->identifier(), "alpha");
  EXPECT_EQ(items.find("alpha")->displayName(), "Alpha Title");
  EXPECT_TRUE(platform_.logLines.empty());
}

}  // namespace
}  // namespace qu
