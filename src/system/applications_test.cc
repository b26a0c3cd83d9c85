#include "system/applications.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace qu {
namespace {

TEST(ApplicationForExecutableTest, FindsTheInnermostBundle) {
  struct Case {
    const char* executable;
    const char* path;  // null: not an application
    const char* name;
  };
  const Case cases[] = {
      {"/Applications/X.app/Contents/MacOS/X", "/Applications/X.app", "X"},
      {"/Applications/My App.app/Contents/MacOS/bin/tool", "/Applications/My App.app", "My App"},
      {"/A.app/Contents/Helpers/B.app/Contents/MacOS/B", "/A.app/Contents/Helpers/B.app", "B"},
      {"/A.app/Contents/MacOS/.app/Contents/MacOS/x", "/A.app", "A"},
      {"/A.app/Contents/Resources/tool", nullptr, nullptr},
      {"/opt/X.app/Contents/MacOS", nullptr, nullptr},
      {"/usr/bin/sleep", nullptr, nullptr},
      {"relative.app/Contents/MacOS/x", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    const auto application = applicationForExecutable(c.executable, 77);
    if (c.path == nullptr) {
      EXPECT_EQ(application, std::nullopt) << c.executable;
      continue;
    }
    ASSERT_TRUE(application.has_value()) << c.executable;
    EXPECT_EQ(application->path, c.path);
    EXPECT_EQ(application->name, c.name);
    EXPECT_EQ(application->serialHigh, 0u);
    EXPECT_EQ(application->serialLow, 77u);
  }
}

// A process table: pid 10 runs X, pid 11 a daemon, pid 12 a helper app
// inside X, pid 13 is gone or closed to us.
std::optional<std::string> fakeExecutable(pid_t pid) {
  switch (pid) {
    case 10:
      return "/Applications/X.app/Contents/MacOS/X";
    case 11:
      return "/Library/X/xd";
    case 12:
      return "/Applications/X.app/Contents/Helpers/H.app/Contents/MacOS/H";
    default:
      return std::nullopt;
  }
}

TEST(ApplicationsAmongTest, KeepsTheBundledProgramsInProcessOrder) {
  const auto applications = applicationsAmong({12, 13, 11, 10}, fakeExecutable);
  ASSERT_EQ(applications.size(), 2u);
  EXPECT_EQ(applications[0].path, "/Applications/X.app");
  EXPECT_EQ(applications[0].serialLow, 10u);
  EXPECT_EQ(applications[1].path, "/Applications/X.app/Contents/Helpers/H.app");
}

TEST(QuitRefusalTest, OnlyAProcessThatStillRunsTheBundle) {
  struct Case {
    std::uint32_t pid;
    const char* bundle;
    int expected;
  };
  const Case cases[] = {
      {10, "/Applications/X.app", 0},
      {10, "/applications/x.APP", 0},  // the file system ignores letter case
      {12, "/Applications/X.app", ESRCH},  // another bundle's program now
      {11, "/Applications/X.app", ESRCH},  // no application at all
      {13, "/Applications/X.app", ESRCH},  // gone
      {0, "/Applications/X.app", EPERM},
      {1, "/Applications/X.app", EPERM},
      {77, "/Applications/X.app", EPERM},  // ourselves
      {0x80000000u, "/Applications/X.app", EINVAL},  // would address a group
  };
  for (const Case& c : cases) {
    LaunchedApplication application{c.bundle, "X", 0, c.pid};
    EXPECT_EQ(quitRefusal(application, 77, fakeExecutable), c.expected) << c.pid << c.bundle;
  }
  EXPECT_TRUE(runsExecutable(10, "/APPLICATIONS/X.app/Contents/MacOS/X", fakeExecutable));
  EXPECT_FALSE(runsExecutable(11, "/Applications/X.app/Contents/MacOS/X", fakeExecutable));
  EXPECT_FALSE(runsExecutable(13, "/Library/X/xd", fakeExecutable));
}

}  // namespace
}  // namespace qu
