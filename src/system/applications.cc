#include "system/applications.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <string_view>

#include "extensions/case_folding.h"

namespace qu {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

constexpr std::string_view kBundleMarker = ".app/Contents/MacOS/";

std::optional<pid_t> processId(const char* name) {
  if (*name == '\0') return std::nullopt;
  long value = 0;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return std::nullopt;
    value = value * 10 + (*c - '0');
    if (value > INT_MAX) return std::nullopt;
  }
  return static_cast<pid_t>(value);
}

}  // namespace

std::optional<std::string> executableOf(pid_t pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::string target(PATH_MAX, '\0');
  const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  // A program whose file was deleted while it runs is still that program.
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.ends_with(kDeleted)) target.resize(target.size() - kDeleted.size());
  return target;
}

bool runsExecutable(pid_t pid, const std::string& program) {
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

std::vector<LaunchedApplication> runningApplications() {
  std::vector<LaunchedApplication> applications;
  std::unique_ptr<DIR, DirCloser> processes(::opendir("/proc"));
  if (!processes) return applications;
  while (const dirent* entry = ::readdir(processes.get())) {
    const auto pid = processId(entry->d_name);
    if (!pid) continue;
    // Processes come and go, and others' may be closed to us: skip those.
    const auto executable = executableOf(*pid);
    if (!executable) continue;
    if (auto application = applicationForExecutable(*executable, *pid)) {
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
