#pragma once

#include <string>

#include "platform/status.h"

namespace qu {

// Deletes the path: a directory with everything below it, anything else by
// itself. Symbolic links are removed, never followed, also at the end of a
// path given with trailing slashes. Keeps deleting past failures and returns
// the first one. Refuses (EINVAL, nothing deleted) an empty or relative path
// and any path that is the file-system root.
Status removePathTree(const std::string& path);

// Deletes the path unless it is a directory: a file or a symbolic link (also
// one to a directory) in a single unlink() when that is all it takes, else as
// removePathTree() would. A directory is left and reported with EISDIR.
Status removeNonDirectory(const std::string& path);

}  // namespace qu
