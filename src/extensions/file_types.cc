#include "extensions/file_types.h"

#include <sys/stat.h>

#include <stdexcept>

namespace qu {

namespace {

// The mode of the path itself, or 0 when nothing exists there (the existence
// test follows links, so a dangling link counts as missing) or it cannot be
// examined. Only a link needs the existence test: anything else exists when
// it can be examined, and removals ask this once per path.
mode_t modeForPath(Platform& platform, const std::string& path) {
  const mode_t mode = platform.linkMode(path).value_or(0);
  if (S_ISLNK(mode) && !platform.exists(path)) return 0;
  return mode;
}

bool hasType(Platform& platform, const std::string& path, mode_t type) {
  return (modeForPath(platform, path) & S_IFMT) == type;
}

// A Finder metadata file alone does not make a directory worth keeping. A
// directory we cannot look into is kept: the caller deletes whatever counts
// as empty together with its contents.
bool entriesCountAsEmpty(const std::optional<std::vector<std::string>>& entries) {
  if (!entries) return false;
  if (entries->size() == 1 && entries->front().find(".DS_Store") != std::string::npos) {
    return true;
  }
  return entries->empty();
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

std::optional<bool> directoryIsEmptyIfPresent(Platform& platform, const std::string& path) {
  if (!isDirectory(platform, path)) return std::nullopt;
  const auto entries = platform.listDirectory(path);
  // A directory that went away since the test above is no longer present;
  // one that is still there but cannot be listed is kept.
  if (!entries && !isDirectory(platform, path)) return std::nullopt;
  return entriesCountAsEmpty(entries);
}

bool directoryIsEmpty(Platform& platform, const std::string& path) {
  if (!platform.exists(path)) throw std::invalid_argument("File does not exist at path.");
  if (!isDirectory(platform, path)) throw std::invalid_argument("Path is not a directory.");
  return entriesCountAsEmpty(platform.listDirectory(path));
}

}  // namespace qu
