#pragma once

#include <memory>

#include "platform/platform.h"

namespace qu {

// The operating system itself, at the given locations. Only main() builds one,
// with the default Locations; tests build one over a temporary tree.
std::unique_ptr<Platform> makeRealPlatform(Locations locations = {});

}  // namespace qu
