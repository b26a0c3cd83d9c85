#include "extensions/json.h"

#include <gtest/gtest.h>

namespace qu {
namespace {

TEST(JsonTest, TextIsAStringOnlyWhenItIsUtf8AndNeverLosesABit) {
  struct Case {
    std::string text;
    std::string written;  // compact form
  };
  const Case cases[] = {
      {"com.quorvane.studio", R"("com.quorvane.studio")"},
      {"Caf\xC3\xA9 \"1\"\n", R"("Café \"1\"\n")"},
      {std::string("a\0b", 3), R"("a\u0000b")"},
      {"", R"("")"},
      {"caf\xE9", R"({"base64":"Y2Fm6Q=="})"},  // Latin-1, not UTF-8
      {"\xC0\xAF", R"({"base64":"wK8="})"},      // overlong "/"
      {"\xFF\xFE\xFD", R"({"base64":"//79"})"},  // no padding
  };
  for (const Case& c : cases) {
    const Json value = jsonText(c.text);
    EXPECT_EQ(value.dump(), c.written) << c.text;
    // Reading it back gives every byte again.
    if (value.is_string()) {
      EXPECT_EQ(Json::parse(value.dump()), c.text);
    }
  }
  EXPECT_TRUE(jsonTextOrNull(std::nullopt).is_null());
}

TEST(JsonTest, DocumentsAndLinesStartWithVersionAndType) {
  Json object = jsonObject("listing");
  // Every line end a reader may split on is escaped, "\u2028" twice in a row too.
  object["path"] = jsonText("/tmp/a\nb\u2028\u2028\u0085\u2029c");
  const std::string path = R"("/tmp/a\nb\u2028\u2028\u0085\u2029c")";
  EXPECT_EQ(jsonLineText(object), R"({"version":1,"type":"listing","path":)" + path + "}\n");
  EXPECT_EQ(jsonDocumentText(object),
            "{\n  \"version\": 1,\n  \"type\": \"listing\",\n  \"path\": " + path + "\n}\n");
  EXPECT_EQ(Json::parse(jsonLineText(object))["path"], "/tmp/a\nb\u2028\u2028\u0085\u2029c");
}

}  // namespace
}  // namespace qu
