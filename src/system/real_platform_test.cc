#include "system/real_platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "system/log_line.h"
#include "system/spawn.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

using testing::pathPresent;
using testing::TempDir;

class RealPlatformTest : public ::testing::Test {
 protected:
  TempDir tmp;
  std::unique_ptr<Platform> platform = makeRealPlatform();
};

TEST_F(RealPlatformTest, RemovingATreeNeverFollowsItsLinks) {
  const std::string outside = tmp.writeFile("outside/keep.txt", "keep");
  tmp.writeFile("tree/a/b/file", "x");
  tmp.writeFile("tree/.hidden", "x");
  tmp.makeSymlink("tree/a/to-outside", tmp.at("outside"));
  tmp.makeSymlink("tree/to-file", outside);
  tmp.makeSymlink("link-to-outside", tmp.at("outside"));

  EXPECT_TRUE(platform->removePath(tmp.at("tree"), RemovalScope::Tree).removed());
  EXPECT_EQ(platform->removePath(tmp.at("tree"), RemovalScope::Tree).outcome,
            Removal::Outcome::Absent);
  // Given with a trailing "/" or "/.", the link still goes and not what it points to.
  EXPECT_TRUE(platform->removePath(tmp.at("link-to-outside") + "/.", RemovalScope::Tree).removed());

  EXPECT_FALSE(pathPresent(tmp.at("tree")));
  EXPECT_FALSE(pathPresent(tmp.at("link-to-outside")));
  EXPECT_EQ(testing::readWholeFile(outside), "keep");
}

TEST_F(RealPlatformTest, RefusesToRemoveTheRootOrARelativePath) {
  tmp.writeFile("kept", "x");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(tmp.path());
  for (const char* path : {"", "kept", "./kept", "/", "//", "/.", "/tmp/..", "/./"}) {
    for (RemovalScope scope :
         {RemovalScope::NonDirectory, RemovalScope::EmptyDirectory, RemovalScope::Tree}) {
      EXPECT_EQ(platform->removePath(path, scope).outcome, Removal::Outcome::Refused) << path;
    }
  }
  EXPECT_TRUE(pathPresent(tmp.at("kept")));
  std::filesystem::current_path(previous);
}

TEST_F(RealPlatformTest, PipedChildGivesLinesThenItsStatus) {
  const std::string tool = tmp.writeScript("tool", "printf 'one\\n\\ntwo'; exit 3");
  auto child = platform->startPiped(tool, {});
  ASSERT_TRUE(child.hasValue());
  std::vector<std::string> lines;
  while (auto line = child.value()->readLine()) lines.push_back(*line);
  EXPECT_EQ(lines, (std::vector<std::string>{"one\n", "\n", "two"}));
  EXPECT_EQ(child.value()->wait(), ExitStatus::exited(3));
}

TEST_F(RealPlatformTest, PipedChildLeftUnreadDoesNotHang) {
  // Writes far more than a pipe holds; nobody reads or waits.
  const std::string tool = tmp.writeScript("chatty", "yes | head -c 10485760");
  auto child = platform->startPiped(tool, {});
  ASSERT_TRUE(child.hasValue());
  EXPECT_EQ(child.value()->readLine(), "y\n");
  // Going out of scope closes the pipe and reaps the child.
}

