#pragma once

#include "platform/platform.h"

namespace qu {

// Forwards every call to another Platform, so a test double or a dry run can
// override just the calls it cares about.
class PlatformWrapper : public Platform {
 public:
  explicit PlatformWrapper(Platform& target) : target_(target) {}

  Platform& target() { return target_; }

  const Locations& locations() const override { return target_.locations(); }
  CapturedOutput captureOutput(const std::string& program,
                               const std::vector<std::string>& arguments) override {
    return target_.captureOutput(program, arguments);
  }
  std::vector<CapturedOutput> captureOutputs(const std::vector<ToolQuery>& queries) override {
    return target_.captureOutputs(queries);
  }
  ExitStatus runAndWait(const std::string& program,
                        const std::vector<std::string>& arguments) override {
    return target_.runAndWait(program, arguments);
  }
  Status startDetached(const std::string& program,
                       const std::vector<std::string>& arguments) override {
    return target_.startDetached(program, arguments);
  }
  Result<std::unique_ptr<PipedChild>> startPiped(
      const std::string& program, const std::vector<std::string>& arguments) override {
    return target_.startPiped(program, arguments);
  }
  void reserveStandardOutput() override { target_.reserveStandardOutput(); }
  void print(std::string_view text) override { target_.print(text); }
  void printProgress(std::string_view line) override { target_.printProgress(line); }
  void printError(std::string_view text) override { target_.printError(text); }
  void log(std::string_view message) override { target_.log(message); }
  bool exists(const std::string& path) override { return target_.exists(path); }
  std::optional<mode_t> linkMode(const std::string& path) override {
    return target_.linkMode(path);
  }
  std::optional<std::vector<std::string>> listDirectory(const std::string& path) override {
    return target_.listDirectory(path);
  }
  std::optional<std::string> readFile(const std::string& path) override {
    return target_.readFile(path);
  }
  PathState examine(const std::string& path) override { return target_.examine(path); }
  Status trustedByRoot(const std::string& path) override { return target_.trustedByRoot(path); }
  Status controlledByRoot(const std::string& path) override {
    return target_.controlledByRoot(path);
  }
  Removal removePath(const std::string& path, RemovalScope scope) override {
    return target_.removePath(path, scope);
  }
  Removal judgeTreeRemoval(const std::string& path) override {
    return target_.judgeTreeRemoval(path);
  }
  Result<std::vector<bool>> removePropertyListKeys(
      const std::string& path, const std::vector<std::string>& keyPaths) override {
    return target_.removePropertyListKeys(path, keyPaths);
  }
  void keepPath(const std::string& path, KeepReason reason, const std::string& detail) override {
    target_.keepPath(path, reason, detail);
  }
  Status becomeRoot() override { return target_.becomeRoot(); }
  pid_t ownProcessGroup() override { return target_.ownProcessGroup(); }
  Status signalProcessGroup(pid_t group, int signal, const std::string& program) override {
    return target_.signalProcessGroup(group, signal, program);
  }
  std::vector<LaunchedApplication> launchedApplications() override {
    return target_.launchedApplications();
  }
  bool stillRuns(pid_t pid, const std::string& program) override {
    return target_.stillRuns(pid, program);
  }
  int quitRefusal(const LaunchedApplication& application) override {
    return target_.quitRefusal(application);
  }
  bool onlyShowsEffects() const override { return target_.onlyShowsEffects(); }
  int sendQuitEvent(const LaunchedApplication& application) override {
    return target_.sendQuitEvent(application);
  }

 private:
  Platform& target_;
};

}  // namespace qu
