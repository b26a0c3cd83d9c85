#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "items/uninstall_item.h"

namespace qu {

// Identifier to top-level item, in insertion order; that order is the order
// of the listing and of --all.
class Catalogue {
 public:
  using Entry = std::pair<std::string, ItemPtr>;

  // Enters the item under the identifier. An entry with the same identifier
  // is replaced, and the new one takes its place at the end.
  void set(const std::string& identifier, ItemPtr item);
  ItemPtr find(std::string_view identifier) const;
  bool erase(std::string_view identifier);
  // Every entry of the other catalogue, in its order, as by set().
  void merge(const Catalogue& other);

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const std::vector<Entry>& entries() const { return entries_; }
  ItemList values() const;

 private:
  std::vector<Entry> entries_;
};

}  // namespace qu
