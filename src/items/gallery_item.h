#pragma once

#include <memory>
#include <optional>
#include <string>

#include "extensions/plist.h"
#include "items/catalogue.h"
#include "items/gallery_version_parser.h"
#include "items/uninstall_item.h"
#include "platform/platform.h"

namespace qu {

// A gallery collection registered in the gallery preferences file; removed
// by its gallery setup tool.
class GalleryItem : public UninstallItem {
 public:
  // Null when the record does not qualify (remote, no manifest, no
  // "Uninstall/updateinfo.xml" beside it, no readable metadata document).
  static std::shared_ptr<GalleryItem> galleryWithDictionary(Platform& platform,
                                                            const plist::Value& record,
                                                            const std::string& identifier,
                                                            UninstallItem* parent = nullptr);

  Kind kind() const override { return Kind::Gallery; }
  // The latest version date as "M/d/yy", or "Unknown".
  std::optional<std::string> version() const override;
  // The latest version date of the collection manifest, or nothing.
  const std::optional<CalendarDate>& versionDate() const { return versionDate_; }
  const std::optional<std::string>& gallerySetupPath() const { return gallerySetupPath_; }

 private:
  std::optional<std::string> gallerySetupPath_;
  std::optional<CalendarDate> versionDate_;
};

// The installed gallery collections of the gallery preferences file, by identifier.
Catalogue loadGalleryItems(Platform& platform);

}  // namespace qu
