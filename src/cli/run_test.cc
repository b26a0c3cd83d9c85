#include "cli/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cli/help.h"
#include "cli/version.h"
#include "items/package_item.h"
#include "system/dry_run_platform.h"
#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

class TestPackage : public PackageItem {
 public:
  TestPackage(const std::string& identifier, bool visible) {
    setIdentifier(identifier);
    setDisplayName("Name of " + identifier);
    setVisible(visible);
  }
  Kind kind() const override { return Kind::Receipt; }
  std::optional<std::string> version() const override { return std::nullopt; }
};

class TestGallery : public UninstallItem {
 public:
  explicit TestGallery(const std::string& identifier) {
    setIdentifier(identifier);
    setVisible(true);
  }
  Kind kind() const override { return Kind::Gallery; }
  std::optional<std::string> version() const override { return "Unknown"; }
};

ItemPtr package(const std::string& identifier, bool visible, UninstallItem* parent = nullptr) {
  auto item = std::make_shared<TestPackage>(identifier, visible);
  if (parent != nullptr) item->setParent(parent);
  return item;
}

// a (visible) with a visible child a.child (which has a hidden a.child.hidden)
// and a hidden a.hidden; b visible; h hidden.
Catalogue sampleCatalogue() {
  Catalogue catalogue;
  ItemPtr a = package("a", true);
  ItemPtr child = package("a.child", true, a.get());
  package("a.child.hidden", false, child.get());
  package("a.hidden", false, a.get());
  catalogue.set("a", a);
  catalogue.set("b", package("b", true));
  catalogue.set("h", package("h", false));
  return catalogue;
}

struct Outcome {
  int status = -1;
  std::string output;
  std::string errors;  // standard error, log lines aside
  int loads = 0;       // loader calls
  bool listed = false;
  bool listedAsJson = false;
  bool uninstallCalled = false;
  std::set<std::string> removed;
  std::set<std::string> remaining;  // handed to the engine as staying installed
  std::size_t removedCount = 0;
  bool isSilent = false;
  bool dryRun = false;  // the engine was handed a dry-run platform
};

class RunTest : public ::testing::Test {
 protected:
  Outcome run(std::vector<std::string> arguments, Catalogue packages = sampleCatalogue(),
              Catalogue galleries = {}, bool engineSucceeds = true) {
    Outcome outcome;
    Subsystems subsystems;
    subsystems.loadPackageItems = [&] {
      ++outcome.loads;
      return packages;
    };
    subsystems.loadGalleryItems = [&] {
      ++outcome.loads;
      return galleries;
    };
    subsystems.listPackages = [&](const Catalogue&) { outcome.listed = true; };
    subsystems.listPackagesAsJson = [&](const Catalogue&) { outcome.listedAsJson = true; };
    subsystems.uninstall = [&](Platform& removalPlatform, const ItemList& items,
                               const ItemList& remaining, bool isSilent, RunReport*) {
      outcome.uninstallCalled = true;
      for (const ItemPtr& item : remaining) outcome.remaining.insert(*item->identifier());
      outcome.dryRun = dynamic_cast<DryRunPlatform*>(&removalPlatform) != nullptr;
      outcome.isSilent = isSilent;
      outcome.removedCount = items.size();
      for (const ItemPtr& item : items) outcome.removed.insert(*item->identifier());
      return engineSucceeds;
    };
    arguments.insert(arguments.begin(), "quorvane-uninstall");
    outcome.status = runUninstaller(platform, subsystems, arguments);
    outcome.output = platform.output;
    outcome.errors = platform.errors;
    return outcome;
  }

  testing::TempDir tmp;
  testing::RecordingPlatform platform{testing::locationsUnder(tmp.path())};
};

struct CommandLineCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string output;
  int status;
  std::set<std::string> removed;  // empty: the engine must not run
  std::string errors = "";        // besides getopt's own complaint
  bool dryRun = false;
  bool loads = true;  // the catalogue is loaded
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

