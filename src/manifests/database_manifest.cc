#include "manifests/database_manifest.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "extensions/exec.h"
#include "extensions/paths.h"
#include "extensions/recurse.h"
#include "extensions/text.h"

namespace qu {

ManifestPtr DatabaseManifest::manifestWithIdentifier(Platform& platform,
                                                     const std::string& identifier) {
  std::optional<std::string> output = stringFromExecutable(
      platform, platform.locations().pkgutil, {"--pkg-info-plist", identifier});
  if (!output) return nullptr;
  // Information that does not parse still gives a manifest; only its lists
  // are unavailable then.
  return std::make_unique<DatabaseManifest>(platform, identifier,
                                            plist::dictionaryWithContentsOfString(*output));
}

std::optional<PathList> DatabaseManifest::getList(int listType) {
  const char* firstArgument = nullptr;
  switch (listType) {
    // The empty argument is passed as is; the tool reads it as no option.
    case kFileList: firstArgument = ""; break;
    case kDirectoryList: firstArgument = "--only-dirs"; break;
    default: throw std::invalid_argument("Invalid list type.");
  }

  std::optional<std::string> location = installLocation();
  if (!location) return std::nullopt;

  std::optional<std::string> output =
      listFromTool(platform().locations().pkgutil, {firstArgument, "--files", identifier_});
  if (!output) return std::nullopt;
  std::vector<std::string> lines = split(*output, '\n');
  output.reset();  // as large as the lines themselves, and no longer needed
  return processList(std::move(lines), *location);
}

std::optional<Manifest::EveryPathQuery> DatabaseManifest::everyPathQuery() {
  std::optional<std::string> location = installLocation();
  if (!location) return std::nullopt;
  return EveryPathQuery{{platform().locations().pkgutil, {"--files", identifier_}},
                        std::move(*location)};
}

std::optional<std::string> DatabaseManifest::installLocation() {
  const plist::Dictionary* info = info_ ? info_->dictionary() : nullptr;
  if (info == nullptr) {
    reportUnavailableLists(format("The package information of %s is not a readable "
                                  "dictionary; its file and directory lists are unavailable",
                                  identifier_.c_str()));
    return std::nullopt;
  }
  const plist::Value* volume = info->find("volume");
  const plist::Value* relative = info->find("install-location");
  if (volume == nullptr || volume->string() == nullptr || relative == nullptr ||
      relative->string() == nullptr) {
    reportUnavailableLists(format("No install location for package %s; its file and directory "
                                  "lists are unavailable",
                                  identifier_.c_str()));
    return std::nullopt;
  }
  // Joined as the database reports them: "/" and "Applications" give
  // "/Applications", "/" and "/" give "//" (harmless in a path), and a volume
  // without a trailing "/" still gets one before the location.
  std::string location = joinInstallPath(*volume->string(), *relative->string());
  if (!isUsableInstallLocation(location)) {
    reportUnavailableLists(format("Install location \"%s\" of package %s is not an absolute path; "
                                  "its file and directory lists are unavailable",
                                  location.c_str(), identifier_.c_str()));
    return std::nullopt;
  }
  return location;
}

}  // namespace qu
