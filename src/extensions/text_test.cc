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

TEST(TextTest, SplitKeepsEmptyPieces) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(split("", '\n'), Pieces{""});
  EXPECT_EQ(split("a\n", '\n'), (Pieces{"a", ""}));
  EXPECT_EQ(split("a\n\nb", '\n'), (Pieces{"a", "", "b"}));
}

TEST(TextTest, CaseInsensitiveOrderAndFormat) {
  EXPECT_LT(compareIgnoringCase("abc", "ABCD"), 0);
  EXPECT_GT(compareIgnoringCase("b", "A"), 0);
  const std::string longText(5000, 'x');
  EXPECT_EQ(format("<%s>%d%%", longText.c_str(), 7), "<" + longText + ">7%");
}

}  // namespace
}  // namespace qu
