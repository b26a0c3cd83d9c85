#pragma once

#include <string_view>

#include "extensions/json.h"
#include "items/uninstall_item.h"

namespace qu {

// "receipt", "database" or "gallery"; "other" only for items no loader makes.
std::string_view kindName(UninstallItem::Kind kind);

// The item's own members as every JSON document shows an item, in this
// order: "identifier", "name", "kind", "version" and "visible". The version
// is what the item already knows (a receipt's short version string, the
// package database's "pkg-version", a collection's version date as
// "yyyy-mm-dd"), else null; nothing is read or run for it. Anything below
// the item is the caller's to add.
Json itemJson(const UninstallItem& item);

}  // namespace qu
