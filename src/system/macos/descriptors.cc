// Descriptors on macOS.
#include <fcntl.h>
#include <sys/syslimits.h>
#include <sys/sysctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "system/apple_declarations.h"
#include "system/os.h"
#include "system/proc_queries.h"

namespace qu::os {

// No flag opens a directory only to name it on every supported version: the
// walk opens it for reading, which root may always do.
int walkDirectoryFlags() { return O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC; }

// A soft limit above OPEN_MAX or kern.maxfilesperproc is refused.
rlim_t descriptorCeiling() {
  int perProcess = 0;
  std::size_t size = sizeof perProcess;
  if (::sysctlbyname("kern.maxfilesperproc", &perProcess, &size, nullptr, 0) != 0 ||
      perProcess <= 0) {
    return OPEN_MAX;
  }
  return std::min<rlim_t>(OPEN_MAX, static_cast<rlim_t>(perProcess));
}

int openPipe(int ends[2]) {
  if (::pipe(ends) != 0) return errno;
  for (int i = 0; i < 2; ++i) {
    if (::fcntl(ends[i], F_SETFD, FD_CLOEXEC) != 0) {
      const int error = errno;
      ::close(ends[0]);
      ::close(ends[1]);
      return error;
    }
  }
  return 0;
}

std::optional<std::vector<int>> openDescriptors() {
  return listOpenDescriptors(apple::proc_pidinfo, ::getpid());
}

// No call marks a range at once here.
bool markCloseOnExecFrom(int) { return false; }

// fsync leaves the data in the drive's cache; F_FULLFSYNC asks the drive to
// write it out. Some file systems (network shares) do not support it.
int flushToStorage(int fd) {
  if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
  return ::fsync(fd) == 0 ? 0 : errno;
}

// A child starts with no descriptor but those its file actions name and the
// three standard streams, whatever is open in us at that moment.
int keepDescriptorsFromChild(posix_spawn_file_actions_t* actions, short& flags) {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (int error = ::posix_spawn_file_actions_addinherit_np(actions, fd)) return error;
  }
  flags = static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT);
  return 0;
}

}  // namespace qu::os
