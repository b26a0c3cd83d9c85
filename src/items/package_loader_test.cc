#include "items/package_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "extensions/plist_io.h"
#include "items/manifest_for_item.h"
#include "items/package_item.h"
#include "items/package_catalogue_builder.h"
#include "manifests/database_manifest.h"
#include "manifests/receipt_manifest.h"
#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

using testing::locationsUnder;
using testing::RecordingPlatform;
using testing::TempDir;

plist::Dictionary dict(std::initializer_list<std::pair<std::string, plist::Value>> entries) {
  plist::Dictionary dictionary;
  for (const auto& [key, value] : entries) dictionary.set(key, value);
  return dictionary;
}

// A machine with an uninstall descriptions directory, a receipts directory and
// a package database answered by a fake "/usr/sbin/pkgutil" from one small
// file per package.
class PackageWorld : public ::testing::Test {
 protected:
  PackageWorld() {
    tmp.makeDirectory(relative(locations.uninstallDescriptions));
    tmp.writeScript(relative(locations.pkgutil),
                    "db='" + tmp.at("db") + "'\n"
                    "if [ \"$1\" = --pkg-info-plist ] && [ -f \"$db/$2\" ]; then\n"
                    "  cat \"$db/$2\"; exit 0\n"
                    "fi\n"
                    "exit 1");
  }

  std::string relative(const std::string& absolute) const {
    return absolute.substr(tmp.path().size() + 1);
  }
  std::string describe(const std::string& entry, const plist::Dictionary& settings) {
    return tmp.writeFile(relative(locations.uninstallDescriptions) + entry,
                         plist::toXml(settings));
  }
  // A package the database knows, described in "<identifier>.plist".
  void package(const std::string& identifier, const std::string& parent = "",
               bool visible = true) {
    plist::Dictionary settings = dict({{"pkgid", identifier}, {"visible", visible}});
    if (!parent.empty()) settings.set("parent", parent);
    describe(identifier + ".plist", settings);
    inDatabase(identifier);
  }
  void inDatabase(const std::string& identifier, const std::string& version = "1.0") {
    tmp.writeFile("db/" + identifier, plist::toXml(dict({{"pkg-version", version}})));
  }
  std::string receipt(const std::string& name, const plist::Dictionary& info) {
    return tmp.writeFile(relative(locations.receipts) + "/" + name + "/Contents/Info.plist",
                         plist::toXml(info));
  }
  Catalogue load() { return loadPackageItems(platform, receipts); }

  int infoQueries(const std::string& identifier) const {
    return static_cast<int>(std::count(
        platform.queries.begin(), platform.queries.end(),
        testing::ProgramCall{locations.pkgutil, {"--pkg-info-plist", identifier}}));
  }

  TempDir tmp;
  Locations locations = locationsUnder(tmp.path());
  RecordingPlatform platform{locations};
  ReceiptCache receipts{platform};
};

const PackageItem& asPackage(const ItemPtr& item) { return static_cast<const PackageItem&>(*item); }

std::vector<std::string> identifiers(const ItemList& items) {
  std::vector<std::string> result;
  for (const ItemPtr& item : items) result.push_back(item->identifier().value_or("(none)"));
  return result;
}

// Every item of the catalogue's trees, hidden ones included, by identifier.
std::vector<std::string> everyIdentifier(const Catalogue& catalogue) {
  std::vector<std::string> result = identifiers(UninstallItem::flatten(catalogue.values()));
  std::sort(result.begin(), result.end());
  return result;
}

TEST(DeletingPathExtension, RemovesOnlyTheLastComponentsExtension) {
  const std::pair<std::string, std::string> cases[] = {
      {"a.plist", "a"},           {"sub/b.plist", "sub/b"},       {"com.x.y.plist", "com.x.y"},
      {"a.b/c", "a.b/c"},         {"sub", "sub"},                 {".DS_Store", ".DS_Store"},
      {"sub/.hidden", "sub/.hidden"},
  };
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(deletingPathExtension(path), expected) << path;
  }
}

