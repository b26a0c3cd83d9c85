#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/removal.h"
#include "platform/status.h"
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

// What is at the path, judged as removeWithWalk() reaches it.
PathState examineWithWalk(PathWalker& walker, const std::string& path);

// The entry names of the directory at the path, reached through the walker
// and opened without following a link at its end; "." and ".." excluded,
// sorted. Nothing when it cannot be listed.
std::optional<std::vector<std::string>> listWithWalk(PathWalker& walker, const std::string& path);

// Why a property-list edit leaves the file at `path` alone when the walk
// finds it as `state` (a link, or reached through a refused one); ok when
// the state is no reason.
Status propertyListRefusal(const std::string& path, const PathState& state);

// The entry names of an open directory, "." and ".." excluded, in the
// directory's own order; nothing when it cannot be read.
std::optional<std::vector<std::string>> entryNames(int directoryFd);

}  // namespace qu
