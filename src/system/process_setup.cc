#include "system/process_setup.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <vector>

namespace qu {

void markCloseOnExecFrom(int first, bool tryCloseRange) {
  if (tryCloseRange && ::close_range(static_cast<unsigned>(first), ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
    return;
  }
  // Kernels before 5.11 refuse the flag: each open descriptor, as the kernel
  // lists them, is marked on its own (the listing's own one among them).
  std::vector<int> open;
  if (DIR* listing = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(listing)) {
      char* end = nullptr;
      const long fd = std::strtol(entry->d_name, &end, 10);
      if (end != entry->d_name && *end == '\0' && fd >= first && fd <= INT_MAX) {
        open.push_back(static_cast<int>(fd));
      }
    }
    ::closedir(listing);
  } else {
    // No /proc: every number up to the limit.
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (long fd = first; fd < limit; ++fd) open.push_back(static_cast<int>(fd));
  }
  for (const int fd : open) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0) (void)::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
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
  markCloseOnExecFrom(STDERR_FILENO + 1);
}

}  // namespace qu
