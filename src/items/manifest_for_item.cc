#include "items/manifest_for_item.h"

#include "items/database_item.h"
#include "items/receipt_item.h"
#include "manifests/database_manifest.h"
#include "manifests/receipt_manifest.h"

namespace qu {

ManifestPtr manifestWithItem(Platform& platform, const UninstallItem& item) {
  switch (item.kind()) {
    case UninstallItem::Kind::Database:
      if (!item.identifier()) return nullptr;
      return DatabaseManifest::manifestWithIdentifier(platform, *item.identifier());
    case UninstallItem::Kind::Receipt:
      return ReceiptManifest::manifestWithBundle(platform,
                                                 static_cast<const ReceiptItem&>(item).receipt());
    case UninstallItem::Kind::Gallery:
    case UninstallItem::Kind::Other:
      break;
  }
  return nullptr;
}

ManifestPtr manifestOfRemainingItem(Platform& platform, const UninstallItem& item) {
  if (item.kind() == UninstallItem::Kind::Database && item.identifier()) {
    if (const auto* database = dynamic_cast<const DatabaseItem*>(&item)) {
      return std::make_unique<DatabaseManifest>(platform, *item.identifier(), database->info());
    }
  }
  return manifestWithItem(platform, item);
}

}  // namespace qu
