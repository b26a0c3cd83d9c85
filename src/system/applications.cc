#include "system/applications.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>

#include "extensions/case_folding.h"

namespace qu {

namespace {

constexpr std::string_view kBundleMarker = ".app/Contents/MacOS/";

}  // namespace

bool runsExecutable(pid_t pid, const std::string& program, ExecutableQuery executableOf) {
  const std::optional<std::string> executable = executableOf(pid);
  if (!executable) return false;
  // The process list may spell the path in other letter case, as the
  // platform's file system does not tell them apart.
  return *executable == program || foldCase(*executable) == foldCase(program);
}

std::optional<LaunchedApplication> applicationForExecutable(const std::string& executable,
                                                            pid_t pid) {
  std::size_t marker = executable.rfind(kBundleMarker);
  while (marker != std::string::npos) {
    const std::size_t bundleEnd = marker + 4;  // just past ".app"
    const std::size_t slash = executable.rfind('/', marker);
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    // A component called just ".app" names no application.
    if (slash != std::string::npos && marker > nameStart) {
      LaunchedApplication application;
      application.path = executable.substr(0, bundleEnd);
      application.name = executable.substr(nameStart, marker - nameStart);
      application.serialLow = static_cast<std::uint32_t>(pid);
      return application;
    }
    if (marker == 0) break;
    marker = executable.rfind(kBundleMarker, marker - 1);
  }
  return std::nullopt;
}

int quitRefusal(const LaunchedApplication& application, pid_t self, ExecutableQuery executableOf) {
  // A value beyond pid_t would turn negative and address a whole group.
  if (application.serialLow > static_cast<std::uint32_t>(INT_MAX)) return EINVAL;
  const auto pid = static_cast<pid_t>(application.serialLow);
  if (pid <= 1 || pid == self) return EPERM;
  const std::optional<std::string> executable = executableOf(pid);
  const std::optional<LaunchedApplication> running =
      executable ? applicationForExecutable(*executable, pid) : std::nullopt;
  if (!running || foldCase(running->path) != foldCase(application.path)) return ESRCH;
  return 0;
}

std::vector<LaunchedApplication> applicationsAmong(const std::vector<pid_t>& pids,
                                                   ExecutableQuery executableOf) {
  std::vector<LaunchedApplication> applications;
  for (const pid_t pid : pids) {
    // Processes come and go, and others' may be closed to us: skip those.
    const auto executable = executableOf(pid);
    if (!executable) continue;
    if (auto application = applicationForExecutable(*executable, pid)) {
      applications.push_back(std::move(*application));
    }
  }
  std::sort(applications.begin(), applications.end(),
            [](const LaunchedApplication& a, const LaunchedApplication& b) {
              return a.serialLow < b.serialLow;
            });
  return applications;
}

}  // namespace qu
