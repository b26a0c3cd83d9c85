#include "items/database_item.h"

#include "extensions/exec.h"
#include "extensions/recurse.h"

namespace qu {

std::shared_ptr<DatabaseItem> DatabaseItem::receiptWithPath(Platform& platform,
                                                            const std::string& path) {
  std::optional<plist::Dictionary> settings = readSettings(platform, path);
  if (!settings) return nullptr;

  auto item = std::make_shared<DatabaseItem>();
  item->initWithDictionary(platform, std::move(*settings));
  item->setDescriptionPath(path);
  // Without an identifier there is nothing to ask the database about, and
  // the item could not be entered into the catalogue anyway.
  if (!item->identifier()) return nullptr;

  std::optional<std::string> output = stringFromExecutable(
      platform, platform.locations().pkgutil, {"--pkg-info-plist", *item->identifier()});
  if (!output) return nullptr;

  // Information that does not parse leaves the item without it.
  item->info_ = plist::dictionaryWithContentsOfString(*output);
  return item;
}

std::optional<std::string> DatabaseItem::version() const {
  if (!info_ || info_->dictionary() == nullptr) return std::nullopt;
  const plist::Value* version = info_->dictionary()->find("pkg-version");
  if (version == nullptr || version->string() == nullptr) return std::nullopt;
  return *version->string();
}

}  // namespace qu
