#include "system/remove_path.h"
#include "system/walk_queries.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_support/temp_dir.h"

namespace qu {
namespace {

using testing::pathPresent;
using testing::TempDir;
using Outcome = Removal::Outcome;

constexpr uid_t kOrdinaryUser = 1000;

struct RemovePathTest : ::testing::Test {
  TempDir tmp;
  PathWalker walker{0};
};

TEST_F(RemovePathTest, EachScopeTakesWhatItMayAndNeverFollowsTheLastLink) {
  const struct {
    const char* name;
    RemovalScope scope;
    Outcome outcome;
  } cases[] = {
      {"file", RemovalScope::NonDirectory, Outcome::Removed},
      {"link-to-full", RemovalScope::NonDirectory, Outcome::Removed},
      {"dangling", RemovalScope::NonDirectory, Outcome::Removed},
      {"empty", RemovalScope::NonDirectory, Outcome::Directory},
      {"missing", RemovalScope::NonDirectory, Outcome::Absent},
      {"no/such/file", RemovalScope::NonDirectory, Outcome::Absent},
      {"file/below-a-file", RemovalScope::NonDirectory, Outcome::Absent},
      {"empty", RemovalScope::EmptyDirectory, Outcome::Removed},
      {"finder-only", RemovalScope::EmptyDirectory, Outcome::Removed},
      {"finder-copy", RemovalScope::EmptyDirectory, Outcome::Removed},  // "._.DS_Store"
      {"finder-folder", RemovalScope::EmptyDirectory, Outcome::NotEmpty},
      {"finder-link", RemovalScope::EmptyDirectory, Outcome::NotEmpty},
      {"full", RemovalScope::EmptyDirectory, Outcome::NotEmpty},
      {"link-to-empty", RemovalScope::EmptyDirectory, Outcome::Removed},
      {"plain", RemovalScope::EmptyDirectory, Outcome::Removed},
      {"full", RemovalScope::Tree, Outcome::Removed},
  };
  tmp.writeFile("file", "x");
  tmp.writeFile("plain", "x");
  tmp.makeDirectory("empty");
  tmp.writeFile("full/entry", "x");
  tmp.writeFile("finder-only/.DS_Store", "x");
  tmp.writeFile("finder-copy/._.DS_Store", "x");
  tmp.writeFile("finder-folder/.DS_Store/user-file", "x");
  tmp.makeDirectory("finder-link");
  tmp.makeSymlink("finder-link/.DS_Store", tmp.at("full/entry"));
  tmp.makeDirectory("empty-target");
  tmp.makeSymlink("link-to-empty", tmp.at("empty-target"));
  tmp.makeSymlink("link-to-full", tmp.at("full"));
  tmp.makeSymlink("dangling", tmp.at("gone"));

  for (const auto& c : cases) {
    EXPECT_EQ(removeWithWalk(walker, tmp.at(c.name), c.scope).outcome, c.outcome) << c.name;
    EXPECT_EQ(pathPresent(tmp.at(c.name)), c.outcome != Outcome::Removed &&
                                              c.outcome != Outcome::Absent)
        << c.name;
  }
  EXPECT_TRUE(pathPresent(tmp.at("empty-target")));
  EXPECT_TRUE(pathPresent(tmp.at("finder-folder/.DS_Store/user-file")));
}

// A link in a parent component is followed only when it is the system's
// own; one an ordinary user could have made leaves the path alone.
TEST_F(RemovePathTest, FollowsOnlyLinksRootOwnsInDirectoriesOnlyRootMayChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
  const struct {
    const char* where;
    mode_t directoryMode;
    uid_t directoryOwner;
    uid_t linkOwner;
    bool followed;
    bool secondName = false;  // a hard link to root's link, as a user could place one
  } cases[] = {
      {"root's link in root's directory", 0755, 0, 0, true},
      {"root's link in a world-writable sticky directory", 01777, 0, 0, true},
      {"a user's link in root's directory", 0755, 0, kOrdinaryUser, false},
      {"root's link in a user's directory", 0755, kOrdinaryUser, 0, false},
      {"root's link in a world-writable directory", 0777, 0, 0, false},
      {"root's link in a group-writable directory", 0775, 0, 0, true},  // root's group
      {"a second name of root's link in a sticky directory", 01777, 0, 0, false, true},
  };
  int round = 0;
  for (const auto& c : cases) {
    const std::string base = "round" + std::to_string(++round);
    const std::string precious = tmp.writeFile(base + "/elsewhere/app/file", "x");
    const std::string holder = tmp.makeDirectory(base + "/holder");
    const std::string link = tmp.makeSymlink(base + "/holder/app", tmp.at(base + "/elsewhere/app"));
    ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, 0), 0);
    if (c.secondName) {
      ASSERT_EQ(::linkat(AT_FDCWD, link.c_str(), AT_FDCWD, tmp.at(base + "/second").c_str(), 0), 0);
    }
    ASSERT_EQ(::chown(holder.c_str(), c.directoryOwner, 0), 0);
    ASSERT_EQ(::chmod(holder.c_str(), c.directoryMode), 0);

