#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/removal.h"
#include "system/path_walk.h"

namespace qu {

// Places where a test may change the world in the middle of a removal.
struct RemovalHooks {
  // In the directory pass, after a directory was found to hold nothing but a
  // ".DS_Store" file and that file was unlinked, just before the directory
  // itself is removed.
  std::function<void(const std::string& path)> beforeDirectoryRemoval;
};

// Deletes a path as far as the scope allows, reaching it through the walker:
// every effect is relative to a directory descriptor, a link at the end is
// removed itself, and the directory pass never deletes recursively (a
// directory goes with rmdir, after its lone ".DS_Store" file, so anything
// that appears in between keeps it). A tree removal stays on the file system
// it starts on. Refuses a path that is relative, has ".." or is the root.
Removal removeWithWalk(PathWalker& walker, const std::string& path, RemovalScope scope,
                       const RemovalHooks& hooks = {});

// What removeWithWalk(path, Tree) would answer, every decision made the same
// way (the mount, the depth, the folders of other users), nothing deleted: a
// dry run's verdict on a tree.
Removal judgeTreeWithWalk(PathWalker& walker, const std::string& path);

// The entry names of an open directory, "." and ".." excluded, in the
// directory's own order; nothing when it cannot be read.
std::optional<std::vector<std::string>> entryNames(int directoryFd);

}  // namespace qu
