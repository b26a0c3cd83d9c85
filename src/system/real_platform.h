#pragma once

#include <memory>

#include "extensions/atomic_file.h"
#include "platform/platform.h"
#include "system/remove_path.h"

namespace qu {

// The real system's fixed locations, with this system's administrators' group.
Locations systemLocations();
// The operating system itself, at the given locations. Only main() builds one,
// at the system's locations; tests build one over a temporary tree.
std::unique_ptr<Platform> makeRealPlatform(Locations locations = systemLocations());
// What a test may change in the real platform.
struct RealPlatformOptions {
  // Property-list rewrites fill their temporary file through this, so a test
  // can make the disk fill up part way through; empty: write(2).
  WriteCall propertyListWrite;
  // Points in the middle of a removal where a test changes the world.
  RemovalHooks hooks;
};
std::unique_ptr<Platform> makeRealPlatform(Locations locations, RealPlatformOptions options);

}  // namespace qu
