#include "items/package_catalogue_builder.h"

#include "extensions/text.h"
#include "items/package_item.h"
#include "items/package_loader.h"

namespace qu {

namespace {

// "parent" when it is a non-empty string; anything else means top-level.
std::optional<std::string> parentIdentifier(const UninstallItem& item) {
  const plist::Value* parent = static_cast<const PackageItem&>(item).settings().find("parent");
  if (parent == nullptr || parent->string() == nullptr || parent->string()->empty()) {
    return std::nullopt;
  }
  return *parent->string();
}

}  // namespace

std::string deletingPathExtension(std::string_view path) {
  std::size_t slash = path.rfind('/');
  std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot <= nameStart) return std::string(path);
  return std::string(path.substr(0, dot));
}

PackageCatalogueBuilder::PackageCatalogueBuilder(Platform& platform, ReceiptCache& receipts,
                                                 std::string directory)
    : platform_(platform), receipts_(receipts), directory_(std::move(directory)) {}

void PackageCatalogueBuilder::addEntry(const std::string& entry) {
  std::string key = deletingPathExtension(entry);
  if (catalogue_.find(key) != nullptr || loadedAhead_.contains(key)) return;

  ItemPtr item = loadWithPath(platform_, receipts_, directory_ + entry);
  if (!item) {
    platform_.log(format("Error loading plist: '%s'", entry.c_str()));
    return;
  }
  Chain chain;
  place(item, chain);
  loadedFiles_.emplace(entry, item);
}

void PackageCatalogueBuilder::place(const ItemPtr& item, Chain& chain) {
  const std::string identifier = item->identifier().value_or("");
  chain.insert(identifier);

  std::optional<std::string> parentId = parentIdentifier(*item);
  UninstallItem* parent = nullptr;
  ItemPtr loadedParent;
  if (parentId) {
    parent = findPlaced(*parentId);
    // A parent already on the chain is waiting for this very item: the loop
    // is closed here, and this item stays top-level.
    if (parent == nullptr && !chain.contains(*parentId)) {
      loadedParent = loadParent(*parentId, chain);
      parent = loadedParent.get();
    }
  }

  if (parent != nullptr) {
    item->setParent(parent);
  } else {
    catalogue_.set(identifier, item);
  }
}

UninstallItem* PackageCatalogueBuilder::findPlaced(const std::string& identifier) const {
  if (UninstallItem* found = UninstallItem::findItemInArray(catalogue_.values(), identifier)) {
    return found;
  }
  // The search passes over hidden sub-packages and what hangs below them.
  // Such a parent is reused only when its own file was loaded already:
  // loading that file again would make a second copy that nothing reaches.
  // Without that file the package stays top-level, where it can be selected.
  auto loaded = loadedFiles_.find(identifier + ".plist");
  if (loaded != loadedFiles_.end() && loaded->second->identifier() == identifier) {
    return loaded->second.get();
  }
  return nullptr;
}

ItemPtr PackageCatalogueBuilder::loadParent(const std::string& identifier, Chain& chain) {
  chain.insert(identifier);
  std::string file = identifier + ".plist";
  ItemPtr parent = loadWithPath(platform_, receipts_, directory_ + file);
  if (!parent) return nullptr;

  // Its own entry, when the listing reaches it, must not load it again.
  loadedAhead_.insert(deletingPathExtension(file));
  place(parent, chain);
  loadedFiles_.emplace(file, parent);
  return parent;
}

}  // namespace qu
