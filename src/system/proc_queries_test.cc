#include "system/proc_queries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace qu {
namespace {

// A list that grows by `growth` entries right after it was counted, as a
// busy machine's does, or a call that fails from the `failAt`-th on.
struct Kernel {
  int processes = 0;
  int growth = 0;
  int failAt = -1;
  int calls = 0;
};
Kernel kernel;

bool nextCallFails() {
  const bool fails = kernel.failAt >= 0 && kernel.calls >= kernel.failAt;
  if (kernel.calls++ == 1) kernel.processes += kernel.growth;
  return fails;
}

int listAllPids(void* buffer, int size) {
  if (nextCallFails()) return -1;
  if (buffer == nullptr) return kernel.processes;
  const int count = std::min(kernel.processes, size / static_cast<int>(sizeof(int)));
  for (int i = 0; i < count; ++i) static_cast<int*>(buffer)[i] = 100 + i;
  return count;
}

int listFds(int, int flavor, std::uint64_t, void* buffer, int size) {
  if (flavor != apple::kProcPidListFds || nextCallFails()) return -1;
  constexpr int kEntry = sizeof(apple::proc_fdinfo);
  if (buffer == nullptr) return kernel.processes * kEntry;
  const int count = std::min(kernel.processes, size / kEntry);
  for (int i = 0; i < count; ++i) static_cast<apple::proc_fdinfo*>(buffer)[i] = {i, 1};
  return count * kEntry;
}

TEST(ProcQueriesTest, ListsGrowWhileTheyAreRead) {
  struct Case {
    Kernel kernel;
    std::optional<std::size_t> expected;  // how many entries come back
  };
  const Case cases[] = {
      {{3, 0}, 3},
      {{0, 0}, 0},
      {{10, 200}, 210},  // outgrows the first buffers: read again into larger ones
      {{10, 100000}, std::nullopt},  // never settles
      {{10, 0, 0}, std::nullopt},    // cannot be counted
      {{10, 0, 1}, std::nullopt},    // counted, then cannot be read
  };
  for (const Case& c : cases) {
    kernel = c.kernel;
    const auto ids = listProcessIds(listAllPids);
    ASSERT_EQ(ids.has_value(), c.expected.has_value()) << c.kernel.processes;
    if (ids && !ids->empty()) {
      EXPECT_EQ(ids->size(), *c.expected);
      EXPECT_EQ(ids->back(), 100 + static_cast<pid_t>(ids->size()) - 1);
    } else if (ids) {
      EXPECT_EQ(*c.expected, 0u);
    }
    kernel = c.kernel;
    const auto fds = listOpenDescriptors(listFds, 1);
    ASSERT_EQ(fds.has_value(), c.expected.has_value()) << c.kernel.processes;
    if (fds) {
      EXPECT_EQ(fds->size(), *c.expected);
    }
  }
}

TEST(ProcQueriesTest, ExecutablePathIsTheLengthTheKernelAnswers) {
  struct Case {
    int answer;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {22, "/Applications/X.app/Co"},
      {0, std::nullopt},
      {-1, std::nullopt},
      {static_cast<int>(apple::kProcPidPathInfoMaxSize), std::nullopt},
  };
  static int answer;
  for (const Case& c : cases) {
    answer = c.answer;
    const auto path = processExecutable(
        [](int, void* buffer, std::uint32_t size) {
          std::memset(buffer, 'x', size);
          std::memcpy(buffer, "/Applications/X.app/Contents/MacOS/X", 36);
          return answer;
        },
        1);
    EXPECT_EQ(path, c.expected) << c.answer;
  }
}

}  // namespace
}  // namespace qu
