#include "system/descriptor_budget.h"

#include <algorithm>

namespace qu {

namespace {

constexpr std::size_t kFewest = 16;

}  // namespace

std::size_t keptDescriptorsUnder(rlim_t softLimit, rlim_t wanted) {
  const rlim_t usable = softLimit == RLIM_INFINITY ? wanted : softLimit;
  return std::max<std::size_t>(static_cast<std::size_t>(usable / 2), kFewest);
}

DescriptorBudget descriptorBudget(const rlimit& current, rlim_t ceiling, rlim_t wanted) {
  rlim_t target = wanted;
  if (current.rlim_max != RLIM_INFINITY) target = std::min(target, current.rlim_max);
  if (ceiling != RLIM_INFINITY) target = std::min(target, ceiling);
  const bool grows = current.rlim_cur != RLIM_INFINITY && current.rlim_cur < target;
  const rlim_t soft = grows ? target : current.rlim_cur;
  return {soft, keptDescriptorsUnder(soft, wanted)};
}

}  // namespace qu
