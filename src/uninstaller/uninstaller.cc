#include "uninstaller/uninstaller.h"

#include <algorithm>
#include <string>
#include <utility>

#include "extensions/case_folding.h"
#include "extensions/text.h"
#include "items/gallery_item.h"
#include "items/manifest_for_item.h"
#include "items/package_item.h"
#include "uninstaller/gallery_sequence.h"
#include "uninstaller/package_sequence.h"

namespace qu {

int uninstallItemCompare(const UninstallItem& a, const UninstallItem& b) {
  const bool aIsGallery = a.kind() == UninstallItem::Kind::Gallery;
  const bool bIsGallery = b.kind() == UninstallItem::Kind::Gallery;
  if (aIsGallery != bIsGallery) return aIsGallery ? -1 : 1;
  const int order = compareIgnoringCase(a.description(), b.description());
  return (order > 0) - (order < 0);
}

Uninstaller::Uninstaller(Platform& platform, const ItemList& items, ItemList remaining)
    : platform_(platform),
      items_(items),
      remaining_(std::move(remaining)),
      progress_(static_cast<int>(items.size())) {
  // Stable, so items whose names are equal ignoring case keep the caller's order.
  std::stable_sort(items_.begin(), items_.end(), [](const ItemPtr& a, const ItemPtr& b) {
    return uninstallItemCompare(*a, *b) < 0;
  });
}

bool Uninstaller::uninstall() {
  std::string announcement = "Removing:\n";
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i > 0) announcement += '\n';
    announcement += visibleText(items_[i]->description());
  }
  announcement += '\n';
  platform_.print(announcement);

  const RemovalRules rules = rulesForRun();
  // Every item is attempted; one failure fails the run.
  bool allSucceeded = true;
  for (const ItemPtr& item : items_) {
    if (!uninstall(*item, rules)) allSucceeded = false;
  }
  return allSucceeded;
}

RemovalRules Uninstaller::rulesForRun() {
  // A file that another package still lists is that package's too, so it
  // stays (a framework two packages install, a directory they share).
  RemovalRules rules;
  for (const ItemPtr& item : remaining_) {
    if (!item->isPackage() || !item->identifier()) continue;
    ManifestPtr manifest = manifestOfRemainingItem(platform_, *item);
    if (!manifest) continue;
    for (const std::optional<PathList>* list : {&manifest->files(), &manifest->directories()}) {
      if (!*list) continue;
      for (const std::string& path : **list) rules.addShared(path, *item->identifier());
    }
  }
  return rules;
}

bool Uninstaller::uninstall(const UninstallItem& item, const RemovalRules& rules) {
  if (item.kind() == UninstallItem::Kind::Gallery) {
    const auto* gallery = dynamic_cast<const GalleryItem*>(&item);
    if (gallery == nullptr) return false;
    return uninstallGallery(platform_, progress_, gallery->gallerySetupPath(),
                            gallery->identifier());
  }
  if (item.isPackage()) {
    const auto* package = dynamic_cast<const PackageItem*>(&item);
    if (package == nullptr) return false;
    return uninstallPackage(platform_, progress_, *package, isSilent_, rules);
  }
  return false;
}

}  // namespace qu
