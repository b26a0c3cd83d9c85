#include "uninstaller/removal.h"

#include <cerrno>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "extensions/file_types.h"
#include "uninstaller/deletion_guard.h"

namespace qu {

void FileRemoval::removeManifest(Manifest* manifest) {
  progress_.currentPos = 0;
  static const PathList kNone;
  const PathList* files = &kNone;
  const PathList* directories = &kNone;
  if (manifest != nullptr) {
    if (const auto& list = manifest->files()) files = &*list;
    if (const auto& list = manifest->directories()) directories = &*list;
  }
  const int total = static_cast<int>(files->size() + directories->size());

  // Files first; directories that the files leave empty go in the second
  // pass, which runs longest path first so children go before parents.
  removeItems(*files, /*skipDirectories=*/true, /*ifNotEmpty=*/false, total);
  removeItems(*directories, /*skipDirectories=*/true, /*ifNotEmpty=*/true, total);

  progress_.percent += progress_.share();
}

void FileRemoval::removeItems(const PathList& paths, bool skipDirectories, bool ifNotEmpty,
                              int total) {
  for (const std::string& path : paths) {
    ++progress_.currentPos;
    printProgressForName(path, total, progress_.currentPos);

    if (!skipDirectories) {
      removeItem(path);
      continue;
    }
    // Anything but a directory goes now, in one call for the common case of
    // a file; a directory stays unless ifNotEmpty lets an empty one go.
    if (!removeUnlessDirectory(path) || !ifNotEmpty) continue;
    // A directory that vanished since the test above reads as nothing and
    // stays. Only one that could have gone is reported as kept: "/" and
    // its children are never deleted, empty or not.
    const std::optional<bool> empty = directoryIsEmptyIfPresent(platform_, path);
    if (empty == true) removeItem(path);
    if (empty == false && isSafeToDelete(path)) platform_.leaveDirectory(path);
  }
}

bool FileRemoval::removeUnlessDirectory(const std::string& path) {
  if (!isSafeToDelete(path)) return isDirectory(platform_, path);
  return platform_.removeUnlessDirectory(path).errnum() == EISDIR;
}

void FileRemoval::removeItem(const std::string& path, bool unlessDirectory) {
  if (unlessDirectory && isDirectory(platform_, path)) return;
  if (!isSafeToDelete(path)) return;
  // Best effort: a path that is gone or cannot be deleted is not worth a word.
  (void)platform_.removePath(path);
}

void FileRemoval::printProgressForName(const std::string& name, int total, int current) {
  // Single precision, in this order, so the printed numbers stay those users
  // and front ends have always seen (12, 25, 37, 50 for four paths of two items).
  const float itemShare = static_cast<float>(current) / static_cast<float>(total) * 100.0f /
                          static_cast<float>(progress_.itemCount);
  const float runPercent = static_cast<float>(progress_.percent) + itemShare;
  // "Uninstalling:\t[%d%%] %s\n", put together by hand as it is printed once
  // per path. Like "%s", the name ends at a NUL.
  char digits[16];
  const std::string_view percent(
      digits, std::to_chars(digits, digits + sizeof digits, static_cast<int>(runPercent)).ptr);
  const std::string_view shownName(name.c_str());
  std::string line;
  line.reserve(24 + shownName.size());
  line.append("Uninstalling:\t[").append(percent).append("%] ").append(shownName).append("\n");
  platform_.printProgress(line);
}

}  // namespace qu
