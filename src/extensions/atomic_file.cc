#include "extensions/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// A temporary file that is unlinked when it goes away, unless it was renamed
// into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string pattern) : path_(std::move(pattern)) {
    fd_.reset(::mkostemp(path_.data(), O_CLOEXEC));
    if (!fd_.valid()) path_.clear();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    fd_.reset();
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  bool created() const { return !path_.empty(); }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }

  // Closes the descriptor, reporting the error close(2) may give late
  // (on network file systems a failed write can surface only here).
  int close() { return ::close(fd_.release()) == 0 ? 0 : errno; }
  void keep() { path_.clear(); }

 private:
  std::string path_;
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

  Target target = splitPath(path);
  TemporaryFile temporary(target.directory + "/." + target.baseName + ".XXXXXX");
  if (!temporary.created()) return Status::fromErrno(errno, "create temporary file for " + path);

  if (int err = writeAll(temporary.fd(), bytes, write)) {
    return Status::fromErrno(err, "write " + temporary.path());
  }
  // Owner before mode: changing the owner can clear the set-user-ID bits.
  if (original && ::fchown(temporary.fd(), original->st_uid, original->st_gid) != 0) {
    return Status::fromErrno(errno, "chown " + temporary.path());
  }
  mode_t mode = original ? (original->st_mode & 07777) : 0644;
  if (::fchmod(temporary.fd(), mode) != 0) {
    return Status::fromErrno(errno, "chmod " + temporary.path());
  }
  if (::fsync(temporary.fd()) != 0) return Status::fromErrno(errno, "fsync " + temporary.path());
  if (int err = temporary.close()) return Status::fromErrno(err, "close " + temporary.path());
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
    return Status::fromErrno(errno, "rename " + temporary.path() + " to " + path);
  }
  temporary.keep();

  // The new contents are in place; flushing the directory only makes the
  // rename durable, and some file systems refuse to fsync a directory, so its
  // outcome does not change the result.
  UniqueFd directory(::open(target.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.valid()) ::fsync(directory.get());
  return Status::ok();
}

}  // namespace qu
