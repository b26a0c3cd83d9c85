#include "cli/listing.h"

#include "extensions/text.h"

namespace qu {

namespace {

std::string orNull(const std::optional<std::string>& text) { return text.value_or("(null)"); }

}  // namespace

void listPackages(Platform& platform, const Catalogue& catalogue) {
  platform.print("Installed Packages:\n");
  platform.print(format("%-40s %-30s\n", "Identifier", "Name"));
  listItems(platform, catalogue.values(), "");
}

void listItems(Platform& platform, const ItemList& items, const std::string& prefix) {
  for (const ItemPtr& item : items) {
    if (!item->isVisible()) continue;
    // Names may come from a file any user can write: no control character
    // of theirs reaches the terminal or forges a row.
    std::string identifier = prefix + visibleText(orNull(item->identifier()));
    std::string name = prefix + visibleText(orNull(item->displayName()));
    platform.print(format("%-40s %-30s\n", identifier.c_str(), name.c_str()));
    listItems(platform, item->children(), "-" + prefix);
  }
}

}  // namespace qu
