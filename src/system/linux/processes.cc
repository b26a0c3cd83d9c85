// Processes on Linux, the stand-in for macOS in tests: "/proc" answers what
// libproc answers there, and SIGTERM stands in for the quit event.
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <memory>
#include <string_view>

#include "system/os.h"

namespace qu::os {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

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

std::vector<pid_t> processIds() {
  std::vector<pid_t> ids;
  std::unique_ptr<DIR, DirCloser> processes(::opendir("/proc"));
  if (!processes) return ids;
  while (const dirent* entry = ::readdir(processes.get())) {
    if (const auto pid = processId(entry->d_name)) ids.push_back(*pid);
  }
  return ids;
}

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

int requestQuit(pid_t pid) { return ::kill(pid, SIGTERM) == 0 ? 0 : errno; }

}  // namespace qu::os
