#pragma once

#include <optional>
#include <string>

#include "extensions/plist.h"
#include "manifests/manifest.h"

namespace qu {

// A package recorded in the package database: its information and lists come
// from "/usr/sbin/pkgutil", its paths joined to "volume" and "install-location".
class DatabaseManifest : public Manifest {
 public:
  // Null when the database does not know the identifier.
  static ManifestPtr manifestWithIdentifier(Platform& platform, const std::string& identifier);

  std::optional<PathList> getList(int listType) override;
  // "--files" alone: every path the database records for the package.
  std::optional<EveryPathQuery> everyPathQuery() override;

  const std::optional<plist::Value>& info() const { return info_; }

  DatabaseManifest(Platform& platform, std::string identifier, std::optional<plist::Value> info)
      : Manifest(platform), identifier_(std::move(identifier)), info_(std::move(info)) {}

 private:
  // "volume" followed by "install-location"; nothing (logged once) when the
  // information lacks them or they would not make absolute paths.
  std::optional<std::string> installLocation();

  std::string identifier_;
  std::optional<plist::Value> info_;
};

}  // namespace qu
