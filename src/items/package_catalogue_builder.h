#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

#include "items/catalogue.h"
#include "manifests/receipt_cache.h"
#include "platform/platform.h"

namespace qu {

// The path without the extension of its last component: "sub/b.plist" gives
// "sub/b", "a.b/c" stays, and a name whose only dot leads it (".DS_Store") stays.
std::string deletingPathExtension(std::string_view path);

// Builds the package catalogue one uninstall plist at a time: loads the
// package and attaches it under its parent (found among the packages placed
// so far, or loaded from the parent's own file), or enters it top-level.
// Hidden sub-packages are not searched, except that a parent whose own file
// was loaded already is reused rather than loaded a second time.
class PackageCatalogueBuilder {
 public:
  // `directory` is the uninstall descriptions directory, ending with "/".
  PackageCatalogueBuilder(Platform& platform, ReceiptCache& receipts, std::string directory);

  // One entry of the directory listing, relative to the directory.
  void addEntry(const std::string& entry);
  Catalogue take() { return std::move(catalogue_); }

 private:
  // The identifiers and parent file names of the packages being placed,
  // innermost last; a parent already on it closes a loop.
  using Chain = std::set<std::string, std::less<>>;

  void place(const ItemPtr& item, Chain& chain);
  UninstallItem* findPlaced(const std::string& identifier) const;
  ItemPtr loadParent(const std::string& identifier, Chain& chain);

  Platform& platform_;
  ReceiptCache& receipts_;
  std::string directory_;
  Catalogue catalogue_;
  // File keys of the parents loaded ahead of their own entry.
  std::set<std::string, std::less<>> loadedAhead_;
  // The item each loaded file gave, by its path relative to the directory.
  std::map<std::string, ItemPtr, std::less<>> loadedFiles_;
};

}  // namespace qu
