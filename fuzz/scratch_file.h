#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_input.h"

namespace qu::fuzzing {

// One file a target rewrites with every input, for code that reads files by
// path. Kept in memory (/dev/shm) where the machine offers it; removed when
// the process exits.
class ScratchFile {
 public:
  explicit ScratchFile(const char* name) {
    const char* directory = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    path_ = std::string(directory) + "/" + name + "-XXXXXX";
    const int fd = ::mkstemp(path_.data());
    check(fd >= 0, "a scratch file can be made");
    ::close(fd);
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }

  void write(std::string_view bytes) const {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    check(fd >= 0, "the scratch file opens");
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd, bytes.data(), bytes.size());
      check(written > 0, "the scratch file takes the input");
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    ::close(fd);
  }

 private:
  std::string path_;
};

}  // namespace qu::fuzzing
