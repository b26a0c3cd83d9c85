#include "system/dry_run_platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

using testing::pathPresent;
using testing::readWholeFile;

const char kPreferences[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<plist version=\"1.0\"><dict><key>a</key><dict><key>b</key><string>x</string></dict>"
    "</dict></plist>\n";

struct DryRunTest : ::testing::Test {
  testing::TempDir tmp;
  testing::RecordingPlatform real{testing::locationsUnder(tmp.path())};
  DryRunPlatform dryRun{real};
};

TEST(QuoteArgument, QuotesOnlyWhatWouldBeAmbiguous) {
  const struct {
    const char* argument;
    const char* shown;
  } cases[] = {
      {"--forget", "--forget"},
      {"/Library/Quorvane/a.plist", "/Library/Quorvane/a.plist"},
      {"", "\"\""},
      {"/Applications/Quorvane Viewer.app", "\"/Applications/Quorvane Viewer.app\""},
      {"tab\there", "\"tab\there\""},
      {"line\nbreak", "\"line\nbreak\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"it's", "it's"},
  };
  for (const auto& c : cases) EXPECT_EQ(quoteArgument(c.argument), c.shown) << c.argument;
  EXPECT_EQ(quoteCommandLine("/bin/launchctl", {"unload", "/L/My Job.plist", ""}),
            "/bin/launchctl unload \"/L/My Job.plist\" \"\"");
}

// Every effect becomes one "Would" line, in call order; nothing is started,
// deleted, rewritten, signalled or asked to quit.
TEST_F(DryRunTest, ShowsEveryEffectInOrderAndPerformsNone) {
  const std::string tool = tmp.writeScript("bin/tool", "touch '" + tmp.at("ran") + "'");
  const std::string file = tmp.writeFile("data/file", "x");
  const std::string preferences = tmp.writeFile("prefs.plist", kPreferences);

  EXPECT_EQ(dryRun.runAndWait(tool, {"--silent", "true"}), ExitStatus::skipped());
  EXPECT_TRUE(dryRun.startDetached(tool, {"--forget", "com.q.x"}).isOk());
  auto piped = dryRun.startPiped(tool, {"--guid", "A B"});
  ASSERT_TRUE(piped.hasValue());
  EXPECT_EQ(piped.value()->readLine(), std::nullopt);
  EXPECT_EQ(piped.value()->wait(), ExitStatus::skipped());
  dryRun.printProgress("Uninstalling:\t[50%] " + file + "\n");
  EXPECT_TRUE(dryRun.removePath(file, RemovalScope::NonDirectory).removed());
  const auto edited = dryRun.removePropertyListKeys(preferences, {"a:b", "missing"});
  ASSERT_TRUE(edited.hasValue());
  EXPECT_EQ(edited.value(), (std::vector<bool>{true, false}));
  dryRun.keepPath(tmp.at("data"), KeepReason::NotEmpty, "");
  EXPECT_TRUE(dryRun.signalProcessGroup(4321, SIGKILL, "/Library/Q/helperd").isOk());
  EXPECT_EQ(dryRun.sendQuitEvent({"/Applications/Q Viewer.app", "Q Viewer", 0, 777}), 0);
  EXPECT_TRUE(dryRun.becomeRoot().isOk());

  EXPECT_EQ(real.output, "Would run: " + tool + " --silent true\n"
                         "Would run: " + tool + " --forget com.q.x\n"
                         "Would run: " + tool + " --guid \"A B\"\n"
                         "Would delete: " + file + "\n"
                         "Would remove key: a:b from " + preferences + "\n"
                         "Would remove key: missing from " + preferences + "\n"
                         "Would keep: " + tmp.at("data") + "\n"
                         "Would kill: 4321 /Library/Q/helperd\n"
                         "Would quit: \"Q Viewer\" \"/Applications/Q Viewer.app\" 777\n");
  EXPECT_TRUE(real.programCalls.empty());
  EXPECT_TRUE(real.removedPaths.empty());
  EXPECT_TRUE(real.signals.empty());
  EXPECT_TRUE(real.quitRequests.empty());
  EXPECT_TRUE(real.keptPaths.empty());
  EXPECT_FALSE(pathPresent(tmp.at("ran")));
  EXPECT_TRUE(pathPresent(file));
  EXPECT_EQ(readWholeFile(preferences), kPreferences);

  // A process id that no longer runs the program is refused, as the real
  // run refuses it: nothing is shown.
  real.output.clear();
  real.processesStillRun = false;
  EXPECT_EQ(dryRun.signalProcessGroup(4321, SIGKILL, "/Library/Q/helperd").errnum(), ESRCH);
  EXPECT_EQ(dryRun.sendQuitEvent({"/Applications/Q Viewer.app", "Q Viewer", 0, 777}), ESRCH);
  EXPECT_EQ(real.output, "");
  EXPECT_EQ(real.logLines, std::vector<std::string>{
                               "Not killing process group 4321: it no longer runs /Library/Q/helperd"});
}

TEST_F(DryRunTest, QueriesAnswerAsAfterTheDeletions) {
  tmp.writeFile("app/Contents/MacOS/App", "x");
  tmp.writeFile("app/Contents/Info.plist", kPreferences);
  tmp.writeFile("app2/kept", "x");  // shares a prefix with "app", not an ancestor
  tmp.writeFile("other", "x");
  tmp.makeSymlink("link", tmp.at("other"));

  // Spelt as a manifest spells it; the queries below use the plain form.
  ASSERT_TRUE(dryRun.removePath(tmp.path() + "/./app/", RemovalScope::Tree).removed());
  ASSERT_TRUE(dryRun.removePath(tmp.at("link"), RemovalScope::NonDirectory).removed());

  for (const std::string& gone : {tmp.at("app"), tmp.at("app/Contents"),
                                  tmp.at("app/Contents/MacOS/App"), tmp.at("link")}) {
    EXPECT_FALSE(dryRun.exists(gone)) << gone;
    EXPECT_EQ(dryRun.linkMode(gone), std::nullopt) << gone;
    EXPECT_TRUE(pathPresent(gone)) << gone;
  }
  EXPECT_EQ(dryRun.readFile(tmp.at("app/Contents/Info.plist")), std::nullopt);
  EXPECT_EQ(dryRun.trustedByRoot(tmp.at("app/Contents/MacOS/App")).errnum(), ENOENT);
  EXPECT_EQ(dryRun.listDirectory(tmp.at("app/Contents")), std::nullopt);
  EXPECT_EQ(dryRun.listDirectory(tmp.path()),
            (std::vector<std::string>{"app2", "other"}));

  EXPECT_TRUE(dryRun.exists(tmp.at("app2/kept")));
  EXPECT_TRUE(dryRun.exists(tmp.at("other")));  // a link's target stays
  EXPECT_EQ(dryRun.readFile(tmp.at("other")), "x");
  EXPECT_EQ(dryRun.listDirectory(tmp.at("app2")), std::vector<std::string>{"kept"});
}

// Deletions that the real call would refuse or find nothing for are not
// shown, so every "Would delete" line stands for something a real run removes.
TEST_F(DryRunTest, ShowsOnlyDeletionsThatWouldRemoveSomething) {
  tmp.writeFile("dir/file", "x");
  tmp.makeSymlink("dangling", tmp.at("nowhere"));
  tmp.writeFile("finder-only/.DS_Store", "x");
  tmp.writeFile("finder-folder/.DS_Store/inside", "x");
  tmp.writeFile("full/entry", "x");
  ASSERT_TRUE(dryRun.removePath(tmp.at("dir"), RemovalScope::Tree).removed());

  using Outcome = Removal::Outcome;
  const struct {
    std::string path;
    RemovalScope scope;
    Outcome outcome;  // Removed: shown
  } cases[] = {
      {tmp.at("missing"), RemovalScope::Tree, Outcome::Absent},
      {tmp.at("no/such/directory/file"), RemovalScope::NonDirectory, Outcome::Absent},
      {tmp.at("dir/file"), RemovalScope::NonDirectory, Outcome::Absent},  // below a deletion
      {tmp.at("dir"), RemovalScope::Tree, Outcome::Absent},               // deleted twice
      {"relative/path", RemovalScope::Tree, Outcome::Refused},
      {"", RemovalScope::Tree, Outcome::Refused},
      {"/", RemovalScope::Tree, Outcome::Refused},
      {"/./", RemovalScope::EmptyDirectory, Outcome::Refused},
      {tmp.at("a/../dir"), RemovalScope::Tree, Outcome::Refused},
      {tmp.at("full"), RemovalScope::NonDirectory, Outcome::Directory},
      {tmp.at("full"), RemovalScope::EmptyDirectory, Outcome::NotEmpty},
      {tmp.at("finder-folder"), RemovalScope::EmptyDirectory, Outcome::NotEmpty},
      {tmp.at("finder-only"), RemovalScope::EmptyDirectory, Outcome::Removed},
      {tmp.at("dangling"), RemovalScope::EmptyDirectory, Outcome::Removed},  // a link itself
      {tmp.at("full"), RemovalScope::Tree, Outcome::Removed},
  };
  for (const auto& c : cases) {
    real.output.clear();
    EXPECT_EQ(dryRun.removePath(c.path, c.scope).outcome, c.outcome) << c.path;
    EXPECT_EQ(real.output, c.outcome == Outcome::Removed ? "Would delete: " + c.path + "\n" : "")
        << c.path;
  }
  EXPECT_TRUE(pathPresent(tmp.at("full/entry")));
  EXPECT_TRUE(pathPresent(tmp.at("finder-only/.DS_Store")));
}

// The world as a user sees it who may not look inside one directory, the way
// an unprivileged dry run meets directories only root may enter.
class ClosedDirectoryPlatform : public testing::RecordingPlatform {
 public:
  ClosedDirectoryPlatform(Locations locations, std::string closed)
      : RecordingPlatform(std::move(locations)), closed_(std::move(closed)) {}

  PathState examine(const std::string& path) override {
    if (path.starts_with(closed_ + "/")) return {PathState::Kind::Unknown, EACCES, {}};
    return RecordingPlatform::examine(path);
  }
  std::optional<std::vector<std::string>> listDirectory(const std::string& path) override {
    if (path.starts_with(closed_)) return std::nullopt;
    return RecordingPlatform::listDirectory(path);
  }

 private:
  std::string closed_;
};

TEST(DryRunUnprivileged, ShowsDeletionsItCannotRuleOut) {
  testing::TempDir tmp;
  tmp.writeFile("private/file", "x");
  ClosedDirectoryPlatform user(testing::locationsUnder(tmp.path()), tmp.at("private"));
  DryRunPlatform dryRun(user);

  const struct {
    std::string path;
    bool shown;
  } cases[] = {
      {tmp.at("private/file"), true},
      {tmp.at("private/maybe/there"), true},  // root might find it
      {tmp.at("absent/file"), false},         // its open parent proves it absent
  };
  for (const auto& c : cases) {
    user.output.clear();
    EXPECT_EQ(dryRun.removePath(c.path, RemovalScope::Tree).removed(), c.shown) << c.path;
    EXPECT_EQ(user.output, c.shown ? "Would delete: " + c.path + "\n" : "") << c.path;
  }
}

TEST_F(DryRunTest, PropertyListEditsFailAsTheRealOnesWould) {
  const std::string notDictionary = tmp.writeFile(
      "array.plist", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
  const std::string garbage = tmp.writeFile("garbage.plist", "not a property list");
  const std::string control = tmp.writeFile(
      "control.plist", "<plist version=\"1.0\"><dict><key>a</key><true/>"
                       "<key>b</key><string>\x1B</string></dict></plist>");
  const std::string deleted = tmp.writeFile("deleted.plist", kPreferences);
  const std::string linked = tmp.makeSymlink("linked.plist", tmp.writeFile("target.plist", kPreferences));
  ASSERT_TRUE(dryRun.removePath(deleted, RemovalScope::NonDirectory).removed());
  real.output.clear();

  const struct {
    std::string path;
    int errnum;
  } cases[] = {
      {tmp.at("missing.plist"), ENOENT},
      {deleted, ENOENT},  // as the real run finds it after the deletion
      {notDictionary, EINVAL},
      {garbage, EINVAL},
      {linked, ELOOP},  // never edited through a link
      {control, EILSEQ},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dryRun.removePropertyListKeys(c.path, {"a"}).error().errnum(), c.errnum) << c.path;
  }
  // The same answers as the real edit, for the files it sees the same way.
  for (const std::string& path :
       {tmp.at("missing.plist"), notDictionary, garbage, linked, control}) {
    EXPECT_EQ(real.removePropertyListKeys(path, {"a"}).error().errnum(),
              dryRun.removePropertyListKeys(path, {"a"}).error().errnum())
        << path;
  }
  EXPECT_EQ(real.output, "");
  EXPECT_FALSE(pathPresent(tmp.at("missing.plist")));
}

}  // namespace
}  // namespace qu
