#pragma once

#include <sys/resource.h>

#include <cstddef>

namespace qu {

// How many open files the path walk asks for and how many directory
// descriptors it keeps. Descriptors that only name directories cost the
// kernel little, so the soft limit is raised towards `wanted`, as far as the
// hard limit and the system's per-process ceiling allow (macOS refuses a
// soft limit above OPEN_MAX or kern.maxfilesperproc even when the hard limit
// is unlimited). The walk keeps at most half of what it may open.
struct DescriptorBudget {
  rlim_t softLimit;  // to ask for; the current one when it is enough or cannot grow
  std::size_t kept;  // descriptors the walk keeps, if the soft limit is granted
};

constexpr rlim_t kWantedDescriptors = 32768;

DescriptorBudget descriptorBudget(const rlimit& current, rlim_t ceiling,
                                  rlim_t wanted = kWantedDescriptors);

// The descriptors kept under a soft limit that stays as it is.
std::size_t keptDescriptorsUnder(rlim_t softLimit, rlim_t wanted = kWantedDescriptors);

}  // namespace qu
