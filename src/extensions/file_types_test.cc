#include "extensions/file_types.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/platform_wrapper.h"
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

TEST_F(FileTypesTest, FinderMetadataAloneCountsAsEmpty) {
  struct Case {
    std::vector<std::string> entries;
    bool empty;
  };
  const Case cases[] = {
      {{}, true},           {{".DS_Store"}, true}, {{"._.DS_Store"}, true},
      {{".DS_Store", "other"}, false}, {{".hidden"}, false},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string name = "d" + std::to_string(index++);
    const std::string directory = tmp.makeDirectory(name);
    for (const std::string& entry : c.entries) tmp.writeFile(name + '/' + entry, "");
    EXPECT_EQ(directoryIsEmpty(*platform, directory), c.empty) << name;
  }

  // A directory we cannot look into is kept (tests may run as root, so the
  // listing failure is simulated).
  class Unlistable : public PlatformWrapper {
   public:
    using PlatformWrapper::PlatformWrapper;
    std::optional<std::vector<std::string>> listDirectory(const std::string&) override {
      return std::nullopt;
    }
  } unlistable(*platform);
  EXPECT_FALSE(directoryIsEmpty(unlistable, tmp.at("d0")));
}

TEST_F(FileTypesTest, EmptinessOfWhatIsNotADirectory) {
  const std::pair<const char*, const char*> cases[] = {
      {"missing", "File does not exist at path."},
      {"file", "Path is not a directory."},
      {"link-to-dir", "Path is not a directory."},
  };
  for (const auto& [name, reason] : cases) {
    try {
      directoryIsEmpty(*platform, tmp.at(name));
      ADD_FAILURE() << name << " was accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), reason) << name;
    }
    EXPECT_EQ(directoryIsEmptyIfPresent(*platform, tmp.at(name)), std::nullopt) << name;
  }
  EXPECT_EQ(directoryIsEmptyIfPresent(*platform, tmp.at("dir")), true);
}

}  // namespace
}  // namespace qu
