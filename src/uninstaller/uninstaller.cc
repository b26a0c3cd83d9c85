#include "uninstaller/uninstaller.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
  // stays (a framework two packages install, a directory they share). Only
  // whether a package lists a path matters, so each is asked once for all
  // its paths, and the packages are asked side by side.
  struct Asked {
    ManifestPtr manifest;
    Manifest::EveryPathQuery query;
    const std::string* owner;
  };
  std::vector<Asked> asked;
  for (const ItemPtr& item : remaining_) {
    if (!item->isPackage() || !item->identifier()) continue;
    ManifestPtr manifest = manifestOfRemainingItem(platform_, *item);
    if (!manifest) continue;
    std::optional<Manifest::EveryPathQuery> query = manifest->everyPathQuery();
    if (!query) continue;
    asked.push_back({std::move(manifest), std::move(*query), &*item->identifier()});
  }
  std::vector<ToolQuery> queries;
  queries.reserve(asked.size());
  for (const Asked& one : asked) queries.push_back(one.query.query);
  std::vector<CapturedOutput> answers = platform_.captureOutputs(queries);

  RemovalRules rules;
  for (std::size_t i = 0; i < asked.size() && i < answers.size(); ++i) {
    const std::optional<PathList> paths =
        asked[i].manifest->everyPathFrom(asked[i].query, std::move(answers[i]));
    if (!paths) continue;
    for (const std::string& path : *paths) rules.addShared(path, *asked[i].owner);
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
