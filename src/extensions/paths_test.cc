#include "extensions/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace qu {
namespace {

// The shortcut must agree with the long way: plain, and its own normal form.
TEST(PathsTest, AlreadyNormalIsPlainAndItsOwnNormalForm) {
  const std::string withNul("/a/b\0c", 6);
  const std::string cases[] = {"/", "/a", "/a/b.txt", "/a/.b", "/a/..b", "/a/b..", "/.x",
                               "", "a/b", "//", "/a/", "/a//b", "/a/./b", "/a/.", "/.",
                               "/a/../b", "/..", "/a/..", withNul};
  for (const std::string& path : cases) {
    const bool longWay = isPlainAbsolutePath(path) && normalisedPath(path) == path;
    EXPECT_EQ(isNormalPlainAbsolutePath(path), longWay) << path;
  }
}

}  // namespace
}  // namespace qu
