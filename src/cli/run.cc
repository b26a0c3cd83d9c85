#include "cli/run.h"

#include <algorithm>
#include <set>

#include "cli/help.h"
#include "cli/options.h"
#include "cli/run_json.h"
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

ItemList remainingItems(const Catalogue& catalogue, const ItemList& removed) {
  const std::set<const UninstallItem*> leaving = [&removed] {
    std::set<const UninstallItem*> set;
    for (const ItemPtr& item : removed) set.insert(item.get());
    return set;
  }();
  ItemList remaining;
  for (const ItemPtr& item : UninstallItem::flatten(catalogue.values())) {
    if (leaving.count(item.get()) == 0) remaining.push_back(item);
  }
  return remaining;
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

  Catalogue catalogue;
  catalogue.merge(subsystems.loadPackageItems());
  // Gallery collections come last, so one replaces a package of the same identifier.
  catalogue.merge(subsystems.loadGalleryItems());

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
  const ItemList remaining = remainingItems(catalogue, items);
  bool removed = false;
  if (options.dryRun && options.json) {
    JsonPlanReport plan(platform);
    DryRunPlatform dryRun(platform, &plan);
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
