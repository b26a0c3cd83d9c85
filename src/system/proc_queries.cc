#include "system/proc_queries.h"

#include <climits>
#include <cstddef>

namespace qu {

namespace {

// New processes can appear between asking for the size and reading the list;
// a list that fills its buffer may have been cut short, so it is read again
// into a larger one a few times.
constexpr int kAttempts = 4;
constexpr std::size_t kRoomToGrow = 64;

int bytesOf(std::size_t count, std::size_t size) {
  const std::size_t bytes = count * size;
  return bytes > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(bytes);
}

}  // namespace

std::optional<std::vector<pid_t>> listProcessIds(apple::ProcListAllPidsFunction* listAllPids) {
  const int counted = listAllPids(nullptr, 0);
  if (counted < 0) return std::nullopt;
  std::size_t capacity = static_cast<std::size_t>(counted) + kRoomToGrow;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::vector<int> ids(capacity);
    const int bufferBytes = bytesOf(ids.size(), sizeof(int));
    // Answers how many ids it wrote.
    const int written = listAllPids(ids.data(), bufferBytes);
    if (written < 0) return std::nullopt;
    const auto count = static_cast<std::size_t>(written);
    if (count < ids.size()) {
      ids.resize(count);
      return std::vector<pid_t>(ids.begin(), ids.end());
    }
    capacity *= 2;
  }
  return std::nullopt;
}

std::optional<std::string> processExecutable(apple::ProcPidPathFunction* pidPath, pid_t pid) {
  std::string path(apple::kProcPidPathInfoMaxSize, '\0');
  // Answers the path's length, 0 or less on failure.
  const int length = pidPath(pid, path.data(), apple::kProcPidPathInfoMaxSize);
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return std::nullopt;
  path.resize(static_cast<std::size_t>(length));
  return path;
}

std::optional<std::vector<int>> listOpenDescriptors(apple::ProcPidInfoFunction* pidInfo,
                                                    pid_t pid) {
  // Without a buffer the call answers the bytes the list needs now.
  const int needed = pidInfo(pid, apple::kProcPidListFds, 0, nullptr, 0);
  if (needed < 0) return std::nullopt;
  std::size_t capacity =
      static_cast<std::size_t>(needed) / sizeof(apple::proc_fdinfo) + kRoomToGrow;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::vector<apple::proc_fdinfo> entries(capacity);
    const int bufferBytes = bytesOf(entries.size(), sizeof(apple::proc_fdinfo));
    // Answers how many bytes it wrote.
    const int written = pidInfo(pid, apple::kProcPidListFds, 0, entries.data(), bufferBytes);
    if (written < 0) return std::nullopt;
    const std::size_t count = static_cast<std::size_t>(written) / sizeof(apple::proc_fdinfo);
    if (count < entries.size()) {
      std::vector<int> descriptors;
      descriptors.reserve(count);
      for (std::size_t i = 0; i < count; ++i) descriptors.push_back(entries[i].proc_fd);
      return descriptors;
    }
    capacity *= 2;
  }
  return std::nullopt;
}

}  // namespace qu
