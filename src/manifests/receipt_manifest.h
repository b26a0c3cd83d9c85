#pragma once

#include <string>
#include <string_view>

#include "manifests/bundle.h"
#include "manifests/manifest.h"
#include "manifests/receipt_cache.h"

namespace qu {

// A package recorded by a receipt bundle: its lists come from the bundle's
// bill of materials ("Contents/Archive.bom") through "/usr/bin/lsbom", joined
// to the bundle's "IFPkgFlagDefaultLocation".
class ReceiptManifest : public Manifest {
 public:
  ReceiptManifest(Platform& platform, BundlePtr bundle);

  // Null when there is no bundle, or no receipt with the identifier.
  static ManifestPtr manifestWithBundle(Platform& platform, BundlePtr bundle);
  static ManifestPtr manifestWithIdentifier(Platform& platform, ReceiptCache& receipts,
                                            std::string_view identifier);

  std::optional<PathList> getList(int listType) override;
  // "-s" alone: the path of every entry of the bill of materials.
  std::optional<EveryPathQuery> everyPathQuery() override;

  const std::string& bomPath() const { return bomPath_; }

 private:
  // "IFPkgFlagDefaultLocation"; nothing (logged once) when it is missing or
  // would not make absolute paths.
  std::optional<std::string> installLocation();

  BundlePtr bundle_;
  std::string bomPath_;
};

}  // namespace qu
