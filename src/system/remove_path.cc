#include "system/remove_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/unique_fd.h"

namespace qu {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Remembers the first failure; later ones are dropped.
class Outcome {
 public:
  void fail(int errnum, const std::string& path) {
    if (first_.isOk()) first_ = Status::fromErrno(errnum, "remove " + path);
  }
  Status take() { return std::move(first_); }

 private:
  Status first_ = Status::ok();
};

// Entry names of an open directory, "." and ".." excluded. The directory is
// read completely before anything in it is deleted.
std::optional<std::vector<std::string>> entryNames(int directory) {
  UniqueFd copy(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
  if (!copy.valid()) return std::nullopt;
  std::unique_ptr<DIR, DirCloser> stream(::fdopendir(copy.get()));
  if (!stream) return std::nullopt;
  copy.release();  // now owned by the stream
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  if (errno != 0) return std::nullopt;
  return names;
}

// Deletes everything inside an open directory, never leaving it through a
// symbolic link: every step is relative to a descriptor opened without
// following links.
void removeContents(int directory, const std::string& directoryPath, Outcome& outcome) {
  const auto names = entryNames(directory);
  if (!names) {
    outcome.fail(errno, directoryPath);
    return;
  }
  for (const std::string& name : *names) {
    const std::string path = directoryPath + "/" + name;
    struct stat info {};
    if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) outcome.fail(errno, path);
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      UniqueFd inner(
          ::openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (inner.valid()) {
        removeContents(inner.get(), path, outcome);
      } else {
        outcome.fail(errno, path);
      }
      inner.reset();
      if (::unlinkat(directory, name.c_str(), AT_REMOVEDIR) != 0) outcome.fail(errno, path);
    } else if (::unlinkat(directory, name.c_str(), 0) != 0) {
      outcome.fail(errno, path);
    }
  }
}

bool isFileSystemRoot(const struct stat& info) {
  struct stat root {};
  if (::stat("/", &root) != 0) return true;  // cannot tell: assume the worst
  return info.st_dev == root.st_dev && info.st_ino == root.st_ino;
}

Status refuse(const std::string& path, const char* why) {
  return Status::error(EINVAL, "remove " + path + ": " + why);
}

}  // namespace

Status removePathTree(const std::string& given) {
  if (given.empty() || given.front() != '/') return refuse(given, "not an absolute path");
  // Without trailing slashes, so a link at the end is the link and not its target.
  std::string path = given;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (std::filesystem::path(path).lexically_normal() == "/") {
    return refuse(given, "the file-system root");
  }

  // The directories a removal hands over are mostly empty by now, and one
  // rmdir() takes those. It removes nothing else: not a link (never
  // followed at the end of the path), not a directory with entries, not "/".
  if (::rmdir(path.c_str()) == 0) return Status::ok();

  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return Status::fromErrno(errno, "remove " + path);
  if (!S_ISDIR(info.st_mode)) {
    if (::unlink(path.c_str()) != 0) return Status::fromErrno(errno, "remove " + path);
    return Status::ok();
  }
  // Another name for the root (through "." components and links on the way).
  if (isFileSystemRoot(info)) return refuse(given, "the file-system root");

  Outcome outcome;
  UniqueFd directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (directory.valid()) {
    removeContents(directory.get(), path, outcome);
  } else {
    outcome.fail(errno, path);
  }
  directory.reset();
  if (::rmdir(path.c_str()) != 0) outcome.fail(errno, path);
  return outcome.take();
}

Status removeNonDirectory(const std::string& path) {
  if (path.empty() || path.front() != '/') return removePathTree(path);  // refused there
  // unlink() never removes a directory (EISDIR, or EPERM on some systems) and
  // never follows a link at the end of the path.
  if (::unlink(path.c_str()) == 0) return Status::ok();
  if (errno == ENOENT) return Status::fromErrno(ENOENT, "remove " + path);
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return Status::error(EISDIR, "remove " + path + ": a directory");
  }
  // Whatever unlink() refused for another reason (a trailing slash after a
  // file, permissions) gets the general treatment and its answer.
  return removePathTree(path);
}

}  // namespace qu