    PathWalker fresh(0);
    // What runs as root from there must be reached the same way.
    EXPECT_EQ(trustedByRootWithWalk(fresh, link + "/file").isOk(), c.followed) << c.where;
    const Removal removal = removeWithWalk(fresh, link + "/file", RemovalScope::NonDirectory);
    const PathState state = examineWithWalk(fresh, link + "/file");
    if (c.followed) {
      EXPECT_EQ(removal.outcome, Outcome::Removed) << c.where;
      EXPECT_FALSE(pathPresent(precious)) << c.where;
    } else {
      EXPECT_EQ(removal.outcome, Outcome::LinkRefused) << c.where;
      EXPECT_EQ(removal.link, link) << c.where;
      EXPECT_EQ(state.kind, PathState::Kind::LinkRefused) << c.where;
      EXPECT_TRUE(pathPresent(precious)) << c.where;
    }
  }
}

// A path below a link the run removed is walked afresh: the directory the
// walk reached through the link is not the path's any more.
TEST_F(RemovePathTest, APathBelowARemovedLinkIsNotTakenToItsOldTarget) {
  for (const RemovalScope linkScope :
       {RemovalScope::NonDirectory, RemovalScope::EmptyDirectory, RemovalScope::Tree}) {
    TempDir own;
    own.writeFile("target/dir/a", "x");
    const std::string kept = own.writeFile("target/dir/b", "x");
    const std::string link = own.makeSymlink("link", own.at("target"));
    PathWalker fresh(0);

    EXPECT_TRUE(removeWithWalk(fresh, link + "/dir/a", RemovalScope::NonDirectory).removed());
    EXPECT_TRUE(removeWithWalk(fresh, link, linkScope).removed());
    EXPECT_EQ(removeWithWalk(fresh, link + "/dir/b", RemovalScope::NonDirectory).outcome,
              Outcome::Absent);
    EXPECT_TRUE(pathPresent(kept)) << static_cast<int>(linkScope);
  }
}

// The walk remembers the directory it reached last; once the walk forgets
// what it reached (as when a program starts, which may move folders), a
// folder made at that path is reached afresh, not the one moved away.
TEST_F(RemovePathTest, AFolderMovedWhileTheWalkForgotIsReachedAfresh) {
  tmp.writeFile("pkg/dir/a", "x");
  EXPECT_TRUE(removeWithWalk(walker, tmp.at("pkg/dir/a"), RemovalScope::NonDirectory).removed());
  std::filesystem::rename(tmp.at("pkg/dir"), tmp.at("pkg/moved"));
  const std::string moved = tmp.writeFile("pkg/moved/b", "x");
  const std::string again = tmp.writeFile("pkg/dir/b", "x");
  walker.forget("/", true);
  EXPECT_TRUE(removeWithWalk(walker, again, RemovalScope::NonDirectory).removed());
  EXPECT_FALSE(pathPresent(again));
  EXPECT_TRUE(pathPresent(moved));
}

