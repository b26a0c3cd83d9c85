#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform_wrapper.h"

namespace qu::testing {

// The calls of the seam a fault or a hook can be attached to.
enum class Call {
  captureOutput,
  runAndWait,
  startDetached,
  startPiped,
  exists,
  linkMode,
  listDirectory,
  readFile,
  examine,
  trustedByRoot,
  removePath,
  removePropertyListKeys,
  becomeRoot,
  signalProcessGroup,
  launchedApplications,
  sendQuitEvent,
};

// What a faulty call answers instead of reaching the wrapped platform.
// Effects fail with the errno; queries answer nothing (exists() false, an
// empty application list, examine() Unknown with the errno); programs do not start (notStarted with the
// errno) unless `ending` says how they ended instead.
struct Fault {
  int errnum = EIO;
  std::optional<ExitStatus> ending;

  static Fault error(int errnum) { return {errnum, std::nullopt}; }
  static Fault ended(ExitStatus ending) { return {0, ending}; }
};

// A forwarding wrapper that fails chosen calls of the seam, or runs a hook
// right after one (to change the world between two queries), and forwards
// everything else. A rule names a call and its subject: the path, the
// program, or the process group as decimal text; no subject matches every
// call. `nth` (1-based, counted among the calls the rule matches) picks one
// call, 0 every one. When several faults match a call, the first added wins.
class FaultInjectingPlatform : public PlatformWrapper {
 public:
  using PlatformWrapper::PlatformWrapper;

  FaultInjectingPlatform& inject(Call call, std::optional<std::string> subject, Fault fault,
                                 int nth = 0);
  FaultInjectingPlatform& after(Call call, std::optional<std::string> subject,
                                std::function<void()> hook, int nth = 0);

  // How many calls were made with this subject (also those that failed).
  int callCount(Call call, const std::string& subject) const;

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
  bool exists(const std::string& path) override;
  std::optional<mode_t> linkMode(const std::string& path) override;
  std::optional<std::vector<std::string>> listDirectory(const std::string& path) override;
  std::optional<std::string> readFile(const std::string& path) override;
  PathState examine(const std::string& path) override;
  Status trustedByRoot(const std::string& path) override;
  Removal removePath(const std::string& path, RemovalScope scope) override;
  Result<std::vector<bool>> removePropertyListKeys(
      const std::string& path, const std::vector<std::string>& keyPaths) override;
  Status becomeRoot() override;
  Status signalProcessGroup(pid_t group, int signal, const std::string& program) override;
  std::vector<LaunchedApplication> launchedApplications() override;
  int sendQuitEvent(const LaunchedApplication& application) override;

 private:
  struct Rule {
    Call call;
    std::optional<std::string> subject;
    int nth;
    std::optional<Fault> fault;
    std::function<void()> hook;
    int matched = 0;
  };

  // The calls the rules apply to this time.
  struct Verdict {
    std::optional<Fault> fault;
    std::vector<std::function<void()>> hooks;
  };

  Verdict judge(Call call, const std::string& subject);
  // Answers with the fault, or with the wrapped platform's call, then runs
  // the hooks.
  template <typename Answer, typename Faulty, typename Forward>
  Answer answer(Call call, const std::string& subject, Faulty faulty, Forward forward);

  std::vector<Rule> rules_;
  std::map<std::pair<Call, std::string>, int> counts_;
};

}  // namespace qu::testing
