#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "extensions/plist.h"
#include "platform/platform.h"

namespace qu {

// A bundle directory: one that holds "Contents/Info.plist" (or a top-level
// "Info.plist"). Its information values are looked up as the platform does:
// a localised value first ("Contents/Resources/<language>.lproj/InfoPlist.strings",
// English first, when it exists and parses as a property list), then Info.plist.
class Bundle {
 public:
  // Nothing when the path is not a readable bundle.
  static std::shared_ptr<const Bundle> open(Platform& platform, const std::string& path);

  const std::string& path() const { return path_; }
  // "CFBundleIdentifier", when it is a string.
  std::optional<std::string> identifier() const;
  const plist::Value* infoValue(std::string_view key) const;
  // infoValue() when it is a string.
  std::optional<std::string> infoString(std::string_view key) const;

  Bundle(std::string path, plist::Dictionary info, plist::Dictionary localized)
      : path_(std::move(path)), info_(std::move(info)), localized_(std::move(localized)) {}

 private:
  std::string path_;
  plist::Dictionary info_;
  plist::Dictionary localized_;
};

using BundlePtr = std::shared_ptr<const Bundle>;

}  // namespace qu
