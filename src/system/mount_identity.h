#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qu {

// Which mount a directory belongs to. The device number alone does not tell:
// a bind mount shows a folder of the same file system, with the same device,
// somewhere else. Linux gives each mount its own id; macOS names the
// directory a file system is mounted on.
struct MountIdentity {
  dev_t device = 0;
  std::uint64_t mount = 0;  // the mount's id, where the system tells it
  std::string mountedOn;    // where the system tells that instead
  bool operator==(const MountIdentity&) const = default;
};

// The mount of an open directory, or nothing when the system cannot tell.
std::optional<MountIdentity> mountIdentity(int directoryFd);

}  // namespace qu
