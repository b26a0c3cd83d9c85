#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "system/apple_declarations.h"

// The answers of macOS's process queries (libproc) read into plain values.
// The calls are passed in, so that the reading, with its buffers that must
// grow while processes come and go, is tested on any system.
namespace qu {

// Every process id, or nothing when the list cannot be had.
std::optional<std::vector<pid_t>> listProcessIds(apple::ProcListAllPidsFunction* listAllPids);

// The path of the executable the process runs, or nothing when it is gone or
// closed to us.
std::optional<std::string> processExecutable(apple::ProcPidPathFunction* pidPath, pid_t pid);

// The descriptors the process has open, or nothing when they cannot be listed.
std::optional<std::vector<int>> listOpenDescriptors(apple::ProcPidInfoFunction* pidInfo,
                                                    pid_t pid);

}  // namespace qu