const std::string kHint = "Try 'quorvane-uninstall --help'.\n";
// Stands for the usage text of the test's locations.
const std::string kUsage = "(usage)";
const std::string kVersion = std::string("quorvane-uninstall ") + kToolVersion + "\n";

class CommandLineTable : public RunTest,
                         public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineTable, PrintsRemovesAndExitsAsSpecified) {
  const CommandLineCase& c = GetParam();
  Outcome outcome = run(c.arguments);
  EXPECT_EQ(outcome.output, c.output == kUsage ? usageText(platform.locations()) : c.output);
  EXPECT_EQ(outcome.status, c.status);
  EXPECT_EQ(outcome.uninstallCalled, !c.removed.empty());
  EXPECT_EQ(outcome.removed, c.removed);
  EXPECT_EQ(outcome.removedCount, c.removed.size()) << "an item was handed to the engine twice";
  if (outcome.uninstallCalled) {
    std::set<std::string> staying = {"a", "a.child", "a.child.hidden", "a.hidden", "b", "h"};
    for (const std::string& removed : c.removed) staying.erase(removed);
    EXPECT_EQ(outcome.remaining, staying);
  }
  EXPECT_EQ(outcome.dryRun, c.dryRun);
  EXPECT_EQ(outcome.errors, c.errors);
  EXPECT_EQ(outcome.loads, c.loads ? 2 : 0);
}

const std::set<std::string> kTreeOfA = {"a", "a.child", "a.child.hidden", "a.hidden"};

