#include "manifests/receipt_manifest.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "extensions/exec.h"
#include "extensions/text.h"

namespace qu {

ReceiptManifest::ReceiptManifest(Platform& platform, BundlePtr bundle)
    : Manifest(platform), bundle_(std::move(bundle)) {
  // The bill of materials is not looked for here: a missing one shows up as a
  // failed list query.
  if (bundle_) bomPath_ = bundle_->path() + "/Contents/Archive.bom";
}

ManifestPtr ReceiptManifest::manifestWithBundle(Platform& platform, BundlePtr bundle) {
  if (!bundle) return nullptr;
  return std::make_unique<ReceiptManifest>(platform, std::move(bundle));
}

ManifestPtr ReceiptManifest::manifestWithIdentifier(Platform& platform, ReceiptCache& receipts,
                                                    std::string_view identifier) {
  return manifestWithBundle(platform, receipts.receiptWithIdentifier(identifier));
}

std::optional<PathList> ReceiptManifest::getList(int listType) {
  const char* option = nullptr;
  switch (listType) {
    case kFileList: option = "-fls"; break;
    case kDirectoryList: option = "-ds"; break;
    default: throw std::invalid_argument("Invalid list type.");
  }
  std::optional<std::string> location = installLocation();
  if (!location) return std::nullopt;

  std::optional<std::string> output = listFromTool(platform().locations().lsbom, {option, bomPath_});
  if (!output) return std::nullopt;
  std::vector<std::string> lines = split(*output, '\n');
  output.reset();  // as large as the lines themselves, and no longer needed
  return processList(std::move(lines), *location);
}

std::optional<Manifest::EveryPathQuery> ReceiptManifest::everyPathQuery() {
  std::optional<std::string> location = installLocation();
  if (!location) return std::nullopt;
  return EveryPathQuery{{platform().locations().lsbom, {"-s", bomPath_}}, std::move(*location)};
}

std::optional<std::string> ReceiptManifest::installLocation() {
  if (!bundle_) return std::nullopt;
  // Bill-of-materials paths are relative ("./Applications/X.app"), so the
  // install location has to make them absolute.
  const std::string package = bundle_->identifier().value_or(bundle_->path());
  std::optional<std::string> location = bundle_->infoString("IFPkgFlagDefaultLocation");
  if (!location) {
    reportUnavailableLists(format("No install location for package %s; its file and directory "
                                  "lists are unavailable",
                                  package.c_str()));
    return std::nullopt;
  }
  if (!isUsableInstallLocation(*location)) {
    reportUnavailableLists(format("Install location \"%s\" of package %s is not an absolute path; "
                                  "its file and directory lists are unavailable",
                                  location->c_str(), package.c_str()));
    return std::nullopt;
  }
  return location;
}

}  // namespace qu
