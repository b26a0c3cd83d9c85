#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform_wrapper.h"
#include "system/line_output.h"

namespace qu::bench {

// A fresh directory under $TMPDIR (else /tmp), deleted with everything in it
// when the object goes away.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& stem);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string at(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

// Processor time (user and system) this process has used so far.
double processorSeconds();

double median(std::vector<double> values);

// How long a child ran: wall-clock and processor (user and system) seconds.
struct ChildTimes {
  double wall = 0;
  double processor = 0;
};

// How a child ran: wall-clock seconds and what wait4() reported.
struct ChildUsage {
  double wall = 0;
  rusage usage {};
};

// Runs the program with its arguments, directly (no shell), and waits.
// Nothing when it could not be started or did not exit with status 0.
std::optional<ChildUsage> runChild(const std::string& program,
                                   const std::vector<std::string>& arguments);
std::optional<ChildTimes> timeProgram(const std::string& program,
                                      const std::vector<std::string>& arguments);

// The real platform, except that what the user would read goes to a file,
// written as the real standard output is, so progress lines cost what they
// cost in a run without flooding a terminal.
class PrintToFilePlatform : public PlatformWrapper {
 public:
  PrintToFilePlatform(Platform& target, int fd)
      : PlatformWrapper(target), output_(fd, LineOutput::Pace::Blocks) {}
  void print(std::string_view text) override { (void)output_.print(text); }
  void printProgress(std::string_view line) override { print(line); }
  Status flushOutput() { return output_.flush(); }

 private:
  LineOutput output_;
};

// One row of the summary table that bench/run.sh gathers from every
// benchmark: the lines starting with "| ".
struct Row {
  std::string comparison;
  std::string measured;
  std::string baseline;
  std::string ratio;
  std::string target;
  bool met;
};
void printRow(const Row& row);
// The row of a comparison of times: the medians of both, their ratio, and
// "<= target" as the target.
void printRatioRow(const std::string& comparison, const std::vector<double>& measured,
                   const std::vector<double>& baseline, double target);

std::string formatSeconds(double seconds);
std::string formatRatio(double ratio);

// The main() of a benchmark whose only option is "--rounds N": calls
// run(rounds) and answers its status; a thrown error is printed after
// `name` and answers 1.
int mainWithRounds(int argc, char** argv, const char* name, int defaultRounds,
                   const std::function<int(int rounds)>& run);

}  // namespace qu::bench
