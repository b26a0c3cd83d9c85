#pragma once

#include <sys/types.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "system/real_platform.h"
#include "platform/platform_wrapper.h"

namespace qu::testing {

// A program start that a test can assert on.
struct ProgramCall {
  std::string program;
  std::vector<std::string> arguments;
  friend bool operator==(const ProgramCall&, const ProgramCall&) = default;
};

struct SignalCall {
  pid_t group;
  int signal;
  friend bool operator==(const SignalCall&, const SignalCall&) = default;
};

// The real platform at the given locations, with what the user would see and
// the log captured, program starts recorded (and still performed), and the
// effects on identity, signals and applications recorded instead of performed.
namespace detail {
struct OwnedTarget {
  std::unique_ptr<Platform> target;
};
}  // namespace detail

class RecordingPlatform : private detail::OwnedTarget, public PlatformWrapper {
 public:
  explicit RecordingPlatform(Locations locations);
  // A real platform built with these options (a failing write, hooks).
  RecordingPlatform(Locations locations, RealPlatformOptions options);
  ~RecordingPlatform() override;

  // Captured standard output, standard error and log lines.
  std::string output;
  std::string errors;
  std::vector<std::string> logLines;
  // Every start through runAndWait, startDetached and startPiped, in order.
  std::vector<ProgramCall> programCalls;
  // Every captureOutput query, in order.
  std::vector<ProgramCall> queries;
  std::vector<SignalCall> signals;
  std::vector<LaunchedApplication> quitRequests;
  // Paths a removal deleted, in order.
  std::vector<std::string> removedPaths;
  // Paths a removal left in place, and why, in order.
  struct KeptPath {
    std::string path;
    KeepReason reason;
    std::string detail;
    friend bool operator==(const KeptPath&, const KeptPath&) = default;
  };
  std::vector<KeptPath> keptPaths;

  // What becomeRoot() answers; success unless a test says otherwise.
  Status rootResult = Status::ok();
  pid_t processGroup = 4242;
  std::vector<LaunchedApplication> applications;
  int quitResult = 0;
  // false: every process id now belongs to another program.
  bool processesStillRun = true;

  CapturedOutput captureOutput(const std::string& program,
                               const std::vector<std::string>& arguments) override;
  // One at a time through captureOutput(), which each query passes as if asked alone.
  std::vector<CapturedOutput> captureOutputs(const std::vector<ToolQuery>& toRun) override {
    return captureOneAfterAnother(*this, toRun);
  }
  ExitStatus runAndWait(const std::string& program,
                        const std::vector<std::string>& arguments) override;
  Status startDetached(const std::string& program,
                       const std::vector<std::string>& arguments) override;
  Result<std::unique_ptr<PipedChild>> startPiped(
      const std::string& program, const std::vector<std::string>& arguments) override;
  void print(std::string_view text) override { output.append(text); }
  void printProgress(std::string_view line) override { output.append(line); }
  void printError(std::string_view text) override { errors.append(text); }
  void log(std::string_view message) override { logLines.emplace_back(message); }
  Removal removePath(const std::string& path, RemovalScope scope) override;
  void keepPath(const std::string& path, KeepReason reason, const std::string& detail) override {
    keptPaths.push_back({path, reason, detail});
  }
  Status becomeRoot() override { return rootResult; }
  pid_t ownProcessGroup() override { return processGroup; }
  Status signalProcessGroup(pid_t group, int signal, const std::string& program) override;
  std::vector<LaunchedApplication> launchedApplications() override { return applications; }
  // Its processes are the test's, not the system's: they run what it says.
  bool stillRuns(pid_t, const std::string&) override { return processesStillRun; }
  int quitRefusal(const LaunchedApplication&) override { return processesStillRun ? 0 : ESRCH; }
  int sendQuitEvent(const LaunchedApplication& application) override;
};

// Locations whose every path lies inside `root` (which must exist): the
// descriptions, receipts and preferences paths and the tool paths, mirroring
// the real layout below it.
Locations locationsUnder(const std::string& root);

}  // namespace qu::testing
