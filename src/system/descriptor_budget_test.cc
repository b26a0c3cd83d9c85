#include "system/descriptor_budget.h"

#include <gtest/gtest.h>

namespace qu {
namespace {

TEST(DescriptorBudgetTest, RaisesTheSoftLimitAsFarAsAllowed) {
  constexpr rlim_t kNone = RLIM_INFINITY;
  struct Case {
    rlim_t soft, hard, ceiling;
    rlim_t expectedSoft;
    std::size_t expectedKept;
  };
  const Case cases[] = {
      {1024, 1048576, kNone, 32768, 16384},  // Linux: up to what is wanted
      {1024, 4096, kNone, 4096, 2048},       // the hard limit
      {256, kNone, 10240, 10240, 5120},      // macOS: OPEN_MAX with an unlimited hard limit
      {256, kNone, 24576, 24576, 12288},     // kern.maxfilesperproc below what is wanted
      {65536, kNone, kNone, 65536, 32768},   // already more than wanted: left alone
      {kNone, kNone, kNone, kNone, 16384},
      {20, 20, kNone, 20, 16},               // never fewer than a few
  };
  for (const Case& c : cases) {
    const DescriptorBudget budget = descriptorBudget({c.soft, c.hard}, c.ceiling);
    EXPECT_EQ(budget.softLimit, c.expectedSoft) << c.soft << " " << c.hard << " " << c.ceiling;
    EXPECT_EQ(budget.kept, c.expectedKept) << c.soft << " " << c.hard << " " << c.ceiling;
  }
}

}  // namespace
}  // namespace qu
