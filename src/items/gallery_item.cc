#include "items/gallery_item.h"

#include "extensions/plist_io.h"
#include "extensions/readings.h"
#include "extensions/recurse.h"
#include "items/xml_document.h"

namespace qu {
namespace {

constexpr const char* kTeamContentKeyPath = "Software:Quorvane Technologies:Gallery:TeamContent";
constexpr const char* kEnglishTitle = "//lom:string[contains(@language, 'en')]";

// "/a/b/c.xml" gives "/a/b", "/c.xml" gives "/", "c.xml" gives "".
std::string deletingLastPathComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  path.resize(slash);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string appendingPathComponent(const std::string& directory, const std::string& component) {
  if (directory.empty()) return component;
  if (directory.back() == '/') return directory + component;
  return directory + "/" + component;
}

const std::string* stringFor(const plist::Dictionary& record, std::string_view key) {
  const plist::Value* value = record.find(key);
  return value == nullptr ? nullptr : value->string();
}

}  // namespace

std::shared_ptr<GalleryItem> GalleryItem::galleryWithDictionary(Platform& platform,
                                                                const plist::Value& record,
                                                                const std::string& identifier,
                                                                UninstallItem* parent) {
  const plist::Dictionary* fields = record.dictionary();
  if (fields == nullptr) return nullptr;
  // Registered here but installed elsewhere.
  if (plist::integerReading(fields->find("Remote")) != 0) return nullptr;

  const std::string* manifest = stringFor(*fields, "ImsManifestXml");
  if (manifest == nullptr) return nullptr;
  // Only a collection that ships its uninstall information can be removed.
  const std::string updateInfo =
      appendingPathComponent(deletingLastPathComponent(*manifest), "Uninstall/updateinfo.xml");
  if (!platform.exists(updateInfo)) return nullptr;

  auto item = std::make_shared<GalleryItem>();
  item->setIdentifier(identifier);
  item->setIconPath(platform.locations().defaultPackageIcon);
  if (const std::string* setupPath = stringFor(*fields, "AppPath")) {
    item->gallerySetupPath_ = *setupPath;
  }

  const std::string* metadataPath = stringFor(*fields, "MetadataXml");
  if (metadataPath == nullptr) return nullptr;
  std::optional<XmlDocument> metadata =
      XmlDocument::documentWithContentsOfFile(platform, *metadataPath);
  if (!metadata) return nullptr;
  item->setDisplayName(metadata->firstStringValue(kEnglishTitle, "lom"));

  item->versionDate_ = GalleryVersionParser::versionDateForPath(platform, *manifest);
  item->setVisible(true);
  if (parent != nullptr) item->setParent(parent);
  return item;
}

std::optional<std::string> GalleryItem::version() const {
  return versionDate_ ? formatVersionDate(*versionDate_) : std::string("Unknown");
}

Catalogue loadGalleryItems(Platform& platform) {
  const std::string& path = platform.locations().galleryPreferences;
  std::optional<plist::Value> preferences;
  if (std::optional<std::string> bytes = platform.readFile(path)) {
    preferences = plist::parse(*bytes);
  }
  if (preferences && preferences->dictionary() == nullptr) preferences.reset();
  if (!preferences) platform.log("Could not load Gallery Plist: " + path);

  Catalogue items;
  if (!preferences) return items;
  const plist::Value* teamContent =
      plist::valueForRecursiveKey(*preferences->dictionary(), kTeamContentKeyPath);
  // Anything but a dictionary there registers no collection.
  if (teamContent == nullptr || teamContent->dictionary() == nullptr) return items;

  for (const auto& [identifier, record] : *teamContent->dictionary()) {
    if (std::shared_ptr<GalleryItem> item =
            GalleryItem::galleryWithDictionary(platform, record, identifier)) {
      items.set(identifier, std::move(item));
    }
  }
  return items;
}

}  // namespace qu
