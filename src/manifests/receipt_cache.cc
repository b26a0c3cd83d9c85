#include "manifests/receipt_cache.h"

namespace qu {

BundlePtr ReceiptCache::receiptWithIdentifier(std::string_view identifier) {
  if (!receipts_) scan();
  auto found = receipts_->find(identifier);
  return found == receipts_->end() ? nullptr : found->second;
}

void ReceiptCache::scan() {
  ++scans_;
  receipts_.emplace();
  const std::string& directory = platform_.locations().receipts;
  // An unlistable directory leaves the cache empty for the rest of the run.
  std::optional<std::vector<std::string>> names = platform_.listDirectory(directory);
  if (!names) return;

  const std::string base = directory.ends_with('/') ? directory : directory + "/";
  // Names come sorted, so when two receipts share an identifier the later
  // name wins on every run.
  for (const std::string& name : *names) {
    BundlePtr bundle = Bundle::open(platform_, base + name);
    if (!bundle) continue;
    std::optional<std::string> identifier = bundle->identifier();
    if (!identifier) continue;
    (*receipts_)[*identifier] = std::move(bundle);
  }
}

}  // namespace qu
