#include "uninstaller/removal.h"

#include "extensions/file_types.h"
#include "extensions/text.h"
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

    bool remove = !isDirectory(platform_, path) || !skipDirectories;
    if (!remove && ifNotEmpty) {
      // A directory that vanished since the test above reads as nothing and stays.
      remove = directoryIsEmptyIfPresent(platform_, path).value_or(false);
    }
    if (remove) removeItem(path);
  }
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
  platform_.print(format("Uninstalling:\t[%d%%] %s\n", static_cast<int>(runPercent), name.c_str()));
}

}  // namespace qu
