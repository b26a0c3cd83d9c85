#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extensions/plist.h"

namespace qu::plist {

// Key paths: dictionary keys joined by ":", "Software:Quorvane Technologies:Gallery".
// Components are used unchanged; empty components name the empty key; an
// empty key path names nothing.

// The value the key path names, or null.
const Value* valueForRecursiveKey(const Dictionary& dictionary, std::string_view keyPath);

// Removes the value the key path names from the innermost dictionary; a path
// that names nothing, or crosses a value that is not a dictionary, changes
// nothing. Says whether a value was removed, per key path.
bool removeObjectForRecursiveKey(Dictionary& dictionary, std::string_view keyPath);
std::vector<bool> removeObjectsForRecursiveKeys(Dictionary& dictionary,
                                                const std::vector<std::string>& keyPaths);

// The property list a string holds (any top-level type), or nothing.
std::optional<Value> dictionaryWithContentsOfString(std::string_view text);

}  // namespace qu::plist
