// Whole runs of the tool over a small installed world, with one fault made
// to happen at a time: the run must go on, leave exactly the affected paths
// behind and log exactly what the fault deserves.

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "cli/run.h"
#include "cli/subsystems.h"
#include "extensions/plist.h"
#include "extensions/plist_io.h"
#include "manifests/receipt_cache.h"
#include "test_support/fault_injecting_platform.h"
#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

namespace fs = std::filesystem;
using testing::Call;
using testing::Fault;
using testing::readWholeFile;

const std::string kDescriptions = "Library/Application Support/Quorvane Technologies/Uninstall/";
const std::string kPreRemove = "scripts/editor-preremove";
const std::string kSharedPrefs = "prefs/shared.plist";
const std::string kEditorPrefs = "prefs/editor.plist";

// Writes `budget` bytes, then reports a full disk once; later writes go through.
WriteCall diskFullOnceAfter(std::size_t budget) {
  return [budget, failed = false](int fd, const void* data, std::size_t size) mutable -> ssize_t {
    if (failed) return ::write(fd, data, size);
    if (budget == 0) {
      failed = true;
      errno = ENOSPC;
      return -1;
    }
    const std::size_t now = std::min(size, budget);
    budget -= now;
    return ::write(fd, data, now);
  };
}

plist::Value strings(std::initializer_list<std::string> values) {
  plist::Array array;
  for (const std::string& value : values) array.emplace_back(value);
  return plist::Value(std::move(array));
}

// Three installed packages below a temporary root, with stand-ins for the
// system tools:
// - "Editor" (com.quorvane.editor), known to the package database: an
//   application, two data files, a pre-remove script and two property lists
//   to edit; a directory it shares with a file of the user's stays.
// - "Fonts" and "Sounds", each recorded by a receipt bundle.
// The database answers from "pkgdb/<id>.{plist,files,dirs}", lsbom from the
// "f "/"d " lines of the bill of materials, ps from "ps-output".
struct FaultWorld {
  testing::TempDir tmp;
  // What property-list rewrites write with; a test may replace it.
  WriteCall propertyListWrite = [](int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
  };
  // Runs in the directory pass just before a directory goes; a test may set it.
  std::function<void(const std::string&)> beforeDirectoryRemoval = [](const std::string&) {};
  testing::RecordingPlatform recorder{
      testing::locationsUnder(tmp.path()),
      RealPlatformOptions{[this](int fd, const void* data, std::size_t size) {
                            return propertyListWrite(fd, data, size);
                          },
                          RemovalHooks{[this](const std::string& path) {
                            beforeDirectoryRemoval(path);
                          }}}};
  testing::FaultInjectingPlatform faults{recorder};
  ReceiptCache receipts{faults};
  std::string sharedPrefsBefore;

  FaultWorld() {
    tmp.writeScript("usr/sbin/pkgutil",
                    "db='" + tmp.at("pkgdb") + "'\n"
                    "case \"$1\" in\n"
                    "  --pkg-info-plist) f=\"$db/$2.plist\" ;;\n"
                    "  --only-dirs) f=\"$db/$3.dirs\" ;;\n"
                    "  --files) f=\"$db/$2.files\"; [ -f \"$db/$2.dirs\" ] && cat \"$db/$2.dirs\" ;;\n"
                    "  --forget) exit 0 ;;\n"
                    "  *) f=\"$db/$3.files\" ;;\n"
                    "esac\n"
                    "[ -f \"$f\" ] && cat \"$f\"");
    tmp.writeScript("usr/bin/lsbom",
                    "[ -f \"$2\" ] || exit 1\n"
                    "case \"$1\" in\n"
                    "  -fls) sed -n 's/^f //p' \"$2\" ;;\n"
                    "  -ds) sed -n 's/^d //p' \"$2\" ;;\n"
                    "  -s) sed -n 's/^[fd] //p' \"$2\" ;;\n"
                    "  *) exit 2 ;;\n"
                    "esac");
    tmp.writeScript("bin/ps", "cat '" + tmp.at("ps-output") + "'");
    tmp.writeScript("bin/launchctl", "exit 0");
    tmp.writeScript("sbin/kextunload", "exit 0");
    tmp.writeScript(kPreRemove, "exit 0");

    editor();
    receiptPackage("Fonts", "com.quorvane.fonts",
                   {"./Library/Fonts/Quorvane/Bold.ttf", "./Library/Fonts/Quorvane/Regular.ttf"},
                   {"./Library/Fonts/Quorvane"});
    receiptPackage("Sounds", "com.quorvane.sounds", {"./Library/Sounds/Quorvane/Chime.aiff"},
                   {"./Library/Sounds/Quorvane"});
    tmp.writeFile("Library/Quorvane/Shared/notes.txt", "the user's");
    // No gallery collections, and no complaint about them.
    tmp.writeFile("Users/Shared/Library/Preferences/com.quorvix.gallery.plist",
                  plist::toXml(plist::Value(plist::Dictionary())));
    tmp.writeFile("ps-output", "    1 /sbin/init\n  777 " + editorExecutable() + "\n");
    recorder.applications = {{tmp.at("Applications/Editor.app"), "Editor", 0, 777}};
    sharedPrefsBefore = readWholeFile(at(kSharedPrefs));
  }