TEST_F(RealPlatformTest, RunsProgramsWithTheirArguments) {
  const std::string missing = tmp.at("missing");
  EXPECT_EQ(platform->runAndWait(missing, {}), ExitStatus::notStarted(ENOENT));
  EXPECT_EQ(platform->startDetached(missing, {}).errnum(), ENOENT);
  EXPECT_EQ(platform->startPiped(missing, {}).error().errnum(), ENOENT);

  const std::string marker = tmp.at("marker");
  const std::string tool = tmp.writeScript("tool", R"(printf '%s|' "$@" > "$1"; exit 4)");
  EXPECT_EQ(platform->runAndWait(tool, {marker, ""}), ExitStatus::exited(4));
  EXPECT_EQ(testing::readWholeFile(marker), marker + "||");

  std::filesystem::remove(marker);
  EXPECT_TRUE(platform->startDetached(tool, {marker}).isOk());
  for (int i = 0; i < 200 && testing::readWholeFile(marker).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(testing::readWholeFile(marker), marker + "|");
}

// Our children that have ended and wait to be reaped.
std::vector<pid_t> zombieChildren() {
  std::vector<pid_t> zombies;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos) continue;
    std::istringstream fields(text.substr(nameEnd + 1));
    char state = 0;
    pid_t parent = 0;
    fields >> state >> parent;
    if (state == 'Z' && parent == ::getpid()) zombies.push_back(std::stoi(name));
  }
  return zombies;
}

bool waitForAZombie() {
  for (int i = 0; i < 500 && zombieChildren().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !zombieChildren().empty();
}

TEST_F(RealPlatformTest, DetachedChildrenAreReapedAfterLaterWaitsAndAtTheEnd) {
  ASSERT_TRUE(platform->startDetached("/bin/true", {}).isOk());
  ASSERT_TRUE(waitForAZombie());
  EXPECT_EQ(platform->captureOutput("/bin/echo", {"x"}).output, "x\n");
  EXPECT_EQ(zombieChildren(), std::vector<pid_t>{});

  ASSERT_TRUE(platform->startDetached("/bin/true", {}).isOk());
  ASSERT_TRUE(waitForAZombie());
  platform.reset();
  EXPECT_EQ(zombieChildren(), std::vector<pid_t>{});
}

TEST_F(RealPlatformTest, ChildrenStartWithEverySignalAtItsDefaultAndNoneBlocked) {
  // What a caller under nohup or in the background leaves, and more.
  std::vector<std::pair<int, void (*)(int)>> previous;
  for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGPIPE, SIGXFSZ, SIGUSR1}) {
    previous.emplace_back(signal, std::signal(signal, SIG_IGN));
  }
  sigset_t blocked;
  sigset_t before;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &blocked, &before);

  const CapturedOutput captured =
      platform->captureOutput("/bin/grep", {"-E", "^Sig(Blk|Ign)", "/proc/self/status"});

  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  for (const auto& [signal, handler] : previous) std::signal(signal, handler);
  // Only the C library's own signals below SIGRTMIN, which its posix_spawn
  // leaves ignored in every child.
  std::uint64_t libraryOwn = 0;
  for (int signal = 32; signal < SIGRTMIN; ++signal) libraryOwn |= std::uint64_t{1} << (signal - 1);
  char expected[64];
  std::snprintf(expected, sizeof expected, "SigBlk:\t%016llx\nSigIgn:\t%016llx\n", 0ULL,
                static_cast<unsigned long long>(libraryOwn));
  EXPECT_EQ(captured.output, expected);
}

TEST_F(RealPlatformTest, FindsAndQuitsARunningApplication) {
  const std::string bundle = tmp.at("X.app");
  const std::string executable = bundle + "/Contents/MacOS/X";
  tmp.makeDirectory("X.app/Contents/MacOS");
  std::filesystem::copy_file("/bin/sleep", executable);
  ::chmod(executable.c_str(), 0755);
  auto child = spawnChild(executable, {"30"}, {});
  ASSERT_TRUE(child.hasValue());
  const auto pid = static_cast<std::uint32_t>(child->pid());

  std::optional<LaunchedApplication> found;
  for (const LaunchedApplication& application : platform->launchedApplications()) {
    if (application.serialLow == pid) found = application;
  }
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->path, bundle);
  EXPECT_EQ(found->name, "X");

  // Ids are checked against what the process runs now, never taken on trust.
  LaunchedApplication other = *found;
  other.path = tmp.at("Other.app");
  EXPECT_EQ(platform->sendQuitEvent(other), ESRCH);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(platform->signalProcessGroup(child->pid(), SIGKILL, "/bin/true").errnum(), ESRCH);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(
                "Not killing process group " + std::to_string(pid) + ": it no longer runs /bin/true"),
            std::string::npos);

  EXPECT_EQ(platform->sendQuitEvent(*found), 0);
  EXPECT_EQ(child->wait(), ExitStatus::signaled(SIGTERM));
}