// Another process swaps a parent directory for a link between the directory
// pass's look inside a directory and its removal: the removal still acts on
// the directory it looked at, and never on what the link leads to.
TEST_F(RemovePathTest, ADirectorySwappedForALinkMidRemovalLeavesTheLinkedTreeAlone) {
  tmp.writeFile("pkg/a/dir/.DS_Store", "x");
  const std::string precious = tmp.writeFile("other/dir/precious", "x");
  tmp.writeFile("other/dir/.DS_Store", "x");
  RemovalHooks hooks;
  hooks.beforeDirectoryRemoval = [&](const std::string&) {
    std::filesystem::rename(tmp.at("pkg/a"), tmp.at("pkg/a.moved"));
    tmp.makeSymlink("pkg/a", tmp.at("other"));
  };
  EXPECT_TRUE(removeWithWalk(walker, tmp.at("pkg/a/dir"), RemovalScope::EmptyDirectory, hooks)
                  .removed());
  EXPECT_FALSE(pathPresent(tmp.at("pkg/a.moved/dir")));
  EXPECT_TRUE(pathPresent(precious));
  EXPECT_TRUE(pathPresent(tmp.at("other/dir/.DS_Store")));
}

// What is mounted inside a tree is not the tree's to empty: another file
// system, or a bind mount of a folder of the same one (same device number).
TEST_F(RemovePathTest, ATreeRemovalStaysOnItsFileSystem) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
  const struct {
    const char* story;
    bool bind;
  } cases[] = {{"a tmpfs", false}, {"a bind mount of a folder beside the tree", true}};
  for (const auto& c : cases) {
    TempDir own;
    const std::string mounted = own.makeDirectory("tree/mnt");
    const std::string elsewhere = own.makeDirectory("elsewhere");
    own.writeFile("tree/own", "x");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // A private mount namespace, so the mount never shows outside this child.
      if (::unshare(CLONE_NEWNS) != 0 ||
          ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          (c.bind ? ::mount(elsewhere.c_str(), mounted.c_str(), nullptr, MS_BIND, nullptr)
                  : ::mount("qu-test", mounted.c_str(), "tmpfs", 0, nullptr)) != 0) {
        ::_exit(77);
      }
      std::FILE* file = std::fopen((mounted + "/other").c_str(), "w");
      if (file == nullptr) ::_exit(78);
      std::fclose(file);
      PathWalker fresh(0);
      const Removal removal = removeWithWalk(fresh, own.at("tree"), RemovalScope::Tree);
      const bool kept = pathPresent(mounted + "/other") && !pathPresent(own.at("tree/own"));
      // The mount point itself named as the tree: nothing of it is emptied.
      const Removal atMount = removeWithWalk(fresh, mounted, RemovalScope::Tree);
      const bool keptAtMount = atMount.outcome == Outcome::Failed && atMount.errnum == EXDEV &&
                               pathPresent(mounted + "/other");
      ::_exit(removal.outcome == Outcome::Failed && removal.errnum == EXDEV && kept &&
                      keptAtMount
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot mount here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.story << ": " << status;
  }
}

