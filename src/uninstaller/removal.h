#pragma once

#include <string>

#include "manifests/manifest.h"
#include "platform/platform.h"
#include "uninstaller/run_progress.h"

namespace qu {

// Deletes what a package put on disk, best effort and silently, printing one
// progress line per manifest path. Paths that fail isSafeToDelete() are never
// deleted. Symbolic links are deleted as links, never followed.
class FileRemoval {
 public:
  FileRemoval(Platform& platform, RunProgress& progress)
      : platform_(platform), progress_(progress) {}

  // Deletes the manifest's files, then those of its directories that are left
  // empty (a lone ".DS_Store" counts as empty), and adds the item's share to
  // the run's percentage. A missing manifest or list counts as empty.
  void removeManifest(Manifest* manifest);

  // For each path: advances the position, prints its progress line, and
  // deletes it unless it is a directory and skipDirectories holds, where
  // ifNotEmpty still lets an empty directory go and reports one that is not
  // empty, and could otherwise have gone, as kept (Platform::leaveDirectory).
  // Directories merely skipped, without ifNotEmpty, are not reported: their
  // verdict comes in the directory pass.
  void removeItems(const PathList& paths, bool skipDirectories, bool ifNotEmpty, int total);

  // Deletes the path, a directory with everything in it, unless
  // unlessDirectory holds and the path is a directory.
  void removeItem(const std::string& path, bool unlessDirectory = false);

  // "Uninstalling:\t[<run percent>%] <name>" for the path at `current` of `total`.
  void printProgressForName(const std::string& name, int total, int current);

 private:
  // Deletes the path unless it is a directory; true when it is one, left in
  // place. Paths that fail isSafeToDelete() are only examined.
  bool removeUnlessDirectory(const std::string& path);

  Platform& platform_;
  RunProgress& progress_;
};

}  // namespace qu
