#include "items/package_item.h"

#include <algorithm>

#include "extensions/plist_io.h"
#include "extensions/readings.h"

namespace qu {

namespace {

std::optional<std::string> stringSetting(const plist::Dictionary& settings, std::string_view key) {
  const plist::Value* value = settings.find(key);
  if (value == nullptr || value->string() == nullptr) return std::nullopt;
  return *value->string();
}

}  // namespace

void PackageItem::initWithDictionary(Platform& platform, plist::Dictionary settings) {
  settings_ = std::move(settings);
  setIdentifier(stringSetting(settings_, "pkgid"));

  std::optional<std::string> icon = stringSetting(settings_, "icon");
  if (icon && !icon->empty() && platform.exists(*icon)) {
    setIconPath(std::move(icon));
  } else {
    setIconPath(platform.locations().defaultPackageIcon);
  }

  setDisplayName(stringSetting(settings_, "displayName"));
  setVisible(plist::boolReading(settings_.find("visible")));
}

std::optional<plist::Dictionary> PackageItem::readSettings(Platform& platform,
                                                           const std::string& path) {
  std::optional<std::string> bytes = platform.readFile(path);
  if (!bytes) return std::nullopt;
  std::optional<plist::Value> root = plist::parse(*bytes);
  if (!root || root->dictionary() == nullptr) return std::nullopt;
  return std::move(*root->dictionary());
}

void PackageItem::addChild(ItemPtr child) {
  if (child->isVisible()) {
    UninstallItem::addChild(std::move(child));
  } else {
    subpackages_.push_back(std::move(child));
  }
}

void PackageItem::removeChild(const UninstallItem* child) {
  // A hidden child was filed among the subpackages; detaching it through
  // setParent() must find it there as well.
  UninstallItem::removeChild(child);
  std::erase_if(subpackages_, [child](const ItemPtr& item) { return item.get() == child; });
}

}  // namespace qu
