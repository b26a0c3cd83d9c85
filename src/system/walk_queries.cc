#include "system/walk_queries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "extensions/file_handle.h"
#include "extensions/paths.h"
#include "platform/result.h"
#include "platform/unique_fd.h"
#include "system/remove_path.h"

namespace qu {

namespace {

constexpr int kOpenDirectory = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Links at the end of a path followed one after another before giving up.
constexpr int kMaxFinalLinks = 8;

PathState::Kind kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return PathState::Kind::Directory;
  if (S_ISREG(mode)) return PathState::Kind::Regular;
  if (S_ISLNK(mode)) return PathState::Kind::Link;
  return PathState::Kind::Other;
}

std::string refusedLinkOnTheWay(const std::string& link) {
  return "the symbolic link " + link + " on its way is not the system's own";
}

Status errnoReason(int errnum) { return Status::error(errnum, std::strerror(errnum)); }

// The last component of a path, reached through the walker, with its status.
struct Entry {
  int parent = -1;     // borrowed from the walker
  std::string normal;  // the entry's own path, after any link at the end
  std::string name;
  struct stat info {};
};

// Reaches the entry a path names, following a link at its end only when
// trusted by root. The error's message is the reason, fit for a log line.
Result<Entry> reachEntry(PathWalker& walker, const std::string& path, int links = 0) {
  if (!isPlainAbsolutePath(path)) return Status::error(EINVAL, "not a plain absolute path");
  Entry entry;
  entry.normal = normalisedPath(path);
  if (entry.normal == "/") return Status::error(EISDIR, "the root directory");
  const WalkedDirectory parent = walker.parentOf(entry.normal);
  if (!parent.reached()) {
    if (!parent.link.empty()) return Status::error(ELOOP, refusedLinkOnTheWay(parent.link));
    return errnoReason(parent.errnum);
  }
  entry.parent = parent.fd;
  entry.name = std::string(lastComponent(entry.normal));
  if (::fstatat(parent.fd, entry.name.c_str(), &entry.info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errnoReason(errno);
  }
  if (!S_ISLNK(entry.info.st_mode)) return entry;

  // A link's own permission bits mean nothing; its owner and directory do.
  const std::string directory = parentPath(entry.normal);
  if (links >= kMaxFinalLinks || !walker.directoryTrusted(directory) ||
      !isRootsOwnLink(entry.info)) {
    return Status::error(ELOOP, "a symbolic link that is not the system's own");
  }
  std::string target(PATH_MAX, '\0');
  const ssize_t length =
      ::readlinkat(entry.parent, entry.name.c_str(), target.data(), target.size());
  if (length < 0) return errnoReason(errno);
  target.resize(static_cast<std::size_t>(length));
  // ".." after links would be resolved by the kernel, not by this walk.
  if (!isPlainAbsolutePath(target.starts_with('/') ? target : "/" + target)) {
    return Status::error(ELOOP, "a symbolic link whose target goes up with \"..\"");
  }
  return reachEntry(walker, target.starts_with('/') ? target : childPath(directory, target),
                    links + 1);
}

}  // namespace

PathState examineWithWalk(PathWalker& walker, const std::string& path) {
  if (!isPlainAbsolutePath(path)) return {PathState::Kind::Unknown, EINVAL, {}};
  const std::string normal = normalisedPath(path);
  if (normal == "/") return {PathState::Kind::Directory, 0, {}};
  const WalkedDirectory parent = walker.parentOf(normal);
  if (!parent.reached()) {
    if (!parent.link.empty()) return {PathState::Kind::LinkRefused, 0, parent.link};
    if (parent.errnum == ENOENT || parent.errnum == ENOTDIR) {
      return {PathState::Kind::Missing, 0, {}};
    }
    return {PathState::Kind::Unknown, parent.errnum, {}};
  }
  struct stat info {};
  const std::string name(lastComponent(normal));
  if (::fstatat(parent.fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return {PathState::Kind::Missing, 0, {}};
    return {PathState::Kind::Unknown, errno, {}};
  }
  return {kindOf(info.st_mode), 0, {}, info.st_dev, info.st_ino};
}

std::optional<std::vector<std::string>> listWithWalk(PathWalker& walker, const std::string& path) {
  if (!isPlainAbsolutePath(path)) return std::nullopt;
  const std::string normal = normalisedPath(path);
  UniqueFd directory;
  if (normal == "/") {
    directory.reset(::open("/", kOpenDirectory));
  } else {
    const WalkedDirectory parent = walker.parentOf(normal);
    if (!parent.reached()) return std::nullopt;
    directory.reset(::openat(parent.fd, std::string(lastComponent(normal)).c_str(), kOpenDirectory));
  }
  if (!directory.valid()) return std::nullopt;
  auto names = entryNames(directory.get());
  if (names) std::sort(names->begin(), names->end());
  return names;
}

std::optional<std::string> readFileWithWalk(PathWalker& walker, const std::string& path,
                                            std::size_t limit, std::string& refusal) {
  refusal.clear();
  Result<Entry> entry = reachEntry(walker, path);
  if (!entry) {
    if (entry.error().errnum() == ELOOP) refusal = entry.error().message();
    return std::nullopt;
  }
  const auto tooLarge = [&refusal, limit] {
    refusal = "larger than " + std::to_string(limit >> 20) + " MiB";
  };
  // A directory where a file is expected is simply no file to read; a pipe,
  // a device or a socket there is worth a word.
  if (S_ISDIR(entry->info.st_mode)) return std::nullopt;
  if (!S_ISREG(entry->info.st_mode)) {
    refusal = "not a regular file";
    return std::nullopt;
  }
  if (static_cast<std::size_t>(entry->info.st_size) > limit) {
    tooLarge();
    return std::nullopt;
  }
  // Whatever is there when it is opened must still be a regular file: a
  // pipe put in its place must not block the open, nor a device the read.
  UniqueFd file(::openat(entry->parent, entry->name.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat opened {};
  if (!file.valid() || ::fstat(file.get(), &opened) != 0) return std::nullopt;
  if (!S_ISREG(opened.st_mode)) {
    refusal = "not a regular file";
    return std::nullopt;
  }
  std::optional<std::string> bytes = readAllBytes(file.get(), limit);
  if (!bytes && errno == EFBIG) tooLarge();
  return bytes;
}

namespace {

// Names the first directory on the way that someone else may change.
Status untrustedDirectory(PathWalker& walker, const std::string& directory) {
  std::string prefix = "/";
  for (std::size_t start = 1; walker.directoryTrusted(prefix) && start < directory.size();) {
    std::size_t slash = directory.find('/', start);
    if (slash == std::string::npos) slash = directory.size();
    prefix = directory.substr(0, slash);
    start = slash + 1;
  }
  return Status::error(EPERM, "the directory " + prefix + " is not root's alone");
}

}  // namespace

Status controlledByRootWithWalk(PathWalker& walker, const std::string& path) {
  Result<Entry> entry = reachEntry(walker, path);
  if (!entry && entry.error().errnum() == ENOENT && isPlainAbsolutePath(path)) {
    // Nothing there: whoever may create it decides what the tool gets.
    std::string existing = parentPath(normalisedPath(path));
    while (existing != "/" && !walker.directory(existing).reached()) {
      existing = parentPath(existing);
    }
    return walker.directoryTrusted(existing) ? Status::ok() : untrustedDirectory(walker, existing);
  }
  if (!entry) return entry.error();
  if (!S_ISDIR(entry->info.st_mode)) return trustedByRootWithWalk(walker, path);
  if (!walker.directoryTrusted(entry->normal)) return untrustedDirectory(walker, entry->normal);
  return Status::ok();
}

Status trustedByRootWithWalk(PathWalker& walker, const std::string& path) {
  Result<Entry> entry = reachEntry(walker, path);
  if (!entry) return entry.error();
  const std::string directory = parentPath(entry->normal);
  if (!walker.directoryTrusted(directory)) return untrustedDirectory(walker, directory);
  if (!S_ISREG(entry->info.st_mode)) return Status::error(EACCES, "not a regular file");
  if (entry->info.st_uid != 0) {
    return Status::error(EPERM, "owned by user " + std::to_string(entry->info.st_uid));
  }
  if (!walker.entryTrusted(entry->info)) return Status::error(EPERM, "writable by others than root");
  // A hard link to a root program may stand wherever a user can create
  // entries; the program installed for the job has no other name.
  if (entry->info.st_nlink != 1) {
    return Status::error(EPERM, "a hard link (" + std::to_string(entry->info.st_nlink) + " names)");
  }
  return Status::ok();
}

Status propertyListRefusal(const std::string& path, const PathState& state) {
  if (state.kind == PathState::Kind::Link) {
    return Status::error(ELOOP, "read " + path + ": a symbolic link");
  }
  if (state.kind == PathState::Kind::LinkRefused) {
    return Status::error(ELOOP, "read " + path + ": " + refusedLinkOnTheWay(state.link));
  }
  return Status::ok();
}

}  // namespace qu
