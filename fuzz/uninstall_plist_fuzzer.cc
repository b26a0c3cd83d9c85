// An uninstall plist, with what the system tools answer about its package,
// loaded into a package item and removed end to end on a machine that is not
// there. Whatever the files and tools say, the removal deletes no unsafe path
// and signals no process group it must spare.
//
// Sections, in order: the uninstall plist, the receipt's Info.plist, the
// package database's information, the file list and the directory list (as
// the receipt's and the database's tools print them), the process listing.

#include <csignal>
#include <set>
#include <string>
#include <vector>

#include "cli/listing.h"
#include "extensions/case_folding.h"
#include "extensions/plist_io.h"
#include "fuzz_input.h"
#include "in_memory_platform.h"
#include "items/manifest_for_item.h"
#include "items/package_loader.h"
#include "items/receipt_item.h"
#include "manifests/receipt_cache.h"
#include "uninstaller/removal_rules.h"
#include "uninstaller/package_sequence.h"

namespace {

using qu::fuzzing::check;

constexpr const char* kPlistPath =
    "/Library/Application Support/Quorvane Technologies/Uninstall/fuzz.plist";
constexpr const char* kReceiptName = "Fuzz.pkg";

// The identifier the tools are asked about, when the plist gives one.
std::optional<std::string> packageIdentifier(std::string_view uninstallPlist) {
  std::optional<qu::plist::Value> root = qu::plist::parse(uninstallPlist);
  if (!root || root->dictionary() == nullptr) return std::nullopt;
  const qu::plist::Value* pkgid = root->dictionary()->find("pkgid");
  if (pkgid == nullptr || pkgid->string() == nullptr) return std::nullopt;
  return *pkgid->string();
}

// What the removal may delete: the manifest's files and directories, the
// additional files, and the receipt.
std::set<std::string> ownedPaths(qu::Platform& platform, const qu::PackageItem& package) {
  std::set<std::string> owned;
  if (qu::ManifestPtr manifest = qu::manifestWithItem(platform, package)) {
    for (const auto* list : {&manifest->files(), &manifest->directories()}) {
      if (*list) owned.insert((*list)->begin(), (*list)->end());
    }
  }
  if (const qu::plist::Value* extra = package.settings().find("additionalfiles")) {
    if (const qu::plist::Array* paths = extra->array()) {
      for (const qu::plist::Value& path : *paths) {
        if (path.string() != nullptr) owned.insert(*path.string());
      }
    }
  }
  if (const auto* receipt = dynamic_cast<const qu::ReceiptItem*>(&package)) {
    if (receipt->receipt()) owned.insert(receipt->receipt()->path());
  }
  return owned;
}

void describeMachine(qu::fuzzing::InMemoryPlatform& platform,
                     const std::vector<std::string_view>& parts) {
  const std::string receipt = platform.paths.receipts + "/" + kReceiptName;
  platform.files[kPlistPath] = std::string(parts[0]);
  platform.directories[platform.paths.receipts] = {kReceiptName};
  platform.files[receipt + "/Contents/Info.plist"] = std::string(parts[1]);
  platform.present.insert("/fuzz/icon.icns");
  platform.outputs[{platform.paths.ps, "-Ao", "pid=,comm="}] = std::string(parts[5]);

  const std::string bom = receipt + "/Contents/Archive.bom";
  platform.outputs[{platform.paths.lsbom, "-fls", bom}] = std::string(parts[3]);
  platform.outputs[{platform.paths.lsbom, "-ds", bom}] = std::string(parts[4]);
  if (std::optional<std::string> identifier = packageIdentifier(parts[0])) {
    const std::string& pkgutil = platform.paths.pkgutil;
    platform.outputs[{pkgutil, "--pkg-info-plist", *identifier}] = std::string(parts[2]);
    platform.outputs[{pkgutil, "", "--files", *identifier}] = std::string(parts[3]);
    platform.outputs[{pkgutil, "--only-dirs", "--files", *identifier}] = std::string(parts[4]);
  }

  platform.applications = {
      {platform.paths.protectedUninstallerApp, "Quorvane Uninstaller", 0, 5},
      {"/Applications/Fuzz.app", "Fuzz", 0, 6},
      {"/Applications/System.app", "System", 0, 1},
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts =
      qu::fuzzing::sections(qu::fuzzing::bytesOf(data, size), 6);
  qu::fuzzing::InMemoryPlatform platform;
  describeMachine(platform, parts);

  qu::ReceiptCache receipts(platform);
  const qu::ItemPtr item = qu::loadWithPath(platform, receipts, kPlistPath);
  if (!item) return 0;
  check(item->identifier().has_value(), "a loaded package has an identifier");
  check(item->isPackage(), "an uninstall plist gives a package");

  qu::Catalogue catalogue;
  catalogue.set(*item->identifier(), item);
  qu::listPackages(platform, catalogue);
  (void)item->version();

  const auto& package = static_cast<const qu::PackageItem&>(*item);
  const std::set<std::string> owned = ownedPaths(platform, package);
  qu::RunProgress progress(1 + static_cast<int>(size % 3));
  const qu::RemovalRules rules;
  qu::TextReport report(platform);
  qu::RunContext run{platform, progress, rules, report, size % 2 == 0};
  qu::uninstallPackage(run, package);

  for (const std::string& path : platform.removed) {
    check(qu::RemovalRules().judge(path, qu::RemovalScope::Tree).verdict ==
              qu::RemovalRules::Verdict::Remove,
          "only paths the rules allow are deleted");
    check(owned.contains(path), "only what the package owns is deleted");
  }
  const std::string& protectedApp = platform.paths.protectedUninstallerApp;
  for (const auto& [group, signal, program] : platform.signals) {
    check(group > 1 && group != platform.processGroup, "spared process groups get no signal");
    check(signal == SIGKILL, "programs are stopped with SIGKILL");
    check(!qu::containsIgnoringCase(program, protectedApp),
          "the uninstaller application is spared");
  }
  for (const qu::LaunchedApplication& application : platform.quitRequests) {
    check(application.path != platform.paths.protectedUninstallerApp,
          "the uninstaller application is never asked to quit");
    check(application.serialHigh != 0 || application.serialLow > 1,
          "no quit request goes to the system process");
  }
  check(progress.percent == progress.share(), "the package adds its share to the run");
  return 0;
}
