// Key paths over arbitrary dictionaries, as the "plistremove" edits and the
// gallery catalogue use them: reading agrees with removing, and a removal
// takes exactly what the path names and nothing else.

#include <string>
#include <vector>

#include "extensions/plist_io.h"
#include "extensions/recurse.h"
#include "extensions/text.h"
#include "fuzz_input.h"
#include "plist_equality.h"

namespace {

namespace plist = qu::plist;
using qu::fuzzing::check;

// Puts a string at the key path, making the dictionaries on the way; a value
// on the way that is no dictionary stays and takes nothing.
void insert(plist::Dictionary& dictionary, std::string_view keyPath) {
  const std::vector<std::string> keys = qu::split(keyPath, ':');
  plist::Dictionary* current = &dictionary;
  for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
    if (current->find(keys[i]) == nullptr) current->set(keys[i], plist::Dictionary{});
    current = current->find(keys[i])->dictionary();
    if (current == nullptr) return;
  }
  current->set(keys.back(), std::string(keyPath));
}

// The dictionary of the first section: a property list when it holds one,
// else one built from its lines read as key paths.
plist::Dictionary worldOf(std::string_view text) {
  if (std::optional<plist::Value> value = plist::parse(text)) {
    if (plist::Dictionary* dictionary = value->dictionary()) return std::move(*dictionary);
  }
  plist::Dictionary dictionary;
  for (const std::string& line : qu::split(text, '\n')) insert(dictionary, line);
  return dictionary;
}

// Whether `path` reaches through `removed`, component by component.
bool isAtOrBelow(std::string_view path, std::string_view removed) {
  return path == removed || (path.starts_with(removed) && path[removed.size()] == ':');
}

bool sameOrBothAbsent(const plist::Value* a, const plist::Value* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return qu::fuzzing::sameValue(*a, *b, qu::fuzzing::Precision::Exact);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts =
      qu::fuzzing::sections(qu::fuzzing::bytesOf(data, size), 2);
  const plist::Dictionary world = worldOf(parts[0]);
  std::vector<std::string> keyPaths = qu::split(parts[1], '\n');
  // Every path is checked against every other: a dozen or so keep runs fast.
  if (keyPaths.size() > 16) keyPaths.resize(16);

  for (const std::string& keyPath : keyPaths) {
    const plist::Value* value = plist::valueForRecursiveKey(world, keyPath);
    if (keyPath.empty()) check(value == nullptr, "the empty key path names nothing");

    // A value inside is the innermost dictionary's entry under the last key.
    const std::size_t lastColon = keyPath.rfind(':');
    if (value != nullptr && lastColon != std::string::npos) {
      // An empty head is the empty key, though the empty key path names nothing.
      const plist::Value* outer =
          lastColon == 0 ? world.find("")
                         : plist::valueForRecursiveKey(world, keyPath.substr(0, lastColon));
      check(outer != nullptr && outer->dictionary() != nullptr &&
                outer->dictionary()->find(keyPath.substr(lastColon + 1)) == value,
            "a value is found in the dictionary its path's head names");
    }

    plist::Dictionary edited = world;
    plist::removeObjectForRecursiveKey(edited, keyPath);
    check(plist::valueForRecursiveKey(edited, keyPath) == nullptr,
          "a removed key path names nothing");
    if (value == nullptr) {
      check(qu::fuzzing::sameValue(edited, world, qu::fuzzing::Precision::Exact),
            "removing a key path that names nothing changes nothing");
    }
    for (const std::string& other : keyPaths) {
      // The removed value's own path, its paths inside, and the dictionaries
      // that held it change; nothing else may.
      if (value != nullptr && (isAtOrBelow(other, keyPath) || isAtOrBelow(keyPath, other))) {
        continue;
      }
      check(sameOrBothAbsent(plist::valueForRecursiveKey(edited, other),
                             plist::valueForRecursiveKey(world, other)),
            "a removal leaves every other key path as it was");
    }
  }

  // Removals never bring a value back, so after all of them none is named.
  plist::Dictionary edited = world;
  plist::removeObjectsForRecursiveKeys(edited, keyPaths);
  for (const std::string& keyPath : keyPaths) {
    check(plist::valueForRecursiveKey(edited, keyPath) == nullptr,
          "after removing every key path none names anything");
  }
  return 0;
}
