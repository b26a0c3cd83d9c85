#include "cli/run.h"

#include <algorithm>
#include <set>

#include "cli/help.h"
#include "cli/options.h"
#include "cli/run_json.h"
#include "extensions/text.h"
#include "system/dry_run_platform.h"

namespace qu {

ItemList completeSelection(const Catalogue& catalogue, const ItemList& selection) {
  ItemList items = UninstallItem::flatten(selection);

  Catalogue remainder = catalogue;
  for (const ItemPtr& item : items) {
    if (item->identifier()) remainder.erase(*item->identifier());
  }
  const ItemList left = remainder.values();
  const bool visibleLeft = std::any_of(left.begin(), left.end(),
                                       [](const ItemPtr& item) { return item->isVisible(); });
  // Hidden top-level items exist only to serve the visible ones: when the
  // last visible item goes, they go with it.
  // A selected child may also sit below one of them; flattening everything
  // together keeps each item once, so nothing is removed twice.
  if (!visibleLeft) {
    ItemList everything = selection;
    everything.insert(everything.end(), left.begin(), left.end());
    items = UninstallItem::flatten(everything);
  }
  return items;
}

ItemList remainingItems(const Catalogue& packages, const ItemList& removed) {
  // A package is its record: two descriptions of one identifier and kind
  // (a top-level one and a child of the same identifier) are one package,
  // which either goes or stays.
  std::set<const UninstallItem*> leavingItems;
  std::set<std::pair<UninstallItem::Kind, std::string>> leavingRecords;
  for (const ItemPtr& item : removed) {
    leavingItems.insert(item.get());
    if (item->isPackage() && item->identifier()) {
      leavingRecords.emplace(item->kind(), *item->identifier());
    }
  }
  ItemList remaining;
  for (const ItemPtr& item : UninstallItem::flatten(packages.values())) {
    if (!item->isPackage() || leavingItems.count(item.get()) != 0) continue;
    if (item->identifier() && leavingRecords.count({item->kind(), *item->identifier()}) != 0) {
      continue;
    }
    remaining.push_back(item);
  }
  return remaining;
}

Catalogue withCollections(Platform& platform, const Catalogue& packages,
                          const Catalogue& collections) {
  Catalogue catalogue = packages;
  const ItemList installed = UninstallItem::flatten(packages.values());
  for (const Catalogue::Entry& entry : collections.entries()) {
    const std::string& identifier = entry.first;
    const ItemPtr& collection = entry.second;
    // The gallery preferences are anyone's to write: an identifier that
    // reads as an option or holds control characters is not a gallery's.
    const bool control = identifier.find('\t') != std::string::npos ||
                         visibleText(identifier) != identifier;
    if (identifier.empty() || identifier.front() == '-' || control) {
      platform.log("Not offering gallery collection '" + visibleText(identifier) +
                   "': its identifier starts with '-' or holds control characters");
      continue;
    }
    // Collections have the gallery's own identifiers; one that takes an
    // installed package's would hide that package from its removal.
    auto clash = std::find_if(installed.begin(), installed.end(), [&](const ItemPtr& item) {
      return item->isPackage() && item->identifier() == identifier;
    });
    if (clash != installed.end()) {
      platform.log("Not offering gallery collection '" + visibleText(identifier) + "' (" +
                   visibleText(collection->description()) + "): installed package '" +
                   visibleText(identifier) + "' (" + visibleText((*clash)->description()) +
                   ") has that identifier");
      continue;
    }
    catalogue.set(identifier, collection);
  }
  return catalogue;
}

int runUninstaller(Platform& platform, const Subsystems& subsystems,
                   const std::vector<std::string>& arguments) {
  // Answered from the command line alone: no tool runs and no log lines.
  switch (readEarlyRequest(arguments)) {
    case EarlyRequest::Help:
      platform.print(usageText(platform.locations()));
      return kExitSuccess;
    case EarlyRequest::Version:
      platform.print(versionText());
      return kExitSuccess;
    case EarlyRequest::None:
      break;
  }

  const Catalogue packages = subsystems.loadPackageItems();
  // Gallery collections come last, in the listing and in --all.
  const Catalogue catalogue = withCollections(platform, packages, subsystems.loadGalleryItems());

  Options options;
  if (std::optional<int> status = parseOptions(platform, catalogue, arguments, options)) {
    return *status;
  }

  if (options.list) {
    if (options.json) {
      subsystems.listPackagesAsJson(catalogue);
    } else {
      subsystems.listPackages(catalogue);
    }
    return kExitSuccess;
  }
  if (options.selection.empty()) {
    // A script that asked for JSON gets a whole answer: an empty plan, or a
    // stream of its summary alone.
    if (options.json && options.dryRun) JsonPlanReport(platform).runFinished(true);
    if (options.json && !options.dryRun) JsonLinesReport(platform).runFinished(true);
    return kExitSuccess;
  }

  // A dry run only shows the removal, so it needs no root.
  if (!options.dryRun && !platform.becomeRoot()) {
    const std::string refusal = "Root access is required.\n";
    if (options.json) {
      platform.printError(refusal);
      platform.print(jsonLineText(refusalJson(refusal, kExitNotRoot)));
    } else {
      platform.print(refusal);
    }
    return kExitNotRoot;
  }

  const ItemList items = completeSelection(catalogue, options.selection);
  // Decided from the packages alone: a collection never shapes what a
  // package removal keeps.
  const ItemList remaining = remainingItems(packages, items);
  bool removed = false;
  if (options.dryRun && options.json) {
    JsonPlanReport plan(platform);
    UnshownEffects unshown;
    DryRunPlatform dryRun(platform, &unshown);
    removed = subsystems.uninstall(dryRun, items, remaining, options.isSilent, &plan);
  } else if (options.dryRun) {
    DryRunPlatform dryRun(platform);
    removed = subsystems.uninstall(dryRun, items, remaining, options.isSilent, nullptr);
  } else if (options.json) {
    platform.reserveStandardOutput();
    JsonLinesReport lines(platform);
    removed = subsystems.uninstall(platform, items, remaining, options.isSilent, &lines);
  } else {
    removed = subsystems.uninstall(platform, items, remaining, options.isSilent, nullptr);
  }
  return removed ? kExitSuccess : kExitUninstallFailed;
}

}  // namespace qu