class VisibilityReading
    : public PackageWorld,
      public ::testing::WithParamInterface<std::pair<std::optional<plist::Value>, bool>> {};

TEST_P(VisibilityReading, DecidesWhetherThePackageIsVisible) {
  plist::Dictionary settings = dict({{"pkgid", "com.x.a"}});
  if (GetParam().first) settings.set("visible", *GetParam().first);
  describe("com.x.a.plist", settings);
  inDatabase("com.x.a");

  Catalogue catalogue = load();

  ASSERT_EQ(catalogue.size(), 1u);
  EXPECT_EQ(catalogue.find("com.x.a")->isVisible(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Values, VisibilityReading,
    ::testing::Values(std::pair{std::optional<plist::Value>{}, false},
                      std::pair{std::optional<plist::Value>{true}, true},
                      std::pair{std::optional<plist::Value>{"YES"}, true},
                      std::pair{std::optional<plist::Value>{"no"}, false},
                      std::pair{std::optional<plist::Value>{plist::Value::integer(0)}, false},
                      std::pair{std::optional<plist::Value>{plist::Value::integer(2)}, true},
                      std::pair{std::optional<plist::Value>{plist::Array{}}, false}));

TEST_F(PackageWorld, TakesNameAndIconFromTheDescriptionWhenTheyAreStrings) {
  const std::string icon = tmp.writeFile("icon.icns", "");
  describe("named.plist", dict({{"pkgid", "named"}, {"displayName", "Named"}, {"icon", icon}}));
  describe("missing-icon.plist", dict({{"pkgid", "missing-icon"}, {"icon", tmp.at("none")}}));
  describe("odd.plist", dict({{"pkgid", "odd"},
                              {"icon", plist::Value::integer(1)},
                              {"displayName", plist::Value::integer(7)},
                              {"parent", plist::Value::integer(3)}}));
  for (const char* id : {"named", "missing-icon", "odd"}) inDatabase(id);

  Catalogue catalogue = load();

  EXPECT_EQ(identifiers(catalogue.values()),
            (std::vector<std::string>{"missing-icon", "named", "odd"}));
  EXPECT_EQ(catalogue.find("named")->iconPath(), icon);
  EXPECT_EQ(catalogue.find("named")->displayName(), "Named");
  EXPECT_EQ(catalogue.find("missing-icon")->iconPath(), locations.defaultPackageIcon);
  EXPECT_EQ(catalogue.find("odd")->iconPath(), locations.defaultPackageIcon);
  EXPECT_EQ(catalogue.find("odd")->displayName(), std::nullopt);
}

// Parent and child in both listing orders, visible and hidden: the child is
// filed under the one parent, which alone is top-level and loaded once.
struct ParentCase {
  const char* parent;
  const char* child;
  bool childVisible;
  friend void PrintTo(const ParentCase& c, std::ostream* os) {
    *os << c.child << (c.childVisible ? " (visible)" : " (hidden)") << " under " << c.parent;
  }
};

class ParentAttachment : public PackageWorld, public ::testing::WithParamInterface<ParentCase> {};

TEST_P(ParentAttachment, FilesTheChildUnderItsOnlyParent) {
  const ParentCase& c = GetParam();
  package(c.parent);
  package(c.child, c.parent, c.childVisible);

  Catalogue catalogue = load();

  ASSERT_EQ(identifiers(catalogue.values()), std::vector<std::string>{c.parent});
  const PackageItem& parent = asPackage(catalogue.find(c.parent));
  const ItemList& filed = c.childVisible ? parent.children() : parent.subpackages();
  const ItemList& other = c.childVisible ? parent.subpackages() : parent.children();
  EXPECT_EQ(identifiers(filed), std::vector<std::string>{c.child});
  EXPECT_TRUE(other.empty());
  EXPECT_EQ(filed.front()->parent(), &parent);
  EXPECT_EQ(infoQueries(c.parent), 1);
  EXPECT_EQ(infoQueries(c.child), 1);
  EXPECT_TRUE(platform.logLines.empty());
}

INSTANTIATE_TEST_SUITE_P(Orders, ParentAttachment,
                         ::testing::Values(ParentCase{"a.parent", "b.child", true},
                                           ParentCase{"b.parent", "a.child", true},
                                           ParentCase{"a.parent", "b.child", false},
                                           ParentCase{"b.parent", "a.child", false}));

TEST_F(PackageWorld, FollowsTheParentsOfAParentLoadedAheadOfItsOwnFile) {
  // Listed a, b, c: a needs b, which needs c, before either file is reached.
  package("c");
  package("b", "c");
  package("a", "b");

  Catalogue catalogue = load();

  ASSERT_EQ(identifiers(catalogue.values()), std::vector<std::string>{"c"});
  const ItemPtr& c = catalogue.find("c");
  ASSERT_EQ(identifiers(c->children()), std::vector<std::string>{"b"});
  EXPECT_EQ(identifiers(c->children().front()->children()), std::vector<std::string>{"a"});
  EXPECT_EQ(everyIdentifier(catalogue), (std::vector<std::string>{"a", "b", "c"}));
  for (const char* id : {"a", "b", "c"}) EXPECT_EQ(infoQueries(id), 1) << id;
}

// "<parent id>.plist" is read through the path walk, which takes no "..":
// a parent's name cannot pull in a file from outside the folder.
TEST_F(PackageWorld, NeverLoadsAParentFromOutsideTheDescriptionsFolder) {
  describe("../outside.plist", dict({{"pkgid", "outside"}}));
  inDatabase("outside");
  package("a", "../outside");
  package("b", "x/../../outside");

  Catalogue catalogue = load();

  EXPECT_EQ(identifiers(catalogue.values()), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(infoQueries("outside"), 0);
}

// A child of a hidden sub-package: the search for parents passes over hidden
// sub-packages, so the child goes under the hidden b only when b's own file,
// "b.plist", was loaded (reusing b rather than loading a copy). Otherwise it
// is top-level, where it is listed and can be selected.
class HiddenParent : public PackageWorld, public ::testing::WithParamInterface<const char*> {};

TEST_P(HiddenParent, IsFoundOnlyThroughItsOwnFile) {
  const std::string hiddenFile = GetParam();
  package("a");
  describe(hiddenFile, dict({{"pkgid", "b"}, {"visible", false}, {"parent", "a"}}));
  inDatabase("b");
  package("c", "b");

  Catalogue catalogue = load();

  const bool ownFile = hiddenFile == "b.plist";
  const PackageItem& a = asPackage(catalogue.find("a"));
  ASSERT_EQ(identifiers(a.subpackages()), std::vector<std::string>{"b"});
  EXPECT_EQ(identifiers(a.subpackages().front()->children()),
            ownFile ? std::vector<std::string>{"c"} : std::vector<std::string>{});
  EXPECT_EQ(identifiers(catalogue.values()),
            ownFile ? std::vector<std::string>{"a"} : (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(UninstallItem::findItemInArray(catalogue.values(), "c") != nullptr, !ownFile);
  EXPECT_EQ(everyIdentifier(catalogue), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(infoQueries("b"), 1);
  EXPECT_TRUE(platform.logLines.empty());
}

INSTANTIATE_TEST_SUITE_P(Files, HiddenParent, ::testing::Values("b.plist", "b-support.plist"));

// Parent chains that end nowhere or loop: every package is kept once, and
// the package that closes a loop becomes top-level.
struct ChainCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> packages;  // identifier, parent
  std::vector<std::string> topLevel;
  friend void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.name; }
};

class ParentChain : public PackageWorld, public ::testing::WithParamInterface<ChainCase> {};

TEST_P(ParentChain, KeepsEveryPackageOnce) {
  std::vector<std::string> expected;
  for (const auto& [id, parent] : GetParam().packages) {
    package(id, parent);
    expected.push_back(id);
  }

  Catalogue catalogue = load();

  EXPECT_EQ(identifiers(catalogue.values()), GetParam().topLevel);
  EXPECT_EQ(everyIdentifier(catalogue), expected);
  for (const std::string& id : expected) EXPECT_EQ(infoQueries(id), 1) << id;
}

INSTANTIATE_TEST_SUITE_P(
    Chains, ParentChain,
    ::testing::Values(ChainCase{"UnknownParent", {{"a", "nowhere"}}, {"a"}},
                      ChainCase{"Self", {{"a", "a"}}, {"a"}},
                      ChainCase{"Pair", {{"a", "b"}, {"b", "a"}}, {"b"}},
                      ChainCase{"Triangle", {{"a", "c"}, {"b", "a"}, {"c", "b"}}, {"b"}},
                      ChainCase{"ChildOfALoop",
                                {{"a", "b"}, {"b", "c"}, {"c", "b"}, {"r", ""}},
                                {"c", "r"}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(PackageWorld, ReportsEveryEntryThatIsNotAnInstalledPackage) {
  package("a");
  describe("sub/b.plist", dict({{"pkgid", "b"}}));
  inDatabase("b");
  tmp.writeFile(relative(locations.uninstallDescriptions) + ".DS_Store", "Bud1 finder data");
  describe("removed.plist", dict({{"pkgid", "removed"}}));
  tmp.writeFile(relative(locations.uninstallDescriptions) + "array.plist",
                plist::toXml(plist::Array{plist::Value("pkgid")}));
  describe("anonymous.plist", dict({{"displayName", "No Identifier"}}));
  tmp.makeSymlink(relative(locations.uninstallDescriptions) + "loop", ".");

  Catalogue catalogue = load();

  EXPECT_EQ(identifiers(catalogue.values()), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(platform.logLines, (std::vector<std::string>{
                                   "Error loading plist: '.DS_Store'",
                                   "Error loading plist: 'anonymous.plist'",
                                   "Error loading plist: 'array.plist'",
                                   "Error loading plist: 'loop'",
                                   "Error loading plist: 'removed.plist'",
                                   "Error loading plist: 'sub'",
                               }));
  // The database is never asked about a description without an identifier.
  for (const testing::ProgramCall& query : platform.queries) {
    EXPECT_EQ(query.arguments.size(), 2u);
  }
}

TEST_F(PackageWorld, LogsWhenThereIsNothingToLoad) {
  EXPECT_TRUE(load().empty());
  Locations elsewhere = locations;
  elsewhere.uninstallDescriptions = tmp.at("missing/");
  RecordingPlatform missing(elsewhere);
  ReceiptCache missingReceipts(missing);
  EXPECT_TRUE(loadPackageItems(missing, missingReceipts).empty());

  EXPECT_EQ(platform.logLines, std::vector<std::string>{"Nothing found to remove"});
  EXPECT_EQ(missing.logLines, std::vector<std::string>{"Nothing found to remove"});
}

TEST_F(PackageWorld, LaterDescriptionOfAnIdentifierWinsUnlessNamedAfterIt) {
  describe("0-first.plist", dict({{"pkgid", "x"}, {"displayName", "First"}}));
  describe("1-second.plist", dict({{"pkgid", "x"}, {"displayName", "Second"}}));
  describe("0-first-y.plist", dict({{"pkgid", "y"}, {"displayName", "First"}}));
  describe("y.plist", dict({{"pkgid", "y"}, {"displayName", "Named"}}));
  inDatabase("x");
  inDatabase("y");

  Catalogue catalogue = load();

  EXPECT_EQ(catalogue.size(), 2u);
  EXPECT_EQ(catalogue.find("x")->displayName(), "Second");
  EXPECT_EQ(catalogue.find("y")->displayName(), "First");
  EXPECT_EQ(infoQueries("y"), 1);
}

// Which record proves the package installed, and the version it reports.
struct RecordCase {
  const char* name;
  bool receipt;
  std::optional<std::string> receiptVersion;
  bool database;
  std::optional<UninstallItem::Kind> kind;
  std::optional<std::string> version;
  int queries;
  friend void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }
};

class InstalledRecord : public PackageWorld, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(InstalledRecord, DecidesTheKindAndVersionOfThePackage) {
  const RecordCase& c = GetParam();
  describe("com.x.pkg.plist", dict({{"pkgid", "com.x.pkg"}}));
  if (c.receipt) {
    plist::Dictionary info = dict({{"CFBundleIdentifier", "com.x.pkg"}});
    if (c.receiptVersion) info.set("CFBundleShortVersionString", *c.receiptVersion);
    receipt("Pkg.pkg", info);
  }
  receipt("Other.pkg", dict({{"CFBundleIdentifier", "COM.X.PKG"}}));
  if (c.database) inDatabase("com.x.pkg", "3.1");

  ItemPtr item = loadWithPath(platform, receipts,
                              locations.uninstallDescriptions + "com.x.pkg.plist");

  ASSERT_EQ(item != nullptr, c.kind.has_value());
  if (item) {
    EXPECT_EQ(item->kind(), *c.kind);
    EXPECT_EQ(item->version(), c.version);
  }
  EXPECT_EQ(infoQueries("com.x.pkg"), c.queries);
}

INSTANTIATE_TEST_SUITE_P(
    Records, InstalledRecord,
    ::testing::Values(
        RecordCase{"ReceiptPreferred", true, "2.0", true, UninstallItem::Kind::Receipt, "2.0", 0},
        RecordCase{"ReceiptWithoutVersion", true, std::nullopt, false,
                   UninstallItem::Kind::Receipt, std::nullopt, 0},
        RecordCase{"DatabaseOnly", false, std::nullopt, true, UninstallItem::Kind::Database,
                   "3.1", 1},
        RecordCase{"Neither", false, std::nullopt, false, std::nullopt, std::nullopt, 1}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(PackageWorld, ReadsBinaryDescriptions) {
  const std::string plistutil = "/usr/bin/plistutil";
  if (!platform.exists(plistutil)) GTEST_SKIP() << "no plistutil to write a binary plist";
  const std::string xml = describe("xml.tmp", dict({{"pkgid", "bin"}, {"visible", true}}));
  const std::string binary = locations.uninstallDescriptions + "bin.plist";
  ASSERT_TRUE(platform.runAndWait(plistutil, {"-i", xml, "-o", binary, "-f", "bin"}).succeeded());
  platform.removePath(xml, RemovalScope::NonDirectory);
  ASSERT_NE(testing::readWholeFile(binary).rfind("bplist", 0), std::string::npos);
  inDatabase("bin");

  Catalogue catalogue = load();

  ASSERT_NE(catalogue.find("bin"), nullptr);
  EXPECT_TRUE(catalogue.find("bin")->isVisible());
}

TEST_F(PackageWorld, ManifestFollowsTheKindOfRecord) {
  receipt("R.pkg", dict({{"CFBundleIdentifier", "receipt"}}));
  describe("receipt.plist", dict({{"pkgid", "receipt"}}));
  package("database");
  package("forgotten");

  Catalogue catalogue = load();
  platform.removePath(tmp.at("db/forgotten"), RemovalScope::Tree);

  ManifestPtr fromReceipt = manifestWithItem(platform, *catalogue.find("receipt"));
  auto* receiptManifest = dynamic_cast<ReceiptManifest*>(fromReceipt.get());
  ASSERT_NE(receiptManifest, nullptr);
  EXPECT_EQ(receiptManifest->bomPath(), locations.receipts + "/R.pkg/Contents/Archive.bom");
  ManifestPtr fromDatabase = manifestWithItem(platform, *catalogue.find("database"));
  EXPECT_NE(dynamic_cast<DatabaseManifest*>(fromDatabase.get()), nullptr);
  EXPECT_EQ(manifestWithItem(platform, *catalogue.find("forgotten")), nullptr);
}

}  // namespace
}  // namespace qu
