#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qu {

// Runs the queries, at most `atOnce` children at a time, each with standard
// error discarded and standard output drained through a pipe as it comes
// (one poll over all of them), so no child stalls on a full pipe while
// another is read. Each answer is what running its query alone gives, in the
// order of the queries: an output that could not be read is empty, a program
// that could not start is not started. `environment` replaces ours when given.
std::vector<CapturedOutput> captureConcurrently(const std::vector<ToolQuery>& queries,
                                                std::size_t atOnce,
                                                const std::vector<std::string>* environment);

// How many queries run at a time: one per processor, and at least 4, since
// the tools mostly wait on their own start and on the disk.
std::size_t concurrentQueryLimit();

}  // namespace qu
