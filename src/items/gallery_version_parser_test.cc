#include "items/gallery_version_parser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <ostream>
#include <string>

#include "system/real_platform.h"
#include "test_support/temp_dir.h"

namespace qu {

void PrintTo(const CalendarDate& date, std::ostream* out) {
  *out << date.year << '-' << date.month << '-' << date.day;
}

namespace {

using ::qu::testing::TempDir;

std::string manifestWith(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<manifest xmlns:lom=\"urn:lom\" xmlns:imsmd=\"urn:imsmd\">"
         "<lom:lom><lom:lifeCycle>\n" + body + "\n</lom:lifeCycle></lom:lom></manifest>\n";
}

std::string version(const std::string& text) { return "<lom:version>" + text + "</lom:version>"; }

struct ManifestCase {
  const char* name;
  std::string content;
  std::optional<std::string> expected;
};
void PrintTo(const ManifestCase& c, std::ostream* out) { *out << c.name; }

class ManifestVersionTest : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestVersionTest, GivesTheLatestVersionDate) {
  TempDir dir;
  const auto platform = makeRealPlatform();
  dir.writeFile("secret-date", "2030-01-01");
  std::string content = GetParam().content;
  for (std::size_t at; (at = content.find("$DIR")) != std::string::npos;) {
    content.replace(at, 4, dir.path());
  }
  const std::string path = dir.writeFile("Team Content %20/imsmanifest.xml", content);
  EXPECT_EQ(GalleryVersionParser::galeryVersionForPath(*platform, path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Manifests, ManifestVersionTest,
    ::testing::Values(
        ManifestCase{"LatestOfSeveral",
                     manifestWith(version("2009-11-30") + version("2010-03-05") +
                                  version("2010-01-15")),
                     "3/5/10"},
        ManifestCase{"YearOutranksMonth",
                     manifestWith(version("2010-01-01") + version("2009-12-31")), "1/1/10"},
        ManifestCase{"TwoDigitMonthAndDay", manifestWith(version("2010-12-31")), "12/31/10"},
        ManifestCase{"YearKeepsItsZero", manifestWith(version("2001-02-03")), "2/3/01"},
        ManifestCase{"DateInsideAStringChild",
                     manifestWith(version("<lom:string language=\"x-none\">2010-03-05"
                                          "</lom:string>")),
                     "3/5/10"},
        ManifestCase{"OtherPrefix", manifestWith("<imsmd:version>2010-03-05</imsmd:version>"),
                     std::nullopt},
        ManifestCase{"NoPrefix", manifestWith("<version>2010-03-05</version>"), std::nullopt},
        ManifestCase{"DatesAfterTheVersionDoNotCount",
                     manifestWith(version("2001-02-03") + "<lom:date>2010-03-05</lom:date>"),
                     "2/3/01"},
        ManifestCase{"EmptyVersionElementOpensNothing",
                     manifestWith("<lom:version/><lom:date>2010-03-05</lom:date>"), std::nullopt},
        ManifestCase{"NonDateAlone", manifestWith(version("1.2")), std::nullopt},
        ManifestCase{"NonDateBesideADate", manifestWith(version("1.2") + version("2010-03-05")),
                     "3/5/10"},
        ManifestCase{"PaddedDate", manifestWith(version("\n  2010-03-05\n")), std::nullopt},
        ManifestCase{"CharacterData", manifestWith(version("<![CDATA[2010-03-05]]>")),
                     std::nullopt},
        // Entities are never expanded, nor external ones fetched.
        ManifestCase{"EntitiesStayUnexpanded",
                     "<!DOCTYPE m [<!ENTITY inner \"2020-02-02\"><!ENTITY outer SYSTEM "
                     "\"file://$DIR/secret-date\">]>" +
                         manifestWith(version("&inner;") + version("&outer;")),
                     std::nullopt},
        ManifestCase{"CutOffAfterTheVersion",
                     "<manifest xmlns:lom=\"urn:lom\"><lom:lom>" + version("2010-03-05"),
                     std::nullopt}),
    [](const ::testing::TestParamInfo<ManifestCase>& param) { return param.param.name; });

TEST(GalleryVersionParserTest, UnreadableManifestsGiveNothingAndPrintNothing) {
  TempDir dir;
  const auto platform = makeRealPlatform();
  const std::string pipe = dir.at("pipe.xml");  // would block a reader that opened it
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  ::testing::internal::CaptureStderr();
  // Addresses and relative paths are never opened: the reader would fetch the former.
  for (const std::string& path : {dir.at("absent.xml"), dir.makeDirectory("folder.xml"),
                                  dir.writeFile("broken.xml", "<m><lom:version>2010-03-05"),
                                  std::string("http://127.0.0.1:9/imsmanifest.xml"),
                                  std::string("ftp://127.0.0.1:9/imsmanifest.xml"),
                                  std::string("relative/imsmanifest.xml")}) {
    EXPECT_FALSE(GalleryVersionParser::initWithPath(*platform, path)) << path;
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  // A pipe is refused at once, with a word in the log.
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(GalleryVersionParser::initWithPath(*platform, pipe));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("not a regular file"),
            std::string::npos);
}

TEST(VersionDateTest, ReadsOnlyPlainCalendarDates) {
  const struct {
    const char* text;
    std::optional<CalendarDate> expected;
  } cases[] = {
      {"2010-03-05", CalendarDate{2010, 3, 5}}, {"2012-02-29", CalendarDate{2012, 2, 29}},
      {"2000-02-29", CalendarDate{2000, 2, 29}}, {"1900-02-29", std::nullopt},
      {"2010-02-30", std::nullopt},              {"2010-04-31", std::nullopt},
      {"2010-13-01", std::nullopt},              {"2010-00-10", std::nullopt},
      {"2010-3-5", std::nullopt},                {"10-03-05", std::nullopt},
      {" 2010-03-05", std::nullopt},             {"2010-03-05x", std::nullopt},
      {"+010-03-05", std::nullopt},              {"2010/03/05", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseVersionDate(c.text), c.expected) << c.text;
    // A date read is written back exactly as it stood.
    if (c.expected) {
      EXPECT_EQ(formatIsoDate(*c.expected), c.text);
    }
  }
}

}  // namespace
}  // namespace qu
