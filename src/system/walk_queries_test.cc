#include "system/walk_queries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "test_support/temp_dir.h"

namespace qu {
namespace {

using testing::TempDir;

constexpr uid_t kOrdinaryUser = 1000;

struct WalkQueriesTest : ::testing::Test {
  TempDir tmp;
  PathWalker walker{0};
};

// What a root run may execute: nothing an ordinary user could have put or
// changed on the way to it.
TEST_F(WalkQueriesTest, TrustedByRootNeedsRootAloneOnTheWholeWay) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
  const auto make = [&](const std::string& name, mode_t mode, uid_t owner) {
    const std::string path = tmp.writeScript(name, "exit 0");
    EXPECT_EQ(::chown(path.c_str(), owner, 0), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  };
  const std::string shared = tmp.makeDirectory("shared");
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const std::string userDirectory = tmp.makeDirectory("users-own");
  ASSERT_EQ(::chown(userDirectory.c_str(), kOrdinaryUser, 0), 0);
  // Root's own names, linked by a user into the sticky folder.
  const auto hardLink = [&](const std::string& from, const std::string& to) {
    EXPECT_EQ(::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, tmp.at(to).c_str(), 0), 0);
    return tmp.at(to);
  };
  const struct {
    std::string path;
    const char* reason;  // empty: trusted
  } cases[] = {
      {hardLink(make("tools/linked", 0755, 0), "shared/linked"), "a hard link (2 names)"},
      {hardLink(tmp.makeSymlink("tools/link-twice", tmp.at("tools/root")), "shared/link-twice"),
       "not the system's own"},
      {make("tools/root", 0755, 0), ""},
      {make("shared/root", 0755, 0), ""},  // root's entry in a sticky directory
      {make("tools/users", 0755, kOrdinaryUser), "owned by user 1000"},
      {make("tools/writable", 0777, 0), "writable by others than root"},
      {make("users-own/root", 0755, 0), "is not root's alone"},
      {tmp.makeSymlink("tools/link-to-root", tmp.at("tools/root")), ""},
      {tmp.makeDirectory("tools/directory"), "not a regular file"},
      {tmp.at("tools/missing"), "No such file or directory"},
  };
  for (const auto& c : cases) {
    const Status trusted = trustedByRootWithWalk(walker, c.path);
    EXPECT_EQ(trusted.isOk(), std::string(c.reason).empty()) << c.path;
    EXPECT_NE(trusted.message().find(c.reason), std::string::npos) << c.path << ": "
                                                                    << trusted.message();
  }

  // What a system tool acts on (a job's file, an extension's folder) may also
  // be a folder, or missing where only root could put it.
  const std::string usersBundle = tmp.makeDirectory("tools/User.kext");
  ASSERT_EQ(::chown(usersBundle.c_str(), kOrdinaryUser, 0), 0);
  const struct {
    std::string path;
    const char* reason;  // empty: controlled by root
  } tools[] = {
      {tmp.makeDirectory("tools/Root.kext"), ""},
      {usersBundle, "is not root's alone"},
      {tmp.at("tools/missing/deeper.plist"), ""},
      {tmp.at("users-own/missing.plist"), "is not root's alone"},
      {make("tools/users.plist", 0644, kOrdinaryUser), "owned by user 1000"},
      {make("tools/root.plist", 0644, 0), ""},
  };
  for (const auto& c : tools) {
    const Status controlled = controlledByRootWithWalk(walker, c.path);
    EXPECT_EQ(controlled.isOk(), std::string(c.reason).empty()) << c.path;
    EXPECT_NE(controlled.message().find(c.reason), std::string::npos) << c.path << ": "
                                                                       << controlled.message();
  }
}

// Reads end at once on what is not a regular file, and at a bound.
TEST_F(WalkQueriesTest, ReadsOnlyRegularFilesUpToTheBound) {
  tmp.writeFile("small", "0123456789");
  const std::string pipe = tmp.at("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  tmp.makeSymlink("zero", "/dev/zero");
  const struct {
    std::string path;
    std::size_t limit;
    std::optional<std::string> bytes;
    const char* refusal;
  } cases[] = {
      {tmp.at("small"), 10, "0123456789", ""},
      {tmp.at("small"), 9, std::nullopt, "larger than"},
      {pipe, 100, std::nullopt, "not a regular file"},
      {tmp.at("zero"), 100, std::nullopt, "not a regular file"},  // root's link: followed
      {"/dev/zero", 100, std::nullopt, "not a regular file"},
      {tmp.at("missing"), 100, std::nullopt, ""},
      // Its size says 0 when opened: the bound holds for what the read brings.
      {"/proc/self/status", 16, std::nullopt, "larger than"},
  };
  for (const auto& c : cases) {
    std::string refusal;
    EXPECT_EQ(readFileWithWalk(walker, c.path, c.limit, refusal), c.bytes) << c.path;
    EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.path << ": " << refusal;
    EXPECT_EQ(refusal.empty(), std::string(c.refusal).empty()) << c.path;
  }
}

}  // namespace
}  // namespace qu
