#include "items/item_json.h"

#include "items/gallery_item.h"

namespace qu {

std::string_view kindName(UninstallItem::Kind kind) {
  switch (kind) {
    case UninstallItem::Kind::Receipt:
      return "receipt";
    case UninstallItem::Kind::Database:
      return "database";
    case UninstallItem::Kind::Gallery:
      return "gallery";
    case UninstallItem::Kind::Other:
      break;
  }
  return "other";
}

Json itemJson(const UninstallItem& item) {
  Json object = Json::object();
  object["identifier"] = jsonTextOrNull(item.identifier());
  object["name"] = jsonTextOrNull(item.displayName());
  object["kind"] = kindName(item.kind());
  // A collection's version text is a short local form of a date, or
  // "Unknown"; scripts get the date itself.
  if (const auto* gallery = dynamic_cast<const GalleryItem*>(&item)) {
    const std::optional<CalendarDate>& date = gallery->versionDate();
    object["version"] = date ? Json(formatIsoDate(*date)) : Json(nullptr);
  } else {
    object["version"] = jsonTextOrNull(item.version());
  }
  object["visible"] = item.isVisible();
  return object;
}

}  // namespace qu
