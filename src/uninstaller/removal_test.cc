#include "uninstaller/removal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "system/real_platform.h"
#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"
#include "uninstaller/engine_test_world.h"

namespace qu {
namespace {

using testing::pathPresent;
using testing::RecordingPlatform;
using testing::TempDir;

// A manifest whose lists are given, as its listing tool would have produced them.
class FixedManifest : public Manifest {
 public:
  FixedManifest(Platform& platform, std::optional<PathList> files,
                std::optional<PathList> directories)
      : Manifest(platform), files_(std::move(files)), directories_(std::move(directories)) {}

  std::optional<PathList> getList(int listType) override {
    return listType == kFileList ? files_ : directories_;
  }
  std::optional<EveryPathQuery> everyPathQuery() override { return std::nullopt; }

 private:
  std::optional<PathList> files_;
  std::optional<PathList> directories_;
};

// The percentages of the progress lines, in order.
std::vector<int> shownPercents(const std::string& output) {
  std::vector<int> percents;
  for (std::size_t at = output.find("\t["); at != std::string::npos;
       at = output.find("\t[", at + 1)) {
    percents.push_back(std::stoi(output.substr(at + 2)));
  }
  return percents;
}

struct RemovalTest : ::testing::Test {
  TempDir tmp;
  RecordingPlatform platform{testing::locationsUnder(tmp.path())};

  // `count` paths under the temporary root; none of them exists.
  PathList missingPaths(int count, const std::string& stem) const {
    PathList paths;
    for (int i = 0; i < count; ++i) paths.push_back(tmp.at(stem + std::to_string(i)));
    return paths;
  }
};

TEST_F(RemovalTest, ProgressClimbsAcrossTheItemsOfARun) {
  const struct {
    int itemCount;
    std::vector<int> manifestSizes;  // paths per manifest
    std::vector<int> expected;
  } cases[] = {
      {2, {4, 2}, {12, 25, 37, 50, 75, 100}},
      {3, {1, 1, 1}, {33, 66, 99}},
      {1, {3}, {33, 66, 100}},
      {2, {0, 2}, {75, 100}},
      {2, {-1, 2}, {75, 100}},  // no manifest at all
  };
  for (const auto& c : cases) {
    platform.output.clear();
    testing::TestRun run(platform, c.itemCount);
    FileRemoval removal(run.context);
    for (int size : c.manifestSizes) {
      // Split each manifest over both lists: the position runs through both.
      FixedManifest manifest(platform, missingPaths(size - size / 2, "f"),
                             missingPaths(size / 2, "d"));
      removal.removeManifest(size < 0 ? nullptr : &manifest);
    }
    EXPECT_EQ(shownPercents(platform.output), c.expected) << platform.output;
  }
}

// The real platform deleting by itself, with what the user would see captured.
class QuietRealPlatform : public PlatformWrapper {
 public:
  explicit QuietRealPlatform(Platform& real) : PlatformWrapper(real) {}
  void print(std::string_view text) override { output.append(text); }
  void printProgress(std::string_view line) override { output.append(line); }
  void log(std::string_view line) override { logLines.emplace_back(line); }
  std::string output;
  std::vector<std::string> logLines;
};

TEST_F(RemovalTest, DeletesFilesThenDirectoriesLeftEmpty) {
  const auto real = makeRealPlatform(testing::locationsUnder(tmp.path()));
  QuietRealPlatform direct(*real);
  // Through a wrapper that sees every call, and straight on the real platform.
  const struct {
    const char* root;
    Platform& platform;
    const std::string& output;
  } platforms[] = {{"recorded", platform, platform.output}, {"direct", direct, direct.output}};

  for (const auto& p : platforms) {
    const auto at = [&](const std::string& relative) {
      return tmp.at(std::string(p.root) + "/" + relative);
    };
    const auto make = [&](const std::string& relative) {
      return std::string(p.root) + "/" + relative;
    };
    tmp.writeFile(make("file"), "x");
    tmp.makeDirectory(make("dir-in-file-list"));
    tmp.writeFile(make("target1/keep"), "x");
    tmp.makeSymlink(make("link-in-file-list"), at("target1"));
    tmp.writeFile(make("finder-only/.DS_Store"), "x");
    tmp.writeFile(make("finder-folder/.DS_Store/user-file"), "x");
    tmp.writeFile(make("shared/other"), "x");
    tmp.makeDirectory(make("a/b/c"));
    tmp.writeFile(make("target2/keep"), "x");
    tmp.makeSymlink(make("link-in-dir-list"), at("target2"));
    tmp.writeFile(make("plain-in-dir-list"), "x");
    tmp.writeFile(make("framework/Shared"), "x");
    // A directory of the package replaced by a link to another program's.
    tmp.writeFile(make("other-program/Contents/binary"), "x");
    const std::string planted = tmp.makeSymlink(make("app/Contents"), at("other-program/Contents"));
    if (::geteuid() == 0) {
      ASSERT_EQ(::lchown(planted.c_str(), 1000, 1000), 0);
    }

    RemovalRules withShared;
    withShared.addShared(at("framework//Shared"), "com.q.other");
    withShared.addShared(at("framework/./"), "com.q.other");
    const PathList files = {at("link-in-file-list"), at("dir-in-file-list"), at("missing"),
                            at("file"), at("framework/Shared"), at("app/Contents/binary")};
    const PathList directories = {at("plain-in-dir-list"), at("link-in-dir-list"),
                                  at("finder-only"),       at("finder-folder"),
                                  at("shared"),            at("a/b/c"),
                                  at("a/b"),               at("a"),
                                  at("framework"),         at("app/Contents")};
    RunProgress progress(1);
    TextReport report(p.platform);
    RunContext run{p.platform, progress, withShared, report};
    FixedManifest manifest(p.platform, files, directories);
    FileRemoval(run).removeManifest(&manifest);

    for (const char* gone : {"file", "link-in-file-list", "finder-only", "a",
                             "link-in-dir-list", "plain-in-dir-list", "app/Contents"}) {
      EXPECT_FALSE(pathPresent(at(gone))) << p.root << ": " << gone;
    }
    for (const char* kept : {"dir-in-file-list", "shared/other", "target1/keep",
                             "target2/keep", "finder-folder/.DS_Store/user-file",
                             "framework/Shared", "other-program/Contents/binary"}) {
      EXPECT_TRUE(pathPresent(at(kept))) << p.root << ": " << kept;
    }
    EXPECT_EQ(shownPercents(p.output).size(), files.size() + directories.size()) << p.root;
  }
  using Kept = RecordingPlatform::KeptPath;
  const auto at = [&](const std::string& relative) { return tmp.at("recorded/" + relative); };
  EXPECT_EQ(platform.keptPaths,
            (std::vector<Kept>{
                {at("framework/Shared"), KeepReason::Shared, "com.q.other"},
                {at("app/Contents/binary"), KeepReason::LinkRefused, at("app/Contents")},
                {at("finder-folder"), KeepReason::NotEmpty, ""},
                {at("shared"), KeepReason::NotEmpty, ""},
                {at("framework"), KeepReason::Shared, "com.q.other"},
            }));
  EXPECT_EQ(platform.logLines,
            (std::vector<std::string>{
                "Keeping '" + at("framework/Shared") + "': package com.q.other still lists it",
                "Leaving '" + at("app/Contents/binary") + "': the symbolic link '" +
                    at("app/Contents") + "' on its way is not the system's own",
                "Keeping '" + at("framework") + "': package com.q.other still lists it",
            }));
}

// Checks, at every removal and progress line, what a run stopped right there
// would leave: no line before its path went, and gone but unshown only paths
// of the window at work.
class WatchingPlatform : public PlatformWrapper {
 public:
  WatchingPlatform(Platform& target, const PathList& listed, std::size_t window)
      : PlatformWrapper(target), listed_(listed), window_(window) {}

