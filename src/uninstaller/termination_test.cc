#include "uninstaller/termination.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

using testing::RecordingPlatform;
using testing::SignalCall;

const std::string kUninstallerApp = "/Applications/Quorvane Technologies/Quorvane Uninstaller.app";

LaunchedApplication app(const std::string& path, const std::string& name, std::uint32_t pid) {
  return LaunchedApplication{path, name, 0, pid};
}

std::vector<SignalCall> kills(std::initializer_list<pid_t> groups) {
  std::vector<SignalCall> calls;
  for (pid_t group : groups) calls.push_back({group, SIGKILL});
  return calls;
}

TEST(Termination, QuitsApplicationsAndKillsTheRest) {
  const std::string x = "/Applications/X.app/Contents/MacOS/";
  const struct {
    const char* story;
    std::vector<LaunchedApplication> applications;
    ProcessTable processes;
    int quitResult;
    std::vector<std::string> quitNames;
    std::vector<SignalCall> signals;
    std::vector<std::string> log;
  } cases[] = {
      {"an application of the package is asked to quit, not killed",
       {app("/Applications/X.app", "X", 501)}, {{x + "X", 501}}, 0,
       {"X"}, {}, {"Killing: X"}},
      {"a background program is killed through its group, silently",
       {}, {{"/Library/X/helperd", 600}}, 0,
       {}, kills({600}), {}},
      {"of two programs in one bundle, one is spared by the quit request",
       {app("/Applications/X.app", "X", 701)}, {{x + "A", 701}, {x + "B", 702}}, 0,
       {"X"}, kills({702}), {"Killing: X"}},
      {"the bundle path matches ignoring case",
       {app("/applications/x.APP", "X", 501)}, {{x + "X", 501}}, 0,
       {"X"}, {}, {"Killing: X"}},
      {"letters beyond ASCII match in either case and composition",
       {app("/Applications/Quorvane \xC3\x96l.app", "Quorvane \xC3\x96l", 501),
        app("/Applications/E\xCC\x81te\xCC\x81.app", "\xC3\x89t\xC3\xA9", 502)},
       {{"/applications/quorvane \xC3\xB6l.app/contents/macos/quorvane \xC3\xB6l", 501},
        {"/Applications/\xC3\x89t\xC3\xA9.app/Contents/MacOS/\xC3\x89t\xC3\xA9", 502},
        {"/Applications/Ete.app/Contents/MacOS/Ete", 503}},
       0, {"Quorvane \xC3\x96l", "\xC3\x89t\xC3\xA9"}, kills({503}),
       {"Killing: Quorvane \xC3\x96l", "Killing: \xC3\x89t\xC3\xA9"}},
      {"the graphical uninstaller is spared in any letter case",
       {}, {{"/APPLICATIONS/quorvane technologies/QUORVANE UNINSTALLER.app/Contents/MacOS/U", 800},
            {"/Applications/X.app/Contents/MacOS/X", 801}},
       0, {}, kills({801}), {}},
      {"the graphical uninstaller is neither quit nor killed",
       {app(kUninstallerApp, "Quorvane Uninstaller", 800)},
       {{kUninstallerApp + "/Contents/MacOS/U", 800}, {kUninstallerApp + "/Contents/Helper", 801}},
       0, {}, {}, {}},
      {"an application without programs in the table is untouched",
       {app("/Applications/Y.app", "Y", 900)}, {{"/Library/X/helperd", 600}}, 0,
       {}, kills({600}), {}},
      {"a failed quit request is logged and the program still spared",
       {app("/Applications/X.app", "X", 501)}, {{x + "X", 501}}, -1,
       {"X"}, {}, {"Killing: X", "Could not kill /Applications/X.app/Contents/MacOS"}},
      {"the system and no-process serial numbers never get a quit request",
       {app("/Applications/X.app", "X", 1)}, {{x + "X", 501}}, 0,
       {}, {}, {"Killing: X", "Could not kill /Applications/X.app/Contents/MacOS"}},
      {"groups 0, 1, negative ones and our own are never signalled",
       {}, {{"/a", 0}, {"/b", 1}, {"/c", -5}, {"/d", 4242}, {"/e", 77}}, 0,
       {}, kills({77}), {}},
  };
  for (const auto& c : cases) {
    testing::TempDir tmp;
    RecordingPlatform platform(testing::locationsUnder(tmp.path()));
    platform.applications = c.applications;
    platform.quitResult = c.quitResult;

    TextReport report(platform);
    killProcesses(platform, report, c.processes);

    std::vector<std::string> quitNames;
    for (const LaunchedApplication& quit : platform.quitRequests) quitNames.push_back(quit.name);
    EXPECT_EQ(quitNames, c.quitNames) << c.story;
    EXPECT_EQ(platform.signals, c.signals) << c.story;
    EXPECT_EQ(platform.logLines, c.log) << c.story;
  }
}

}  // namespace
}  // namespace qu
