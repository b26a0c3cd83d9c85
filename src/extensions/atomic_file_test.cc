#include "extensions/atomic_file.h"

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "test_support/temp_dir.h"

namespace qu {
namespace {

using ::testing::ElementsAre;
using qu::testing::readWholeFile;
using qu::testing::TempDir;

std::vector<std::string> directoryEntries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// Writes part of the data, then reports a full disk.
WriteCall diskFillsAfter(std::size_t budget) {
  return [budget](int fd, const void* data, std::size_t size) mutable -> ssize_t {
    if (budget == 0) {
      errno = ENOSPC;
      return -1;
    }
    std::size_t now = std::min(size, budget);
    budget -= now;
    return ::write(fd, data, now);
  };
}

TEST(ReplaceFileAtomicallyTest, AFullDiskLeavesTheOriginalAndNoTemporaryFile) {
  const std::string original = "<plist version=\"1.0\"><dict/></plist>\n";
  const std::string replacement(std::size_t{64} * 1024, 'x');
  TempDir dir;
  std::string path = dir.writeFile("prefs.plist", original, 0640);

  Status status = replaceFileAtomically(path, replacement, diskFillsAfter(replacement.size() / 2));

  EXPECT_FALSE(status.isOk());
  EXPECT_EQ(status.errnum(), ENOSPC);
  EXPECT_EQ(readWholeFile(path), original);
  EXPECT_THAT(directoryEntries(dir.path()), ElementsAre("prefs.plist"));
}

TEST(ReplaceFileAtomicallyTest, ShortAndInterruptedWritesAreResumed) {
  TempDir dir;
  std::string path = dir.writeFile("prefs.plist", "old");
  const std::string replacement = "new contents, written one byte at a time";
  bool interrupt = true;
  WriteCall trickle = [&interrupt](int fd, const void* data, std::size_t) -> ssize_t {
    interrupt = !interrupt;
    if (!interrupt) {
      errno = EINTR;
      return -1;
    }
    return ::write(fd, data, 1);
  };

  Status status = replaceFileAtomically(path, replacement, trickle);

  ASSERT_TRUE(status.isOk()) << status.message();
  EXPECT_EQ(readWholeFile(path), replacement);
  EXPECT_THAT(directoryEntries(dir.path()), ElementsAre("prefs.plist"));
}

TEST(ReplaceFileAtomicallyTest, AWriteThatMakesNoProgressFailsInsteadOfLooping) {
  TempDir dir;
  std::string path = dir.writeFile("prefs.plist", "old");

  WriteCall stuck = [](int, const void*, std::size_t) -> ssize_t { return 0; };

  Status status = replaceFileAtomically(path, "new", stuck);

  EXPECT_EQ(status.errnum(), EIO);
  EXPECT_EQ(readWholeFile(path), "old");
  EXPECT_THAT(directoryEntries(dir.path()), ElementsAre("prefs.plist"));
}

// A name near the file system's limit still leaves room for the temporary
// name's suffixes; the cut falls between characters.
TEST(ReplaceFileAtomicallyTest, ReplacesAFileWhoseNameIsNearTheLimit) {
  TempDir dir;
  const std::string longName = std::string(127, 'p') + "\xC3\xA9" + std::string(100, 'q');
  const std::string path = dir.writeFile(longName, "old");

  ASSERT_TRUE(replaceFileAtomically(path, "new").isOk());

  EXPECT_EQ(readWholeFile(path), "new");
  EXPECT_THAT(directoryEntries(dir.path()), ElementsAre(longName));
}

TEST(ReplaceFileAtomicallyTest, AFailedRenameRemovesTheTemporaryFile) {
  // A non-empty directory at the target cannot be replaced by a file.
  TempDir dir;
  dir.writeFile("prefs.plist/inside", "x");

  Status status = replaceFileAtomically(dir.at("prefs.plist"), "new");

  EXPECT_FALSE(status.isOk());
  EXPECT_THAT(status.message(), ::testing::HasSubstr("rename"));
  EXPECT_THAT(directoryEntries(dir.path()), ElementsAre("prefs.plist"));
  EXPECT_EQ(readWholeFile(dir.at("prefs.plist/inside")), "x");
}

}  // namespace
}  // namespace qu
