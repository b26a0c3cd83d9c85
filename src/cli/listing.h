#pragma once

#include <string>

#include "items/catalogue.h"
#include "platform/platform.h"

namespace qu {

// The "Installed Packages:" listing of the catalogue's visible items, each
// followed by its visible descendants, one more hyphen per level.
void listPackages(Platform& platform, const Catalogue& catalogue);
void listItems(Platform& platform, const ItemList& items, const std::string& prefix);

}  // namespace qu