  Removal removePath(const std::string& path, RemovalScope scope) override {
    for (const std::string& earlier : handed_) {
      if (std::find(shown_.begin(), shown_.end(), earlier) == shown_.end()) {
        EXPECT_EQ(windowOf(earlier), windowOf(path)) << earlier << " gone, unshown, at " << path;
      }
    }
    handed_.push_back(path);
    return PlatformWrapper::removePath(path, scope);
  }
  void printProgress(std::string_view line) override {
    const std::string path(line.substr(line.find("] ") + 2, line.size() - line.find("] ") - 3));
    const bool handed = std::find(handed_.begin(), handed_.end(), path) != handed_.end();
    EXPECT_TRUE(handed || path.find("shared") != std::string::npos) << path << " shown first";
    shown_.push_back(path);
    PlatformWrapper::printProgress(line);
  }

 private:
  std::size_t windowOf(const std::string& path) const {
    return static_cast<std::size_t>(std::find(listed_.begin(), listed_.end(), path) -
                                    listed_.begin()) /
           window_;
  }
  const PathList& listed_;
  std::size_t window_;
  std::vector<std::string> handed_;
  std::vector<std::string> shown_;
};

TEST_F(RemovalTest, FilesGoGroupedByDirectoryWhileTheirLinesKeepTheListedOrder) {
  // As a bill of materials interleaves them: each path in another directory.
  for (const char* dir : {"a", "b", "c"}) {
    for (int i = 0; i < 3; ++i) tmp.writeFile(std::string(dir) + "/f" + std::to_string(i), "x");
  }
  tmp.writeFile("b/shared-b", "x");
  tmp.writeFile("a/shared-a", "x");
  const auto at = [&](const char* relative) { return tmp.at(relative); };
  const PathList listed = {at("a/f0"), at("b/f0"),       at("c/f0"), at("a/f1"),       at("b/f1"),
                           at("c/f1"), at("b/shared-b"), at("a/f2"), at("a/shared-a"), at("b/f2"),
                           at("c/f2"), at("c/missing")};
  const struct {
    std::size_t window;
    std::vector<const char*> unlinked;  // in this order
  } cases[] = {
      // Paths of one length change places; a shorter one never goes first.
      {kFileWindow,
       {"a/f0", "a/f1", "b/f0", "b/f1", "c/f0", "c/f1", "a/f2", "b/f2", "c/f2", "c/missing"}},
      {4, {"a/f0", "a/f1", "b/f0", "c/f0", "b/f1", "c/f1", "a/f2", "b/f2", "c/f2", "c/missing"}},
      {1, {"a/f0", "b/f0", "c/f0", "a/f1", "b/f1", "c/f1", "a/f2", "b/f2", "c/f2", "c/missing"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.window);
    for (const char* dir : {"a", "b", "c"}) {
      for (int i = 0; i < 3; ++i) tmp.writeFile(std::string(dir) + "/f" + std::to_string(i), "x");
    }
    platform.output.clear();
    platform.logLines.clear();
    platform.removedPaths.clear();
    WatchingPlatform watching(platform, listed, c.window);
    RemovalRules rules;
    rules.addShared(at("a/shared-a"), "com.q.a");
    rules.addShared(at("b/shared-b"), "com.q.b");
    RunProgress progress(1);
    TextReport report(watching);
    RunContext run{watching, progress, rules, report};
    FileRemoval removal(run);
    removal.setFileWindow(c.window);
    removal.removeItems(listed, /*skipDirectories=*/true, /*ifNotEmpty=*/false,
                        static_cast<int>(listed.size()));

    std::vector<std::string> unlinked;
    for (const char* relative : c.unlinked) {
      if (std::string(relative) != "c/missing") unlinked.push_back(at(relative));
    }
    EXPECT_EQ(platform.removedPaths, unlinked);
    // Every line, percentage and log line as the listed order gives them.
    std::string lines;
    for (std::size_t i = 0; i < listed.size(); ++i) {
      lines += "Uninstalling:\t[" + std::to_string((i + 1) * 100 / listed.size()) + "%] " +
               listed[i] + "\n";
    }
    EXPECT_EQ(platform.output, lines);
    EXPECT_EQ(platform.logLines,
              (std::vector<std::string>{
                  "Keeping '" + at("b/shared-b") + "': package com.q.b still lists it",
                  "Keeping '" + at("a/shared-a") + "': package com.q.a still lists it"}));
    EXPECT_TRUE(pathPresent(at("a/shared-a")));
    EXPECT_FALSE(pathPresent(at("c/f2")));
  }
}

TEST_F(RemovalTest, RemoveItemTakesWholeTreesButNeverUnsafePathsOrSystemDirectories) {
  tmp.writeFile("tree/sub/file", "x");
  testing::TestRun run(platform, 1);
  FileRemoval removal(run.context);
  removal.removeItem(tmp.at("tree"), /*unlessDirectory=*/true);
  EXPECT_TRUE(pathPresent(tmp.at("tree/sub/file")));
  removal.removeItem(tmp.at("tree"));
  EXPECT_FALSE(pathPresent(tmp.at("tree")));

  // Harmless should the rules ever fail: nothing by these names exists here.
  removal.removeItem("no-such-relative-path");
  removal.removeItem("/Library/Application Support/.");
  // A user's endless nesting is left where it gets too deep, and said so.
  std::string nest = "deep";
  for (int level = 0; level < 300; ++level) nest += "/d";
  tmp.writeFile(nest + "/f", "x");
  removal.removeItem(tmp.at("deep"));
  EXPECT_TRUE(pathPresent(tmp.at(nest + "/f")));
  EXPECT_EQ(platform.removedPaths, std::vector<std::string>{tmp.at("tree")});
  EXPECT_EQ(platform.logLines,
            (std::vector<std::string>{
                "Refusing to delete unsafe path: 'no-such-relative-path'",
                "Keeping '/Library/Application Support/.': a directory of the system",
                "Leaving '" + tmp.at("deep") + "': it nests deeper than any package's files"}));
}

}  // namespace
}  // namespace qu
