#include "bench_support.h"

#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "extensions/text.h"

namespace qu::bench {

ScratchDirectory::ScratchDirectory(const std::string& stem) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" +
                        stem + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch directory from " + pattern);
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

namespace {

double seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

}  // namespace

double processorSeconds() {
  rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::optional<ChildUsage> runChild(const std::string& program,
                                   const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  const Stopwatch stopwatch;
  pid_t pid = -1;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    return std::nullopt;
  }
  int status = 0;
  ChildUsage child;
  while (::wait4(pid, &status, 0, &child.usage) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  child.wall = stopwatch.seconds();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return child;
}

std::optional<ChildTimes> timeProgram(const std::string& program,
                                      const std::vector<std::string>& arguments) {
  const std::optional<ChildUsage> child = runChild(program, arguments);
  if (!child) return std::nullopt;
  return ChildTimes{child->wall, seconds(child->usage.ru_utime) + seconds(child->usage.ru_stime)};
}

void printRow(const Row& row) {
  std::printf("| %s | %s | %s | %s | %s | %s |\n", row.comparison.c_str(), row.measured.c_str(),
              row.baseline.c_str(), row.ratio.c_str(), row.target.c_str(),
              row.met ? "yes" : "**no**");
  std::fflush(stdout);
}

void printRatioRow(const std::string& comparison, const std::vector<double>& measured,
                   const std::vector<double>& baseline, double target) {
  const double ratio = median(measured) / median(baseline);
  printRow({comparison, formatSeconds(median(measured)), formatSeconds(median(baseline)),
            formatRatio(ratio), format("<= %.1fx", target), ratio <= target});
}

std::string formatSeconds(double seconds) {
  if (seconds < 0.001) return format("%.1f µs", seconds * 1e6);
  if (seconds < 1) return format("%.2f ms", seconds * 1e3);
  return format("%.3f s", seconds);
}

std::string formatRatio(double ratio) {
  return ratio < 0.1 ? format("%.3fx", ratio) : format("%.2fx", ratio);
}

int mainWithRounds(int argc, char** argv, const char* name, int defaultRounds,
                   const std::function<int(int rounds)>& run) {
  int rounds = defaultRounds;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--rounds N]\n", argv[0]);
      return 2;
    }
  }
  try {
    return run(std::max(rounds, 1));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", name, error.what());
    return 1;
  }
}

}  // namespace qu::bench
