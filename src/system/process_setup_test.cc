#include "system/process_setup.h"

#include <fcntl.h>
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

// Both ways of marking, close_range and the one a kernel before 5.11 needs,
// leave no descriptor from the first one up to reach a child.
TEST(MarkCloseOnExecTest, MarksEveryOpenDescriptorFromTheFirstOneUp) {
  for (const bool tryCloseRange : {true, false}) {
    const int below = ::open("/dev/null", O_RDONLY);
    const int first = ::open("/dev/null", O_RDONLY);
    const int high = ::fcntl(first, F_DUPFD, 900);
    ASSERT_TRUE(below >= 0 && first > below && high >= 900);

    markCloseOnExecFrom(first, tryCloseRange);

    EXPECT_NE(::fcntl(first, F_GETFD) & FD_CLOEXEC, 0) << tryCloseRange;
    EXPECT_NE(::fcntl(high, F_GETFD) & FD_CLOEXEC, 0) << tryCloseRange;
    EXPECT_EQ(::fcntl(below, F_GETFD) & FD_CLOEXEC, 0) << tryCloseRange;
    ::close(below);
    ::close(first);
    ::close(high);
  }
}

}  // namespace
}  // namespace qu
