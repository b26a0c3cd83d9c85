#include "extensions/exec.h"

#include <gtest/gtest.h>

#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

using testing::RecordingPlatform;
using testing::TempDir;

class StringFromExecutableTest : public ::testing::Test {
 protected:
  TempDir tmp;
  RecordingPlatform platform{testing::locationsUnder(tmp.path())};
};

TEST_F(StringFromExecutableTest, GivesOutputOnlyForASuccessfulRun) {
  struct Case {
    const char* story;
    const char* script;
    std::vector<std::string> arguments;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"every argument arrives, an empty first one included", R"(printf '%s|' "$#" "$@")",
       {"", "--files", "a b"}, "3||--files|a b|"},
      {"the whole output, final newline included", "printf 'one\\ntwo\\n'", {}, "one\ntwo\n"},
      {"only standard error", "echo complaint >&2", {}, std::nullopt},
      {"output but a failure status", "echo partial; exit 1", {}, std::nullopt},
      {"killed by a signal", "echo partial; kill -9 $$", {}, std::nullopt},
      {"success without output", "exit 0", {}, std::nullopt},
      {"much on standard error does not stall",
       "head -c 1048576 /dev/zero >&2; echo done", {}, "done\n"},
      {"much on standard output arrives whole", "head -c 1048576 /dev/zero | tr '\\0' a", {},
       std::string(1048576, 'a')},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string tool = tmp.writeScript("tool" + std::to_string(index++), c.script);
    const auto output = stringFromExecutable(platform, tool, c.arguments);
    EXPECT_TRUE(output == c.expected) << c.story;  // no 1 MB dump on failure
  }
  EXPECT_TRUE(platform.logLines.empty());
}

TEST_F(StringFromExecutableTest, AProgramThatCannotStartIsLoggedOnce) {
  const std::string notExecutable = tmp.writeFile("plain", "echo hi\n", 0644);
  struct Case {
    std::string program;
    std::string reason;
  };
  const Case cases[] = {
      {tmp.at("missing"), "No such file or directory"},
      {notExecutable, "Permission denied"},
  };
  for (const Case& c : cases) {
    platform.logLines.clear();
    EXPECT_EQ(stringFromExecutable(platform, c.program, {"-x"}), std::nullopt);
    EXPECT_EQ(platform.logLines,
              std::vector<std::string>{"Could not run " + c.program +
                                       ": could not be started: " + c.reason});
  }
}

}  // namespace
}  // namespace qu
