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

// Every running process whose executable lies inside an application bundle,
// sorted by process id. Processes that cannot be examined are skipped.
std::vector<LaunchedApplication> runningApplications();

}  // namespace qu
