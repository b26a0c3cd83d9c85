#include "uninstaller/gallery_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"
#include "uninstaller/engine_test_world.h"

namespace qu {
namespace {

using testing::RecordingPlatform;
using testing::TempDir;

struct GallerySequenceTest : ::testing::Test {
  TempDir tmp;
  RecordingPlatform platform{testing::locationsUnder(tmp.path())};

  // A gallery setup tool in the maker's folder that runs the given shell body.
  std::string tool(const std::string& body) const { return tmp.writeScript(kSetup, body); }

  static constexpr const char* kSetup =
      "Library/Application Support/Quorvane Technologies/Gallery 3/GallerySetup";
};

TEST_F(GallerySequenceTest, ReprintsProgressLinesAsTheCollectionsShareOfTheRun) {
  const struct {
    const char* story;
    int itemCount;
    int percentBefore;
    std::string body;
    std::string expected;
  } cases[] = {
      {"lines split across writes are put together", 2, 0,
       "printf 'Uninstalling:   [0%%] Start\\nUninst'; sleep 0.05\n"
       "printf 'alling: [50%%] Half'; sleep 0.05\n"
       "printf '\\nUninstalling: [100%%] Done\\n'",
       "Uninstalling: [0%] Start\nUninstalling: [25%] Half\nUninstalling: [50%] Done\n"},
      {"a later collection starts from the earlier ones' share", 2, 50,
       "echo 'Uninstalling: [0%] a'; echo 'Uninstalling: [100%] b'",
       "Uninstalling: [50%] a\nUninstalling: [100%] b\n"},
      {"a tab after the colon prints as one space", 1, 0,
       "printf 'Uninstalling:\\t[40%%] Removing files\\n'",
       "Uninstalling: [40%] Removing files\n"},
      {"a last line without newline gets one", 1, 0, "printf 'Uninstalling: [7%%]'",
       "Uninstalling: [7%]\n"},
      {"a NUL byte ends the text, and the line still ends", 1, 0,
       "printf 'Uninstalling: [8%%] kept\\000dropped\\nUninstalling: [9%%] next\\n'",
       "Uninstalling: [8%] kept\nUninstalling: [9%] next\n"},
      {"lines that are not progress lines are dropped", 1, 0,
       "echo '  Uninstalling: [10%] indented'; echo 'Uninstalling:[10%] tight'\n"
       "echo; echo 'Removing Uninstalling: [10%] x'; echo 'Uninstalling: [ 10%] x'",
       ""},
      {"a percentage beyond 32 bits is not a progress line", 1, 0,
       "echo 'Uninstalling: [4294967396%] x'; echo 'Uninstalling: [2147483647%] max'",
       "Uninstalling: [2147483647%] max\n"},
      {"the tool's standard error is not read", 1, 0,
       "echo 'Uninstalling: [5%] (the fake tool, on its standard error)' >&2", ""},
  };
  for (const auto& c : cases) {
    platform.output.clear();
    testing::TestRun run(platform, c.itemCount);
    run.progress.percent = c.percentBefore;
    EXPECT_TRUE(uninstallGallery(run.context, tool(c.body), "guid-1")) << c.story;
    EXPECT_EQ(platform.output, c.expected) << c.story;
    EXPECT_EQ(run.progress.percent, c.percentBefore + 100 / c.itemCount) << c.story;
  }
}

TEST_F(GallerySequenceTest, StartsTheToolWithTheUninstallCommandLine) {
  const std::string setup = tool("printf '[%s]' \"$@\" > '" + tmp.at("argv") + "'; exit 3");
  testing::TestRun run(platform, 3);
  EXPECT_TRUE(uninstallGallery(run.context, setup, "{ABC-123}"));
  EXPECT_EQ(testing::readWholeFile(tmp.at("argv")),
            "[--verbose][--uninstall][--keepconfigs][--guid][{ABC-123}]");
  EXPECT_EQ(run.progress.percent, 33);
}

TEST_F(GallerySequenceTest, ToolThatCannotRunFailsWithoutProgress) {
  const std::string makers = tmp.at("Applications/Quorvane Technologies");
  const std::string notExecutable =
      tmp.writeFile("Applications/Quorvane Technologies/NotAProgram", "data", 0644);
  // Root's programs, but not the maker's: another vendor's uninstaller, and
  // one reached from the maker's folder through "..".
  const std::string otherVendor = tmp.writeScript("Applications/Other Vendor/uninstall", "exit 0");
  const std::string climbing = makers + "/../Other Vendor/uninstall";
  const std::string notInside = "': it is not inside the maker's folders";
  const struct {
    std::optional<std::string> setupPath;
    std::string logLine;
  } cases[] = {
      {std::nullopt, "Cannot find Gallery Setup executable at: '(null)'"},
      {tmp.at("Missing"), "Cannot find Gallery Setup executable at: '" + tmp.at("Missing") + "'"},
      {notExecutable, "Could not start Gallery Setup executable at: '" + notExecutable +
                          "': Permission denied"},
      {otherVendor, "Refusing to run Gallery Setup executable at: '" + otherVendor + notInside},
      {climbing, "Refusing to run Gallery Setup executable at: '" + climbing + notInside},
      {makers + "/", "Refusing to run Gallery Setup executable at: '" + makers + "/" + notInside},
  };
  for (const auto& c : cases) {
    platform.logLines.clear();
    testing::TestRun run(platform, 2);
    EXPECT_FALSE(uninstallGallery(run.context, c.setupPath, "guid"));
    EXPECT_EQ(run.progress.percent, 0);
    EXPECT_EQ(platform.logLines, std::vector<std::string>{c.logLine});
  }
  EXPECT_EQ(platform.output, "");
}

}  // namespace
}  // namespace qu
