#include "extensions/text.h"

#include <gtest/gtest.h>

namespace qu {
namespace {

TEST(TextTest, Utf16LengthCountsCodeUnitsAndValidityIsJudgedWhole) {
  struct Case {
    const char* text;
    std::size_t units;
    bool valid;
  };
  const Case cases[] = {
      {"", 0, true},
      {"caf\xC3\xA9", 4, true},
      {"\xE2\x82\xAC", 1, true},
      {"\xF0\x9F\x98\x80", 2, true},  // beyond the basic plane: a surrogate pair
      {"a\xFF" "b", 3, false},         // malformed bytes count one each
      {"\xE2\x82", 2, false},          // truncated
      {"\xC0\xAF", 2, false},          // overlong "/"
      {"\xED\xA0\x80", 3, false},      // a surrogate written as UTF-8
      {"ok\xC3", 3, false},            // cut at the very end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf16Length(c.text), c.units) << c.text;
    EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.text;
  }
}

TEST(TextTest, VisibleTextEscapesOnlyWhatCouldForgeOutput) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"Quorvane Studio", "Quorvane Studio"},
      {"Ärger \xc3\xa9t\xc3\xa9 \xe2\x80\x94 \t tab", "Ärger \xc3\xa9t\xc3\xa9 \xe2\x80\x94 \t tab"},
      {"\x1b[2Jcleared", "\\x1B[2Jcleared"},
      {"row\ncom.forged  Forged", "row\\x0Acom.forged  Forged"},
      {"cr\r", "cr\\x0D"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"del\x7f", "del\\x7F"},
      {"csi\xc2\x9b", "csi\\u009B"},
      {"line\xe2\x80\xa8sep\xe2\x80\xa9", "line\\u2028sep\\u2029"},
      {"not utf-8 \xff\xc2", "not utf-8 \xff\xc2"},
  };
  for (const auto& c : cases) EXPECT_EQ(visibleText(c.text), c.shown) << c.text;
}

TEST(TextTest, SplitKeepsEmptyPieces) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(split("", '\n'), Pieces{""});
  EXPECT_EQ(split("a\n", '\n'), (Pieces{"a", ""}));
  EXPECT_EQ(split("a\n\nb", '\n'), (Pieces{"a", "", "b"}));
}

TEST(TextTest, FormatsTextOfAnyLength) {
  const std::string longText(5000, 'x');
  EXPECT_EQ(format("<%s>%d%%", longText.c_str(), 7), "<" + longText + ">7%");
}

}  // namespace
}  // namespace qu
