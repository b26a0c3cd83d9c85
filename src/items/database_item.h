#pragma once

#include <memory>
#include <optional>
#include <string>

#include "extensions/plist.h"
#include "items/package_item.h"

namespace qu {

// A package recorded in the package database ("/usr/sbin/pkgutil").
class DatabaseItem : public PackageItem {
 public:
  // Null unless the file is an uninstall plist whose identifier the package
  // database knows ("--pkg-info-plist" succeeds).
  static std::shared_ptr<DatabaseItem> receiptWithPath(Platform& platform, const std::string& path);

  Kind kind() const override { return Kind::Database; }
  // "pkg-version" of the package information.
  std::optional<std::string> version() const override;
  const std::optional<plist::Value>& info() const { return info_; }

 private:
  std::optional<plist::Value> info_;
};

}  // namespace qu
