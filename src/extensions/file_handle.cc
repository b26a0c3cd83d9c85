#include "extensions/file_handle.h"

#include <unistd.h>

#include <array>
#include <utility>
#include <cerrno>

namespace qu {

namespace {

constexpr std::size_t kChunk = std::size_t{64} * 1024;

// One read(2) that is not cut short by a signal.
ssize_t readRetrying(int fd, char* buffer, std::size_t size) {
  while (true) {
    const ssize_t count = ::read(fd, buffer, size);
    if (count >= 0 || errno != EINTR) return count;
  }
}

}  // namespace

std::optional<std::string> readAllBytes(int fd, std::size_t limit) {
  std::string bytes;
  std::array<char, kChunk> buffer;
  while (true) {
    const ssize_t count = readRetrying(fd, buffer.data(), buffer.size());
    if (count < 0) return std::nullopt;
    if (count == 0) return bytes;
    if (static_cast<std::size_t>(count) > limit - bytes.size()) {
      errno = EFBIG;
      return std::nullopt;
    }
    bytes.append(buffer.data(), static_cast<std::size_t>(count));
  }
}

std::optional<std::string> readStringToEndOfFile(int fd) {
  auto bytes = readAllBytes(fd);
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes;
}

std::optional<std::string> LineReader::readLine() {
  while (true) {
    // A line is complete at a newline, or when it has grown to the longest
    // piece we hand out.
    const std::size_t newline = pending_.find('\n');
    if (newline != std::string::npos && newline < kMaxLine) {
      std::string line = pending_.substr(0, newline + 1);
      pending_.erase(0, newline + 1);
      return line;
    }
    if (pending_.size() >= kMaxLine) {
      std::string piece = pending_.substr(0, kMaxLine);
      pending_.erase(0, kMaxLine);
      return piece;
    }
    if (ended_) {
      if (pending_.empty()) return std::nullopt;
      return std::exchange(pending_, std::string());
    }
    std::array<char, 4096> buffer;
    const ssize_t count = readRetrying(fd_, buffer.data(), buffer.size());
    // A read error ends the data like the end of file does; what was already
    // read still comes back.
    if (count <= 0) {
      ended_ = true;
    } else {
      pending_.append(buffer.data(), static_cast<std::size_t>(count));
    }
  }
}

}  // namespace qu
