// Mounts on Linux: each has its own id (statx), so a bind mount of a folder
// of the same file system is told apart.
#include "system/mount_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace qu {

std::optional<MountIdentity> mountIdentity(int directoryFd) {
  MountIdentity identity;
  struct statx info {};
  if (::statx(directoryFd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &info) == 0) {
    identity.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    // Kernels before 5.8 leave the id out; the device then has to do.
    if ((info.stx_mask & STATX_MNT_ID) != 0) identity.mount = info.stx_mnt_id;
    return identity;
  }
  struct stat plain {};
  if (::fstat(directoryFd, &plain) != 0) return std::nullopt;
  identity.device = plain.st_dev;
  return identity;
}

}  // namespace qu