  std::string at(const std::string& relative) const { return tmp.at(relative); }
  std::string editorExecutable() const {
    return at("Applications/Editor.app/Contents/MacOS/Editor");
  }
  std::string descriptionsPath(const std::string& name) const { return at(kDescriptions + name); }

  int run() {
    return runUninstaller(faults, productionSubsystems(faults, receipts),
                          {"quorvane-uninstall", "--all"});
  }

  // Every path below the root, relative to it.
  std::set<std::string> tree() const {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(tmp.path())) {
      paths.insert(fs::relative(entry.path(), tmp.path()).string());
    }
    return paths;
  }

 private:
  void editor() {
    const std::vector<std::string> files = {
        "Applications/Editor.app/Contents/Info.plist",
        "Applications/Editor.app/Contents/MacOS/Editor",
        "Library/Quorvane/Editor/a.dat",
        "Library/Quorvane/Editor/b.dat",
        "Library/Quorvane/Shared/settings.dat",
    };
    const std::vector<std::string> directories = {
        "Applications/Editor.app",
        "Applications/Editor.app/Contents",
        "Applications/Editor.app/Contents/MacOS",
        "Library/Quorvane/Editor",
        "Library/Quorvane/Shared",
    };
    std::string fileList;
    for (const std::string& file : files) {
      tmp.writeFile(file, "installed");
      fileList += file + "\n";
    }
    std::string directoryList;
    for (const std::string& directory : directories) directoryList += directory + "\n";

    plist::Dictionary info;
    info.set("volume", tmp.path());
    info.set("install-location", "/");
    tmp.writeFile("pkgdb/com.quorvane.editor.plist", plist::toXml(plist::Value(info)));
    tmp.writeFile("pkgdb/com.quorvane.editor.files", fileList);
    tmp.writeFile("pkgdb/com.quorvane.editor.dirs", directoryList);

    plist::Dictionary window;
    window.set("Window", "large");
    window.set("Keep", true);
    plist::Dictionary shared;
    shared.set("Editor", std::move(window));
    shared.set("Recent", strings({"a.txt"}));
    shared.set("Other", "kept");
    tmp.writeFile(kSharedPrefs, plist::toXml(plist::Value(std::move(shared))));
    plist::Dictionary own;
    own.set("Recent", strings({"b.txt"}));
    own.set("Theme", "dark");
    tmp.writeFile(kEditorPrefs, plist::toXml(plist::Value(std::move(own))));

    plist::Dictionary edits;
    edits.set(at(kSharedPrefs), strings({"Editor:Window", "Recent"}));
    edits.set(at(kEditorPrefs), strings({"Recent"}));
    plist::Dictionary settings;
    settings.set("pkgid", "com.quorvane.editor");
    settings.set("displayName", "Editor");
    settings.set("visible", true);
    settings.set("preRemoveScript", at(kPreRemove));
    settings.set("plistremove", std::move(edits));
    tmp.writeFile(kDescriptions + "com.quorvane.editor.plist",
                  plist::toXml(plist::Value(std::move(settings))));
  }

  void receiptPackage(const std::string& name, const std::string& id,
                      const std::vector<std::string>& files,
                      const std::vector<std::string>& directories) {
    std::string bom;
    for (const std::string& file : files) {
      tmp.writeFile(file.substr(2), "installed");
      bom += "f " + file + "\n";
    }
    for (const std::string& directory : directories) bom += "d " + directory + "\n";
    const std::string bundle = "Library/Receipts/" + name + ".pkg/Contents/";
    plist::Dictionary info;
    info.set("CFBundleIdentifier", id);
    info.set("IFPkgFlagDefaultLocation", tmp.path() + "/");
    tmp.writeFile(bundle + "Info.plist", plist::toXml(plist::Value(std::move(info))));
    tmp.writeFile(bundle + "Archive.bom", bom);

    plist::Dictionary settings;
    settings.set("pkgid", id);
    settings.set("displayName", name);
    settings.set("visible", true);
    tmp.writeFile(kDescriptions + id + ".plist", plist::toXml(plist::Value(std::move(settings))));
  }
};

