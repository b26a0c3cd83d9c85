#include "extensions/case_folding.h"

#include <gtest/gtest.h>

#include <string>

namespace qu {
namespace {

// Pairs of texts and how they compare ignoring case: <0, 0 or >0.
TEST(CaseFolding, ComparesAsThePlatformDoes) {
  const struct {
    const char* a;
    const char* b;
    int order;
  } cases[] = {
      // ASCII orders as it always did: by lower-case letters, then length.
      {"abc", "ABCD", -1}, {"b", "A", 1}, {"Eta", "zeta", -1}, {"[", "a", -1}, {"_", "A", -1},
      // Letters beyond ASCII, in either composition.
      {"\xC3\x84rger", "\xC3\xA4rger", 0},             // Ärger, ärger
      {"\xC3\x89t\xC3\xA9", "e\xCC\x81te\xCC\x81", 0},  // Été, e + U+0301 ...
      {"a\xCC\xA3\xCC\x81", "a\xCC\x81\xCC\xA3", 0},    // combining marks in either order
      {"stra\xC3\x9F" "e", "STRASSE", 0},               // ß folds to ss
      {"\xE1\xBA\x9E", "ss", 0},                        // capital sharp s
      {"\xE2\x84\xAA", "k", 0},                         // Kelvin sign
      // Greek: final and medial sigma are one letter.
      {"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82", 0},
      {"\xCF\x83", "\xCF\x82", 0},
      // Turkish: without a locale, dotless ı is no i, and İ is i + U+0307.
      {"\xC4\xB1", "i", 1}, {"\xC4\xB1", "I", 1},
      {"\xC4\xB0", "i\xCC\x87", 0}, {"\xC4\xB0", "i", 1},
      // Decomposed letters sort by their base letter, then the marks.
      {"\xC3\xA4", "b", -1}, {"\xC3\xA4", "az", 1},
      // Bytes that are no UTF-8 compare as themselves; the text around them folds.
      {"\xFF/A", "\xFF/a", 0}, {"\xC4", "\xE4", -1}, {"\xC3\x84\xFF", "\xC3\xA4\xFF", 0},
      {"\xFF", "\xEF\xBF\xBD", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compareIgnoringCase(c.a, c.b), c.order) << c.a << " | " << c.b;
    EXPECT_EQ(compareIgnoringCase(c.b, c.a), -c.order) << c.b << " | " << c.a;
  }
}

// The process-table index looks up tails of folded paths: a path must fold
// to the folds of its parts joined by the same "/".
TEST(CaseFolding, FoldsAPathPartByPart) {
  const std::string parts[] = {"",
                               "MacOS",
                               "\xC3\x84rger",
                               "\xCC\x81" "e",           // a mark with nothing to combine with
                               "e\xCC\xA3\xCC\x81",      // marks out of canonical order
                               "\xCF\x82\xCE\xA3",
                               "\xC4\xB0\xC3\x9F",
                               "\xFF\xC3",               // no UTF-8
                               "\xE2\x82"};              // a truncated sequence
  for (const std::string& left : parts) {
    for (const std::string& right : parts) {
      EXPECT_EQ(foldCase(left + "/" + right), foldCase(left) + "/" + foldCase(right))
          << left << " | " << right;
    }
  }
}

}  // namespace
}  // namespace qu
