#pragma once

#include "items/uninstall_item.h"
#include "manifests/manifest.h"

namespace qu {

// The manifest of a package item, by its exact class: a DatabaseManifest for
// a DatabaseItem, a ReceiptManifest over its receipt for a ReceiptItem, null
// for anything else (and when the package database no longer knows it).
ManifestPtr manifestWithItem(Platform& platform, const UninstallItem& item);

}  // namespace qu
