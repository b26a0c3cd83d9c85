#include "system/process_setup.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace qu {

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
  (void)::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
}

}  // namespace qu
