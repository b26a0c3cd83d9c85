// Descriptors on Linux.
#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "system/os.h"

namespace qu::os {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

// A descriptor that only names a directory is enough to walk and to act
// relative to it, and needs no right to read the directory (a dry run by an
// ordinary user walks where it may only search).
int walkDirectoryFlags() { return O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC; }

rlim_t descriptorCeiling() { return RLIM_INFINITY; }

int openPipe(int ends[2]) { return ::pipe2(ends, O_CLOEXEC) == 0 ? 0 : errno; }

std::optional<std::vector<int>> openDescriptors() {
  std::unique_ptr<DIR, DirCloser> listing(::opendir("/proc/self/fd"));
  if (!listing) return std::nullopt;
  std::vector<int> descriptors;
  while (const dirent* entry = ::readdir(listing.get())) {
    char* end = nullptr;
    errno = 0;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || errno != 0 || fd < 0 || fd > INT_MAX) continue;
    descriptors.push_back(static_cast<int>(fd));
  }
  return descriptors;
}

// Kernels before 5.11 refuse the flag.
bool markCloseOnExecFrom(int first) {
  return ::close_range(static_cast<unsigned>(first), ~0U, CLOSE_RANGE_CLOEXEC) == 0;
}

int flushToStorage(int fd) { return ::fsync(fd) == 0 ? 0 : errno; }

// Every descriptor of ours is opened close-on-exec, and a caller's were
// marked at start.
int keepDescriptorsFromChild(posix_spawn_file_actions_t*, short&) { return 0; }

}  // namespace qu::os
