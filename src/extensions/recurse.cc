#include "extensions/recurse.h"

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

bool removeObjectForRecursiveKey(Dictionary& dictionary, std::string_view keyPath) {
  if (keyPath.empty()) return false;
  std::vector<std::string_view> keys = keysOf(keyPath);
  Dictionary* current = &dictionary;
  for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
    Value* value = current->find(keys[i]);
    if (value == nullptr) return false;
    current = value->dictionary();
    if (current == nullptr) return false;
  }
  // Removed where it lives; a dictionary left empty stays in its parent.
  return current->erase(keys.back());
}

std::vector<bool> removeObjectsForRecursiveKeys(Dictionary& dictionary,
                                                const std::vector<std::string>& keyPaths) {
  std::vector<bool> removed;
  removed.reserve(keyPaths.size());
  for (const std::string& keyPath : keyPaths) {
    removed.push_back(removeObjectForRecursiveKey(dictionary, keyPath));
  }
  return removed;
}

std::optional<Value> dictionaryWithContentsOfString(std::string_view text) { return parse(text); }

}  // namespace qu::plist
