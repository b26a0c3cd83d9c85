#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "manifests/bundle.h"
#include "platform/platform.h"

namespace qu {

// The receipt bundles of the receipts directory by bundle identifier. The
// directory is scanned once, on the first lookup of the run, even when that
// scan fails; every later lookup is answered from what it found.
class ReceiptCache {
 public:
  explicit ReceiptCache(Platform& platform) : platform_(platform) {}

  // The receipt whose bundle identifier equals the given one exactly, or null.
  BundlePtr receiptWithIdentifier(std::string_view identifier);
  // How many times the receipts directory was scanned (0 or 1).
  int scanCount() const { return scans_; }

 private:
  void scan();

  Platform& platform_;
  std::optional<std::map<std::string, BundlePtr, std::less<>>> receipts_;
  int scans_ = 0;
};

}  // namespace qu