// What a fault-free run leaves: the paths of the world that no package owns.
const std::set<std::string>& cleanRunSurvivors() {
  static const std::set<std::string> survivors = [] {
    FaultWorld world;
    EXPECT_EQ(world.run(), kExitSuccess);
    return world.tree();
  }();
  return survivors;
}

struct FaultCase {
  const char* name;
  // Injects the fault, or changes the world so that it happens.
  std::function<void(FaultWorld&)> arrange;
  // The log lines the run must write.
  std::function<std::vector<std::string>(const FaultWorld&)> log;
  // Paths, relative to the root, that stay beyond those a clean run leaves.
  std::set<std::string> alsoLeft;
  // Paths that a clean run leaves but this one must not.
  std::set<std::string> alsoGone = {};
  // Further checks of the world after the run.
  std::function<void(const FaultWorld&)> verify = [](const FaultWorld&) {};
  // A package whose paths are not all gone, or not all known, fails the run.
  int exitStatus = kExitSuccess;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FaultTable : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTable, TheRunGoesOnAndLosesNothingElse) {
  const FaultCase& c = GetParam();
  const std::set<std::string>& clean = cleanRunSurvivors();
  FaultWorld world;
  c.arrange(world);

  EXPECT_EQ(world.run(), c.exitStatus);

  EXPECT_EQ(world.recorder.logLines, c.log(world));
  std::set<std::string> expected = clean;
  expected.insert(c.alsoLeft.begin(), c.alsoLeft.end());
  for (const std::string& gone : c.alsoGone) expected.erase(gone);
  EXPECT_EQ(world.tree(), expected);
  c.verify(world);
}

// The whole of the Editor's installation, as a clean run removes it.
const std::set<std::string> kEditorInstalled = {
    "Applications/Editor.app",
    "Applications/Editor.app/Contents",
    "Applications/Editor.app/Contents/Info.plist",
    "Applications/Editor.app/Contents/MacOS",
    "Applications/Editor.app/Contents/MacOS/Editor",
    "Library/Quorvane/Editor",
    "Library/Quorvane/Editor/a.dat",
    "Library/Quorvane/Editor/b.dat",
    "Library/Quorvane/Shared/settings.dat",
};

// The files the receipts list, which stay when their lists cannot be read.
const std::set<std::string> kReceiptFiles = {
    "Library/Fonts/Quorvane",
    "Library/Fonts/Quorvane/Bold.ttf",
    "Library/Fonts/Quorvane/Regular.ttf",
    "Library/Sounds/Quorvane",
    "Library/Sounds/Quorvane/Chime.aiff",
};

std::string couldNotStart(const FaultWorld& world, const std::string& tool) {
  return "Could not run " + world.at(tool) + ": could not be started: No such file or directory";
}

std::string preRemoveSucceeded(const FaultWorld& world) {
  return "Pre-remove script succeeded: " + world.at(kPreRemove);
}

// The log of a run without faults: the Editor's script ran and its running
// application was asked to quit.
std::vector<std::string> cleanRunLog(const FaultWorld& world) {
  return {preRemoveSucceeded(world), "Killing: Editor"};
}

// A package left in place, and the line that says why.
std::vector<std::string> withFailure(std::vector<std::string> lines, const std::string& cause,
                                     const std::string& package, const std::string& why) {
  if (!cause.empty()) lines.push_back(cause);
  lines.push_back("Package FAILED: " + package + " (" + why + "; its record is kept)");
  return lines;
}

bool forgotten(const FaultWorld& world, const std::string& package) {
  return std::count(world.recorder.programCalls.begin(), world.recorder.programCalls.end(),
                    testing::ProgramCall{world.recorder.locations().pkgutil,
                                         {"--forget", package}}) > 0;
}

