// Prints the 100,000 progress lines of a large removal the way the
// uninstaller writes its standard output (whole lines, in writes of at most
// one atomic pipe write) and, in the same run, through the C library's
// buffered stream as a plain program would; once into a pipe that a second
// thread drains and once into a file. Prints both times per round and the
// ratio of the medians of the writing thread's processor time, which other
// work on the machine leaves alone (the wall clock is shown per round).
//
// Usage: output_bench [--rounds N]   (the file goes under $TMPDIR, else /tmp)

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "extensions/text.h"
#include "package_tree.h"
#include "platform/unique_fd.h"
#include "system/line_output.h"

namespace qu::bench {
namespace {

constexpr double kTarget = 1.1;

// What a removal of the benchmark package prints, one line per path.
std::vector<std::string> progressLines() {
  const PackageLayout layout = layoutFor({});
  std::vector<std::string> lines;
  const std::size_t total = layout.files.size() + layout.directories.size();
  for (const std::string& path : layout.files) {
    lines.push_back(format("Uninstalling:\t[%zu%%] /Applications%s\n", lines.size() * 100 / total,
                           path.c_str()));
  }
  for (const std::string& path : layout.directories) {
    lines.push_back(format("Uninstalling:\t[%zu%%] /Applications%s\n", lines.size() * 100 / total,
                           path.c_str()));
  }
  return lines;
}

struct Times {
  double wall = 0;
  double processor = 0;  // of the calling thread
};

double threadProcessorSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Times `write` on the calling thread.
Times timed(const std::function<void()>& write) {
  const double processorBefore = threadProcessorSeconds();
  const Stopwatch stopwatch;
  write();
  return {stopwatch.seconds(), threadProcessorSeconds() - processorBefore};
}

Times writeWholeLines(int fd, const std::vector<std::string>& lines) {
  return timed([&] {
    LineOutput output(fd, LineOutput::Pace::Blocks);
    for (const std::string& line : lines) {
      if (!output.print(line)) throw std::runtime_error("whole lines: a write failed");
    }
    if (!output.flush()) throw std::runtime_error("whole lines: a write failed");
  });
}

Times writeThroughStdio(int fd, const std::vector<std::string>& lines) {
  return timed([&] {
    std::FILE* stream = ::fdopen(::dup(fd), "w");
    if (stream == nullptr) throw std::runtime_error("fdopen failed");
    for (const std::string& line : lines) std::fwrite(line.data(), 1, line.size(), stream);
    if (std::fclose(stream) != 0) throw std::runtime_error("stdio: a write failed");
  });
}

using Writer = std::function<Times(int fd, const std::vector<std::string>& lines)>;

// Into a pipe whose other end a thread reads until it closes.
Times intoPipe(const Writer& writer, const std::vector<std::string>& lines, std::size_t bytes) {
  int ends[2];
  if (::pipe(ends) != 0) throw std::runtime_error("pipe failed");
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);
  std::size_t received = 0;
  std::thread reader([&received, fd = readEnd.get()] {
    char buffer[65536];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) {
      received += static_cast<std::size_t>(count);
    }
  });
  const Times times = writer(writeEnd.get(), lines);
  writeEnd.reset();
  reader.join();
  if (received != bytes) throw std::runtime_error("the pipe's reader missed bytes");
  return times;
}

Times intoFile(const Writer& writer, const std::vector<std::string>& lines, std::size_t bytes,
               const std::string& path) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!file.valid()) throw std::runtime_error("cannot write " + path);
  const Times times = writer(file.get(), lines);
  if (static_cast<std::size_t>(::lseek(file.get(), 0, SEEK_END)) != bytes) {
    throw std::runtime_error("the file misses bytes");
  }
  return times;
}

std::string describe(const Times& times) {
  return formatSeconds(times.wall) + " (cpu " + formatSeconds(times.processor) + ")";
}

int run(int rounds) {
  const std::vector<std::string> lines = progressLines();
  std::size_t bytes = 0;
  for (const std::string& line : lines) bytes += line.size();
  std::printf("output: %zu progress lines, %zu bytes, %d rounds\n", lines.size(), bytes, rounds);

  ScratchDirectory scratch("qu-output-bench");
  const std::string path = scratch.at("progress.txt");
  const struct {
    const char* name;
    std::function<Times(const Writer&)> time;
  } targets[] = {
      {"a pipe", [&](const Writer& writer) { return intoPipe(writer, lines, bytes); }},
      {"a file", [&](const Writer& writer) { return intoFile(writer, lines, bytes, path); }},
  };
  for (const auto& target : targets) {
    std::vector<double> whole, stdio;
    for (int round = 0; round < rounds; ++round) {
      Times ours;
      Times plain;
      // Alternate which goes first so neither always meets a warm cache.
      if (round % 2 == 0) {
        ours = target.time(writeWholeLines);
        plain = target.time(writeThroughStdio);
      } else {
        plain = target.time(writeThroughStdio);
        ours = target.time(writeWholeLines);
      }
      std::printf("  %s, round %d: whole lines %s, stdio %s\n", target.name, round + 1,
                  describe(ours).c_str(), describe(plain).c_str());
      whole.push_back(ours.processor);
      stdio.push_back(plain.processor);
    }
    printRatioRow(format("Standard output, 100,000 progress lines into %s, whole lines vs "
                         "stdio, processor time",
                         target.name),
                  whole, stdio, kTarget);
  }
  return 0;
}

}  // namespace
}  // namespace qu::bench

int main(int argc, char** argv) {
  return qu::bench::mainWithRounds(argc, argv, "output", 9, qu::bench::run);
}
