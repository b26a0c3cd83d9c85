#include "items/catalogue.h"

#include <algorithm>

namespace qu {

void Catalogue::set(const std::string& identifier, ItemPtr item) {
  erase(identifier);
  entries_.emplace_back(identifier, std::move(item));
}

ItemPtr Catalogue::find(std::string_view identifier) const {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [identifier](const Entry& entry) { return entry.first == identifier; });
  return it == entries_.end() ? nullptr : it->second;
}

bool Catalogue::erase(std::string_view identifier) {
  return std::erase_if(entries_, [identifier](const Entry& entry) {
           return entry.first == identifier;
         }) > 0;
}

void Catalogue::merge(const Catalogue& other) {
  for (const Entry& entry : other.entries_) set(entry.first, entry.second);
}

ItemList Catalogue::values() const {
  ItemList items;
  items.reserve(entries_.size());
  for (const Entry& entry : entries_) items.push_back(entry.second);
  return items;
}

}  // namespace qu
