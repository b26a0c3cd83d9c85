#include "items/receipt_item.h"

namespace qu {

std::shared_ptr<ReceiptItem> ReceiptItem::receiptWithPath(Platform& platform,
                                                          ReceiptCache& receipts,
                                                          const std::string& path) {
  std::optional<plist::Dictionary> settings = readSettings(platform, path);
  if (!settings) return nullptr;

  auto item = std::make_shared<ReceiptItem>();
  item->initWithDictionary(platform, std::move(*settings));
  item->setDescriptionPath(path);
  if (!item->identifier()) return nullptr;

  item->receipt_ = receipts.receiptWithIdentifier(*item->identifier());
  if (!item->receipt_) return nullptr;
  return item;
}

std::optional<std::string> ReceiptItem::version() const {
  if (!receipt_) return std::nullopt;
  return receipt_->infoString("CFBundleShortVersionString");
}

}  // namespace qu
