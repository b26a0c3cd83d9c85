#pragma once

#include "extensions/json.h"
#include "items/catalogue.h"
#include "platform/platform.h"

namespace qu {

// The listing for scripts: {"version": 1, "type": "listing", "items": [...]}
// with every top-level item in the catalogue's order, each with "children"
// (its visible sub-items in the order attached, then its hidden ones). Unlike
// the text listing, hidden items and everything below them are included,
// marked "visible": false.
Json listingDocument(const Catalogue& catalogue);

// Prints listingDocument() as one indented document.
void listPackagesAsJson(Platform& platform, const Catalogue& catalogue);

}  // namespace qu
