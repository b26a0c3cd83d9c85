#include "extensions/exec.h"

#include <utility>

namespace qu {

std::optional<std::string> stringFromExecutable(Platform& platform, const std::string& executable,
                                                const std::vector<std::string>& arguments) {
  bool broke = false;
  return stringFromExecutable(platform, executable, arguments, broke);
}

std::optional<std::string> stringFromExecutable(Platform& platform, const std::string& executable,
                                                const std::vector<std::string>& arguments,
                                                bool& broke) {
  return outputOfQuery(platform, executable, platform.captureOutput(executable, arguments), broke);
}

std::optional<std::string> outputOfQuery(Platform& platform, const std::string& executable,
                                         CapturedOutput captured, bool& broke) {
  if (captured.status.kind == ExitStatus::Kind::Signaled ||
      captured.status.kind == ExitStatus::Kind::NotStarted) {
    broke = true;
  }
  if (!captured.status.started()) {
    // Callers only see a failed query; the log says why.
    platform.log("Could not run " + executable + ": " + captured.status.describe());
    return std::nullopt;
  }
  if (!captured.status.succeeded() || captured.output.empty()) return std::nullopt;
  return std::move(captured.output);
}

}  // namespace qu
