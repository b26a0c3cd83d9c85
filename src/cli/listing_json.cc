#include "cli/listing_json.h"

#include "items/item_json.h"

namespace qu {
namespace {

Json treeJson(const UninstallItem& item) {
  Json object = itemJson(item);
  Json children = Json::array();
  for (const ItemPtr& child : item.children()) children.push_back(treeJson(*child));
  for (const ItemPtr& child : item.hiddenChildren()) children.push_back(treeJson(*child));
  object["children"] = std::move(children);
  return object;
}

}  // namespace

Json listingDocument(const Catalogue& catalogue) {
  Json document = jsonObject("listing");
  Json items = Json::array();
  for (const ItemPtr& item : catalogue.values()) items.push_back(treeJson(*item));
  document["items"] = std::move(items);
  return document;
}

void listPackagesAsJson(Platform& platform, const Catalogue& catalogue) {
  platform.print(jsonDocumentText(listingDocument(catalogue)));
}

}  // namespace qu
