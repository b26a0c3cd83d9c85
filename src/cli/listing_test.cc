#include "cli/listing.h"

#include <gtest/gtest.h>

#include "cli/listing_json.h"

#include "items/package_item.h"
#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

class Package : public PackageItem {
 public:
  Package(const std::string& identifier, std::optional<std::string> name, bool visible)
      : version_(visible ? std::optional<std::string>("1.0") : std::nullopt) {
    setIdentifier(identifier);
    setDisplayName(std::move(name));
    setVisible(visible);
  }
  Kind kind() const override { return Kind::Database; }
  std::optional<std::string> version() const override { return version_; }

 private:
  std::optional<std::string> version_;
};

class Collection : public UninstallItem {
 public:
  Collection(const std::string& identifier, const std::string& name) {
    setIdentifier(identifier);
    setDisplayName(name);
    setVisible(true);
  }
  Kind kind() const override { return Kind::Gallery; }
  std::optional<std::string> version() const override { return std::nullopt; }
};

ItemPtr package(const std::string& identifier, std::optional<std::string> name,
                bool visible = true, const ItemPtr& parent = nullptr) {
  auto item = std::make_shared<Package>(identifier, std::move(name), visible);
  if (parent) item->setParent(parent.get());
  return item;
}

std::string row(const std::string& identifier, const std::string& name) {
  std::string line = identifier;
  if (line.size() < 40) line.resize(40, ' ');
  line += " " + name;
  if (name.size() < 30) line.resize(line.size() + 30 - name.size(), ' ');
  return line + "\n";
}

const std::string kHeader = "Installed Packages:\n" + row("Identifier", "Name");

class Listing : public ::testing::Test {
 protected:
  std::string list() {
    listPackages(platform, catalogue);
    return platform.output;
  }

  testing::TempDir tmp;
  testing::RecordingPlatform platform{testing::locationsUnder(tmp.path())};
  Catalogue catalogue;
};

TEST_F(Listing, EmptyCatalogueShowsOnlyTheHeader) { EXPECT_EQ(list(), kHeader); }

class TreeListing : public Listing {
 protected:
  TreeListing() {
    ItemPtr top = package("com.x.suite", "Suite");
    ItemPtr child = package("com.x.tool", "Tool", true, top);
    package("com.x.helper", "Helper", false, top);
    package("com.x.plugin", std::nullopt, true, child);
    ItemPtr hiddenTop = package("com.x.hidden", "Hidden", false);
    package("com.x.under-hidden", "Under Hidden", true, hiddenTop);
    catalogue.set("com.x.suite", top);
    catalogue.set("com.x.hidden", hiddenTop);
    catalogue.set("gallery", std::make_shared<Collection>("gallery", "Gallery Collection"));
  }
};

TEST_F(TreeListing, ShowsVisibleDescendantsOneHyphenPerLevel) {
  EXPECT_EQ(list(), kHeader + row("com.x.suite", "Suite") + row("-com.x.tool", "-Tool") +
                        row("--com.x.plugin", "--(null)") + row("gallery", "Gallery Collection"));
}

TEST_F(TreeListing, JsonHoldsTheWholeTreeWithTheHiddenItemsMarked) {
  listPackagesAsJson(platform, catalogue);
  const Json expected = Json::parse(R"({"version": 1, "type": "listing", "items": [
    {"identifier": "com.x.suite", "name": "Suite", "kind": "database", "version": "1.0",
     "visible": true, "children": [
       {"identifier": "com.x.tool", "name": "Tool", "kind": "database", "version": "1.0",
        "visible": true, "children": [
          {"identifier": "com.x.plugin", "name": null, "kind": "database", "version": "1.0",
           "visible": true, "children": []}]},
       {"identifier": "com.x.helper", "name": "Helper", "kind": "database", "version": null,
        "visible": false, "children": []}]},
    {"identifier": "com.x.hidden", "name": "Hidden", "kind": "database", "version": null,
     "visible": false, "children": [
       {"identifier": "com.x.under-hidden", "name": "Under Hidden", "kind": "database",
        "version": "1.0", "visible": true, "children": []}]},
    {"identifier": "gallery", "name": "Gallery Collection", "kind": "gallery",
     "version": null, "visible": true, "children": []}]})");
  ASSERT_TRUE(platform.output.ends_with("}\n"));
  // Members in the order written: scripts reading line by line rely on it.
  EXPECT_EQ(platform.output, jsonDocumentText(expected));
}

TEST_F(Listing, LongTextsPushTheNextColumn) {
  const std::string longIdentifier = "com.example.a-very-long-package-identifier.core";  // 47 bytes
  const std::string longName = "A Name That Is Longer Than Thirty Bytes";
  catalogue.set(longIdentifier, package(longIdentifier, longName));
  catalogue.set("é", package("é", "Café"));
  catalogue.set("caf\xE9", package("caf\xE9", "Caf\xE9 (Latin-1)"));

  EXPECT_EQ(list(), kHeader + longIdentifier + " " + longName + "\n" +
                        // Widths count bytes: two-byte characters take two columns.
                        "é" + std::string(38, ' ') + " Café" + std::string(25, ' ') + "\n" +
                        // Bytes that are not UTF-8 are printed as they are.
                        row("caf\xE9", "Caf\xE9 (Latin-1)"));

  // The JSON listing carries them byte for byte.
  const Json items = listingDocument(catalogue)["items"];
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1]["identifier"], "é");
  EXPECT_EQ(items[2]["identifier"], Json::parse(R"({"base64": "Y2Fm6Q=="})"));
  EXPECT_EQ(items[2]["name"], Json::parse(R"({"base64": "Q2Fm6SAoTGF0aW4tMSk="})"));
}

}  // namespace
}  // namespace qu
