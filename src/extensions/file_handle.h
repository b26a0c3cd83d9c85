#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qu {

// Everything left to read on the descriptor, up to its end; nothing when no
// byte at all arrived or reading failed. Bytes are kept as they are (UTF-8
// text in practice).
std::optional<std::string> readStringToEndOfFile(int fd);

// As above, but an empty string when the data is empty; nothing only when
// reading failed, or (errno EFBIG) when more than `limit` bytes arrive: a
// file's size when it was opened says nothing of what a writer adds later.
// For files, whose emptiness is a valid content.
std::optional<std::string> readAllBytes(int fd, std::size_t limit = SIZE_MAX);

// Reads a descriptor one line at a time. Bytes read beyond a line are kept
// for the following calls; nothing is skipped or returned twice.
class LineReader {
 public:
  static constexpr std::size_t kMaxLine = 1023;

  explicit LineReader(int fd) : fd_(fd) {}

  // The next line with its newline; a last line without one; pieces of 1023
  // bytes for longer lines; nothing at the end of the data or on a read
  // error. Bytes that are not valid UTF-8 come back unchanged.
  std::optional<std::string> readLine();

 private:
  int fd_;
  std::string pending_;
  bool ended_ = false;
};

}  // namespace qu