INSTANTIATE_TEST_SUITE_P(
    Run, CommandLineTable,
    ::testing::Values(
        CommandLineCase{"NoArguments", {}, "", 0, {}},
        CommandLineCase{"OnlyGuiAndVerbose", {"--gui", "-v", "--verbose"}, "", 0, {}},
        CommandLineCase{"UnknownLongOption", {"--bogus"}, "Usage", 0, {}, kHint},
        CommandLineCase{"UnknownOptionAfterValidId", {"--id", "a", "--bogus"}, "Usage", 0, {}, kHint},
        CommandLineCase{"MisspeltDryRun", {"--dry-rnu", "--id", "a"}, "Usage", 0, {}, kHint},
        CommandLineCase{"IdWithoutValue", {"-i"}, "Usage", 0, {}, kHint},
        CommandLineCase{"LongIdWithoutValue", {"--id"}, "Usage", 0, {}, kHint},
        CommandLineCase{"ArgumentToAnOptionWithout", {"--help=all"}, "Usage", 0, {}, kHint},
        CommandLineCase{"VerboseAbbreviationsStayVerbose", {"--v", "--ve", "--ver", "--verb"}, "", 0, {}},
        CommandLineCase{"Help", {"--help"}, kUsage, 0, {}, "", false, false},
        CommandLineCase{"ShortHelp", {"-h"}, kUsage, 0, {}, "", false, false},
        CommandLineCase{"HelpAbbreviated", {"--he"}, kUsage, 0, {}, "", false, false},
        CommandLineCase{"HelpInAGroup", {"-ah"}, kUsage, 0, {}, "", false, false},
        CommandLineCase{"HelpAfterAnythingElse", {"--bogus", "-i", "nothing", "--all", "x", "-h"}, kUsage, 0,
                        {}, "", false, false},
        CommandLineCase{"HelpWinsOverVersion", {"--version", "--help"}, kUsage, 0, {}, "", false, false},
        CommandLineCase{"Version", {"--version"}, kVersion, 0, {}, "", false, false},
        CommandLineCase{"VersionAbbreviated", {"--vers", "-i", "nothing"}, kVersion, 0, {}, "", false, false},
        CommandLineCase{"HelpAfterDoubleDashIsAnArgument", {"--", "--help"}, "", 0, {},
                        "ignoring '--help'; it is not an option (see --help)\n"},
        CommandLineCase{"HelpAsIdentifier", {"--id", "--help"}, "Invalid ID Specified: --help.\n", 1, {}},
        CommandLineCase{"IdentifierWithoutId", {"b"}, "", 0, {},
                        "ignoring 'b'; to remove the item, use --id b\n"},
        CommandLineCase{"StrayArgumentsAroundARemoval", {"a.child", "-i", "b", "a.hidden", "list"}, "", 0,
                        {"b"},
                        "ignoring 'a.child'; to remove the item, use --id a.child\n"
                        "ignoring 'a.hidden'; it is not an option (see --help)\n"
                        "ignoring 'list'; it is not an option (see --help)\n"},
        CommandLineCase{"UnknownIdentifier", {"-i", "nothing"}, "Invalid ID Specified: nothing.\n", 1, {}},
        CommandLineCase{"UnknownIdentifierWinsOverList", {"--list", "-i", "x"}, "Invalid ID Specified: x.\n", 1, {}},
        CommandLineCase{"IdentifierCaseMatters", {"-i", "A"}, "Invalid ID Specified: A.\n", 1, {}},
        CommandLineCase{"HiddenSubpackageCannotBeSelected", {"-i", "a.hidden"}, "Invalid ID Specified: a.hidden.\n", 1, {}},
        CommandLineCase{"TopLevelWithDescendants", {"--id", "a"}, "", 0, kTreeOfA},
        CommandLineCase{"AttachedArgument", {"-ia"}, "", 0, kTreeOfA},
        CommandLineCase{"ArgumentAfterEquals", {"--id=a"}, "", 0, kTreeOfA},
        CommandLineCase{"AbbreviatedLongOption", {"--i", "a"}, "", 0, kTreeOfA},
        CommandLineCase{"SameIdTwice", {"--id", "a", "-i", "a"}, "", 0, kTreeOfA},
        CommandLineCase{"VisibleChildAlone", {"--id", "a.child"}, "", 0, {"a.child", "a.child.hidden"}},
        CommandLineCase{"HiddenTopLevelBySelection", {"--id", "h"}, "", 0, {"h"}},
        CommandLineCase{"LastVisibleItemsTakeTheHiddenOnes", {"--id", "a", "--id", "b"}, "", 0,
                        {"a", "a.child", "a.child.hidden", "a.hidden", "b", "h"}},
        CommandLineCase{"VisibleTopLevelLeftKeepsHiddenOnes", {"--id", "b", "--id", "a.child"}, "", 0,
                        {"b", "a.child", "a.child.hidden"}},
        CommandLineCase{"AllSelectsEveryTopLevelItem", {"--all"}, "", 0,
                        {"a", "a.child", "a.child.hidden", "a.hidden", "b", "h"}},
        CommandLineCase{"AllWithIdOnce", {"-i", "b", "--all", "-a"}, "", 0,
                        {"a", "a.child", "a.child.hidden", "a.hidden", "b", "h"}},
        CommandLineCase{"GroupedShortOptions", {"-gvi", "b"}, "", 0, {"b"}},
        CommandLineCase{"DryRunLong", {"--dry-run", "--id", "b"}, "", 0, {"b"}, "", true},
        CommandLineCase{"DryRunShortGrouped", {"-nai", "b"}, "", 0,
                        {"a", "a.child", "a.child.hidden", "a.hidden", "b", "h"}, "", true},
        CommandLineCase{"DryRunAfterSelectionCompletesItToo", {"-i", "a", "-i", "b", "-n"}, "", 0,
                        {"a", "a.child", "a.child.hidden", "a.hidden", "b", "h"}, "", true},
        CommandLineCase{"DryRunAlone", {"--dry-run"}, "", 0, {}},
        CommandLineCase{"DryRunAbbreviated", {"--dry", "-i", "b"}, "", 0, {"b"}, "", true},
        CommandLineCase{"DryRunUnknownIdentifier", {"-n", "-i", "x"}, "Invalid ID Specified: x.\n", 1, {}},
        // Standard output holds JSON or nothing: a refusal is one JSON line
        // there, and text on standard error.
        CommandLineCase{"JsonUnknownIdentifier", {"-n", "-i", "x", "--json"},
                        R"({"version":1,"type":"refusal","message":"Invalid ID Specified: x.","status":1})"
                        "\n",
                        1, {}, "Invalid ID Specified: x.\n"},
        CommandLineCase{"JsonUnknownOption", {"--json", "--bogus"},
                        R"({"version":1,"type":"refusal","message":"Usage","status":0})"
                        "\n",
                        0, {}, "Usage\n" + kHint}),
    [](const ::testing::TestParamInfo<CommandLineCase>& testCase) { return std::string(testCase.param.name); });

