#include "system/remove_path.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/platform_wrapper.h"
#include "system/real_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

using testing::pathPresent;
using testing::TempDir;

class RemovePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp.writeFile("file", "x");
    tmp.makeDirectory("empty");
    tmp.writeFile("full/entry", "x");
    tmp.makeDirectory("empty-target");
    tmp.makeSymlink("link-to-empty", tmp.at("empty-target"));
    tmp.makeSymlink("link-to-full", tmp.at("full"));
    tmp.makeSymlink("dangling", tmp.at("gone"));
  }
  TempDir tmp;
};

TEST_F(RemovePathTest, RemovesWhatIsNotADirectoryInOneGoAndLeavesDirectories) {
  const struct {
    const char* name;
    int errnum;  // 0 when removed
  } cases[] = {
      {"file", 0},           {"link-to-empty", 0}, {"link-to-full", 0}, {"dangling", 0},
      {"empty", EISDIR},     {"full", EISDIR},     {"missing", ENOENT},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(removeNonDirectory(tmp.at(c.name)).errnum(), c.errnum) << c.name;
    EXPECT_EQ(pathPresent(tmp.at(c.name)), c.errnum == EISDIR) << c.name;
  }
  // Links went as links.
  EXPECT_TRUE(pathPresent(tmp.at("empty-target")));
  EXPECT_TRUE(pathPresent(tmp.at("full/entry")));
}

TEST_F(RemovePathTest, NeverRemovesThroughARelativePathOrTheRoot) {
  for (const char* path : {"", "file", "./file", "/", "/."}) {
    EXPECT_NE(removeNonDirectory(path).errnum(), 0) << path;
  }
  EXPECT_TRUE(pathPresent(tmp.at("file")));
}

TEST_F(RemovePathTest, AnEmptyDirectoryGoesButALinkToOneStaysALink) {
  EXPECT_TRUE(removePathTree(tmp.at("empty")).isOk());
  EXPECT_FALSE(pathPresent(tmp.at("empty")));

  for (const std::string suffix : {"", "/"}) {
    tmp.makeSymlink("link", tmp.at("empty-target"));
    EXPECT_TRUE(removePathTree(tmp.at("link") + suffix).isOk()) << suffix;
    EXPECT_FALSE(pathPresent(tmp.at("link"))) << suffix;
    EXPECT_TRUE(pathPresent(tmp.at("empty-target"))) << suffix;
  }
}

// A wrapper that must see every deletion, as a dry run does.
class DeletionCatcher : public PlatformWrapper {
 public:
  using PlatformWrapper::PlatformWrapper;
  Status removePath(const std::string& path) override {
    caught.push_back(path);
    return Status::ok();
  }
  std::vector<std::string> caught;
};

TEST_F(RemovePathTest, WrappersThatInterceptDeletionsAlsoInterceptSingleRemovals) {
  const auto real = makeRealPlatform();
  DeletionCatcher catcher(*real);
  EXPECT_EQ(catcher.removeUnlessDirectory(tmp.at("full")).errnum(), EISDIR);
  EXPECT_TRUE(catcher.removeUnlessDirectory(tmp.at("file")).isOk());
  EXPECT_TRUE(catcher.removeUnlessDirectory(tmp.at("link-to-full")).isOk());

  EXPECT_EQ(catcher.caught, (std::vector<std::string>{tmp.at("file"), tmp.at("link-to-full")}));
  EXPECT_TRUE(pathPresent(tmp.at("file")));
  EXPECT_TRUE(pathPresent(tmp.at("link-to-full")));
}

}  // namespace
}  // namespace qu
