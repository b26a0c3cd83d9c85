#include "manifests/process_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "extensions/text.h"
#include "manifests/manifest_test_world.h"
#include "manifests/receipt_manifest.h"

namespace qu {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ManifestWorld;
using testing::strings;

struct ListingCase {
  const char* name;
  std::string listing;
  ProcessTable expected;
  friend void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.name; }
};

class ProcessListingTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ProcessListingTest, ParsesPidSeparatorAndPath) {
  EXPECT_EQ(parseProcessListing(GetParam().listing), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Listings, ProcessListingTest,
    ::testing::Values(
        ListingCase{"RightAlignedPid",
                    "  123 /Applications/X.app/Contents/MacOS/X\n",
                    {{"/Applications/X.app/Contents/MacOS/X", 123}}},
        ListingCase{"LaterLineWins", "200 /a\n300 /a\n", {{"/a", 300}}},
        ListingCase{"BareNameSkipped", "55 launchd\n", {}},
        ListingCase{"SpacesKept",
                    "7 /Applications/My App.app/Contents/MacOS/My App  \n",
                    {{"/Applications/My App.app/Contents/MacOS/My App  ", 7}}},
        // Only "\n" ends a line: any other break is part of a program's path,
        // so a forged "pid path" after it never becomes an entry.
        ListingCase{"OnlyNewlineEndsALine",
                    "1 /a\v2 /b\f3 /c\r4 /d\xC2\x85" "5 /e\xE2\x80\xA8" "6 /f\xE2\x80\xA9" "7 /g\n"
                    "8 /h\r\n",
                    {{"/a\v2 /b\f3 /c\r4 /d\xC2\x85" "5 /e\xE2\x80\xA8" "6 /f\xE2\x80\xA9" "7 /g", 1},
                     {"/h\r", 8}}},
        ListingCase{"AnyOneSeparatorCharacter",
                    "4\t/d\n5x/e\n10\xC2\xA0/h\n",
                    {{"/d", 4}, {"/e", 5}, {"/h", 10}}},
        ListingCase{"OnlyOneSeparatorDropped", "6  /f\n", {}},
        ListingCase{"NothingAfterPid", "7 \n8\n\n", {}},
        ListingCase{"NoPid", "abc /x\n /y\n", {}},
        ListingCase{"LeadingTab", "\t9 /g\n", {{"/g", 9}}},
        ListingCase{"PidRange",
                    "2147483648 /big\n99999999999999999999 /huge\n2147483647 /max\n0 /zero\n"
                    "-5 /neg\n",
                    {{"/max", 2147483647}}},
        ListingCase{"Empty", "", {}}),
    [](const auto& tested) { return std::string(tested.param.name); });

struct MatchCase {
  const char* name;
  ProcessTable processes;
  PathList files;
  ProcessTable expected;
  friend void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }
};

class ProcessMatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(ProcessMatchTest, KeepsProcessesWhosePathEndsAFile) {
  EXPECT_EQ(processesRunningFrom(GetParam().processes, GetParam().files), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Matches, ProcessMatchTest,
    ::testing::Values(
        MatchCase{"LeadingTextBeforeTail",
                  {{"/Applications/X.app/Contents/MacOS/X", 123}},
                  {"/./Applications/X.app/Contents/MacOS/X"},
                  {{"/Applications/X.app/Contents/MacOS/X", 123}}},
        MatchCase{"CaseIgnored",
                  {{"/Applications/X.app/Contents/MacOS/X", 1}},
                  {"/./applications/x.app/contents/macos/x"},
                  {{"/Applications/X.app/Contents/MacOS/X", 1}}},
        MatchCase{"PathsDifferingInCaseBothMatch",
                  {{"/opt/X", 1}, {"/opt/x", 2}},
                  {"/./opt/x"},
                  {{"/opt/X", 1}, {"/opt/x", 2}}},
        MatchCase{"LettersBeyondAscii",
                  {{"/Library/Quorvane/\xC3\x84rger/qd", 1}},
                  {"/./Library/Quorvane/\xC3\xA4rger/qd"},
                  {{"/Library/Quorvane/\xC3\x84rger/qd", 1}}},
        MatchCase{"ComposedAgainstDecomposed",
                  {{"/Applications/\xC3\x89t\xC3\xA9.app/Contents/MacOS/\xC3\x89t\xC3\xA9", 2}},
                  {"/./applications/e\xCC\x81te\xCC\x81.app/contents/macos/e\xCC\x81te\xCC\x81"},
                  {{"/Applications/\xC3\x89t\xC3\xA9.app/Contents/MacOS/\xC3\x89t\xC3\xA9", 2}}},
        MatchCase{"NotUtf8ComparedByBytes",
                  {{"/opt/\xFF/X", 1}, {"/opt/\xC4/y", 2}},
                  {"/./opt/\xFF/x", "/./opt/\xE4/y"},
                  {{"/opt/\xFF/X", 1}}},
        MatchCase{"LongerNameNoMatch",
                  {{"/bin/X", 1}, {"/bin/e", 2}},
                  {"/./bin/X2", "/./bin/aX", "/./bin/e\xCC\x81"},
                  {}},
        MatchCase{"NotEveryProcess",
                  {{"/a/x", 1}, {"/b/y", 2}, {"/c/z", 3}},
                  {"/./b/y", "/./q/z"},
                  {{"/b/y", 2}}}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(ProcessMatchTest, AgreesWithThePlainRuleOnGeneratedPaths) {
  std::mt19937 random(20240607);
  const std::vector<std::string> components = {
      "a",     "A",  "b", "ab",        "aB",    "App", "x y",      ".",          "", "MacOS",
      "macos", "X.app",   "\xC3\x84", "\xC3\xA4", "a\xCC\x88", "\xCC\x88", "\xC3\x9F", "SS", "\xFF"};
  const std::vector<std::string> leads = {"/", "/./", "//", "/Volumes/D/", "/ ", "/./ab"};
  auto pick = [&random](const auto& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
  };
  auto number = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  auto randomPath = [&] {
    std::string path = pick(leads);
    for (int i = number(0, 4); i > 0; --i) path += pick(components) + "/";
    return path + pick(components);
  };
  auto flipCase = [&](std::string text) {
    for (char& c : text) {
      if (number(0, 3) != 0) continue;
      c = static_cast<char>(std::isupper(c) ? std::tolower(c) : std::toupper(c));
    }
    return text;
  };

  std::size_t matched = 0;
  for (int round = 0; round < 500; ++round) {
    PathList files;
    for (int i = number(0, 25); i > 0; --i) files.push_back(randomPath());
    ProcessTable processes;
    for (int i = number(0, 15); i > 0; --i) {
      std::string path = randomPath();
      if (!files.empty() && number(0, 1) == 0) {
        // A tail of a file starting at one of its slashes, often in other case.
        const std::string file = pick(files);
        std::vector<std::size_t> slashes;
        for (std::size_t at = 0; at < file.size(); ++at) {
          if (file[at] == '/') slashes.push_back(at);
        }
        path = file.substr(pick(slashes));
        if (number(0, 1) == 0) path = flipCase(path);
      }
      processes.insert_or_assign(path, number(1, 1000));
    }
    SCOPED_TRACE(round);
    const ProcessTable expected = processesRunningFromByScan(processes, files);
    ASSERT_EQ(processesRunningFrom(processes, files), expected);
    matched += expected.size();
  }
  // The generator must produce plenty of matches for the comparison to mean anything.
  EXPECT_GT(matched, 500u);
}

TEST(GetProcessesTest, ListsProcessesBeforeTheFilesAndKeepsThePackagesOwn) {
  ManifestWorld world;
  world.receipt("X.pkg",
                strings({{"CFBundleIdentifier", "com.x.pkg"}, {"IFPkgFlagDefaultLocation", "/"}}),
                "f ./Applications/X.app/Contents/MacOS/X\n"
                "f ./Applications/X.app/Contents/Helpers/my helper\n");
  world.processes("    1 /sbin/launchd\n"
                  "  123 /Applications/X.app/Contents/MacOS/X\n"
                  "  130 /applications/x.app/contents/helpers/My Helper\n"
                  "  140 X\n");
  ManifestPtr manifest = world.receiptManifest("com.x.pkg");
  ASSERT_NE(manifest, nullptr);

  ProcessTable expected = {{"/Applications/X.app/Contents/MacOS/X", 123},
                           {"/applications/x.app/contents/helpers/My Helper", 130}};
  EXPECT_EQ(manifest->getProcesses(), expected);
  const Locations& locations = world.platform.locations();
  ASSERT_THAT(world.platform.queries, ::testing::SizeIs(2));
  EXPECT_EQ(world.platform.queries[0], (testing::ProgramCall{locations.ps, {"-Ao", "pid=,comm="}}));
  EXPECT_EQ(world.platform.queries[1].program, locations.lsbom);

  // Nothing is cached: a second call lists the processes again, but not the files.
  world.processes("  124 /Applications/X.app/Contents/MacOS/X\n");
  EXPECT_EQ(manifest->getProcesses(),
            (ProcessTable{{"/Applications/X.app/Contents/MacOS/X", 124}}));
  EXPECT_THAT(world.platform.queries, ::testing::SizeIs(3));
}

TEST(GetProcessesTest, EitherToolFailingGivesAnEmptyTable) {
  for (bool listingFails : {true, false}) {
    SCOPED_TRACE(listingFails);
    ManifestWorld world;
    // The bill of materials is present only when the listing is the one to fail.
    world.receipt("X.pkg",
                  strings({{"CFBundleIdentifier", "com.x.pkg"}, {"IFPkgFlagDefaultLocation", "/"}}),
                  listingFails ? std::optional<std::string>("f ./bin/x\n") : std::nullopt);
    if (!listingFails) world.processes("  9 /bin/x\n");
    ManifestPtr manifest = world.receiptManifest("com.x.pkg");
    ASSERT_NE(manifest, nullptr);

    EXPECT_THAT(manifest->getProcesses(), IsEmpty());
    // The file list is asked for either way.
    ASSERT_THAT(world.platform.queries, ::testing::SizeIs(2));
    EXPECT_EQ(world.platform.queries[1].program, world.platform.locations().lsbom);
  }
}

}  // namespace
}  // namespace qu
