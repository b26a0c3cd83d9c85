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

// The executable a process runs, as the operating system knows it (not as
// any text says); nothing when the process is gone or closed to us.
std::optional<std::string> executableOf(pid_t pid);

// Whether the process still runs the program at the path (compared as the
// platform's file system compares names). Process ids are reused, so a
// signal or a quit request goes out only after asking this.
bool runsExecutable(pid_t pid, const std::string& program);

// Every running process whose executable lies inside an application bundle,
// sorted by process id. Processes that cannot be examined are skipped.
std::vector<LaunchedApplication> runningApplications();

}  // namespace qu
