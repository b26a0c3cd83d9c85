#pragma once

#include "items/uninstall_item.h"
#include "manifests/manifest.h"

namespace qu {

// The manifest of a package item, by its exact class: a DatabaseManifest for
// a DatabaseItem, a ReceiptManifest over its receipt for a ReceiptItem, null
// for anything else (and when the package database no longer knows it).
ManifestPtr manifestWithItem(Platform& platform, const UninstallItem& item);

// As above for a package that stays installed and is only asked what it
// lists: a DatabaseItem's manifest reuses the package information read when
// the item was loaded instead of asking the package database again.
ManifestPtr manifestOfRemainingItem(Platform& platform, const UninstallItem& item);

}  // namespace qu
