#include "extensions/file_types.h"

#include <gtest/gtest.h>

#include "system/real_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

class FileTypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp.writeFile("file", "x");
    tmp.makeDirectory("dir");
    tmp.makeSymlink("link-to-dir", tmp.at("dir"));
    tmp.makeSymlink("link-to-file", tmp.at("file"));
    tmp.makeSymlink("dangling", tmp.at("gone"));
  }
  testing::TempDir tmp;
  std::unique_ptr<Platform> platform = makeRealPlatform();
};

TEST_F(FileTypesTest, JudgesThePathItselfNeverALinkTarget) {
  struct Case {
    const char* name;
    bool link, file, directory;
  };
  const Case cases[] = {
      {"file", false, true, false},       {"dir", false, false, true},
      {"link-to-dir", true, false, false}, {"link-to-file", true, false, false},
      {"dangling", false, false, false},  {"missing", false, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isSymbolicLink(*platform, tmp.at(c.name)), c.link) << c.name;
    EXPECT_EQ(isFile(*platform, tmp.at(c.name)), c.file) << c.name;
    EXPECT_EQ(isDirectory(*platform, tmp.at(c.name)), c.directory) << c.name;
  }
}

}  // namespace
}  // namespace qu
