#include "system/mount_identity.h"

#include <fcntl.h>
#include <sys/stat.h>

#if defined(__APPLE__)
#include <sys/mount.h>
#include <sys/param.h>
#else
#include <sys/sysmacros.h>
#endif

namespace qu {

std::optional<MountIdentity> mountIdentity(int directoryFd) {
  MountIdentity identity;
#if defined(__APPLE__)
  struct stat info {};
  struct statfs system {};
  if (::fstat(directoryFd, &info) != 0 || ::fstatfs(directoryFd, &system) != 0) {
    return std::nullopt;
  }
  identity.device = info.st_dev;
  identity.mountedOn = system.f_mntonname;
#else
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
#endif
  return identity;
}

}  // namespace qu