TEST_F(RunTest, ListingWinsOverSelectionAndNeedsNoRoot) {
  platform.rootResult = Status::error(EPERM, "setuid");
  for (const bool json : {false, true}) {
    std::vector<std::string> arguments = {"--list", "--all"};
    if (json) arguments.insert(arguments.begin(), "--json");
    Outcome outcome = run(arguments);
    EXPECT_EQ(outcome.listed, !json);
    EXPECT_EQ(outcome.listedAsJson, json);
    EXPECT_FALSE(outcome.uninstallCalled);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.output, "");
  }
}

TEST_F(RunTest, DryRunNeedsNoRootAndReportsTheEngineResult) {
  platform.rootResult = Status::error(EPERM, "setuid");
  Outcome outcome = run({"-n", "--id", "b"}, sampleCatalogue(), {}, /*engineSucceeds=*/false);
  EXPECT_TRUE(outcome.dryRun);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(outcome.status, 3);
}

TEST_F(RunTest, ListingWinsOverDryRun) {
  Outcome outcome = run({"--dry-run", "--all", "--list"});
  EXPECT_TRUE(outcome.listed);
  EXPECT_FALSE(outcome.uninstallCalled);
  EXPECT_EQ(outcome.status, 0);
}

TEST_F(RunTest, NotRootRemovesNothing) {
  platform.rootResult = Status::error(EPERM, "setuid");
  for (const bool json : {false, true}) {
    platform.output.clear();
    platform.errors.clear();
    Outcome outcome = json ? run({"--id", "a", "--json"}) : run({"--id", "a"});
    EXPECT_EQ(json ? outcome.errors : outcome.output, "Root access is required.\n");
    EXPECT_EQ(json ? outcome.output : outcome.errors,
              json ? R"({"version":1,"type":"refusal","message":"Root access is required.",)"
                     R"("status":2})"
                     "\n"
                   : "");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_FALSE(outcome.uninstallCalled);
  }
}

TEST_F(RunTest, NothingSelectedNeedsNoRoot) {
  platform.rootResult = Status::error(EPERM, "setuid");
  EXPECT_EQ(run({"-v"}).status, 0);
}

TEST_F(RunTest, SelectedChildOfAHiddenParentIsRemovedOnce) {
  Catalogue catalogue;
  ItemPtr hiddenParent = package("hp", false);
  package("c", true, hiddenParent.get());
  catalogue.set("hp", hiddenParent);

  Outcome outcome = run({"--id", "c"}, catalogue);
  EXPECT_EQ(outcome.removed, (std::set<std::string>{"c", "hp"}));
  EXPECT_EQ(outcome.removedCount, 2u);
}

TEST_F(RunTest, EngineFailureExitsThree) {
  Outcome outcome = run({"--id", "b"}, sampleCatalogue(), {}, /*engineSucceeds=*/false);
  EXPECT_EQ(outcome.status, 3);
}

TEST_F(RunTest, GuiMakesTheRunAttended) {
  EXPECT_TRUE(run({"--id", "b"}).isSilent);
  EXPECT_FALSE(run({"--gui", "--id", "b"}).isSilent);
}

TEST_F(RunTest, ParserCanRunTwiceInOneProcess) {
  EXPECT_EQ(run({"-i", "nothing"}).status, 1);
  platform.output.clear();
  EXPECT_EQ(run({"-i", "nothing"}).output, "Invalid ID Specified: nothing.\n");
}

