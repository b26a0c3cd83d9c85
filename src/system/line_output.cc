#include "system/line_output.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

namespace qu {

namespace {

// A pipe write of up to PIPE_BUF bytes is never interleaved with another's.
constexpr std::size_t kAtomicWrite = PIPE_BUF;
// A line without an end is held up to this size, then written in pieces.
constexpr std::size_t kLongestHeldLine = std::size_t{64} * 1024;

ssize_t systemWrite(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

// Writes all the bytes, resuming after short writes, signals and a
// non-blocking descriptor that is full; 0, or the errno of the failure.
int writeAll(int fd, std::string_view bytes, const WriteCall& write) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd ready{fd, POLLOUT, 0};
        (void)::poll(&ready, 1, -1);
        continue;
      }
      return errno;
    }
    if (written == 0) return EIO;  // no progress: would loop forever
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// True when writing could only fail: the reader of a pipe or socket is gone.
bool readerGone(int fd) {
  pollfd probe{fd, POLLOUT, 0};
  return ::poll(&probe, 1, 0) == 1 && (probe.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

}  // namespace

LineOutput::LineOutput(int fd, Pace pace, WriteCall write)
    : fd_(fd), pace_(pace), write_(write ? std::move(write) : WriteCall(systemWrite)) {}

Status LineOutput::print(std::string_view text) {
  if (lost_) return Status::ok();
  pending_.append(text);
  return drain(false);
}

Status LineOutput::flush() {
  if (lost_) return Status::ok();
  return drain(true);
}

Status LineOutput::flushBeforeChild() {
  Status status = flush();
  if (status && !lost_ && readerGone(fd_)) return lose(EPIPE);
  return status;
}

Status LineOutput::drain(bool everything) {
  std::size_t start = 0;
  while (start < pending_.size()) {
    const std::size_t left = pending_.size() - start;
    if (!everything && pace_ == Pace::Blocks && left < kAtomicWrite) break;
    // The whole lines that fit one atomic write.
    const std::size_t window = std::min(left, kAtomicWrite);
    std::size_t end = pending_.rfind('\n', start + window - 1);
    end = end == std::string::npos || end < start ? std::string::npos : end + 1;
    if (end == std::string::npos) {
      // A line longer than that goes in a write of its own once it has ended.
      const std::size_t lineEnd = pending_.find('\n', start);
      if (lineEnd != std::string::npos) {
        end = lineEnd + 1;
      } else if (everything || left >= kLongestHeldLine) {
        end = pending_.size();
      } else {
        break;
      }
    }
    if (const int error =
            writeAll(fd_, std::string_view(pending_).substr(start, end - start), write_)) {
      return lose(error);
    }
    start = end;
  }
  pending_.erase(0, start);
  return Status::ok();
}

Status LineOutput::lose(int errnum) {
  lost_ = true;
  pending_.clear();
  pending_.shrink_to_fit();
  return Status::fromErrno(errnum, "write");
}

}  // namespace qu
