#pragma once

#include <optional>
#include <string>

#include "extensions/plist.h"
#include "extensions/plist_io.h"
#include "manifests/receipt_cache.h"
#include "manifests/receipt_manifest.h"
#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu::testing {

// A temporary root with the receipts directory and fake system tools at the
// locations the manifests use. The fakes answer from plain files the test
// writes, so a test states its world as data:
// - pkgutil: "pkgdb/<id>.plist" (package information), "pkgdb/<id>.files"
//   and "pkgdb/<id>.dirs" (lists); a missing file makes it fail.
// - lsbom: reads the bill of materials itself, whose lines are "f <path>" for
//   files and "d <path>" for directories; a missing one makes it fail.
// - ps: prints "ps-output"; fails when it is missing.
struct ManifestWorld {
  TempDir tmp;
  RecordingPlatform platform{locationsUnder(tmp.path())};
  // Scans on its first lookup: write the receipts before asking for one.
  ReceiptCache receipts{platform};

  ManifestWorld() {
    tmp.makeDirectory("pkgdb");
    tmp.makeDirectory("Library/Receipts");
    tmp.writeScript("usr/sbin/pkgutil",
                    "db='" + tmp.at("pkgdb") + "'\n"
                    "case \"$1\" in\n"
                    "  --pkg-info-plist) f=\"$db/$2.plist\" ;;\n"
                    "  --only-dirs) f=\"$db/$3.dirs\" ;;\n"
                    "  --files) f=\"$db/$2.files\"; [ -f \"$db/$2.dirs\" ] && cat \"$db/$2.dirs\" ;;\n"
                    "  *) f=\"$db/$3.files\" ;;\n"
                    "esac\n"
                    "[ -f \"$f\" ] && cat \"$f\"");
    tmp.writeScript("usr/bin/lsbom",
                    "[ -f \"$2\" ] || exit 1\n"
                    "case \"$1\" in\n"
                    "  -fls) sed -n 's/^f //p' \"$2\" ;;\n"
                    "  -ds) sed -n 's/^d //p' \"$2\" ;;\n"
                    "  -s) sed -n 's/^[fd] //p' \"$2\" ;;\n"
                    "  *) exit 2 ;;\n"
                    "esac");
    tmp.writeScript("bin/ps", "cat '" + tmp.at("ps-output") + "'");
  }

  void databasePackage(const std::string& id, const std::string& info) const {
    tmp.writeFile("pkgdb/" + id + ".plist", info);
  }
  void databaseFiles(const std::string& id, const std::string& listing) const {
    tmp.writeFile("pkgdb/" + id + ".files", listing);
  }
  void databaseDirectories(const std::string& id, const std::string& listing) const {
    tmp.writeFile("pkgdb/" + id + ".dirs", listing);
  }
  ManifestPtr receiptManifest(const std::string& id) {
    return ReceiptManifest::manifestWithIdentifier(platform, receipts, id);
  }
  void processes(const std::string& listing) const { tmp.writeFile("ps-output", listing); }

  // A receipt bundle "Library/Receipts/<name>" with the Info.plist and, when
  // given, a bill of materials; returns the bundle's path.
  std::string receipt(const std::string& name, const plist::Dictionary& info,
                      const std::optional<std::string>& bom = std::nullopt) const {
    const std::string bundle = "Library/Receipts/" + name;
    tmp.writeFile(bundle + "/Contents/Info.plist", plist::toXml(info));
    if (bom) tmp.writeFile(bundle + "/Contents/Archive.bom", *bom);
    return tmp.at(bundle);
  }
};

// A dictionary of string values, in the order given.
inline plist::Dictionary strings(
    std::initializer_list<std::pair<std::string, std::string>> entries) {
  plist::Dictionary dictionary;
  for (const auto& [key, value] : entries) dictionary.set(key, plist::Value(value));
  return dictionary;
}

inline std::string packageInfo(std::initializer_list<std::pair<std::string, std::string>> entries) {
  return plist::toXml(plist::Value(strings(entries)));
}

}  // namespace qu::testing
