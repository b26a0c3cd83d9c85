#include "extensions/plist.h"

#include <algorithm>

namespace qu::plist {

const Value* Dictionary::find(std::string_view key) const {
  auto found = positions_.find(key);
  return found == positions_.end() ? nullptr : &entries_[found->second].second;
}

Value* Dictionary::find(std::string_view key) {
  return const_cast<Value*>(std::as_const(*this).find(key));
}

void Dictionary::set(std::string key, Value value) {
  auto [position, added] = positions_.try_emplace(key, entries_.size());
  if (!added) {
    entries_[position->second].second = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

bool Dictionary::erase(std::string_view key) {
  auto found = positions_.find(key);
  if (found == positions_.end()) return false;
  const std::size_t index = found->second;
  positions_.erase(found);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  for (std::size_t later = index; later < entries_.size(); ++later) {
    positions_.find(entries_[later].first)->second = later;
  }
  return true;
}

void Dictionary::reserve(std::size_t keys) {
  entries_.reserve(keys);
  positions_.reserve(keys);
}

// Two dictionaries are equal when they hold the same keys with equal values;
// the order of the keys does not matter, as in any dictionary.
bool operator==(const Dictionary& a, const Dictionary& b) {
  if (a.size() != b.size()) return false;
  return std::all_of(a.begin(), a.end(), [&b](const Dictionary::Entry& entry) {
    const Value* other = b.find(entry.first);
    return other != nullptr && *other == entry.second;
  });
}

}  // namespace qu::plist
