#include "extensions/plist.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

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

TEST(DictionaryTest, KeysAreFoundAfterGrowingErasingAndCopyingSmallAndLarge) {
  // Short keys live inside their entries, which move as the dictionary grows.
  for (int size : {3, 40, 1000}) {
    SCOPED_TRACE(size);
    Dictionary dictionary;
    std::vector<std::string> keys;
    for (int i = 0; i < size; ++i) {
      keys.push_back("k" + std::to_string(i));
      dictionary.set(keys.back(), Value::integer(i));
    }
    dictionary.set("k1", "twice");
    ASSERT_TRUE(dictionary.erase("k0"));
    Dictionary copy = dictionary;
    copy.set("k2", "only in the copy");
    dictionary = Dictionary(dictionary);  // a copy assigned over itself, by way of a temporary

    EXPECT_EQ(keysOf(dictionary), std::vector<std::string>(keys.begin() + 1, keys.end()));
    EXPECT_EQ(dictionary.find("k0"), nullptr);
    EXPECT_EQ(*dictionary.find("k1"), Value("twice"));
    EXPECT_EQ(*dictionary.find("k2"), Value::integer(2));
    EXPECT_EQ(*copy.find("k2"), Value("only in the copy"));
    for (int i = 2; i < size; ++i) {
      ASSERT_NE(copy.find(keys[static_cast<std::size_t>(i)]), nullptr) << i;
      EXPECT_EQ(*dictionary.find(keys[static_cast<std::size_t>(i)]), Value::integer(i)) << i;
    }
  }
}

TEST(DictionaryTest, ErasingManyKeysKeepsTheRestInOrderAndFindable) {
  const struct {
    int size;
    std::vector<std::string> erase;  // some twice, some missing
    std::size_t erased;
  } cases[] = {
      {3, {"k1"}, 1},
      {3, {"k2", "k0", "k2", "nope"}, 2},
      {40, {"k39", "k0", "k17", "k18", "k0"}, 4},
      {1000, {"k999", "k500", "k1", "k2", "k3", "nope"}, 5},
      {1000, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    Dictionary dictionary;
    std::vector<std::string> left;
    for (int i = 0; i < c.size; ++i) {
      const std::string key = "k" + std::to_string(i);
      dictionary.set(key, Value::integer(i));
      if (std::find(c.erase.begin(), c.erase.end(), key) == c.erase.end()) left.push_back(key);
    }
    const std::vector<std::string_view> keys(c.erase.begin(), c.erase.end());

    EXPECT_EQ(dictionary.eraseKeys(keys), c.erased);

    EXPECT_EQ(keysOf(dictionary), left);
    for (const std::string& key : c.erase) EXPECT_EQ(dictionary.find(key), nullptr) << key;
    for (const std::string& key : left) {
      ASSERT_NE(dictionary.find(key), nullptr) << key;
      EXPECT_EQ(*dictionary.find(key), Value::integer(std::stoi(key.substr(1)))) << key;
    }
    // The index still follows the entries as they grow again.
    dictionary.set("added", "last");
    EXPECT_EQ(keysOf(dictionary).back(), "added");
    EXPECT_EQ(*dictionary.find("added"), Value("last"));
  }
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
