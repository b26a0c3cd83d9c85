#include "items/uninstall_item.h"

#include <gtest/gtest.h>

#include <set>

#include "items/catalogue.h"
#include "items/package_item.h"

namespace qu {
namespace {

class Leaf : public UninstallItem {
 public:
  explicit Leaf(std::optional<std::string> identifier) { setIdentifier(std::move(identifier)); }
  std::optional<std::string> version() const override { return std::nullopt; }
};

class Package : public PackageItem {
 public:
  Package(const std::string& identifier, bool visible) {
    setIdentifier(identifier);
    setVisible(visible);
  }
  Kind kind() const override { return Kind::Database; }
  std::optional<std::string> version() const override { return std::nullopt; }
};

ItemPtr attach(ItemPtr item, const ItemPtr& parent) {
  item->setParent(parent.get());
  return item;
}

std::set<const UninstallItem*> asSet(const ItemList& items) {
  std::set<const UninstallItem*> set;
  for (const ItemPtr& item : items) set.insert(item.get());
  return set;
}

TEST(UninstallItem, DescribesItselfByNameThenIdentifier) {
  Leaf item("com.example.a");
  EXPECT_EQ(item.description(), "com.example.a");
  item.setDisplayName("Example");
  EXPECT_EQ(item.description(), "Example");
  EXPECT_EQ(Leaf(std::nullopt).description(), "(null)");
}

TEST(UninstallItem, FindSearchesChildrenDepthFirstButNotHiddenSubpackages) {
  ItemPtr top = std::make_shared<Package>("top", true);
  ItemPtr child = attach(std::make_shared<Package>("child", true), top);
  ItemPtr grandchild = attach(std::make_shared<Package>("grandchild", true), child);
  ItemPtr hidden = attach(std::make_shared<Package>("hidden", false), top);
  attach(std::make_shared<Package>("under-hidden", true), hidden);
  // An item with the same identifier as the grandchild, later in the list.
  ItemPtr later = std::make_shared<Package>("grandchild", true);
  ItemList forest = {top, later};

  EXPECT_EQ(UninstallItem::findItemInArray(forest, "grandchild"), grandchild.get());
  EXPECT_EQ(UninstallItem::findItemInArray(forest, "hidden"), nullptr);
  EXPECT_EQ(UninstallItem::findItemInArray(forest, "under-hidden"), nullptr);
  EXPECT_EQ(UninstallItem::findItemInArray(forest, "TOP"), nullptr);
  EXPECT_EQ(UninstallItem::findItemInArray({}, "top"), nullptr);
  ItemList anonymous = {std::make_shared<Leaf>(std::nullopt)};
  EXPECT_EQ(UninstallItem::findItemInArray(anonymous, ""), nullptr);
}

TEST(UninstallItem, PackageFilesSubItemsByVisibility) {
  ItemPtr top = std::make_shared<Package>("top", true);
  ItemPtr visible = attach(std::make_shared<Package>("visible", true), top);
  ItemPtr hidden = attach(std::make_shared<Package>("hidden", false), top);
  const auto& package = static_cast<const PackageItem&>(*top);
  EXPECT_EQ(package.children(), ItemList{visible});
  EXPECT_EQ(package.subpackages(), ItemList{hidden});
  EXPECT_EQ(hidden->parent(), top.get());
}

TEST(UninstallItem, FlattenYieldsEveryDescendantOnceAndChangesNothing) {
  ItemPtr top = std::make_shared<Package>("top", true);
  ItemPtr child = attach(std::make_shared<Package>("child", true), top);
  ItemPtr hidden = attach(std::make_shared<Package>("hidden", false), top);
  ItemPtr grandchild = attach(std::make_shared<Package>("grandchild", true), child);
  ItemPtr underHidden = attach(std::make_shared<Package>("under-hidden", false), hidden);

  const ItemList flat = UninstallItem::flatten({top, child, top});
  EXPECT_EQ(flat.size(), 5u);
  EXPECT_EQ(asSet(flat), asSet({top, child, hidden, grandchild, underHidden}));
  EXPECT_EQ(asSet(UninstallItem::flatten({top})), asSet(flat));
  EXPECT_EQ(top->children(), ItemList{child});
  EXPECT_TRUE(UninstallItem::flatten({}).empty());
}

TEST(UninstallItem, ItemsThatAreNotPackagesHaveNoHiddenSubItems) {
  ItemPtr leaf = std::make_shared<Leaf>("leaf");
  ItemPtr child = attach(std::make_shared<Leaf>("child"), leaf);
  EXPECT_EQ(asSet(UninstallItem::flatten({leaf})), asSet({leaf, child}));
}

TEST(UninstallItem, SetParentMovesAndDetaches) {
  ItemPtr first = std::make_shared<Package>("first", true);
  ItemPtr second = std::make_shared<Package>("second", true);
  ItemPtr hidden = attach(std::make_shared<Package>("hidden", false), first);

  hidden->setParent(second.get());
  EXPECT_TRUE(static_cast<const PackageItem&>(*first).subpackages().empty());
  EXPECT_EQ(static_cast<const PackageItem&>(*second).subpackages(), ItemList{hidden});

  hidden->setParent(nullptr);
  EXPECT_EQ(hidden->parent(), nullptr);
  EXPECT_TRUE(static_cast<const PackageItem&>(*second).subpackages().empty());
}

TEST(Catalogue, ReplacingAnEntryMovesItToTheEnd) {
  Catalogue catalogue;
  ItemPtr a = std::make_shared<Leaf>("a");
  ItemPtr b = std::make_shared<Leaf>("b");
  ItemPtr newA = std::make_shared<Leaf>("a");
  catalogue.set("a", a);
  catalogue.set("b", b);
  catalogue.set("a", newA);
  EXPECT_EQ(catalogue.values(), (ItemList{b, newA}));
  EXPECT_TRUE(catalogue.erase("b"));
  EXPECT_FALSE(catalogue.erase("b"));
  EXPECT_EQ(catalogue.find("a"), newA);
  EXPECT_EQ(catalogue.find("b"), nullptr);
}

}  // namespace
}  // namespace qu
