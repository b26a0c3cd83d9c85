#include "system/process_setup.h"

#include <fcntl.h>
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
  markInheritedDescriptors(os::markCloseOnExecFrom, os::openDescriptors);
}

}  // namespace qu
