#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "system/dry_run_platform.h"
#include "uninstaller/engine_test_world.h"
#include "uninstaller/gallery_sequence.h"
#include "uninstaller/package_sequence.h"

namespace qu {
namespace {

using testing::pathPresent;
using testing::readWholeFile;
using testing::stringArray;

// The "Would <verb>: <rest>" lines of an output, by verb, in order. Any other
// line is collected under "".
std::map<std::string, std::vector<std::string>> shownEffects(const std::string& output) {
  std::map<std::string, std::vector<std::string>> effects;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(": ");
    if (line.starts_with("Would ") && colon != std::string::npos) {
      effects[line.substr(6, colon - 6)].push_back(line.substr(colon + 2));
    } else {
      effects[""].push_back(line);
    }
  }
  return effects;
}

struct DryRunEngineTest : ::testing::Test {
  testing::EngineWorld world;
  testing::RecordingPlatform& platform = world.platform;
  DryRunPlatform dryRun{platform};

  std::string at(const std::string& relative) const { return world.tmp.at(relative); }
};

// One package with every kind of effect, shown by a dry run and then removed
// for real in the same world: the dry run changes nothing, and the real run
// does exactly what it showed.
TEST_F(DryRunEngineTest, ShowsExactlyWhatTheRealRemovalDoes) {
  const std::string script = world.recordingTool(at("scripts/pre"), "pre");
  const std::string app = at("disk/X.app");
  world.tmp.writeFile("disk/X.app/Contents/MacOS/X", "x");
  world.tmp.writeFile("disk/bin/helperd", "x");
  world.tmp.writeFile("disk/keep/f", "x");
  world.tmp.writeFile("disk/keep/notes.txt", "the user's");  // not the package's
  world.tmp.makeDirectory("disk/a/b/c");
  world.tmp.writeFile("disk/ds/.DS_Store", "x");
  world.tmp.makeDirectory("disk/Q.kext");
  world.tmp.writeFile("extra/cache", "x");
  world.tmp.writeFile("ps-output", "  501 " + app + "/Contents/MacOS/X\n  4321 " +
                                       at("disk/bin/helperd") + "\n");
  platform.applications = {{app, "X", 0, 501}};
  plist::Dictionary preferences;
  preferences.set("k", "v");
  const std::string prefs = world.tmp.writeFile("prefs.plist", plist::toXml(preferences));

  plist::Dictionary settings;
  settings.set("preRemoveScript", script);
  settings.set("services", stringArray({"/L/My Job.plist"}));
  settings.set("additionalfiles", stringArray({at("extra")}));
  plist::Dictionary edits;
  edits.set(prefs, stringArray({"k"}));
  settings.set("plistremove", edits);
  auto item = world.databasePackage(
      "com.q.all", settings, "disk/X.app/Contents/MacOS/X\ndisk/bin/helperd\ndisk/keep/f\n",
      "disk\ndisk/X.app\ndisk/X.app/Contents\ndisk/X.app/Contents/MacOS\ndisk/bin\n"
      "disk/keep\ndisk/a\ndisk/a/b\ndisk/a/b/c\ndisk/ds\ndisk/Q.kext\n");
  ASSERT_TRUE(item);

  testing::TestRun dry(dryRun, 2);
  EXPECT_TRUE(uninstallPackage(dry.context, *item));
  EXPECT_EQ(dry.progress.percent, 50);

  const auto shown = shownEffects(platform.output);
  const std::string& launchctl = platform.locations().launchctl;
  const std::string& kextunload = platform.locations().kextunload;
  const std::string& pkgutil = platform.locations().pkgutil;
  EXPECT_EQ(shown.at("run"), (std::vector<std::string>{
                                 script + " --silent true",
                                 launchctl + " unload \"/L/My Job.plist\"",
                                 kextunload + " " + at("disk/Q.kext"),
                                 pkgutil + " --forget com.q.all",
                             }));
  EXPECT_EQ(shown.at("quit"), std::vector<std::string>{"X " + app + " 501"});
  EXPECT_EQ(shown.at("kill"), std::vector<std::string>{"4321 " + at("disk/bin/helperd")});
  // Files first; then the directories longest first, each judged after the
  // deletions before it: emptied, nested empty and ".DS_Store"-only ones go.
  EXPECT_EQ(shown.at("delete"), (std::vector<std::string>{
                                    at("extra"),
                                    at("disk/X.app/Contents/MacOS/X"),
                                    at("disk/bin/helperd"),
                                    at("disk/keep/f"),
                                    at("disk/X.app/Contents/MacOS"),
                                    at("disk/X.app/Contents"),
                                    at("disk/Q.kext"),
                                    at("disk/X.app"),
                                    at("disk/a/b/c"),
                                    at("disk/bin"),
                                    at("disk/a/b"),
                                    at("disk/ds"),
                                    at("disk/a"),
                                }));
  EXPECT_EQ(shown.at("keep"), (std::vector<std::string>{at("disk/keep"), at("disk")}));
  EXPECT_EQ(shown.at("remove key"), std::vector<std::string>{"k from " + prefs});
  EXPECT_EQ(shown.count(""), 0u) << "progress lines are dropped";
  // Programs that did not run have no outcome to log.
  // The quit request is shown, not claimed in the log.
  EXPECT_EQ(platform.logLines, std::vector<std::string>{});

  EXPECT_TRUE(world.calls().empty());
  EXPECT_TRUE(platform.programCalls.empty());
  EXPECT_TRUE(platform.signals.empty());
  EXPECT_TRUE(platform.quitRequests.empty());
  EXPECT_TRUE(pathPresent(at("disk/a/b/c")));
  EXPECT_TRUE(pathPresent(at("extra/cache")));
  EXPECT_NE(readWholeFile(prefs).find("<key>k</key>"), std::string::npos);

  // The real removal in the same, untouched world.
  platform.output.clear();
  platform.logLines.clear();
  testing::TestRun real(platform, 2);
  EXPECT_TRUE(uninstallPackage(real.context, *item));

  std::vector<std::string> ran;
  for (const testing::ProgramCall& call : platform.programCalls) {
    ran.push_back(quoteCommandLine(call.program, call.arguments));
  }
  EXPECT_EQ(ran, shown.at("run"));
  EXPECT_EQ(platform.removedPaths, shown.at("delete"));
  std::vector<std::string> kept;
  for (const auto& path : platform.keptPaths) kept.push_back(path.path);
  EXPECT_EQ(kept, shown.at("keep"));
  EXPECT_EQ(platform.signals, (std::vector<testing::SignalCall>{{4321, SIGKILL}}));
  ASSERT_EQ(platform.quitRequests.size(), 1u);
  EXPECT_EQ(platform.quitRequests[0].serialLow, 501u);
  EXPECT_TRUE(pathPresent(at("disk/keep/notes.txt")));
  EXPECT_FALSE(pathPresent(at("disk/a")));
  EXPECT_FALSE(pathPresent(at("disk/ds")));
  EXPECT_EQ(readWholeFile(prefs).find("<key>k</key>"), std::string::npos);
}

TEST_F(DryRunEngineTest, GalleryToolIsShownNotStarted) {
  const std::string tool = world.recordingTool(at("Library/Application Support/Quorvane Technologies/Gallery Setup"), "setup",
                                               "echo 'Uninstalling: [50%] half'");
  testing::TestRun run(dryRun, 2);
  EXPECT_TRUE(uninstallGallery(run.context, tool, "GUID-1"));
  EXPECT_EQ(platform.output, "Would run: \"" + tool +
                                 "\" --verbose --uninstall --keepconfigs --guid GUID-1\n");
  EXPECT_EQ(run.progress.percent, 50);
  EXPECT_TRUE(world.calls().empty());

  // A missing tool fails the dry run as it would fail the real one.
  platform.output.clear();
  EXPECT_FALSE(uninstallGallery(run.context, at("missing"), "GUID-2"));
  EXPECT_EQ(platform.output, "");
  EXPECT_EQ(platform.logLines.back(), "Cannot find Gallery Setup executable at: '" +
                                          at("missing") + "'");
}

}  // namespace
}  // namespace qu
