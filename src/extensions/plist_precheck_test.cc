#include "extensions/plist_precheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qu::plist {
namespace {

std::string twoBytes(std::uint64_t value) {
  return {static_cast<char>(value >> 8 & 0xFF), static_cast<char>(value & 0xFF)};
}

// A binary property list of the given encoded objects, object 0 at the top,
// with two-byte offsets and references.
std::string binaryList(const std::vector<std::string>& objects) {
  std::string bytes = "bplist00";
  std::string table;
  for (const std::string& object : objects) {
    table += twoBytes(bytes.size());
    bytes += object;
  }
  const std::uint64_t tableAt = bytes.size();
  bytes += table;
  bytes += std::string(6, '\0') + "\x02\x02";
  for (std::uint64_t field : {std::uint64_t{objects.size()}, std::uint64_t{0}, tableAt}) {
    bytes += std::string(6, '\0') + twoBytes(field);
  }
  return bytes;
}

// Arrays nested `depth` deep, the innermost one empty.
std::string binaryChain(int depth) {
  std::vector<std::string> objects;
  for (int i = 1; i < depth; ++i) objects.push_back("\xA1" + twoBytes(i));
  objects.emplace_back("\xA0");
  return binaryList(objects);
}

std::string xmlChain(int depth, const std::string& between = "") {
  std::string xml = "<plist version=\"1.0\">";
  for (int i = 1; i < depth; ++i) xml += "<array>" + between;
  xml += "<array/>";
  for (int i = 1; i < depth; ++i) xml += "</array>";
  return xml + "</plist>";
}

// An array naming object 1 `times` times.
std::string namedOften(int times) {
  std::string array = "\xAF\x11" + twoBytes(static_cast<std::uint64_t>(times));
  for (int i = 0; i < times; ++i) array += twoBytes(1);
  return array;
}

std::string asciiString(std::uint64_t length) {
  return "\x5F\x11" + twoBytes(length) + std::string(length, 's');
}

const std::string kUtf16EWithNul("\x62\x00\xE9\x00\x00", 5);  // "é" then U+0000
const std::string kTrue = "\x09";

TEST(SafeToParseTest, RefusesWhatWouldBringTheLibraryDown) {
  const struct {
    const char* story;
    std::string bytes;
    bool safe;
  } cases[] = {
      {"an ordinary XML list", "<plist version=\"1.0\"><dict><key>a</key><true/></dict></plist>",
       true},
      {"XML nested as deep as allowed", xmlChain(kDeepestNesting), true},
      {"XML nested one deeper", xmlChain(kDeepestNesting + 1), false},
      {"closing tags in comments and character data do not hide nesting",
       xmlChain(kDeepestNesting + 1, "<!-- </array> --><![CDATA[</array>]]>"), false},
      {"binary nested as deep as allowed", binaryChain(kDeepestNesting), true},
      {"binary nested one deeper", binaryChain(kDeepestNesting + 1), false},
      {"binary containers that each reference the next twice", binaryList([] {
         std::vector<std::string> objects;
         for (int i = 1; i <= 40; ++i) objects.push_back("\xA2" + twoBytes(i) + twoBytes(i));
         objects.push_back(kTrue);
         return objects;
       }()),
       false},
      {"an array inside itself", binaryList({"\xA1" + twoBytes(0)}), false},
      {"a UTF-16 key holding U+0000",
       binaryList({"\xD1" + twoBytes(1) + twoBytes(2), kUtf16EWithNul, kTrue}), false},
      {"a UTF-16 key in a nested dictionary",
       binaryList(
           {"\xA1" + twoBytes(1), "\xD1" + twoBytes(2) + twoBytes(3), kUtf16EWithNul, kTrue}),
       false},
      {"a UTF-16 value holding U+0000",
       binaryList({"\xD1" + twoBytes(1) + twoBytes(2), "\x51k", kUtf16EWithNul}), true},
      {"an ASCII key holding NUL",
       binaryList({"\xD1" + twoBytes(1) + twoBytes(2), std::string("\x52\x00k", 3), kTrue}), true},
      {"a key naming arrays that each hold the next one twice", [] {
         std::vector<std::string> objects{"\xD1" + twoBytes(2) + twoBytes(1), kTrue};
         for (int i = 3; i <= 24; ++i) objects.push_back("\xA2" + twoBytes(i) + twoBytes(i));
         objects.emplace_back("\xA0");
         return binaryList(objects);
       }(),
       false},
      {"a key naming an empty array",
       binaryList({"\xD1" + twoBytes(1) + twoBytes(2), "\xA0", kTrue}), false},
      {"a key naming a number",
       binaryList({"\xD1" + twoBytes(1) + twoBytes(2), "\x10\x07", kTrue}), false},
      {"a key shared by many dictionaries",
       binaryList({"\xA3" + twoBytes(1) + twoBytes(1) + twoBytes(1),
                   "\xD1" + twoBytes(2) + twoBytes(3), "\x51k", kTrue}),
       true},
      // Each time an object is named, the library copies it again.
      {"one string named so often that its copies pass 64 MiB",
       binaryList({namedOften(1200), asciiString(60000)}), false},
      {"one string named as often as its copies fit in 64 MiB",
       binaryList({namedOften(1000), asciiString(60000)}), true},
      {"UTF-16 text counts as the UTF-8 it becomes",
       binaryList({namedOften(800), "\x6F\x11" + twoBytes(30000) + std::string(60000, 'a')}),
       false},
      {"data counts too", binaryList({namedOften(1200), "\x4F\x11" + twoBytes(60000) +
                                                             std::string(60000, 'd')}),
       false},
      {"a truncated binary list is left to the library", "bplist00\xD1\x01", true},
      {"a trailer pointing outside is left to the library", "bplist00" + std::string(40, '\xFF'),
       true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(safeToParse(c.bytes), c.safe) << c.story;
  }
}

}  // namespace
}  // namespace qu::plist
