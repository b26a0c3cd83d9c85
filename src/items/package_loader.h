#pragma once

#include <string>

#include "items/catalogue.h"
#include "manifests/receipt_cache.h"
#include "platform/platform.h"

namespace qu {

// One package item from an uninstall plist: a ReceiptItem when a receipt
// records the package, else a DatabaseItem when the package database knows
// it, else null. An item made here always has an identifier.
ItemPtr loadWithPath(Platform& platform, ReceiptCache& receipts, const std::string& path);

// Every package of the uninstall descriptions directory that is installed,
// children attached under their parents; only top-level items are entered.
Catalogue loadPackageItems(Platform& platform, ReceiptCache& receipts);

}  // namespace qu