// A receipt bundle with everything in it.
std::set<std::string> receiptBundle(const std::string& name) {
  const std::string bundle = "Library/Receipts/" + name + ".pkg";
  return {bundle, bundle + "/Contents", bundle + "/Contents/Info.plist",
          bundle + "/Contents/Archive.bom"};
}

std::set<std::string> unite(std::set<std::string> a, const std::set<std::string>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

// Only queries: the forget request shares our own standard error.
const std::string kMegabyteToStandardError =
    "[ \"$1\" = --forget ] || head -c 1048576 /dev/zero | tr '\\0' e >&2\n";

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTable,
    ::testing::Values(
        // A path the system refuses to delete fails its package, which the
        // package database does not forget.
        FaultCase{"DeletionRefusedWithEperm",
                  [](FaultWorld& w) {
                    w.faults.inject(Call::removePath, w.at("Library/Quorvane/Editor/a.dat"),
                                    Fault::error(EPERM));
                  },
                  [](const FaultWorld& w) {
                    return withFailure(cleanRunLog(w),
                                       "Could not delete '" + w.at("Library/Quorvane/Editor/a.dat") +
                                           "': Operation not permitted",
                                       "com.quorvane.editor", "1 path could not be removed");
                  },
                  {"Library/Quorvane/Editor", "Library/Quorvane/Editor/a.dat"},
                  {},
                  [](const FaultWorld& w) { EXPECT_FALSE(forgotten(w, "com.quorvane.editor")); },
                  kExitUninstallFailed},
        FaultCase{"BusyDirectoryWithEbusy",
                  [](FaultWorld& w) {
                    w.faults.inject(Call::removePath,
                                    w.at("Applications/Editor.app/Contents/MacOS"),
                                    Fault::error(EBUSY));
                  },
                  [](const FaultWorld& w) {
                    return withFailure(
                        cleanRunLog(w),
                        "Could not delete '" + w.at("Applications/Editor.app/Contents/MacOS") +
                            "': Device or resource busy",
                        "com.quorvane.editor", "1 path could not be removed");
                  },
                  {"Applications/Editor.app", "Applications/Editor.app/Contents",
                   "Applications/Editor.app/Contents/MacOS"},
                  {},
                  [](const FaultWorld&) {},
                  kExitUninstallFailed},
        FaultCase{"ReceiptBundleRefusedWithEperm",
                  [](FaultWorld& w) {
                    w.faults.inject(Call::removePath, w.at("Library/Receipts/Fonts.pkg"),
                                    Fault::error(EPERM));
                  },
                  [](const FaultWorld& w) {
                    return withFailure(cleanRunLog(w),
                                       "Could not delete '" + w.at("Library/Receipts/Fonts.pkg") +
                                           "': Operation not permitted",
                                       "com.quorvane.fonts", "1 path could not be removed");
                  },
                  receiptBundle("Fonts"),
                  {},
                  [](const FaultWorld&) {},
                  kExitUninstallFailed},
        FaultCase{"DiskFullWhileRewritingAPropertyList",
                  [](FaultWorld& w) { w.propertyListWrite = diskFullOnceAfter(40); },
                  [](const FaultWorld& w) {
                    // The temporary file's name is random: the line is matched around it.
                    std::vector<std::string> log = cleanRunLog(w);
                    const std::string start = "Could not edit '" + w.at(kSharedPrefs) +
                                              "': write " + w.at(kSharedPrefs) + " (temporary .";
                    const std::string written =
                        w.recorder.logLines.empty() ? "" : w.recorder.logLines.back();
                    const bool matches = written.starts_with(start) &&
                                         written.ends_with("): No space left on device");
                    log.push_back(matches ? written : start + "...): No space left on device");
                    return log;
                  },
                  {},
                  {},
                  [](const FaultWorld& w) {
                    // The first file stays as it was; the second is still edited.
                    EXPECT_EQ(readWholeFile(w.at(kSharedPrefs)), w.sharedPrefsBefore);
                    auto edited = plist::readFile(w.at(kEditorPrefs));
                    ASSERT_TRUE(edited && edited->dictionary());
                    EXPECT_EQ(edited->dictionary()->find("Recent"), nullptr);
                    EXPECT_NE(edited->dictionary()->find("Theme"), nullptr);
                  }},
        FaultCase{"DatabaseToolCannotStart",
                  [](FaultWorld& w) {
                    w.faults.inject(Call::captureOutput, w.recorder.locations().pkgutil,
                                    Fault::error(ENOENT));
                  },
                  [](const FaultWorld& w) {
                    // The Editor cannot even be loaded, so nothing of it runs.
                    return std::vector<std::string>{
                        couldNotStart(w, "usr/sbin/pkgutil"),
                        "Error loading plist: 'com.quorvane.editor.plist'"};
                  },
                  kEditorInstalled,
                  {},
                  [](const FaultWorld& w) {
                    EXPECT_EQ(readWholeFile(w.at(kSharedPrefs)), w.sharedPrefsBefore);
                  }},
        FaultCase{"BillOfMaterialsToolCannotStart",
                  [](FaultWorld& w) {
                    w.faults.inject(Call::captureOutput, w.recorder.locations().lsbom,
                                    Fault::error(ENOENT));
                  },
                  [](const FaultWorld& w) {
                    std::vector<std::string> lines = cleanRunLog(w);
                    // A list that was not produced is asked for again: both lists of
                    // each receipt, each once for the processes or extensions and
                    // once for the removal. Neither package is known, so both stay.
                    const char* why = "a list of its files could not be read";
                    lines.insert(lines.end(), 4, couldNotStart(w, "usr/bin/lsbom"));
                    lines = withFailure(lines, "", "com.quorvane.fonts", why);
                    lines.insert(lines.end(), 4, couldNotStart(w, "usr/bin/lsbom"));
                    return withFailure(lines, "", "com.quorvane.sounds", why);
                  },
                  unite(unite(receiptBundle("Fonts"), receiptBundle("Sounds")), kReceiptFiles),
                  {},
                  [](const FaultWorld&) {},
                  kExitUninstallFailed},
        FaultCase{"ProcessListingCannotStart",
                  [](FaultWorld& w) {
                    w.faults.inject(Call::captureOutput, w.recorder.locations().ps,
                                    Fault::error(ENOENT));
                  },
                  [](const FaultWorld& w) {
                    const std::string line = couldNotStart(w, "bin/ps");
                    return std::vector<std::string>{preRemoveSucceeded(w), line, line, line};
                  },
                  {}},
        FaultCase{"PreRemoveScriptMissing",
                  [](FaultWorld& w) { fs::remove(w.at(kPreRemove)); },
                  [](const FaultWorld& w) {
                    return std::vector<std::string>{
                        "Pre-remove script FAILED: " + w.at(kPreRemove) +
                            " (could not be started: No such file or directory)",
                        "Killing: Editor"};
                  },
                  {},
                  {kPreRemove}},
        FaultCase{"PreRemoveScriptKilledBySignal",
                  [](FaultWorld& w) { w.tmp.writeScript(kPreRemove, "kill -9 $$"); },
                  [](const FaultWorld& w) {
                    return std::vector<std::string>{
                        "Pre-remove script FAILED: " + w.at(kPreRemove), "Killing: Editor"};
                  },
                  {}},
        FaultCase{"QueriedToolsKilledBySignal",
                  [](FaultWorld& w) {
                    // Only the manifests use these, after the catalogue is loaded.
                    w.tmp.writeScript("bin/ps", "kill -9 $$");
                    w.tmp.writeScript("usr/bin/lsbom", "kill -9 $$");
                  },
                  [](const FaultWorld& w) {
                    const char* why = "a list of its files could not be read";
                    return withFailure(withFailure({preRemoveSucceeded(w)}, "",
                                                   "com.quorvane.fonts", why),
                                       "", "com.quorvane.sounds", why);
                  },
                  unite(unite(receiptBundle("Fonts"), receiptBundle("Sounds")), kReceiptFiles),
                  {},
                  [](const FaultWorld&) {},
                  kExitUninstallFailed},
        FaultCase{"QueriedToolsWriteAMegabyteToStandardError",
                  [](FaultWorld& w) {
                    for (const char* tool : {"usr/sbin/pkgutil", "usr/bin/lsbom", "bin/ps"}) {
                      const std::string script = readWholeFile(w.at(tool));
                      w.tmp.writeScript(tool, kMegabyteToStandardError +
                                                  script.substr(script.find('\n') + 1));
                    }
                  },
                  cleanRunLog,
                  {}},
        // Between the directory pass's look into a directory and its removal,
        // a parent is swapped for a link to another program's tree.
        FaultCase{"ParentSwappedForALinkMidRemoval",
                  [](FaultWorld& w) {
                    w.tmp.writeFile("Applications/Editor.app/Contents/MacOS/.DS_Store", "x");
                    w.tmp.writeFile("Applications/Other.app/Contents/MacOS/Other", "x");
                    w.tmp.writeFile("Applications/Other.app/Contents/MacOS/.DS_Store", "x");
                    const std::string macos = w.at("Applications/Editor.app/Contents/MacOS");
                    w.beforeDirectoryRemoval = [&w, macos](const std::string& path) {
                      if (path != macos) return;
                      fs::rename(w.at("Applications/Editor.app/Contents"),
                                 w.at("Applications/Editor.app/Contents.moved"));
                      fs::create_directory_symlink(w.at("Applications/Other.app/Contents"),
                                                   w.at("Applications/Editor.app/Contents"));
                    };
                  },
                  cleanRunLog,
                  {"Applications/Editor.app", "Applications/Editor.app/Contents.moved",
                   "Applications/Other.app", "Applications/Other.app/Contents",
                   "Applications/Other.app/Contents/MacOS",
                   "Applications/Other.app/Contents/MacOS/Other",
                   "Applications/Other.app/Contents/MacOS/.DS_Store"}},
        FaultCase{"ApplicationListUnavailable",
                  [](FaultWorld& w) {
                    w.faults.inject(Call::launchedApplications, std::nullopt,
                                    Fault::error(EACCES));
                  },
                  [](const FaultWorld& w) {
                    return std::vector<std::string>{preRemoveSucceeded(w)};
                  },
                  {},
                  {},
                  [](const FaultWorld& w) {
                    // Without the application list, the program is signalled instead.
                    EXPECT_THAT(w.recorder.quitRequests, ::testing::IsEmpty());
                    EXPECT_EQ(w.recorder.signals,
                              (std::vector<testing::SignalCall>{{777, SIGKILL}}));
                  }},
        // A signal the system refuses: one log line, and the package is still gone.
        FaultCase{"SignalRefused",
                  [](FaultWorld& w) {
                    w.faults.inject(Call::launchedApplications, std::nullopt,
                                    Fault::error(EACCES));
                    w.faults.inject(Call::signalProcessGroup, "777", Fault::error(EPERM));
                  },
                  [](const FaultWorld& w) {
                    return std::vector<std::string>{
                        preRemoveSucceeded(w),
                        "Could not kill process group 777: injected: signal group 777: "
                        "Operation not permitted"};
                  },
                  {}},
        FaultCase{"ReceiptsDirectoryCannotBeListed",
                  [](FaultWorld& w) {
                    w.faults.inject(Call::listDirectory, w.recorder.locations().receipts,
                                    Fault::error(EACCES));
                  },
                  [](const FaultWorld& w) {
                    return std::vector<std::string>{
                        "Error loading plist: 'com.quorvane.fonts.plist'",
                        "Error loading plist: 'com.quorvane.sounds.plist'",
                        preRemoveSucceeded(w), "Killing: Editor"};
                  },
                  // Neither receipt package is loaded, so nothing of them goes.
                  unite(unite(receiptBundle("Fonts"), receiptBundle("Sounds")), kReceiptFiles),
                  {},
                  [](const FaultWorld& w) {
                    EXPECT_EQ(w.faults.callCount(Call::listDirectory,
                                                 w.recorder.locations().receipts),
                              1);
                  }}));

TEST(FaultFreeRunTest, RemovesEveryPackageAndEditsThePropertyLists) {
  FaultWorld world;

  EXPECT_EQ(world.run(), kExitSuccess);

  EXPECT_EQ(world.recorder.logLines, cleanRunLog(world));
  const std::set<std::string> tree = world.tree();
  for (const std::string& path : kEditorInstalled) EXPECT_FALSE(tree.contains(path)) << path;
  for (const std::string& path : kReceiptFiles) EXPECT_FALSE(tree.contains(path)) << path;
  EXPECT_FALSE(tree.contains("Library/Receipts/Fonts.pkg"));
  EXPECT_TRUE(tree.contains("Library/Quorvane/Shared/notes.txt"));
  auto shared = plist::readFile(world.at(kSharedPrefs));
  ASSERT_TRUE(shared && shared->dictionary());
  EXPECT_EQ(shared->dictionary()->find("Recent"), nullptr);
  EXPECT_NE(shared->dictionary()->find("Other"), nullptr);
  EXPECT_EQ(world.recorder.quitRequests.size(), 1u);
  EXPECT_THAT(world.recorder.signals, ::testing::IsEmpty());
}

}  // namespace
}  // namespace qu
