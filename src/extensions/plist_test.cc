#include "extensions/plist.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qu::plist {
namespace {

std::vector<std::string> keysOf(const Dictionary& dictionary) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : dictionary) keys.push_back(key);
  return keys;
}

TEST(DictionaryTest, SettingAnExistingKeyReplacesItsValueWhereItStands) {
  Dictionary dictionary;
  dictionary.set("b", "one");
  dictionary.set("a", Value::integer(1));
  dictionary.set("c", true);

  dictionary.set("a", "replaced");

  EXPECT_THAT(keysOf(dictionary), ::testing::ElementsAre("b", "a", "c"));
  EXPECT_EQ(*dictionary.find("a")->string(), "replaced");
}

TEST(DictionaryTest, EraseRemovesOnlyThatKeyAndReportsWhetherItWasThere) {
  Dictionary dictionary;
  dictionary.set("x", "1");
  dictionary.set("", "empty key");
  dictionary.set("y", "2");

  EXPECT_FALSE(dictionary.erase("X"));
  EXPECT_TRUE(dictionary.erase(""));
  EXPECT_FALSE(dictionary.erase(""));
  // The keys after the erased one are still found, and replaced where they stand.
  dictionary.set("y", "3");
  dictionary.set("", "back at the end");

  EXPECT_THAT(keysOf(dictionary), ::testing::ElementsAre("x", "y", ""));
  EXPECT_EQ(*dictionary.find("y")->string(), "3");
  EXPECT_EQ(*dictionary.find("x")->string(), "1");
}

TEST(DictionaryTest, EqualityIgnoresKeyOrderButNotValuesOrTypes) {
  Dictionary ab;
  ab.set("a", Value::integer(1));
  ab.set("b", "2");
  Dictionary ba;
  ba.set("b", "2");
  ba.set("a", Value::integer(1));
  Dictionary realA;
  realA.set("a", 1.0);
  realA.set("b", "2");
  Dictionary onlyA;
  onlyA.set("a", Value::integer(1));

  EXPECT_EQ(ab, ba);
  EXPECT_NE(ab, realA);
  EXPECT_NE(ab, onlyA);
  EXPECT_NE(onlyA, ab);
}

}  // namespace
}  // namespace qu::plist
