#include "system/concurrent_capture.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <utility>

#include "extensions/file_handle.h"
#include "system/spawn.h"

namespace qu {

namespace {

struct Running {
  std::size_t index;  // of its query
  ChildProcess child;
  std::string output;
  bool readFailed = false;
};

constexpr std::size_t kChunk = std::size_t{64} * 1024;

// Reads what the pipe holds now; false once the output has ended (or failed).
bool readSome(Running& running, std::array<char, kChunk>& buffer) {
  const ssize_t count = ::read(running.child.outputFd(), buffer.data(), buffer.size());
  if (count > 0) {
    running.output.append(buffer.data(), static_cast<std::size_t>(count));
    return true;
  }
  if (count < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  running.readFailed = count < 0;
  return false;
}

CapturedOutput finish(Running& running) {
  running.child.closeOutput();
  // As for a lone query, an output that failed to read is no output.
  std::string output = running.readFailed ? std::string() : std::move(running.output);
  return {running.child.wait(), std::move(output)};
}

}  // namespace

std::size_t concurrentQueryLimit() {
  const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
  return std::max<std::size_t>(4, processors > 0 ? static_cast<std::size_t>(processors) : 0);
}

std::vector<CapturedOutput> captureConcurrently(const std::vector<ToolQuery>& queries,
                                                std::size_t atOnce,
                                                const std::vector<std::string>* environment) {
  std::vector<CapturedOutput> answers(queries.size());
  std::vector<Running> running;
  std::vector<pollfd> watched;
  std::array<char, kChunk> buffer;
  atOnce = std::max<std::size_t>(1, atOnce);
  std::size_t next = 0;
  while (next < queries.size() || !running.empty()) {
    while (running.size() < atOnce && next < queries.size()) {
      const ToolQuery& query = queries[next];
      auto child = spawnChild(query.program, query.arguments,
                              {ChildStream::Pipe, ChildStream::DevNull}, environment);
      if (!child) {
        answers[next] = {ExitStatus::notStarted(child.error().errnum()), {}};
      } else {
        running.push_back({next, std::move(child).value(), {}});
      }
      ++next;
    }
    if (running.empty()) continue;

    watched.clear();
    for (const Running& child : running) watched.push_back({child.child.outputFd(), POLLIN, 0});
    if (::poll(watched.data(), static_cast<nfds_t>(watched.size()), -1) < 0) {
      if (errno == EINTR) continue;
      // Without poll, each output is read to its end in turn, as a lone
      // query reads it; the children still run side by side.
      for (Running& child : running) {
        std::optional<std::string> rest = readAllBytes(child.child.outputFd());
        if (rest) {
          child.output += *rest;
        } else {
          child.readFailed = true;
        }
        answers[child.index] = finish(child);
      }
      running.clear();
      continue;
    }
    // From the back, so erasing one leaves the others' places in `watched` intact.
    for (std::size_t i = running.size(); i-- > 0;) {
      if (watched[i].revents == 0) continue;
      if (readSome(running[i], buffer)) continue;
      answers[running[i].index] = finish(running[i]);
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return answers;
}

}  // namespace qu