// A tree removal deletes only what the folders' owners could: a folder of an
// ordinary user is entered inside root's or the same user's folder only.
TEST_F(RemovePathTest, ATreeRemovalLeavesAThirdUsersFolderToItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
  constexpr uid_t kThirdUser = 1001;
  const struct {
    const char* story;
    std::vector<std::pair<std::string, uid_t>> folders;  // created in this order
    std::string tree;
    std::vector<std::string> left;  // each left to the owner shown in `folders`
    std::vector<std::string> removed;
  } cases[] = {
      {"a third user's folder moved in by the tree's owner",
       {{"tree", kOrdinaryUser}, {"tree/moved", kOrdinaryUser},
        {"tree/moved/third", kThirdUser}, {"tree/root", 0}, {"tree/root/own", kOrdinaryUser}},
       "tree",
       {"tree/moved/third"},
       {"tree/moved/file", "tree/root/own/file", "tree/root/file", "tree/file"}},
      {"a third user's folder named as the tree inside a user's",
       {{"home", kOrdinaryUser}, {"home/third", kThirdUser}},
       "home/third",
       {"home/third"},
       {}},
      {"root's tree holding users' folders", {{"pkg", 0}, {"pkg/a", kOrdinaryUser},
                                             {"pkg/b", kThirdUser}}, "pkg", {}, {"pkg"}},
  };
  for (const auto& c : cases) {
    TempDir own;
    std::map<std::string, uid_t> owners;
    for (const auto& [folder, owner] : c.folders) {
      own.writeFile(folder + "/file", "x");
      ASSERT_EQ(::chown(own.at(folder).c_str(), owner, owner), 0);
      ASSERT_EQ(::chown(own.at(folder + "/file").c_str(), owner, owner), 0);
      owners[own.at(folder)] = owner;
    }
    PathWalker fresh(0);

    const Removal removal = removeWithWalk(fresh, own.at(c.tree), RemovalScope::Tree);

    std::vector<std::string> left;
    for (const Removal::LeftToOwner& folder : removal.leftToOwners) {
      left.push_back(folder.path.substr(own.path().size() + 1));
      EXPECT_EQ(folder.owner, owners[folder.path]) << c.story;
    }
    EXPECT_EQ(left, c.left) << c.story;
    EXPECT_EQ(removal.removed(), c.left.empty()) << c.story;
    if (!c.left.empty()) {
      EXPECT_EQ(removal.errnum, EPERM) << c.story;
    }
    for (const std::string& folder : c.left) {
      EXPECT_TRUE(pathPresent(own.at(folder + "/file"))) << c.story;
    }
    for (const std::string& gone : c.removed) EXPECT_FALSE(pathPresent(own.at(gone))) << gone;
  }
}

// A nest deeper than any package's tree is left where it gets too deep:
// every entry of the first level too deep stays, files and folders alike.
TEST_F(RemovePathTest, ATreeRemovalStopsAtADepthNoPackageReaches) {
  // The folder at `level` below the tree's top ("deep" itself is level 0);
  // an entry in it lies at level + 1.
  const auto folder = [](int level) {
    std::string path = "deep";
    for (int at = 1; at <= level; ++at) path += "/d";
    return path;
  };
  const struct {
    const char* story;
    std::vector<std::string> files;    // a trailing "/" makes a folder
    std::vector<std::string> kept;
    std::vector<std::string> removed;
  } cases[] = {
      {"a nest of 300 levels", {folder(300) + "/f", "deep/own"}, {folder(300) + "/f"},
       {"deep/own"}},
      {"a file and a folder at level 257, a file at level 256",
       {folder(256) + "/f", folder(256) + "/e/", folder(255) + "/g", "deep/own"},
       {folder(256) + "/f", folder(256) + "/e"},
       {folder(255) + "/g", "deep/own"}},
  };
  for (const auto& c : cases) {
    TempDir own;
    for (const std::string& file : c.files) {
      if (file.ends_with("/")) {
        std::filesystem::create_directories(own.at(file));
      } else {
        own.writeFile(file, "x");
      }
    }
    PathWalker fresh(0);

    const Removal removal = removeWithWalk(fresh, own.at("deep"), RemovalScope::Tree);

    EXPECT_EQ(removal.outcome, Outcome::Failed) << c.story;
    EXPECT_EQ(removal.errnum, ELOOP) << c.story;
    for (const std::string& kept : c.kept) EXPECT_TRUE(pathPresent(own.at(kept))) << c.story;
    for (const std::string& gone : c.removed) EXPECT_FALSE(pathPresent(own.at(gone))) << c.story;
  }
}

}  // namespace
}  // namespace qu