TEST_F(RunTest, CollectionsNeverShapeThePackagesRemoval) {
  // The gallery preferences are anyone's: collections under the identifiers
  // of installed packages (top-level, visible child, hidden sub-package) or
  // with option-like or control-character identifiers are left out.
  Catalogue galleries;
  for (const char* identifier : {"b", "a.child", "a.child.hidden", "-rf", "g\x1b[2J", "g"}) {
    galleries.set(identifier, std::make_shared<TestGallery>(identifier));
  }
  Catalogue seen;
  Subsystems subsystems;
  Catalogue packages = sampleCatalogue();
  ItemList remaining;
  std::set<std::string> removed;
  subsystems.loadPackageItems = [&] { return packages; };
  subsystems.loadGalleryItems = [&] { return galleries; };
  subsystems.listPackages = [&](const Catalogue& catalogue) { seen = catalogue; };
  subsystems.uninstall = [&](Platform&, const ItemList& items, const ItemList& staying, bool,
                             RunReport*) {
    for (const ItemPtr& item : items) removed.insert(*item->identifier());
    remaining = staying;
    return true;
  };
  EXPECT_EQ(runUninstaller(platform, subsystems, {"quorvane-uninstall", "--list"}), 0);

  std::vector<std::string> listed;
  for (const auto& entry : seen.entries()) listed.push_back(entry.first);
  EXPECT_EQ(listed, (std::vector<std::string>{"a", "b", "h", "g"}));
  EXPECT_EQ(seen.find("b")->kind(), UninstallItem::Kind::Receipt);
  EXPECT_EQ(platform.logLines, (std::vector<std::string>{
      "Not offering gallery collection 'b' (b): installed package 'b' (Name of b) has that "
      "identifier",
      "Not offering gallery collection 'a.child' (a.child): installed package 'a.child' "
      "(Name of a.child) has that identifier",
      "Not offering gallery collection 'a.child.hidden' (a.child.hidden): installed package "
      "'a.child.hidden' (Name of a.child.hidden) has that identifier",
      "Not offering gallery collection '-rf': its identifier starts with '-' or holds control "
      "characters",
      "Not offering gallery collection 'g\\x1B[2J': its identifier starts with '-' or holds "
      "control characters"}));

  // The package b is what --id b removes, and a removal of a keeps b.
  EXPECT_EQ(runUninstaller(platform, subsystems, {"quorvane-uninstall", "--id", "b"}), 0);
  EXPECT_EQ(removed, std::set<std::string>{"b"});
  removed.clear();
  EXPECT_EQ(runUninstaller(platform, subsystems, {"quorvane-uninstall", "--id", "a"}), 0);
  EXPECT_EQ(removed, kTreeOfA);
  std::set<std::string> staying;
  for (const ItemPtr& item : remaining) staying.insert(*item->identifier());
  EXPECT_EQ(staying, (std::set<std::string>{"b", "h"}));
}

TEST_F(RunTest, APackageIsItsRecordNotOneOfItsDescriptions) {
  // "d" is described twice: at the top and as a child of "p". Whichever
  // description a run removes, the other one does not keep d's files.
  Catalogue catalogue;
  ItemPtr parent = package("p", true);
  package("d", true, parent.get());
  catalogue.set("p", parent);
  catalogue.set("d", package("d", true));
  catalogue.set("q", package("q", true));
  const std::vector<std::pair<std::string, std::set<std::string>>> cases = {
      {"d", {"p", "q"}}, {"p", {"q"}}};
  for (const auto& [selected, staying] : cases) {
    SCOPED_TRACE(selected);
    EXPECT_EQ(run({"--id", selected}, catalogue).remaining, staying);
  }
}

TEST_F(RunTest, LoadersRunEvenForAMalformedCommandLine) {
  int loads = 0;
  Subsystems subsystems;
  subsystems.loadPackageItems = [&] { ++loads; return Catalogue{}; };
  subsystems.loadGalleryItems = [&] { ++loads; return Catalogue{}; };
  subsystems.listPackages = [](const Catalogue&) {};
  subsystems.uninstall = [](Platform&, const ItemList&, const ItemList&, bool, RunReport*) {
    return true;
  };
  EXPECT_EQ(runUninstaller(platform, subsystems, {"quorvane-uninstall", "--bogus"}), 0);
  EXPECT_EQ(loads, 2);
}

}  // namespace
}  // namespace qu
