#include "manifests/manifest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "extensions/text.h"
#include "manifests/database_manifest.h"
#include "manifests/manifest_test_world.h"

namespace qu {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

struct ProcessListCase {
  const char* name;
  std::vector<std::string> lines;
  std::string prefix;
  PathList expected;
  friend void PrintTo(const ProcessListCase& c, std::ostream* os) { *os << c.name; }
};

// Many lines of one length, listed in the reverse of name order: enough for a
// sort that is not stable to move some of them.
ProcessListCase equalLengthsInToolOrder() {
  ProcessListCase c{"ManyEqualLengthsKeepToolOrder", {}, "/", {}};
  for (int i = 99; i >= 0; --i) {
    c.lines.push_back(format("k%02d", i));
    c.expected.push_back(format("/k%02d", i));
  }
  c.lines.emplace_back();
  return c;
}

class ProcessListTest : public ::testing::TestWithParam<ProcessListCase> {};

TEST_P(ProcessListTest, JoinsDropsTheLastEmptyLineAndSortsLongestFirst) {
  const ProcessListCase& c = GetParam();
  EXPECT_EQ(Manifest::processList(c.lines, c.prefix), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProcessListTest,
    ::testing::Values(
        ProcessListCase{"TrailingEmptyLineDropped", {"./a", "./a/b", ""}, "/", {"/./a/b", "/./a"}},
        ProcessListCase{"InnerEmptyLineBecomesBarePrefix", {"x", "", ""}, "/p", {"/p/x", "/p"}},
        ProcessListCase{"NoLines", {}, "/", {}},
        ProcessListCase{"OnlyTheEmptyLastLine", {""}, "/", {}},
        ProcessListCase{"OneSeparatorAdded", {"./X.app", "/Y.app"}, "/Applications",
                        {"/Applications/./X.app", "/Applications/Y.app"}},
        ProcessListCase{"RootEntry", {"."}, "/", {"/."}},
        ProcessListCase{"NothingTrimmed", {"\tc", " a b "}, "/", {"/ a b ", "/\tc"}},
        ProcessListCase{"DescendantsBeforeAncestors",
                        {"./Applications", "./Applications/X.app", "./Applications/X.app/Contents"},
                        "/",
                        {"/./Applications/X.app/Contents", "/./Applications/X.app",
                         "/./Applications"}},
        ProcessListCase{"EqualLengthsKeepToolOrder", {"b", "a", "c", "dd"}, "/",
                        {"/dd", "/b", "/a", "/c"}},
        equalLengthsInToolOrder(),
        // "é" is two bytes but one UTF-16 unit; the clef is four bytes, two units.
        ProcessListCase{"LengthInUtf16Units",
                        {"\xC3\xA9", "ab", "\xF0\x9D\x84\x9E"},
                        "/",
                        {"/ab", "/\xF0\x9D\x84\x9E", "/\xC3\xA9"}}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(ManifestListsTest, FailedQueryIsAskedAgainAndSuccessIsKept) {
  testing::ManifestWorld world;
  world.databasePackage("com.x.pkg", testing::packageInfo({{"volume", "/"},
                                                           {"install-location", ""}}));
  ManifestPtr manifest = DatabaseManifest::manifestWithIdentifier(world.platform, "com.x.pkg");
  ASSERT_NE(manifest, nullptr);
  const std::size_t before = world.platform.queries.size();

  EXPECT_FALSE(manifest->files().has_value());
  EXPECT_EQ(world.platform.queries.size(), before + 1);

  world.databaseFiles("com.x.pkg", "bin/x\n");
  ASSERT_TRUE(manifest->files().has_value());
  EXPECT_THAT(*manifest->files(), ElementsAre("/bin/x"));
  EXPECT_EQ(world.platform.queries.size(), before + 2);

  // Once computed, the list no longer follows the tool.
  world.databaseFiles("com.x.pkg", "other\n");
  EXPECT_THAT(*manifest->files(), ElementsAre("/bin/x"));
  EXPECT_EQ(world.platform.queries.size(), before + 2);

  // The directory list is computed on its own.
  world.databaseDirectories("com.x.pkg", "bin\n");
  EXPECT_THAT(*manifest->directories(), ElementsAre("/bin"));
  EXPECT_EQ(world.platform.queries.size(), before + 3);
}

TEST(ManifestListsTest, InvalidListTypeThrowsBeforeAnyToolRuns) {
  testing::ManifestWorld world;
  world.databasePackage("com.x.pkg", testing::packageInfo({{"volume", "/"},
                                                           {"install-location", ""}}));
  world.receipt("X.pkg", testing::strings({{"CFBundleIdentifier", "com.x.pkg"},
                                           {"IFPkgFlagDefaultLocation", "/"}}),
                "f ./a\n");
  ManifestPtr manifests[] = {
      DatabaseManifest::manifestWithIdentifier(world.platform, "com.x.pkg"),
      world.receiptManifest("com.x.pkg"),
  };
  const std::size_t before = world.platform.queries.size();

  for (ManifestPtr& manifest : manifests) {
    ASSERT_NE(manifest, nullptr);
    for (int listType : {0, 3, -1}) {
      SCOPED_TRACE(listType);
      try {
        manifest->getList(listType);
        ADD_FAILURE() << "no exception";
      } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "Invalid list type.");
      }
    }
  }
  EXPECT_THAT(world.platform.queries, SizeIs(before));
  EXPECT_THAT(world.platform.logLines, IsEmpty());
}

}  // namespace
}  // namespace qu
