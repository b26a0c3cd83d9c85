#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qu::fuzzing {

// A platform with no operating system behind it, so a fuzz target can drive
// whole sequences from its input without touching the machine: files,
// directories and tool outputs are what the target put in; every effect is
// recorded and never performed.
class InMemoryPlatform : public Platform {
 public:
  InMemoryPlatform() = default;

  // --- The world, filled by the target.
  Locations paths;
  std::map<std::string, std::string, std::less<>> files;
  std::map<std::string, std::vector<std::string>, std::less<>> directories;
  // Paths that exist without contents of their own (a tool, an icon).
  std::set<std::string, std::less<>> present;
  // Standard output of a program run, keyed by the program followed by its
  // arguments; such runs exit with status 0, every other one with status 1.
  std::map<std::vector<std::string>, std::string> outputs;
  // What a piped child writes, whatever program is started.
  std::string pipedOutput;
  std::vector<LaunchedApplication> applications;
  pid_t processGroup = 4242;

  // --- What happened.
  std::string printed;
  std::string printedErrors;
  std::vector<std::string> logged;
  std::vector<std::vector<std::string>> started;  // program followed by its arguments
  std::vector<std::string> removed;
  std::vector<std::string> editedPropertyLists;
  struct Signal {
    pid_t group;
    int signal;
    std::string program;
  };
  std::vector<Signal> signals;
  std::vector<LaunchedApplication> quitRequests;

  const Locations& locations() const override { return paths; }

  CapturedOutput captureOutput(const std::string& program,
                               const std::vector<std::string>& arguments) override;
  ExitStatus runAndWait(const std::string& program,
                        const std::vector<std::string>& arguments) override;
  Status startDetached(const std::string& program,
                       const std::vector<std::string>& arguments) override;
  Result<std::unique_ptr<PipedChild>> startPiped(
      const std::string& program, const std::vector<std::string>& arguments) override;

  void reserveStandardOutput() override {}
  void print(std::string_view text) override { printed.append(text); }
  void printProgress(std::string_view line) override { printed.append(line); }
  void printError(std::string_view text) override { printedErrors.append(text); }
  void log(std::string_view message) override { logged.emplace_back(message); }

  bool exists(const std::string& path) override;
  std::optional<mode_t> linkMode(const std::string& path) override;
  std::optional<std::vector<std::string>> listDirectory(const std::string& path) override;
  std::optional<std::string> readFile(const std::string& path) override;

  PathState examine(const std::string& path) override;
  Status trustedByRoot(const std::string& /*path*/) override { return Status::ok(); }
  Status controlledByRoot(const std::string& /*path*/) override { return Status::ok(); }
  Removal removePath(const std::string& path, RemovalScope scope) override;
  Result<std::vector<bool>> removePropertyListKeys(const std::string& path,
                                const std::vector<std::string>& keyPaths) override;
  void keepPath(const std::string&, KeepReason, const std::string&) override {}

  Status becomeRoot() override { return Status::ok(); }
  pid_t ownProcessGroup() override { return processGroup; }
  Status signalProcessGroup(pid_t group, int signal, const std::string& program) override;
  std::vector<LaunchedApplication> launchedApplications() override { return applications; }
  int sendQuitEvent(const LaunchedApplication& application) override;
};

}  // namespace qu::fuzzing
