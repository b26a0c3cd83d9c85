#include "extensions/recurse.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "extensions/plist_io.h"

namespace qu::plist {
namespace {

constexpr const char* kTeamContent = "Software:Quorvane Technologies:Gallery:TeamContent";

Dictionary dictionaryOf(std::initializer_list<std::pair<std::string, Value>> entries) {
  Dictionary dictionary;
  for (const auto& [key, value] : entries) dictionary.set(key, value);
  return dictionary;
}

// Software > Quorvane Technologies > Gallery > TeamContent, plus an empty key
// at two levels and a string where a dictionary might be expected.
Dictionary preferences() {
  Dictionary gallery = dictionaryOf({{"TeamContent", dictionaryOf({{"c1", "record"}})},
                                     {"Other", "kept"}});
  Dictionary maker =
      dictionaryOf({{"Gallery", gallery}, {"", dictionaryOf({{"b", "under empty"}})}});
  return dictionaryOf({{"Software", dictionaryOf({{"Quorvane Technologies", maker}})},
                       {"top", "level"},
                       {"text", "not a dictionary"},
                       {"", "root empty key"}});
}

TEST(ValueForRecursiveKeyTest, FollowsEveryComponent) {
  struct Case {
    const char* keyPath;
    std::optional<Value> expected;
  };
  const Case cases[] = {
      {kTeamContent, Value(dictionaryOf({{"c1", "record"}}))},
      {"Software:Quorvane Technologies:Gallery:Other", Value("kept")},
      {"top", Value("level")},
      {"Software:Quorvane Technologies::b", Value("under empty")},
      {":", std::nullopt},  // the root's empty key holds a string, not a dictionary
      {"", std::nullopt},
      {"Software:Quorvane Technologies:TeamContent", std::nullopt},  // Gallery level skipped
      {"Software:Quorvane Technologies:Gallery:Missing", std::nullopt},
      {"text:anything", std::nullopt},
      {"top:", std::nullopt},
      {"software", std::nullopt},  // keys are case-sensitive
      {" top", std::nullopt},      // and not trimmed
  };
  Dictionary dictionary = preferences();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyPath);
    const Value* found = valueForRecursiveKey(dictionary, c.keyPath);
    if (c.expected) {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(*found, *c.expected);
    } else {
      EXPECT_EQ(found, nullptr);
    }
  }
}

TEST(RemoveObjectForRecursiveKeyTest, RemovesFromTheInnermostDictionaryOnly) {
  struct Case {
    const char* keyPath;
    std::function<void(Dictionary&)> expectedChange;  // applied to a fresh copy
  };
  auto maker = [](Dictionary& d) -> Dictionary& {
    return *d.find("Software")->dictionary()->find("Quorvane Technologies")->dictionary();
  };
  auto unchanged = [](Dictionary&) {};
  const Case cases[] = {
      {kTeamContent,
       [&](Dictionary& d) { maker(d).find("Gallery")->dictionary()->erase("TeamContent"); }},
      {"top", [](Dictionary& d) { d.erase("top"); }},
      {"Software:Quorvane Technologies:", [&](Dictionary& d) { maker(d).erase(""); }},
      {"Software:Quorvane Technologies::b",
       [&](Dictionary& d) { maker(d).find("")->dictionary()->erase("b"); }},  // stays, empty
      {"", unchanged},
      {"Software:Quorvane Technologies:TeamContent", unchanged},  // middle level missing
      {"Software:Missing:Gallery:TeamContent", unchanged},
      {"Software:Quorvane Technologies:Gallery:Missing", unchanged},
      {"text:anything", unchanged},  // middle level holds a string
      {"Top", unchanged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyPath);
    Dictionary dictionary = preferences();
    Dictionary expected = preferences();
    c.expectedChange(expected);

    removeObjectForRecursiveKey(dictionary, c.keyPath);

    EXPECT_EQ(dictionary, expected);
  }
}

TEST(RemoveObjectsForRecursiveKeysTest, EndsAsRemovingEachPathInOrder) {
  const struct {
    std::vector<std::string> keyPaths;
    std::function<void(Dictionary&)> expect;
  } cases[] = {
      // Removing the parent first makes the later, deeper path name nothing.
      {{"Software", kTeamContent, "top", "missing"},
       [](Dictionary& d) {
         d.erase("Software");
         d.erase("top");
       }},
      // The deeper path first, then its parent: the parent goes all the same.
      // An empty key path names nothing.
      {{kTeamContent, "Software:Quorvane Technologies", ""},
       [](Dictionary& d) { d.find("Software")->dictionary()->erase("Quorvane Technologies"); }},
      // Several keys of one dictionary and of the one below it.
      {{"Software:Quorvane Technologies:Gallery:Other", "top", kTeamContent, "text:x", "text"},
       [](Dictionary& d) {
         Dictionary& gallery = *d.find("Software")
                                    ->dictionary()
                                    ->find("Quorvane Technologies")
                                    ->dictionary()
                                    ->find("Gallery")
                                    ->dictionary();
         gallery.erase("Other");
         gallery.erase("TeamContent");  // the gallery stays, empty
         d.erase("top");
         d.erase("text");
       }},
      {{}, [](Dictionary&) {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyPaths.size());
    Dictionary dictionary = preferences();
    removeObjectsForRecursiveKeys(dictionary, c.keyPaths);

    Dictionary expected = preferences();
    c.expect(expected);
    EXPECT_EQ(dictionary, expected);
  }
}

TEST(DictionaryWithContentsOfStringTest, ReturnsWhateverRootTheTextHolds) {
  const std::string header =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  struct Case {
    std::string text;
    std::optional<Value> expected;
  };
  const Case cases[] = {
      {header + "<dict><key>pkgid</key><string>com.quorvix.a</string>"
                "<key>install-time</key><integer>1700000000</integer></dict></plist>",
       Value(dictionaryOf(
           {{"pkgid", "com.quorvix.a"}, {"install-time", Value::integer(1700000000)}}))},
      {header + "<array><string>x</string><true/></array></plist>", Value(Array{"x", true})},
      {"", std::nullopt},
      {"garbage", std::nullopt},
      {"pkgid: com.quorvix.a\nversion: 1.0\n", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(dictionaryWithContentsOfString(c.text), c.expected);
  }
}

}  // namespace
}  // namespace qu::plist
