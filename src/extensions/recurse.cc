#include "extensions/recurse.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "extensions/plist_io.h"

namespace qu::plist {

namespace {

// Every ":" separates two keys; empty keys stay, there is no escape.
std::vector<std::string_view> keysOf(std::string_view keyPath) {
  std::vector<std::string_view> keys;
  while (true) {
    std::size_t colon = keyPath.find(':');
    keys.push_back(keyPath.substr(0, colon));
    if (colon == std::string_view::npos) return keys;
    keyPath.remove_prefix(colon + 1);
  }
}

}  // namespace

const Value* valueForRecursiveKey(const Dictionary& dictionary, std::string_view keyPath) {
  if (keyPath.empty()) return nullptr;
  const Dictionary* current = &dictionary;
  const Value* value = nullptr;
  for (std::string_view key : keysOf(keyPath)) {
    if (current == nullptr) return nullptr;  // the previous value was no dictionary
    value = current->find(key);
    if (value == nullptr) return nullptr;
    current = value->dictionary();
  }
  return value;
}

namespace {

// The dictionary that holds the key path's last key, and its depth; null
// when the path names nothing.
std::pair<Dictionary*, std::size_t> innermostDictionary(Dictionary& dictionary,
                                                        const std::vector<std::string_view>& keys) {
  Dictionary* current = &dictionary;
  for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
    Value* value = current->find(keys[i]);
    if (value == nullptr) return {nullptr, 0};
    current = value->dictionary();
    if (current == nullptr) return {nullptr, 0};
  }
  return {current, keys.size()};
}

}  // namespace

bool removeObjectForRecursiveKey(Dictionary& dictionary, std::string_view keyPath) {
  return removeObjectsForRecursiveKeys(dictionary, {std::string(keyPath)}).front();
}

std::vector<bool> removeObjectsForRecursiveKeys(Dictionary& dictionary,
                                                const std::vector<std::string>& keyPaths) {
  // Each dictionary loses all its keys in one pass: a thousand keys erased
  // one by one from a large dictionary would each move the entries after it.
  // Found before anything goes, a path below one that goes as well only
  // erases inside what goes anyway, so the outcome is that of removing the
  // paths in order; the deepest dictionaries lose theirs first, while the
  // dictionaries above them still hold them where they were found.
  struct Target {
    Dictionary* dictionary;
    std::size_t depth;
    std::vector<std::string_view> keys;
    std::unordered_set<std::string_view> named;  // the same keys, to find one named twice
  };
  std::vector<Target> targets;
  std::vector<bool> removed(keyPaths.size(), false);
  for (std::size_t i = 0; i < keyPaths.size(); ++i) {
    const std::string& keyPath = keyPaths[i];
    if (keyPath.empty()) continue;
    const std::vector<std::string_view> keys = keysOf(keyPath);
    const auto [inner, depth] = innermostDictionary(dictionary, keys);
    if (inner == nullptr || !inner->contains(keys.back())) continue;
    auto target = std::find_if(targets.begin(), targets.end(),
                               [inner = inner](const Target& t) { return t.dictionary == inner; });
    if (target == targets.end()) target = targets.insert(targets.end(), {inner, depth, {}, {}});
    // Named twice, a key goes the first time.
    if (!target->named.insert(keys.back()).second) continue;
    // A dictionary left empty stays in its parent.
    target->keys.push_back(keys.back());
    removed[i] = true;
  }
  std::stable_sort(targets.begin(), targets.end(),
                   [](const Target& a, const Target& b) { return a.depth > b.depth; });
  for (Target& target : targets) target.dictionary->eraseKeys(target.keys);
  return removed;
}

std::optional<Value> dictionaryWithContentsOfString(std::string_view text) { return parse(text); }

}  // namespace qu::plist
