#include "items/package_loader.h"

#include <vector>

#include "extensions/file_types.h"
#include "items/database_item.h"
#include "items/package_catalogue_builder.h"
#include "items/receipt_item.h"

namespace qu {

namespace {

// Every entry below the directory at any depth, relative to it, sorted by
// name at each level with a directory's own entry before its contents.
// Symbolic links are listed but never entered, so a link loop ends.
void appendEntries(Platform& platform, const std::string& directory, const std::string& relative,
                   std::vector<std::string>& entries) {
  std::optional<std::vector<std::string>> names = platform.listDirectory(directory + relative);
  if (!names) return;
  for (const std::string& name : *names) {
    std::string entry = relative + name;
    entries.push_back(entry);
    if (isDirectory(platform, directory + entry)) {
      appendEntries(platform, directory, entry + "/", entries);
    }
  }
}

std::string withTrailingSlash(std::string directory) {
  if (directory.empty() || directory.back() != '/') directory.push_back('/');
  return directory;
}

}  // namespace

ItemPtr loadWithPath(Platform& platform, ReceiptCache& receipts, const std::string& path) {
  if (ItemPtr receipt = ReceiptItem::receiptWithPath(platform, receipts, path)) return receipt;
  return DatabaseItem::receiptWithPath(platform, path);
}

Catalogue loadPackageItems(Platform& platform, ReceiptCache& receipts) {
  const std::string directory = withTrailingSlash(platform.locations().uninstallDescriptions);
  std::vector<std::string> entries;
  appendEntries(platform, directory, "", entries);
  if (entries.empty()) {
    platform.log("Nothing found to remove");
    return {};
  }

  PackageCatalogueBuilder builder(platform, receipts, directory);
  for (const std::string& entry : entries) builder.addEntry(entry);
  return builder.take();
}

}  // namespace qu
