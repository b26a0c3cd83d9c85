#include "system/process_setup.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "system/os.h"

namespace qu {

void markCloseOnExec(const std::vector<int>& descriptors) {
  for (int fd : descriptors) {
    if (fd <= STDERR_FILENO) continue;
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && (flags & FD_CLOEXEC) == 0) (void)::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

void markInheritedDescriptors(bool (*markFrom)(int first),
                              std::optional<std::vector<int>> (*listOpen)()) {
  // One call where the kernel has it; otherwise (an older kernel, or a
  // system without it) each open descriptor is marked on its own.
  if (markFrom(STDERR_FILENO + 1)) return;
  if (const std::optional<std::vector<int>> open = listOpen()) markCloseOnExec(*open);
}

void raiseCallersLimits() {
  for (const int resource : {RLIMIT_FSIZE, RLIMIT_AS, RLIMIT_DATA, RLIMIT_NPROC, RLIMIT_NOFILE}) {
    struct rlimit current {};
    if (::getrlimit(resource, &current) != 0) continue;
    const struct rlimit unlimited {RLIM_INFINITY, RLIM_INFINITY};
    if (::setrlimit(resource, &unlimited) == 0) continue;
    // Without the right to raise a hard limit (or for descriptors, which
    // have a ceiling), the soft one still goes up to it.
    if (current.rlim_cur == current.rlim_max) continue;
    current.rlim_cur = current.rlim_max;
    (void)::setrlimit(resource, &current);
  }
}

void setUpProcess(bool callerIsRoot) {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() takes the lowest free number, which is this one.
    (void)::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
  (void)std::signal(SIGPIPE, SIG_IGN);
  (void)std::signal(SIGXFSZ, SIG_IGN);
  (void)std::signal(SIGCHLD, SIG_DFL);
  if (callerIsRoot) return;
  (void)::umask(022);
  (void)::chdir("/");
  if (::geteuid() == 0) raiseCallersLimits();
  markInheritedDescriptors(os::markCloseOnExecFrom, os::openDescriptors);
}

}  // namespace qu