TEST_F(RealPlatformTest, NeverSignalsItselfOrEveryone) {
  for (std::uint32_t pid : {0u, 1u, static_cast<std::uint32_t>(::getpid()), 0x80000001u}) {
    LaunchedApplication application;
    application.serialLow = pid;
    EXPECT_NE(platform->sendQuitEvent(application), 0) << pid;
  }
  for (pid_t group : {0, 1, -5, ::getpgrp()}) {
    EXPECT_FALSE(platform->signalProcessGroup(group, 0, "/x").isOk()) << group;
  }
}

// A program run between two removals moves a directory the walk had reached
// and puts another in its place: the second removal acts on the new one.
TEST_F(RealPlatformTest, AProgramThatMovesADirectoryLeavesNoStaleWayToIt) {
  tmp.writeFile("q/config/one", "x");
  tmp.writeFile("q/config/two", "x");
  const std::string mover = tmp.writeScript(
      "mover", "cd '" + tmp.at("q") + "' && mv config saved && mkdir config && : > config/two");

  EXPECT_TRUE(platform->removePath(tmp.at("q/config/one"), RemovalScope::NonDirectory).removed());
  ASSERT_EQ(platform->runAndWait(mover, {}), ExitStatus::exited(0));
  EXPECT_TRUE(platform->removePath(tmp.at("q/config/two"), RemovalScope::NonDirectory).removed());

  EXPECT_FALSE(pathPresent(tmp.at("q/config/two")));
  EXPECT_TRUE(pathPresent(tmp.at("q/saved/two")));
}

// What a root run started by another user hands its children: nothing of
// the caller's but the language.
TEST(ResetEnvironmentTest, KeepsOnlyAFixedPathRootsHomeAndTheLocale) {
  EXPECT_EQ(resetEnvironment({"PATH=/Users/Shared/evil:/usr/bin", "LD_PRELOAD=/tmp/x.so",
                              "IFS= ", "HOME=/Users/alice", "LANG=de_DE.UTF-8",
                              "LC_ALL=de_DE.UTF-8", "LC_TIME=C", "LANGX=no",
                              "LC_MESSAGES=/tmp/evil-locale", "LANGUAGE=../../tmp/x", "LC_CTYPE=%n"},
                             "/var/root"),
            (std::vector<std::string>{"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "HOME=/var/root",
                                      "LANG=de_DE.UTF-8", "LC_ALL=de_DE.UTF-8", "LC_TIME=C"}));
}

// With its standard output reserved for a JSON stream, a child's output
// goes to our standard error.
TEST_F(RealPlatformTest, ChildrenWriteToStandardErrorOnceStandardOutputIsReserved) {
  const std::string tool = tmp.writeScript("tool", "echo child");
  platform->reserveStandardOutput();
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(platform->runAndWait(tool, {}), ExitStatus::exited(0));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "child\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(LogLineTest, HasTheConsoleShape) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  const timespec when{1796696485, 123456789};  // 2026-12-08 02:21:25.123 UTC
  EXPECT_EQ(formatLogLine(when, 1234, "Killing: X"),
            "2026-12-08 02:21:25.123 quorvane-uninstall[1234] Killing: X\n");
  EXPECT_EQ(formatLogLine({0, 5000000}, 7, "ends\n"),
            "1970-01-01 00:00:00.005 quorvane-uninstall[7] ends\n");
}

}  // namespace
}  // namespace qu
