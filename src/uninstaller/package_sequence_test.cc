#include "uninstaller/package_sequence.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "items/receipt_item.h"
#include "manifests/receipt_cache.h"
#include "uninstaller/engine_test_world.h"

namespace qu {
namespace {

using testing::pathPresent;
using testing::stringArray;

struct PackageSequenceTest : ::testing::Test {
  testing::EngineWorld world;
  testing::RecordingPlatform& platform = world.platform;
  testing::TestRun run{platform, 1};
  RunProgress& progress = run.progress;

  std::string at(const std::string& relative) const { return world.tmp.at(relative); }
  bool uninstall(const PackageItem& item, bool silent = false) {
    run.context.isSilent = silent;
    return uninstallPackage(run.context, item);
  }
};

// A package whose files are not all known keeps its record and the uninstall
// plist it names among its paths; a package that is gone loses both.
TEST_F(PackageSequenceTest, KeepsTheRecordOfAPackageThatIsNotGone) {
  // The database's file list of a package with a ".killed" marker dies of a signal.
  const std::string pkgutil = platform.locations().pkgutil;
  world.tmp.writeScript(pkgutil.substr(world.tmp.path().size() + 1),
                        "db='" + at("pkgdb") + "'\n"
                        "case \"$1\" in\n"
                        "  --pkg-info-plist) cat \"$db/$2.info\" ;;\n"
                        "  --only-dirs) cat \"$db/$3.dirs\" ;;\n"
                        "  '') [ -e \"$db/$3.killed\" ] && kill -9 $$; cat \"$db/$3.files\" ;;\n"
                        "esac");
  struct Case {
    const char* id;
    bool listKilled;
  };
  for (const Case& c : {Case{"com.q.gone", false}, Case{"com.q.unknown", true}}) {
    const std::string id = c.id;
    world.tmp.writeFile("disk/" + id + "/file", "x");
    plist::Dictionary settings;
    settings.set("additionalfiles", stringArray({at("descriptions/" + id + ".plist")}));
    auto item = world.databasePackage(id, settings, "disk/" + id + "/file\n", "disk/" + id + "\n");
    ASSERT_TRUE(item);
    if (c.listKilled) world.tmp.writeFile("pkgdb/" + id + ".killed", "");
    platform.logLines.clear();
    platform.programCalls.clear();

    EXPECT_EQ(uninstall(*item), !c.listKilled) << id;

    EXPECT_EQ(pathPresent(at("descriptions/" + id + ".plist")), c.listKilled) << id;
    EXPECT_EQ(pathPresent(at("disk/" + id + "/file")), c.listKilled) << id;
    const testing::ProgramCall forget{pkgutil, {"--forget", id}};
    EXPECT_EQ(std::count(platform.programCalls.begin(), platform.programCalls.end(), forget),
              c.listKilled ? 0 : 1)
        << id;
    const std::string failed =
        "Package FAILED: " + id + " (a list of its files could not be read; its record is kept)";
    EXPECT_EQ(std::count(platform.logLines.begin(), platform.logLines.end(), failed),
              c.listKilled ? 1 : 0)
        << id;
  }
}

TEST_F(PackageSequenceTest, RunsEveryStepInOrder) {
  const std::string script = world.recordingTool(at("scripts/pre"), "pre");
  world.recordingTool(platform.locations().launchctl, "launchctl", "[ \"$2\" != /L/b.plist ]");
  world.tmp.writeFile("disk/A.kext/Contents/MacOS/A", "x");
  world.tmp.makeDirectory("disk/A.kext/Contents/PlugIns/B.kext");
  world.tmp.makeDirectory("disk/C.KEXT");
  world.tmp.writeFile("extra/file", "x");
  world.tmp.writeFile("ps-output", "  4321 " + at("disk/A.kext/Contents/MacOS/A") + "\n");

  plist::Dictionary settings;
  settings.set("preRemoveScript", script);
  settings.set("services", stringArray({"/L/a.plist", "/L/b.plist"}));
  settings.set("additionalfiles", stringArray({at("extra"), "/Applications"}));
  auto item = world.databasePackage(
      "com.q.one", settings, "disk/A.kext/Contents/MacOS/A\n",
      "disk\ndisk/A.kext\ndisk/A.kext/Contents\ndisk/A.kext/Contents/MacOS\n"
      "disk/A.kext/Contents/PlugIns\ndisk/A.kext/Contents/PlugIns/B.kext\ndisk/C.KEXT\n");
  ASSERT_TRUE(item);

  EXPECT_TRUE(uninstall(*item, /*silent=*/true));

  const std::string kextA = at("disk/A.kext");
  const std::string kextB = at("disk/A.kext/Contents/PlugIns/B.kext");
  EXPECT_EQ(world.calls(), (std::vector<std::string>{
                               "pre [--silent] [true]",
                               "launchctl [unload] [/L/a.plist]",
                               "launchctl [unload] [/L/b.plist]",
                               "kextunload [" + kextB + "]",
                               "kextunload [" + kextA + "]",
                           }));
  EXPECT_EQ(platform.logLines, (std::vector<std::string>{
                                   "Pre-remove script succeeded: " + script,
                                   "Service Unloaded: /L/a.plist",
                                   "Service Unload FAILED: /L/b.plist",
                                   "Kext Unloaded: " + kextB,
                                   "Kext Unloaded: " + kextA,
                                   "Keeping '/Applications': a directory of the system",
                               }));
  EXPECT_EQ(platform.signals, (std::vector<testing::SignalCall>{{4321, SIGKILL}}));
  EXPECT_FALSE(pathPresent(at("extra")));
  EXPECT_FALSE(pathPresent(at("disk")));
  EXPECT_NE(platform.output.find("Uninstalling:\t[100%] " + at("disk") + "\n"), std::string::npos);
  EXPECT_EQ(platform.programCalls.back(),
            (testing::ProgramCall{platform.locations().pkgutil, {"--forget", "com.q.one"}}));
  EXPECT_EQ(progress.percent, 100);
}

TEST_F(PackageSequenceTest, FailingOrMissingProgramsAreLoggedAndTheRestStillRuns) {
  const std::string script = world.recordingTool(at("scripts/pre"), "pre", "exit 1");
  (void)std::remove(platform.locations().launchctl.c_str());
  world.recordingTool(platform.locations().kextunload, "kextunload", "exit 2");
  world.tmp.writeFile("disk/f", "x");

  plist::Dictionary settings;
  settings.set("preRemoveScript", script);
  settings.set("services", stringArray({"/L/a.plist"}));
  auto item = world.databasePackage("com.q.fail", settings, "disk/f\n", "disk/X.kext\n");

  EXPECT_TRUE(uninstall(*item, /*silent=*/false));
  EXPECT_EQ(world.calls(), (std::vector<std::string>{"pre [--silent] [false]",
                                                     "kextunload [" + at("disk/X.kext") + "]"}));
  EXPECT_EQ(platform.logLines,
            (std::vector<std::string>{
                "Pre-remove script FAILED: " + script,
                "Service Unload FAILED: /L/a.plist"
                " (could not be started: No such file or directory)",
                "Kext Unload FAILED: " + at("disk/X.kext"),
            }));
  EXPECT_FALSE(pathPresent(at("disk/f")));
}

TEST_F(PackageSequenceTest, SettingsOfTheWrongShapeAreSkippedWithALogLine) {
  const std::string prefs = at("prefs.plist");
  // Read from a lenient form; written back it would be XML no strict reader opens.
  plist::Dictionary control;
  control.set("bell", "ring\x07");
  control.set("gone", true);
  const std::string bell = world.tmp.writeFile("bell.plist", plist::toXml(control));
  const auto editing = [](const std::string& file) {
    plist::Dictionary edits;
    edits.set(file, plist::Array{"gone"});
    return plist::Value(edits);
  };
  const struct {
    const char* key;
    plist::Value value;
    std::string logLine;
  } cases[] = {
      {"preRemoveScript", plist::Value::integer(5),
       "Skipping \"preRemoveScript\" of the uninstall plist: not a string"},
      {"services", "/L/a.plist", "Skipping \"services\" of the uninstall plist: not an array"},
      {"additionalfiles", plist::Array{plist::Value::integer(7)},
       "Skipping an entry of \"additionalfiles\" of the uninstall plist: not a string"},
      {"plistremove", plist::Array{},
       "Skipping \"plistremove\" of the uninstall plist: not a dictionary"},
      {"plistremove", [&] {
         plist::Dictionary edits;
         edits.set(prefs, "key");
         return plist::Value(edits);
       }(),
       "Skipping \"plistremove\" for '" + prefs + "' of the uninstall plist: not an array"},
      {"preRemoveScript", "scripts/pre",
       "Skipping \"preRemoveScript\" of the uninstall plist: a relative path: 'scripts/pre'"},
      {"plistremove", editing("prefs.plist"),
       "Skipping \"plistremove\" for 'prefs.plist' of the uninstall plist: a relative path"},
      {"plistremove", editing(bell),
       "Property list left unchanged: write " + bell + ": a value the XML form cannot hold"},
      // Logged as a failed start, yet never started: the missing folder could
      // appear, a user's, before a start.
      {"preRemoveScript", at("absent/pre"),
       "Pre-remove script FAILED: " + at("absent/pre") +
           " (could not be started: No such file or directory)"},
  };
  for (const auto& c : cases) {
    platform.logLines.clear();
    plist::Dictionary settings;
    settings.set(c.key, c.value);
    EXPECT_TRUE(uninstall(*world.databasePackage("com.q.shape", settings)));
    EXPECT_EQ(platform.logLines, std::vector<std::string>{c.logLine}) << c.key;
    for (const testing::ProgramCall& call : platform.programCalls) {
      EXPECT_EQ(call.program, platform.locations().pkgutil) << c.logLine;
    }
  }
}

TEST_F(PackageSequenceTest, PlistRemoveDeletesKeyPathsAndKeepsEverythingElse) {
  plist::Dictionary inner;
  inner.set("b", plist::Value::integer(1));
  inner.set("c", "x");
  plist::Dictionary prefs;
  prefs.set("a", inner);
  prefs.set("when", plist::Date{1000});
  prefs.set("blob", plist::Data{std::string("\0\1", 2)});
  prefs.set("ratio", 1.5);
  prefs.set("flag", true);
  const std::string edited = world.tmp.writeFile("edited.plist", plist::toXml(prefs));
  const std::string untouched = world.tmp.writeFile("untouched.plist", plist::toXml(prefs));
  struct stat before {};
  ::stat(untouched.c_str(), &before);

  plist::Dictionary edits;
  edits.set(edited, stringArray({"a:b", "missing:x", "ratio:deeper"}));
  edits.set(untouched, stringArray({"absent"}));
  edits.set(at("none.plist"), stringArray({"a"}));
  plist::Dictionary settings;
  settings.set("plistremove", edits);
  EXPECT_TRUE(uninstall(*world.databasePackage("com.q.plist", settings)));

  plist::Dictionary expected = prefs;
  expected.find("a")->dictionary()->erase("b");
  EXPECT_EQ(plist::readFile(edited), std::optional<plist::Value>(expected));
  EXPECT_EQ(plist::readFile(untouched), std::optional<plist::Value>(prefs));
  struct stat after {};
  ::stat(untouched.c_str(), &after);
  EXPECT_NE(before.st_ino, after.st_ino) << "a file with no key to remove is still rewritten";
  EXPECT_FALSE(pathPresent(at("none.plist")));
  EXPECT_TRUE(platform.logLines.empty());
}

TEST_F(PackageSequenceTest, ReceiptPackageLosesItsReceiptAfterItsFiles) {
  world.recordingTool(platform.locations().lsbom, "lsbom",
                      "case \"$1\" in -fls) echo ./disk/f ;; *) exit 1 ;; esac");
  world.tmp.writeFile("disk/f", "x");
  plist::Dictionary info;
  info.set("CFBundleIdentifier", "com.q.receipt");
  info.set("IFPkgFlagDefaultLocation", world.tmp.path() + "/");
  world.tmp.writeFile("Library/Receipts/R.pkg/Contents/Info.plist", plist::toXml(info));
  plist::Dictionary settings;
  settings.set("pkgid", "com.q.receipt");
  const std::string description =
      world.tmp.writeFile("descriptions/com.q.receipt.plist", plist::toXml(settings));
  ReceiptCache receipts(platform);
  auto item = ReceiptItem::receiptWithPath(platform, receipts, description);
  ASSERT_TRUE(item);

  EXPECT_TRUE(uninstall(*item));
  EXPECT_EQ(platform.removedPaths,
            (std::vector<std::string>{at("./disk/f"), at("Library/Receipts/R.pkg")}));
  EXPECT_FALSE(pathPresent(at("Library/Receipts/R.pkg")));
  for (const testing::ProgramCall& call : platform.programCalls) {
    EXPECT_NE(call.program, platform.locations().pkgutil);
  }
}

}  // namespace
}  // namespace qu
