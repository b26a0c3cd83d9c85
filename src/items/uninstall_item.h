#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qu {

class UninstallItem;
using ItemPtr = std::shared_ptr<UninstallItem>;
using ItemList = std::vector<ItemPtr>;

// Base of everything the uninstaller can remove. Items form a tree: each item
// owns its children; the parent link is a plain back reference, valid while
// the parent lives (parents outlive their children).
class UninstallItem : public std::enable_shared_from_this<UninstallItem> {
 public:
  // The concrete class, for the places that dispatch on it exactly.
  enum class Kind { Receipt, Database, Gallery, Other };

  UninstallItem() = default;
  UninstallItem(const UninstallItem&) = delete;
  UninstallItem& operator=(const UninstallItem&) = delete;
  virtual ~UninstallItem() = default;

  virtual Kind kind() const { return Kind::Other; }
  // A package item: a receipt or package-database package.
  bool isPackage() const { return kind() == Kind::Receipt || kind() == Kind::Database; }

  const std::optional<std::string>& identifier() const { return identifier_; }
  void setIdentifier(std::optional<std::string> identifier) { identifier_ = std::move(identifier); }
  const std::optional<std::string>& displayName() const { return displayName_; }
  void setDisplayName(std::optional<std::string> name) { displayName_ = std::move(name); }
  const std::optional<std::string>& iconPath() const { return iconPath_; }
  void setIconPath(std::optional<std::string> path) { iconPath_ = std::move(path); }
  bool isVisible() const { return visible_; }
  void setVisible(bool visible) { visible_ = visible; }

  UninstallItem* parent() const { return parent_; }
  const ItemList& children() const { return children_; }

  // Detaches the item from its old parent, if any, and attaches it to the new
  // one through the new parent's addChild(), which decides where it is filed.
  // REQUIRES: the item is owned by a shared_ptr.
  void setParent(UninstallItem* newParent);
  // Appends to children(); no duplicate check, the parent link is untouched.
  virtual void addChild(ItemPtr child);
  // Removes every occurrence of this very item from children().
  virtual void removeChild(const UninstallItem* child);
  // Hidden sub-items that are not among children(); only packages have them.
  virtual const ItemList& hiddenChildren() const;

  // The display name, else the identifier, else "(null)".
  std::string description() const;
  // The installed version, or nothing when unknown.
  virtual std::optional<std::string> version() const = 0;

  // Depth-first, pre-order search of the items and their children (not their
  // hidden sub-items) for an exact, case-sensitive identifier match.
  static UninstallItem* findItemInArray(const ItemList& items, std::string_view identifier);
  // Every item of the list with all of its descendants, children and hidden
  // sub-items alike, each once, in first-met order.
  static ItemList flatten(const ItemList& items);

 private:
  static void appendDescendants(const UninstallItem& item, ItemList& out);

  UninstallItem* parent_ = nullptr;
  ItemList children_;
  std::optional<std::string> identifier_;
  std::optional<std::string> displayName_;
  std::optional<std::string> iconPath_;
  bool visible_ = false;
};

}  // namespace qu
