#pragma once

#include <memory>

#include "extensions/atomic_file.h"
#include "platform/platform.h"

namespace qu {

// The operating system itself, at the given locations. Only main() builds one,
// with the default Locations; tests build one over a temporary tree.
std::unique_ptr<Platform> makeRealPlatform(Locations locations = {});
// As above, with property-list rewrites filling their temporary file through
// `write`, so a test can make the disk fill up part way through.
std::unique_ptr<Platform> makeRealPlatform(Locations locations, WriteCall write);

}  // namespace qu
