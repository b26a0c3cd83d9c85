#include "system/process_setup.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <string>

#include "system/spawn.h"

namespace qu {
namespace {

bool disposition(int signal, void (*expected)(int)) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == expected;
}

// In a child of the test, started as a careless user would start a setuid copy:
// standard output closed, SIGCHLD ignored, SIGPIPE and SIGXFSZ at their defaults.
TEST(SetUpProcessTest, LeavesOutputOpenWritesFailingAndChildrenWaitable) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int inherited = ::open("/dev/null", O_RDONLY);  // without O_CLOEXEC
    ::close(STDOUT_FILENO);
    std::signal(SIGCHLD, SIG_IGN);
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);

    ::umask(0);
    (void)::chdir("/tmp");

    setUpProcess(/*callerIsRoot=*/false);

    char target[PATH_MAX] = {};
    const bool outputOnNull = ::readlink("/proc/self/fd/1", target, sizeof target - 1) > 0 &&
                              std::string(target) == "/dev/null";
    auto child = spawnChild("/bin/true", {}, {});
    const bool waitable = child.hasValue() && child->wait() == ExitStatus::exited(0);
    const bool signals = disposition(SIGPIPE, SIG_IGN) && disposition(SIGXFSZ, SIG_IGN) &&
                         disposition(SIGCHLD, SIG_DFL);
    char directory[PATH_MAX] = {};
    const mode_t mask = ::umask(022);
    const bool callersStateGone = mask == 022 && ::getcwd(directory, sizeof directory) &&
                                  std::string(directory) == "/" &&
                                  (::fcntl(inherited, F_GETFD) & FD_CLOEXEC) != 0;
    ::_exit((outputOnNull ? 0 : 1) | (waitable ? 0 : 2) | (signals ? 0 : 4) |
            (callersStateGone ? 0 : 8));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: output not on /dev/null, 2: child not waitable, "
                                       "4: signal dispositions, 8: the caller's mask, "
                                       "directory or descriptors";
}

// A setuid start keeps the caller's limits: a file size of 0 would make every
// program run as root die at its first write.
TEST(RaiseCallersLimitsTest, NoLimitIsLeftBelowWhatRootMayHave) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    struct rlimit lowered {0, 1 << 20};
    (void)::setrlimit(RLIMIT_FSIZE, &lowered);
    struct rlimit few {8, 64};
    (void)::setrlimit(RLIMIT_NOFILE, &few);
    raiseCallersLimits();
    struct rlimit size {};
    struct rlimit files {};
    const bool read = ::getrlimit(RLIMIT_FSIZE, &size) == 0 && ::getrlimit(RLIMIT_NOFILE, &files) == 0;
    // Up to the hard limit at least; unlimited where root may raise it.
    const bool raised = read && size.rlim_cur == size.rlim_max && size.rlim_max >= (1 << 20) &&
                        files.rlim_cur == files.rlim_max && files.rlim_max >= 64;
    ::_exit(raised ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Where the kernel cannot mark a range at once (before Linux 5.11, or on
// macOS), each listed descriptor is marked instead.
TEST(MarkInheritedDescriptorsTest, FallsBackToEachListedDescriptor) {
  static int leftOpen;
  static bool listed;
  struct Case {
    bool (*markFrom)(int);
    std::optional<std::vector<int>> (*listOpen)();
    bool marked;
  };
  const Case cases[] = {
      {[](int) { return false; },
       [] {
         listed = true;
         return std::optional<std::vector<int>>(std::vector<int>{0, 1, 2, leftOpen, 99999});
       },
       true},
      {[](int) { return false; },
       [] {
         listed = true;
         return std::optional<std::vector<int>>();
       },
       false},
      {[](int) { return true; },
       [] {
         listed = true;
         return std::optional<std::vector<int>>(std::vector<int>{leftOpen});
       },
       false},
  };
  for (const Case& c : cases) {
    leftOpen = ::open("/dev/null", O_RDONLY);  // without O_CLOEXEC
    ASSERT_GE(leftOpen, 3);
    const int standardInput = ::fcntl(STDIN_FILENO, F_GETFD);
    listed = false;
    markInheritedDescriptors(c.markFrom, c.listOpen);
    EXPECT_EQ((::fcntl(leftOpen, F_GETFD) & FD_CLOEXEC) != 0, c.marked);
    EXPECT_EQ(::fcntl(STDIN_FILENO, F_GETFD), standardInput);
    EXPECT_EQ(listed, c.markFrom(3) == false);
    ::close(leftOpen);
  }
}

}  // namespace
}  // namespace qu
