#include "test_support/fault_injecting_platform.h"

#include <utility>

namespace qu::testing {

namespace {

ExitStatus programEnding(const Fault& fault) {
  return fault.ending ? *fault.ending : ExitStatus::notStarted(fault.errnum);
}

Status failure(const Fault& fault, const std::string& what) {
  return Status::fromErrno(fault.errnum, "injected: " + what);
}

}  // namespace

FaultInjectingPlatform& FaultInjectingPlatform::inject(Call call,
                                                       std::optional<std::string> subject,
                                                       Fault fault, int nth) {
  rules_.push_back({call, std::move(subject), nth, fault, nullptr});
  return *this;
}

FaultInjectingPlatform& FaultInjectingPlatform::after(Call call,
                                                      std::optional<std::string> subject,
                                                      std::function<void()> hook, int nth) {
  rules_.push_back({call, std::move(subject), nth, std::nullopt, std::move(hook)});
  return *this;
}

int FaultInjectingPlatform::callCount(Call call, const std::string& subject) const {
  auto found = counts_.find({call, subject});
  return found == counts_.end() ? 0 : found->second;
}

FaultInjectingPlatform::Verdict FaultInjectingPlatform::judge(Call call,
                                                              const std::string& subject) {
  ++counts_[{call, subject}];
  Verdict verdict;
  for (Rule& rule : rules_) {
    if (rule.call != call || (rule.subject && *rule.subject != subject)) continue;
    ++rule.matched;
    if (rule.nth != 0 && rule.matched != rule.nth) continue;
    if (rule.fault && !verdict.fault) verdict.fault = rule.fault;
    if (rule.hook) verdict.hooks.push_back(rule.hook);
  }
  return verdict;
}

template <typename Answer, typename Faulty, typename Forward>
Answer FaultInjectingPlatform::answer(Call call, const std::string& subject, Faulty faulty,
                                      Forward forward) {
  Verdict verdict = judge(call, subject);
  Answer result = verdict.fault ? faulty(*verdict.fault) : forward();
  for (const auto& hook : verdict.hooks) hook();
  return result;
}

CapturedOutput FaultInjectingPlatform::captureOutput(const std::string& program,
                                                     const std::vector<std::string>& arguments) {
  return answer<CapturedOutput>(
      Call::captureOutput, program,
      [](const Fault& fault) { return CapturedOutput{programEnding(fault), {}}; },
      [&] { return PlatformWrapper::captureOutput(program, arguments); });
}

ExitStatus FaultInjectingPlatform::runAndWait(const std::string& program,
                                              const std::vector<std::string>& arguments) {
  return answer<ExitStatus>(
      Call::runAndWait, program, [](const Fault& fault) { return programEnding(fault); },
      [&] { return PlatformWrapper::runAndWait(program, arguments); });
}

Status FaultInjectingPlatform::startDetached(const std::string& program,
                                             const std::vector<std::string>& arguments) {
  return answer<Status>(
      Call::startDetached, program,
      [&](const Fault& fault) { return failure(fault, "start " + program); },
      [&] { return PlatformWrapper::startDetached(program, arguments); });
}

Result<std::unique_ptr<PipedChild>> FaultInjectingPlatform::startPiped(
    const std::string& program, const std::vector<std::string>& arguments) {
  using Started = Result<std::unique_ptr<PipedChild>>;
  return answer<Started>(
      Call::startPiped, program,
      [&](const Fault& fault) -> Started { return failure(fault, "start " + program); },
      [&] { return PlatformWrapper::startPiped(program, arguments); });
}

bool FaultInjectingPlatform::exists(const std::string& path) {
  return answer<bool>(
      Call::exists, path, [](const Fault&) { return false; },
      [&] { return PlatformWrapper::exists(path); });
}

std::optional<mode_t> FaultInjectingPlatform::linkMode(const std::string& path) {
  return answer<std::optional<mode_t>>(
      Call::linkMode, path, [](const Fault&) { return std::optional<mode_t>(); },
      [&] { return PlatformWrapper::linkMode(path); });
}

std::optional<std::vector<std::string>> FaultInjectingPlatform::listDirectory(
    const std::string& path) {
  using Names = std::optional<std::vector<std::string>>;
  return answer<Names>(
      Call::listDirectory, path, [](const Fault&) { return Names(); },
      [&] { return PlatformWrapper::listDirectory(path); });
}

std::optional<std::string> FaultInjectingPlatform::readFile(const std::string& path) {
  return answer<std::optional<std::string>>(
      Call::readFile, path, [](const Fault&) { return std::optional<std::string>(); },
      [&] { return PlatformWrapper::readFile(path); });
}

PathState FaultInjectingPlatform::examine(const std::string& path) {
  return answer<PathState>(
      Call::examine, path,
      [](const Fault& fault) { return PathState{PathState::Kind::Unknown, fault.errnum, {}}; },
      [&] { return PlatformWrapper::examine(path); });
}

Status FaultInjectingPlatform::trustedByRoot(const std::string& path) {
  return answer<Status>(
      Call::trustedByRoot, path,
      [&](const Fault& fault) { return failure(fault, "trust " + path); },
      [&] { return PlatformWrapper::trustedByRoot(path); });
}

Removal FaultInjectingPlatform::removePath(const std::string& path, RemovalScope scope) {
  return answer<Removal>(
      Call::removePath, path, [](const Fault& fault) { return Removal::failed(fault.errnum); },
      [&] { return PlatformWrapper::removePath(path, scope); });
}

Result<std::vector<bool>> FaultInjectingPlatform::removePropertyListKeys(
    const std::string& path, const std::vector<std::string>& keyPaths) {
  return answer<Result<std::vector<bool>>>(
      Call::removePropertyListKeys, path,
      [&](const Fault& fault) { return failure(fault, "rewrite " + path); },
      [&] { return PlatformWrapper::removePropertyListKeys(path, keyPaths); });
}

Status FaultInjectingPlatform::becomeRoot() {
  return answer<Status>(
      Call::becomeRoot, "", [](const Fault& fault) { return failure(fault, "setuid 0"); },
      [&] { return PlatformWrapper::becomeRoot(); });
}

Status FaultInjectingPlatform::signalProcessGroup(pid_t group, int signal,
                                                  const std::string& program) {
  const std::string subject = std::to_string(group);
  return answer<Status>(
      Call::signalProcessGroup, subject,
      [&](const Fault& fault) { return failure(fault, "signal group " + subject); },
      [&] { return PlatformWrapper::signalProcessGroup(group, signal, program); });
}

std::vector<LaunchedApplication> FaultInjectingPlatform::launchedApplications() {
  return answer<std::vector<LaunchedApplication>>(
      Call::launchedApplications, "",
      [](const Fault&) { return std::vector<LaunchedApplication>(); },
      [&] { return PlatformWrapper::launchedApplications(); });
}

int FaultInjectingPlatform::sendQuitEvent(const LaunchedApplication& application) {
  return answer<int>(
      Call::sendQuitEvent, application.path, [](const Fault& fault) { return fault.errnum; },
      [&] { return PlatformWrapper::sendQuitEvent(application); });
}

}  // namespace qu::testing
