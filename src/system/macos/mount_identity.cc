// Mounts on macOS: the file system's statistics name the directory it is
// mounted on, which differs for every mount.
#include "system/mount_identity.h"

#include <sys/mount.h>
#include <sys/param.h>
#include <sys/stat.h>

namespace qu {

std::optional<MountIdentity> mountIdentity(int directoryFd) {
  MountIdentity identity;
  struct stat info {};
  struct statfs system {};
  if (::fstat(directoryFd, &info) != 0 || ::fstatfs(directoryFd, &system) != 0) {
    return std::nullopt;
  }
  identity.device = info.st_dev;
  identity.mountedOn = system.f_mntonname;
  return identity;
}

}  // namespace qu
