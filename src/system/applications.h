#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qu {

// The application a running executable belongs to: the innermost "<name>.app"
// directory that holds "Contents/MacOS/" on the way to the executable, with
// the process id as the low serial part. Nothing for any other executable.
std::optional<LaunchedApplication> applicationForExecutable(const std::string& executable,
                                                            pid_t pid);

// Asks the system which executable a process runs (os::executableOf in the
// real platform); tests pass their own.
using ExecutableQuery = std::optional<std::string> (*)(pid_t pid);

// Whether the process still runs the program at the path (compared as the
// platform's file system compares names). Process ids are reused, so a
// signal or a quit request goes out only after asking this.
bool runsExecutable(pid_t pid, const std::string& program, ExecutableQuery executableOf);

// Why a quit request must not go to the application's process, as an errno,
// or 0 when it may: the id must name one process other than ours, init and
// the kernel's, and that process must still run a program of the bundle.
int quitRefusal(const LaunchedApplication& application, pid_t self, ExecutableQuery executableOf);

// Every process among `pids` whose executable lies inside an application
// bundle, sorted by process id. Processes that cannot be examined are skipped.
std::vector<LaunchedApplication> applicationsAmong(const std::vector<pid_t>& pids,
                                                   ExecutableQuery executableOf);

}  // namespace qu
