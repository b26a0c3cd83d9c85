#pragma once

#include <memory>
#include <optional>
#include <string>

#include "items/package_item.h"
#include "manifests/bundle.h"
#include "manifests/receipt_cache.h"

namespace qu {

// A package recorded by a receipt bundle in the receipts directory.
class ReceiptItem : public PackageItem {
 public:
  // Null unless the file is an uninstall plist whose identifier names a receipt.
  static std::shared_ptr<ReceiptItem> receiptWithPath(Platform& platform, ReceiptCache& receipts,
                                                      const std::string& path);

  Kind kind() const override { return Kind::Receipt; }
  // The receipt's "CFBundleShortVersionString".
  std::optional<std::string> version() const override;
  const BundlePtr& receipt() const { return receipt_; }

 private:
  BundlePtr receipt_;
};

}  // namespace qu
