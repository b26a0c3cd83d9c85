#include "extensions/file_types.h"

#include <sys/stat.h>


namespace qu {

namespace {

// The mode of the path itself, or 0 when nothing exists there (the existence
// test follows links, so a dangling link counts as missing) or it cannot be
// examined. Only a link needs the existence test: anything else exists when
// it can be examined.
mode_t modeForPath(Platform& platform, const std::string& path) {
  const mode_t mode = platform.linkMode(path).value_or(0);
  if (S_ISLNK(mode) && !platform.exists(path)) return 0;
  return mode;
}

bool hasType(Platform& platform, const std::string& path, mode_t type) {
  return (modeForPath(platform, path) & S_IFMT) == type;
}

}  // namespace

bool isSymbolicLink(Platform& platform, const std::string& path) {
  return hasType(platform, path, S_IFLNK);
}

bool isFile(Platform& platform, const std::string& path) {
  return hasType(platform, path, S_IFREG);
}

bool isDirectory(Platform& platform, const std::string& path) {
  return hasType(platform, path, S_IFDIR);
}

}  // namespace qu
