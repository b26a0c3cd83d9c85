#include "items/uninstall_item.h"

#include <algorithm>
#include <unordered_set>

namespace qu {

void UninstallItem::setParent(UninstallItem* newParent) {
  // Keep ourselves alive while we move from one owner to the other.
  ItemPtr self = shared_from_this();
  if (parent_ != nullptr) parent_->removeChild(this);
  parent_ = newParent;
  if (newParent != nullptr) newParent->addChild(std::move(self));
}

void UninstallItem::addChild(ItemPtr child) { children_.push_back(std::move(child)); }

void UninstallItem::removeChild(const UninstallItem* child) {
  std::erase_if(children_, [child](const ItemPtr& item) { return item.get() == child; });
}

const ItemList& UninstallItem::hiddenChildren() const {
  static const ItemList kNone;
  return kNone;
}

std::string UninstallItem::description() const {
  if (displayName_) return *displayName_;
  if (identifier_) return *identifier_;
  return "(null)";
}

UninstallItem* UninstallItem::findItemInArray(const ItemList& items, std::string_view identifier) {
  for (const ItemPtr& item : items) {
    if (item->identifier_ && *item->identifier_ == identifier) return item.get();
    if (UninstallItem* found = findItemInArray(item->children_, identifier)) return found;
  }
  return nullptr;
}

void UninstallItem::appendDescendants(const UninstallItem& item, ItemList& out) {
  ItemList below = item.children_;
  if (item.isPackage()) {
    const ItemList& hidden = item.hiddenChildren();
    below.insert(below.end(), hidden.begin(), hidden.end());
  }
  for (const ItemPtr& child : below) {
    out.push_back(child);
    appendDescendants(*child, out);
  }
}

ItemList UninstallItem::flatten(const ItemList& items) {
  ItemList candidates = items;
  for (const ItemPtr& item : items) appendDescendants(*item, candidates);

  ItemList result;
  std::unordered_set<const UninstallItem*> seen;
  for (ItemPtr& item : candidates) {
    if (seen.insert(item.get()).second) result.push_back(std::move(item));
  }
  return result;
}

}  // namespace qu
