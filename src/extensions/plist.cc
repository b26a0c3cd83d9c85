#include "extensions/plist.h"

#include <algorithm>

namespace qu::plist {

Dictionary::Dictionary(const Dictionary& other) : entries_(other.entries_) {
  if (other.positions_) hashKeys();
}

Dictionary& Dictionary::operator=(const Dictionary& other) {
  if (this != &other) *this = Dictionary(other);
  return *this;
}

Dictionary::Dictionary(Dictionary&& other) noexcept = default;
Dictionary& Dictionary::operator=(Dictionary&& other) noexcept = default;
Dictionary::~Dictionary() = default;

std::optional<std::size_t> Dictionary::position(std::string_view key) const {
  if (positions_) {
    auto found = positions_->find(key);
    if (found == positions_->end()) return std::nullopt;
    return found->second;
  }
  auto found = std::find_if(entries_.begin(), entries_.end(),
                            [key](const Entry& entry) { return entry.first == key; });
  if (found == entries_.end()) return std::nullopt;
  return static_cast<std::size_t>(found - entries_.begin());
}

void Dictionary::hashKeys() {
  positions_ = std::make_unique<Positions>();
  positions_->reserve(std::max(entries_.capacity(), kHashedFrom));
  for (std::size_t index = 0; index < entries_.size(); ++index) {
    positions_->emplace(entries_[index].first, index);
  }
}

const Value* Dictionary::find(std::string_view key) const {
  const std::optional<std::size_t> index = position(key);
  return index ? &entries_[*index].second : nullptr;
}

Value* Dictionary::find(std::string_view key) {
  return const_cast<Value*>(std::as_const(*this).find(key));
}

void Dictionary::set(std::string key, Value value) {
  if (const std::optional<std::size_t> index = position(key)) {
    entries_[*index].second = std::move(value);
    return;
  }
  const bool entriesMove = entries_.size() == entries_.capacity();
  entries_.emplace_back(std::move(key), std::move(value));
  if (positions_ && !entriesMove) {
    positions_->emplace(entries_.back().first, entries_.size() - 1);
  } else if (positions_ || entries_.size() >= kHashedFrom) {
    hashKeys();
  }
}

bool Dictionary::erase(std::string_view key) { return eraseKeys({key}) != 0; }

std::size_t Dictionary::eraseKeys(const std::vector<std::string_view>& keys) {
  std::vector<bool> erased(entries_.size(), false);
  std::size_t first = entries_.size();
  std::size_t count = 0;
  for (std::string_view key : keys) {
    const std::optional<std::size_t> index = position(key);
    if (!index || erased[*index]) continue;
    erased[*index] = true;
    first = std::min(first, *index);
    ++count;
  }
  if (count == 0) return 0;
  // Short keys live inside their entries: the entries that move take their
  // keys' bytes along, so their views leave the index before and come back after.
  if (positions_) {
    for (std::size_t index = first; index < entries_.size(); ++index) {
      positions_->erase(entries_[index].first);
    }
  }
  std::size_t kept = first;
  for (std::size_t index = first; index < entries_.size(); ++index) {
    if (erased[index]) continue;
    if (kept != index) entries_[kept] = std::move(entries_[index]);
    ++kept;
  }
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(kept), entries_.end());
  if (positions_) {
    for (std::size_t index = first; index < entries_.size(); ++index) {
      positions_->emplace(entries_[index].first, index);
    }
  }
  return count;
}

void Dictionary::reserve(std::size_t keys) {
  if (keys <= entries_.capacity()) return;
  entries_.reserve(keys);
  if (positions_ || keys >= kHashedFrom) hashKeys();
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
