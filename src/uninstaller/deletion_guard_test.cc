#include "uninstaller/deletion_guard.h"

#include <gtest/gtest.h>

#include <string>

namespace qu {
namespace {

TEST(DeletionGuard, RefusesTheRootTopLevelAndAmbiguousPaths) {
  const struct {
    std::string path;
    bool safe;
  } cases[] = {
      {"/", false},
      {"/.", false},
      {"//", false},
      {"/./", false},
      {"", false},
      {"relative/x", false},
      {"/a/../b", false},
      {"/Applications", false},
      {"/./Applications", false},
      {std::string("/Applications\0/x", 16), false},
      {"/Applications/X.app", true},
      {"/./Applications/X.app", true},
      {"/Applications/..X.app", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isSafeToDelete(c.path), c.safe) << "'" << c.path << "'";
  }
}

}  // namespace
}  // namespace qu
