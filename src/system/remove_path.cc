#include "system/remove_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "extensions/paths.h"
#include "platform/unique_fd.h"
#include "system/mount_identity.h"

namespace qu {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

constexpr int kOpenDirectory = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Where a path leads: the directory holding its last component, reached by
// the walk, and that component (the end of the normalised path, which the
// caller keeps and which ends in a NUL).
struct Reached {
  std::string_view normal;
  WalkedDirectory parent;
  std::size_t nameAt = 0;
  const char* name() const { return normal.data() + nameAt; }
};

Reached reach(PathWalker& walker, std::string_view normal) {
  Reached reached;
  reached.normal = normal;
  reached.nameAt = normal.size() - lastComponent(normal).size();
  reached.parent = walker.parentOf(normal);
  return reached;
}

// The normal form of a plain absolute path other than the root, without a
// copy when the path is one already; nothing for any other path.
std::optional<std::string_view> normalOf(const std::string& path, std::string& storage) {
  if (isNormalPlainAbsolutePath(path)) {
    if (path == "/") return std::nullopt;
    return std::string_view(path);
  }
  if (!isPlainAbsolutePath(path)) return std::nullopt;
  storage = normalisedPath(path);
  if (storage == "/") return std::nullopt;
  return std::string_view(storage);
}

// The outcome of a failed walk to a path's directory.
Removal unreached(const WalkedDirectory& parent) {
  if (!parent.link.empty()) return Removal::linkRefused(parent.link);
  // A directory on the way that is missing, or is no directory, means the
  // path is not there.
  if (parent.errnum == ENOENT || parent.errnum == ENOTDIR) {
    return Removal::of(Removal::Outcome::Absent);
  }
  return Removal::failed(parent.errnum);
}

Removal removeNonDirectoryAt(int directory, const char* name) {
  // The kernel copies the name from our memory: from one small buffer each
  // time rather than from a million paths spread over a hundred megabytes,
  // where every copy would miss the processor's caches of addresses.
  char nearby[NAME_MAX + 1];
  const std::size_t length = std::strlen(name);
  if (length < sizeof nearby) {
    std::memcpy(nearby, name, length + 1);
    name = nearby;
  }
  if (::unlinkat(directory, name, 0) == 0) return Removal::of(Removal::Outcome::Removed);
  const int error = errno;
  if (error == ENOENT) return Removal::of(Removal::Outcome::Absent);
  // unlink() never takes a directory: EISDIR here, EPERM on other systems.
  struct stat info {};
  if ((error == EISDIR || error == EPERM) &&
      ::fstatat(directory, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(info.st_mode)) {
    return Removal::of(Removal::Outcome::Directory);
  }
  return Removal::failed(error);
}

// As removeNonDirectoryAt, for a path the walker may have reached through it:
// a link the walk followed is gone with the removal, and a later path below
// it must be walked afresh, not taken to the link's old target.
Removal removeNonDirectory(PathWalker& walker, const Reached& at) {
  Removal removal = removeNonDirectoryAt(at.parent.fd, at.name());
  if (removal.removed()) walker.forgetBelowUnlinked(at.normal);
  return removal;
}

// Only a regular file counts as the Finder metadata that leaves a directory
// as good as empty; a folder or a link of that name is something else.
bool holdsOnlyFinderMetadata(int directory, std::string& metadataName) {
  const auto names = entryNames(directory);
  if (!names || names->size() != 1) return false;
  if (names->front().find(".DS_Store") == std::string::npos) return false;
  struct stat info {};
  if (::fstatat(directory, names->front().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode)) {
    return false;
  }
  metadataName = names->front();
  return true;
}

Removal removeEmptyDirectoryAt(PathWalker& walker, const Reached& at, const RemovalHooks& hooks) {
  const int parent = at.parent.fd;
  const char* name = at.name();
  // Most directories are empty by the time the directory pass reaches them.
  if (::unlinkat(parent, name, AT_REMOVEDIR) == 0) {
    walker.forget(at.normal, false);
    return Removal::of(Removal::Outcome::Removed);
  }
  const int error = errno;
  if (error == ENOENT) return Removal::of(Removal::Outcome::Absent);
  if (error == ENOTDIR) return removeNonDirectory(walker, at);
  if (error != ENOTEMPTY && error != EEXIST) return Removal::failed(error);

  UniqueFd directory(::openat(parent, name, kOpenDirectory));
  std::string metadata;
  if (!directory.valid() || !holdsOnlyFinderMetadata(directory.get(), metadata)) {
    return Removal::of(Removal::Outcome::NotEmpty);
  }
  if (::unlinkat(directory.get(), metadata.c_str(), 0) != 0 && errno != ENOENT) {
    return Removal::failed(errno);
  }
  directory.reset();
  if (hooks.beforeDirectoryRemoval) hooks.beforeDirectoryRemoval(std::string(at.normal));
  // Never recursive: whatever arrived since the listing keeps the directory.
  if (::unlinkat(parent, name, AT_REMOVEDIR) == 0) {
    walker.forget(at.normal, false);
    return Removal::of(Removal::Outcome::Removed);
  }
  if (errno == ENOTEMPTY || errno == EEXIST) return Removal::of(Removal::Outcome::NotEmpty);
  return Removal::failed(errno);
}

// Deeper than any package's tree; a user's endless nesting below a tree
// would otherwise hold a descriptor and a stack frame per level.
constexpr int kMaxTreeDepth = 256;

// Whether root, removing a tree, enters a folder of `owner` inside one of
// `parentOwner`: a folder of an ordinary user only inside root's or the same
// user's. One user may move into a folder of theirs that a package names a
// folder holding a third user's, which only that user could delete.
bool entersFolder(uid_t owner, uid_t parentOwner) {
  return owner == 0 || parentOwner == 0 || owner == parentOwner;
}

// What a tree removal walks through: the mount it stays on, the folders it
// leaves to their owners.
struct TreeWalk {
  MountIdentity mount;
  std::vector<Removal::LeftToOwner> left;
  // Judging only: every decision is made, no entry is unlinked.
  bool onlyJudge = false;
};

// Deletes everything inside an open directory, at `path` and owned by
// `owner`, that lies on the walk's mount; every step is relative to a
// descriptor opened without following links. Returns the first failure
// (EXDEV for what lies on another mount, a bind mount of the same file
// system included, ELOOP for what lies too deep, EPERM for a folder left to
// its owner), 0 if none.
int removeContents(int directory, const std::string& path, uid_t owner, TreeWalk& walk,
                   int depth = 0) {
  const auto names = entryNames(directory);
  if (!names) return errno != 0 ? errno : EIO;
  // One rule for every entry of a level: too deep, files and folders alike stay.
  if (depth >= kMaxTreeDepth) return names->empty() ? 0 : ELOOP;
  int firstError = 0;
  const auto note = [&firstError](int error) {
    if (firstError == 0) firstError = error;
  };
  for (const std::string& name : *names) {
    struct stat info {};
    if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) note(errno);
      continue;
    }
    if (!S_ISDIR(info.st_mode)) {
      if (walk.onlyJudge) continue;
      if (::unlinkat(directory, name.c_str(), 0) != 0 && errno != ENOENT) note(errno);
      continue;
    }
    // A mount point: what is mounted there is not ours to empty.
    if (info.st_dev != walk.mount.device) {
      note(EXDEV);
      continue;
    }
    UniqueFd inner(::openat(directory, name.c_str(), kOpenDirectory));
    if (!inner.valid()) {
      note(errno);
      continue;
    }
    const std::optional<MountIdentity> innerMount = mountIdentity(inner.get());
    if (!innerMount || *innerMount != walk.mount) {
      note(innerMount ? EXDEV : errno);
      continue;
    }
    // Its owner as opened: the folder may have been swapped since the look above.
    struct stat opened {};
    if (::fstat(inner.get(), &opened) != 0) {
      note(errno);
      continue;
    }
    const std::string innerPath = childPath(path, name);
    if (!entersFolder(opened.st_uid, owner)) {
      walk.left.push_back({innerPath, static_cast<unsigned>(opened.st_uid)});
      note(EPERM);
      continue;
    }
    if (int error = removeContents(inner.get(), innerPath, opened.st_uid, walk, depth + 1)) {
      note(error);
    }
    inner.reset();
    if (walk.onlyJudge) continue;
    if (::unlinkat(directory, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) note(errno);
  }
  return firstError;
}

Removal removeTreeAt(PathWalker& walker, const Reached& at, bool onlyJudge) {
  const int parent = at.parent.fd;
  struct stat info {};
  if (::fstatat(parent, at.name(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? Removal::of(Removal::Outcome::Absent) : Removal::failed(errno);
  }
  if (!S_ISDIR(info.st_mode)) {
    return onlyJudge ? Removal::of(Removal::Outcome::Removed) : removeNonDirectory(walker, at);
  }
  // Swapped for a link since the test above: O_NOFOLLOW refuses it.
  UniqueFd directory(::openat(parent, at.name(), kOpenDirectory));
  if (!directory.valid()) return Removal::failed(errno);
  const std::optional<MountIdentity> opened = mountIdentity(directory.get());
  const std::optional<MountIdentity> above = mountIdentity(parent);
  struct stat top {};
  struct stat topParent {};
  if (!opened || !above || ::fstat(directory.get(), &top) != 0 ||
      ::fstat(parent, &topParent) != 0) {
    return Removal::failed(errno);
  }
  // Mounted right there: emptying it would empty another file system, or
  // another place of this one.
  if (*opened != *above) return Removal::failed(EXDEV);
  if (!entersFolder(top.st_uid, topParent.st_uid)) {
    Removal left = Removal::failed(EPERM);
    left.leftToOwners.push_back({std::string(at.normal), static_cast<unsigned>(top.st_uid)});
    return left;
  }
  TreeWalk walk{*opened, {}, onlyJudge};
  const int contentsError =
      removeContents(directory.get(), std::string(at.normal), top.st_uid, walk);
  directory.reset();
  if (onlyJudge) {
    if (contentsError == 0) return Removal::of(Removal::Outcome::Removed);
    Removal left = Removal::failed(contentsError);
    left.leftToOwners = std::move(walk.left);
    return left;
  }
  walker.forget(at.normal, true);
  if (::unlinkat(parent, at.name(), AT_REMOVEDIR) != 0) {
    Removal failed = Removal::failed(contentsError != 0 ? contentsError : errno);
    failed.leftToOwners = std::move(walk.left);
    return failed;
  }
  return Removal::of(Removal::Outcome::Removed);
}

}  // namespace

std::optional<std::vector<std::string>> entryNames(int directoryFd) {
  UniqueFd copy(::fcntl(directoryFd, F_DUPFD_CLOEXEC, 0));
  if (!copy.valid()) return std::nullopt;
  std::unique_ptr<DIR, DirCloser> stream(::fdopendir(copy.get()));
  if (!stream) return std::nullopt;
  copy.release();  // now owned by the stream
  ::rewinddir(stream.get());
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
    errno = 0;
  }
  if (errno != 0) return std::nullopt;
  return names;
}

Removal removeWithWalk(PathWalker& walker, const std::string& path, RemovalScope scope,
                       const RemovalHooks& hooks) {
  // Never the root or a relative path, whatever the rules above said.
  std::string storage;
  const std::optional<std::string_view> normal = normalOf(path, storage);
  if (!normal) return Removal::of(Removal::Outcome::Refused);
  const Reached at = reach(walker, *normal);
  if (!at.parent.reached()) return unreached(at.parent);
  switch (scope) {
    case RemovalScope::NonDirectory:
      return removeNonDirectory(walker, at);
    case RemovalScope::EmptyDirectory:
      return removeEmptyDirectoryAt(walker, at, hooks);
    case RemovalScope::Tree:
      return removeTreeAt(walker, at, false);
  }
  return Removal::failed(EINVAL);
}

Removal judgeTreeWithWalk(PathWalker& walker, const std::string& path) {
  std::string storage;
  const std::optional<std::string_view> normal = normalOf(path, storage);
  if (!normal) return Removal::of(Removal::Outcome::Refused);
  const Reached at = reach(walker, *normal);
  if (!at.parent.reached()) return unreached(at.parent);
  return removeTreeAt(walker, at, true);
}

}  // namespace qu
