#pragma once

#include <memory>
#include <optional>
#include <string>

#include "extensions/plist.h"
#include "items/uninstall_item.h"
#include "platform/platform.h"

namespace qu {

// A package described by an uninstall plist. Only its two concrete kinds are
// ever made: ReceiptItem and DatabaseItem.
class PackageItem : public UninstallItem {
 public:
  // Files a sub-item by its visibility at attachment: visible ones among
  // children(), hidden ones among subpackages().
  void addChild(ItemPtr child) override;
  void removeChild(const UninstallItem* child) override;
  const ItemList& hiddenChildren() const override { return subpackages_; }

  const ItemList& subpackages() const { return subpackages_; }
  // The uninstall plist's root dictionary, as read.
  const plist::Dictionary& settings() const { return settings_; }
  // The uninstall plist the item was read from: while it stays, the package
  // is listed and a later run can finish its removal.
  const std::string& descriptionPath() const { return descriptionPath_; }

 protected:
  PackageItem() = default;
  // Takes identifier ("pkgid"), display name, icon and visibility from the
  // uninstall plist's root dictionary and keeps it as settings().
  void initWithDictionary(Platform& platform, plist::Dictionary settings);
  void setDescriptionPath(std::string path) { descriptionPath_ = std::move(path); }
  // The root dictionary of the property-list file at the path; nothing when
  // the file is missing, unreadable, not a property list or not a dictionary.
  static std::optional<plist::Dictionary> readSettings(Platform& platform, const std::string& path);

 private:
  ItemList subpackages_;
  plist::Dictionary settings_;
  std::string descriptionPath_;
};

}  // namespace qu
