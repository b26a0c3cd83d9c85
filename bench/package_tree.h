#pragma once

#include <string>
#include <vector>

#include "manifests/manifest.h"

namespace qu::bench {

// What a large application bundle puts on disk, as paths relative to the
// directory it is installed in: an .app whose resources spread over
// `groups` directories of `setsPerGroup` subdirectories each, every one of
// them holding `filesPerDirectory` files.
struct PackageShape {
  int groups = 50;
  int setsPerGroup = 99;
  int filesPerDirectory = 20;
};

struct PackageLayout {
  // "/Bench.app/Contents/Resources/group-00/set-00/resource-00.dat", ...
  std::vector<std::string> files;
  // Every directory, the bundle itself included, parents before children.
  std::vector<std::string> directories;
  // Directories that hold files (not counting the bundle's own three levels).
  int resourceDirectories = 0;
};

PackageLayout layoutFor(const PackageShape& shape);
// The shape with about this many files, 20 to a directory, 100 directories to a group.
PackageShape shapeWithFiles(int files);
// The files as a bill of materials may list them: file i in directory
// i mod (number of directories), so the next path is always in another one.
void interleaveFiles(PackageLayout& layout, const PackageShape& shape);

// Creates the layout below `root` (which must exist), every file holding a
// few bytes. Throws std::runtime_error when something cannot be created.
void createTree(const std::string& root, const PackageLayout& layout);

// The manifest lists a package database would give for the layout installed
// in `root`: absolute paths, longest first.
PathList manifestFiles(const std::string& root, const PackageLayout& layout);
PathList manifestDirectories(const std::string& root, const PackageLayout& layout);

// A manifest whose lists are given, so no listing tool runs.
class GivenManifest : public Manifest {
 public:
  GivenManifest(Platform& platform, PathList files, PathList directories)
      : Manifest(platform), files_(std::move(files)), directories_(std::move(directories)) {}

  std::optional<PathList> getList(int listType) override {
    return listType == kFileList ? files_ : directories_;
  }
  std::optional<EveryPathQuery> everyPathQuery() override { return std::nullopt; }

 private:
  PathList files_;
  PathList directories_;
};

}  // namespace qu::bench
