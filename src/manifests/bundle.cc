#include "manifests/bundle.h"

#include <array>

#include "extensions/plist_io.h"

namespace qu {

namespace {

// The dictionary a property-list file holds, or nothing when it is missing,
// unreadable, not a property list, or not a dictionary at the top.
std::optional<plist::Dictionary> readDictionary(Platform& platform, const std::string& path) {
  std::optional<std::string> bytes = platform.readFile(path);
  if (!bytes) return std::nullopt;
  std::optional<plist::Value> value = plist::parse(*bytes);
  if (!value || value->dictionary() == nullptr) return std::nullopt;
  return std::move(*value->dictionary());
}

}  // namespace

std::shared_ptr<const Bundle> Bundle::open(Platform& platform, const std::string& path) {
  std::optional<plist::Dictionary> info = readDictionary(platform, path + "/Contents/Info.plist");
  if (!info) info = readDictionary(platform, path + "/Info.plist");
  if (!info) return nullptr;

  // English is the only localisation the uninstaller reads; the older
  // language-name folder is the fallback.
  static constexpr std::array kLocalizedTables = {
      "/Contents/Resources/en.lproj/InfoPlist.strings",
      "/Contents/Resources/English.lproj/InfoPlist.strings",
  };
  plist::Dictionary localized;
  for (const char* table : kLocalizedTables) {
    if (std::optional<plist::Dictionary> found = readDictionary(platform, path + table)) {
      localized = std::move(*found);
      break;
    }
  }
  return std::make_shared<const Bundle>(path, std::move(*info), std::move(localized));
}

std::optional<std::string> Bundle::identifier() const {
  const plist::Value* value = info_.find("CFBundleIdentifier");
  if (value == nullptr || value->string() == nullptr) return std::nullopt;
  return *value->string();
}

const plist::Value* Bundle::infoValue(std::string_view key) const {
  if (const plist::Value* value = localized_.find(key)) return value;
  return info_.find(key);
}

std::optional<std::string> Bundle::infoString(std::string_view key) const {
  const plist::Value* value = infoValue(key);
  if (value == nullptr || value->string() == nullptr) return std::nullopt;
  return *value->string();
}

}  // namespace qu
