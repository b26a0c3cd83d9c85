#include "uninstaller/uninstaller.h"

#include <algorithm>
#include <string>
#include <utility>

#include "extensions/case_folding.h"
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

Uninstaller::Uninstaller(Platform& platform, const ItemList& items, ItemList remaining,
                         RunReport* report)
    : platform_(platform),
      items_(items),
      remaining_(std::move(remaining)),
      progress_(static_cast<int>(items.size())),
      textReport_(platform),
      report_(report != nullptr ? *report : textReport_) {
  // Stable, so items whose names are equal ignoring case keep the caller's order.
  std::stable_sort(items_.begin(), items_.end(), [](const ItemPtr& a, const ItemPtr& b) {
    return uninstallItemCompare(*a, *b) < 0;
  });
}

bool Uninstaller::uninstall() {
  report_.announce(items_);

  const RemovalRules rules = rulesForRun();
  RunContext run{platform_, progress_, rules, report_, isSilent_};
  // Every item is attempted; one failure fails the run.
  bool allSucceeded = true;
  for (const ItemPtr& item : items_) {
    report_.itemStarted(*item);
    const bool succeeded = uninstall(run, *item);
    report_.itemFinished(*item, succeeded);
    if (!succeeded) allSucceeded = false;
  }
  report_.runFinished(allSucceeded);
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

bool Uninstaller::uninstall(RunContext& run, const UninstallItem& item) {
  if (item.kind() == UninstallItem::Kind::Gallery) {
    const auto* gallery = dynamic_cast<const GalleryItem*>(&item);
    if (gallery == nullptr) return false;
    return uninstallGallery(run, gallery->gallerySetupPath(), gallery->identifier());
  }
  if (item.isPackage()) {
    const auto* package = dynamic_cast<const PackageItem*>(&item);
    if (package == nullptr) return false;
    return uninstallPackage(run, *package);
  }
  return false;
}

}  // namespace qu
