#pragma once

#include <string_view>

namespace qu {

// Whether a path may be handed to a recursive delete: it must be absolute,
// hold no ".." component, and name something at least two levels below the
// root once "." and empty components are dropped. "/", "/./" and
// "/Applications" fail; "/Applications/X.app" passes.
bool isSafeToDelete(std::string_view path);

}  // namespace qu
