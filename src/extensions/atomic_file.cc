#include "extensions/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <string>
#include <cstdlib>
#include <optional>

#include "platform/unique_fd.h"

namespace qu {

namespace {

struct Target {
  std::string directory;
  std::string baseName;
};

Target splitPath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// At most 128 bytes of a name, cut between UTF-8 characters: with the
// suffixes a temporary name needs, a long target's name would pass the
// file system's limit of 255 bytes.
std::string shortened(const std::string& name) {
  std::size_t length = std::min<std::size_t>(name.size(), 128);
  while (length > 0 && length < name.size() &&
         (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
    --length;
  }
  return name.substr(0, length);
}

// A temporary file beside the target, in the same directory descriptor, that
// is unlinked when it goes away unless it was renamed into place.
class TemporaryFile {
 public:
  TemporaryFile(int directory, const std::string& baseName) : directory_(directory) {
    // O_EXCL with O_NOFOLLOW: never a file or link someone else put there.
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100 && !fd_.valid(); ++attempt) {
      const auto stamp = static_cast<unsigned long>(
          std::chrono::steady_clock::now().time_since_epoch().count());
      name_ = "." + shortened(baseName) + "." + std::to_string(::getpid()) + "." +
              std::to_string(stamp % 1000000) + std::to_string(++counter);
      fd_.reset(::openat(directory, name_.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (!fd_.valid() && errno != EEXIST) break;
    }
    if (!fd_.valid()) name_.clear();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    fd_.reset();
    if (!name_.empty()) ::unlinkat(directory_, name_.c_str(), 0);
  }

  bool created() const { return !name_.empty(); }
  int fd() const { return fd_.get(); }
  const std::string& name() const { return name_; }

  // Closes the descriptor, reporting the error close(2) may give late
  // (on network file systems a failed write can surface only here).
  int close() { return ::close(fd_.release()) == 0 ? 0 : errno; }
  void keep() { name_.clear(); }

 private:
  int directory_;
  std::string name_;
  UniqueFd fd_;
};

int writeAll(int fd, std::string_view bytes, const WriteCall& write) {
  while (!bytes.empty()) {
    ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A write that makes no progress would loop forever.
    if (written == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace

Status replaceFileAtomically(const std::string& path, std::string_view bytes) {
  return replaceFileAtomically(path, bytes, [](int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
  });
}

Status replaceFileAtomically(const std::string& path, std::string_view bytes,
                             const WriteCall& write) {
  // The permissions and owner to keep are those of the file the path leads to.
  std::optional<struct stat> original;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    original = info;
  } else if (errno != ENOENT) {
    return Status::fromErrno(errno, "stat " + path);
  }
  const Target target = splitPath(path);
  UniqueFd directory(::open(target.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.valid()) return Status::fromErrno(errno, "open " + target.directory);
  return replaceFileAt(directory.get(), target.baseName, bytes, original ? &*original : nullptr,
                       write, path);
}

Status replaceFileAt(int directory, const std::string& name, std::string_view bytes,
                     const struct stat* original, const WriteCall& write,
                     const std::string& shownPath, SyncCall sync) {
  TemporaryFile temporary(directory, name);
  if (!temporary.created()) {
    return Status::fromErrno(errno, "create temporary file for " + shownPath);
  }
  const std::string shownTemporary = shownPath + " (temporary " + temporary.name() + ")";
  if (int err = writeAll(temporary.fd(), bytes, write)) {
    return Status::fromErrno(err, "write " + shownTemporary);
  }
  // Owner before mode: changing the owner can clear the set-user-ID bits.
  if (original && ::fchown(temporary.fd(), original->st_uid, original->st_gid) != 0) {
    return Status::fromErrno(errno, "chown " + shownTemporary);
  }
  mode_t mode = original ? (original->st_mode & 07777) : 0644;
  if (::fchmod(temporary.fd(), mode) != 0) return Status::fromErrno(errno, "chmod " + shownTemporary);
  const int synced = sync != nullptr ? sync(temporary.fd())
                                     : (::fsync(temporary.fd()) == 0 ? 0 : errno);
  if (synced != 0) return Status::fromErrno(synced, "fsync " + shownTemporary);
  if (int err = temporary.close()) return Status::fromErrno(err, "close " + shownTemporary);
  if (::renameat(directory, temporary.name().c_str(), directory, name.c_str()) != 0) {
    return Status::fromErrno(errno, "rename " + shownTemporary + " to " + shownPath);
  }
  temporary.keep();

  // The new contents are in place; flushing the directory only makes the
  // rename durable, and some file systems refuse to fsync a directory, so its
  // outcome does not change the result. The descriptor given may be one
  // that names the directory without opening it (O_PATH), which cannot be
  // flushed: a readable one is opened for that.
  UniqueFd readable(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (readable.valid()) (void)::fsync(readable.get());
  return Status::ok();
}

}  // namespace qu
